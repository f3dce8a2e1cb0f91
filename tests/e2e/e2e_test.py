"""End-to-end runs of the built Windows program under Wine, as its own
process, in a fresh throwaway prefix. Every case compares the prefix's whole
registry before and after the run: exactly the filter's targets are gone and
nothing else changed. The prefix comes with a class manager of its own and
real filters below its "Instance" key; they must all survive.

    e2e_test.py --exe remove_filter.exe --short-path short_path.exe
                --prefix DIR --prefix-script cmake/wine-prefix.sh
"""

import argparse
import os
import shutil
import sys
import unittest

sys.dont_write_bytecode = True  # no cache files in the source tree
from wine_prefix import CLSID_ROOT, EXPORTED_CLSID_ROOT, WinePrefix, registry_file

ARGS = None

TARGET = "{3A7D52C8-6E19-4B2F-9C04-71E5D8A0B6F3}"
MANAGER_NAME = "ActiveMovie Filter Class Manager"
# Class keys of managers of the tests' own; they come before every real
# class key in enumeration order.
EARLY_MANAGER = "{00000000-0000-0000-0000-00000000E2E1}"
LATER_MANAGER = "{00000000-0000-0000-0000-00000000E2E2}"
OTHER_FILTER = "{5E0F4A31-9B2C-4D7E-8A16-C3F09B2D4E58}"


def exported(path):
    """A path below HKEY_CLASSES_ROOT\\CLSID as the registry export names it."""
    assert path.startswith(CLSID_ROOT + "\\"), path
    return EXPORTED_CLSID_ROOT + path[len(CLSID_ROOT):]


def instance_entry_path(manager):
    return f"{CLSID_ROOT}\\{manager}\\Instance\\{TARGET}"


CLASS_KEY_PATH = f"{CLSID_ROOT}\\{TARGET}"


class EndToEndTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.wine = WinePrefix(ARGS.prefix, ARGS.prefix_script)
        cls.addClassCleanup(cls.stop_wine)
        cls.wine.create()
        cls.wine.start()
        pristine = cls.wine.export_registry()
        managers = pristine.class_managers()
        if len(managers) != 1:
            raise AssertionError(f"a fresh prefix should hold one class manager: {managers}")
        cls.manager = managers[0]
        cls.real_filters = pristine.sub_keys(f"{EXPORTED_CLSID_ROOT}\\{cls.manager}\\Instance")
        if not cls.real_filters:
            raise AssertionError("the prefix's class manager has no filters registered")

    @classmethod
    def stop_wine(cls):
        cls.wine.stop()
        if not os.environ.get("RF_KEEP_PREFIX"):
            cls.wine.remove()

    def setUp(self):
        self.directory = f"C:\\rf-e2e\\{self._testMethodName}"
        self.created_keys = []
        self.addCleanup(self.remove_registration)

    def remove_registration(self):
        self.wine.import_registry(registry_file({}, removed=self.created_keys))
        shutil.rmtree(self.wine.host_path(self.directory), ignore_errors=True)

    # Registration of the filter and of the tests' own class managers.

    def register(self, keys):
        self.created_keys += keys
        self.wine.import_registry(registry_file(keys))

    def register_manager(self, manager, default_value):
        self.register({
            f"{CLSID_ROOT}\\{manager}": {"": default_value},
            f"{CLSID_ROOT}\\{manager}\\InprocServer32": {"": "C:\\windows\\system32\\m.dll"},
            f"{CLSID_ROOT}\\{manager}\\Instance\\{OTHER_FILTER}": {"FriendlyName": "Other"},
        })

    def register_instance_entry(self, manager):
        entry = instance_entry_path(manager)
        self.register({
            entry: {"FriendlyName": "Sample Filter", "CLSID": TARGET,
                    "FilterData": b"\x02\0\0\0\0\0\x20\0"},
            entry + "\\Pins\\Output": {"Direction": 1},
        })

    def register_class_key(self, server_path):
        self.register({
            CLASS_KEY_PATH: {"": "Sample Filter"},
            CLASS_KEY_PATH + "\\InprocServer32": {"": server_path, "ThreadingModel": "Both"},
            CLASS_KEY_PATH + "\\Implemented Categories\\{DA4E3DA0-D07D-11D0-BD50-00A0C911CE86}": {},
        })

    def create_files(self, *names):
        paths = [f"{self.directory}\\{name}" for name in names]
        for path in paths:
            self.wine.create_file(path)
        return paths

    # Running the program and comparing.

    def run_program(self, *args):
        result = self.wine.run(ARGS.exe, *args)
        self.assertEqual(0, result.returncode, result.stderr)
        self.assertEqual(b"", result.stdout)
        self.assertEqual(b"", result.stderr)

    def assertSameRegistry(self, expected, actual):
        differences = expected.differences(actual)
        self.assertFalse(differences, "\n" + "\n".join(differences))

    def removal(self, manager, server, neighbours, *args, stored_path=None):
        """Registers the whole filter below `manager` with the server file
        `server` (stored as `stored_path` when given), runs the program with
        `args` and checks that exactly its three targets are gone. Returns
        the registry before and after the run."""
        self.register_instance_entry(manager)
        self.register_class_key(stored_path or server)
        targets = [exported(instance_entry_path(manager)), exported(CLASS_KEY_PATH)]
        before = self.wine.export_registry()
        for target in targets:
            self.assertIn(target, before)
        self.assertTrue(self.wine.file_exists(server))

        self.run_program(*args)

        after = self.wine.export_registry()
        self.assertSameRegistry(before.without(*targets), after)
        self.assertFalse(self.wine.file_exists(server))
        for neighbour in neighbours:
            self.assertTrue(self.wine.file_exists(neighbour), neighbour)
        return before, after

    # The cases.

    def test_removes_the_three_targets_and_nothing_else(self):
        server, *neighbours = self.create_files(
            "Sample Filter.dll", "Sample Filter.dll.bak", "readme.txt",
            "Sample Filter\\Sample Filter.dll")
        _, after = self.removal(self.manager, server, neighbours)
        self.assertEqual(
            self.real_filters,
            after.sub_keys(f"{EXPORTED_CLSID_ROOT}\\{self.manager}\\Instance"))

        # A second run finds nothing left to remove and changes nothing.
        self.run_program()
        self.assertSameRegistry(after, self.wine.export_registry())
        for neighbour in neighbours:
            self.assertTrue(self.wine.file_exists(neighbour), neighbour)

    def test_ignores_its_arguments(self):
        server, neighbour = self.create_files("Sample Filter.dll", "Other Filter.dll")
        self.removal(self.manager, server, [neighbour],
                     "/?", "--help", "-s", "/uninstall", "two words", "C:\\Windows", "%PATH%",
                     "", "x" * 1000)

    def test_with_nothing_registered_changes_nothing(self):
        before = self.wine.export_registry()
        self.assertNotIn(exported(CLASS_KEY_PATH), before)
        self.run_program()
        self.assertSameRegistry(before, self.wine.export_registry())

    def test_server_path_stored_in_short_form(self):
        server, neighbour = self.create_files(
            "Long Directory Name\\Sample Filter Server.dll",
            "Long Directory Name\\Sample Filter Server.ax")
        result = self.wine.run(ARGS.short_path, server)
        self.assertEqual(0, result.returncode, result.stderr)
        short = result.stdout.decode().strip()
        self.assertNotEqual(server.lower(), short.lower())
        self.assertNotIn(" ", short)
        self.removal(self.manager, server, [neighbour], stored_path=short)

    def test_manager_matched_in_other_letter_case(self):
        self.register_manager(EARLY_MANAGER, MANAGER_NAME.swapcase())
        self.register_instance_entry(self.manager)
        server, = self.create_files("Sample Filter.dll")
        before, after = self.removal(EARLY_MANAGER, server, [])
        self.assertEqual([EARLY_MANAGER, self.manager], before.class_managers())
        # The prefix's own class manager comes later and is never looked at.
        self.assertIn(exported(instance_entry_path(self.manager)), after)

    def test_first_manager_in_enumeration_order_wins(self):
        # Registered in the reverse of the order in which they enumerate.
        self.register_manager(LATER_MANAGER, MANAGER_NAME)
        self.register_manager(EARLY_MANAGER, MANAGER_NAME)
        self.register_instance_entry(LATER_MANAGER)
        self.register_instance_entry(self.manager)
        server, = self.create_files("Sample Filter.dll")
        before, after = self.removal(EARLY_MANAGER, server, [])
        self.assertEqual([EARLY_MANAGER, LATER_MANAGER, self.manager], before.class_managers())
        self.assertIn(exported(instance_entry_path(LATER_MANAGER)), after)
        self.assertIn(exported(instance_entry_path(self.manager)), after)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--short-path", required=True)
    parser.add_argument("--prefix", required=True)
    parser.add_argument("--prefix-script", required=True)
    ARGS, rest = parser.parse_known_args()
    ARGS.exe = os.path.abspath(ARGS.exe)
    ARGS.short_path = os.path.abspath(ARGS.short_path)
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)
