"""End-to-end runs of the built Windows program under Wine, as its own
process, in a fresh throwaway prefix. Every case compares the prefix's whole
registry before and after the run: exactly the filter's targets are gone and
nothing else changed. The prefix comes with a class manager of its own and
real filters below its "Instance" key; they must all survive.

With --arch win64 the prefix is a 64-bit one, where the program runs as
every 32-bit program does on 64-bit Windows: it sees the 32-bit registry
view and the redirected system folder. Every case then compares both views
of the software hive, and the cases of Wow64Test run as well.

MachineStateTest runs the program while the helper --machine-state holds
the machine in a state (protected keys, keys owned by another principal, a
busy server file, a copy of --module); FleetCheckTest runs the check that
README.md documents. One case registers the filter through the media
framework's filter mapper and asks the framework itself, before and after the
run, what it lists and whether the class can be activated, with the helper
--filter-framework. InstallerTest installs the sample filter with the
installers built in --installers and uninstalls it, which runs the program
(--makensis builds one more without it).

    e2e_test.py --exe remove_filter.exe --short-path short_path.exe
                --snapshot registry_snapshot.exe --machine-state machine_state.exe
                --module libsample_module.dll --filter-framework filter_framework.exe
                --installers DIR --makensis makensis
                --prefix DIR [--arch win64]
"""

import argparse
import os
import shutil
import sys
import tempfile
import time
import unittest

sys.dont_write_bytecode = True  # no cache files in the source tree
from sample_filter import (CLASS_KEY_PATH, CLSID_ROOT, OTHER_FILTER,
                           REGDB_E_CLASSNOTREG, TARGET, Framework, instance_entry_path,
                           registered_class, registered_entry)
from sample_filter import CLASS_MANAGER_NAME as MANAGER_NAME
from wine_prefix import (EXPORTED_CLSID_ROOT, REG_BINARY, REG_DWORD, REG_EXPAND_SZ,
                         REG_SZ, VIEW64, WINE_OWN_VALUES, Registry, Value, WinePrefix,
                         registry_file,
                         windows_path)
import installers  # noqa: E402
from installers import MSI, NSIS, Installed  # noqa: E402

ARGS = None
WINE = None  # the prefix, shared by every case of the module

# Class keys of managers of the tests' own; they come before every real
# class key in enumeration order.
EARLY_MANAGER = "{00000000-0000-0000-0000-00000000E2E1}"
LATER_MANAGER = "{00000000-0000-0000-0000-00000000E2E2}"


def exported(path):
    """A path below HKEY_CLASSES_ROOT of the program's view as the registry
    snapshot names it."""
    return WINE.names(path)[0]



PRISTINE = None  # the fresh prefix's registry
# Whether a case left keys in the prefix that nothing in it may remove (an
# owner outside every token): the next case that registers the filter gets
# a new prefix.
SPENT = False


def setUpModule():
    global WINE, PRISTINE
    WINE = WinePrefix(ARGS.prefix, ARGS.arch, ARGS.snapshot)
    unittest.addModuleCleanup(stop_wine)
    WINE.create()
    WINE.start()
    PRISTINE = WINE.export_registry()


def renew_spent_prefix():
    global SPENT
    if SPENT:
        WINE.stop()
        WINE.create()
        WINE.start()
        SPENT = False


def stop_wine():
    WINE.remove()


def only_class_manager(registry, root):
    managers = registry.class_managers(root)
    if len(managers) != 1:
        raise AssertionError(f"a fresh prefix should hold one class manager: {managers}")
    return managers[0]


class ProgramCase(unittest.TestCase):
    """Registers filters, runs the program and compares; the cases are in the
    classes below."""

    @classmethod
    def setUpClass(cls):
        cls.wine = WINE
        cls.manager = only_class_manager(PRISTINE, PRISTINE.clsid_root)
        cls.real_filters = PRISTINE.sub_keys(f"{PRISTINE.clsid_root}\\{cls.manager}\\Instance")
        if not cls.real_filters:
            raise AssertionError("the prefix's class manager has no filters registered")

    def setUp(self):
        renew_spent_prefix()
        self.directory = f"C:\\rf-e2e\\{self._testMethodName}"
        self.created_keys = {32: [], 64: []}
        self.created_files = []
        self.addCleanup(self.remove_registration)

    def remove_registration(self):
        for view, keys in self.created_keys.items():
            if keys and not SPENT:  # a spent prefix is made anew
                self.wine.import_registry(registry_file({}, removed=keys), view)
        for path, view in self.created_files:
            self.wine.remove_file(path, view)
        shutil.rmtree(self.wine.host_path(self.directory), ignore_errors=True)

    # Registration of the filter and of the tests' own class managers, in the
    # program's own registry view unless `view` says 64.

    def register(self, keys, view=32):
        self.created_keys[view] += [key for key in keys if key not in self.created_keys[view]]
        self.wine.import_registry(registry_file(keys), view)

    def register_manager(self, manager, default_value):
        self.register({
            f"{CLSID_ROOT}\\{manager}": {"": default_value},
            f"{CLSID_ROOT}\\{manager}\\InprocServer32": {"": "C:\\windows\\system32\\m.dll"},
            f"{CLSID_ROOT}\\{manager}\\Instance\\{OTHER_FILTER}": {"FriendlyName": "Other"},
        })

    def register_instance_entry(self, manager, view=32, name="Sample Filter"):
        entry = instance_entry_path(manager)
        self.register({**registered_entry(entry, name),
                       entry + "\\Pins\\Output": {"Direction": 1}}, view)

    def register_class_key(self, server_path, view=32, name="Sample Filter"):
        self.register({
            **registered_class(server_path, name),
            CLASS_KEY_PATH + "\\Implemented Categories\\{DA4E3DA0-D07D-11D0-BD50-00A0C911CE86}": {},
        }, view)

    def create_files(self, *names):
        paths = [f"{self.directory}\\{name}" for name in names]
        for path in paths:
            self.wine.create_file(path)
        return paths

    def create_file(self, path, content=b"MZ", view=32):
        """A file anywhere on drive C:, removed after the case."""
        self.created_files.append((path, view))
        self.wine.create_file(path, content, view)
        return path

    # Running the program and comparing.

    def run_program(self, *args, cwd=None):
        result = self.wine.run(ARGS.exe, *args, cwd=cwd)
        self.assertEqual(0, result.returncode, result.stderr)
        self.assertEqual(b"", result.stdout)
        self.assertEqual(b"", result.stderr)

    def framework_view(self):
        """What the media framework finds of the filter (sample_filter.Framework.report):
        the filters its device enumerator lists, how many of them are the
        filter, its mapper's matches, the result of activating its class, and
        that of creating the filter in a filter graph."""
        return Framework(ARGS.filter_framework, self.wine).report()

    def assertSameRegistry(self, expected, actual, msg=""):
        differences = expected.differences(actual)
        self.assertFalse(differences, msg + "\n" + "\n".join(differences))

    def removal(self, manager, server, neighbours, *args, stored_path=None):
        """Registers the whole filter below `manager` with the server file
        `server` (stored as `stored_path` when given), runs the program with
        `args` and checks that exactly its three targets are gone. Returns
        the registry before and after the run."""
        self.register_instance_entry(manager)
        self.register_class_key(stored_path or server)
        targets = self.wine.names(instance_entry_path(manager)) + self.wine.names(CLASS_KEY_PATH)
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



class EndToEndTest(ProgramCase):
    def test_removes_the_three_targets_and_nothing_else(self):
        server, *neighbours = self.create_files(
            "Sample Filter.dll", "Sample Filter.dll.bak", "readme.txt",
            "Sample Filter\\Sample Filter.dll")
        _, after = self.removal(self.manager, server, neighbours)
        self.assertEqual(
            self.real_filters,
            after.sub_keys(f"{after.clsid_root}\\{self.manager}\\Instance"))

        # A second run finds nothing left to remove and changes nothing.
        self.run_program()
        self.assertSameRegistry(after, self.wine.export_registry())
        for neighbour in neighbours:
            self.assertTrue(self.wine.file_exists(neighbour), neighbour)

    def test_filter_registered_through_the_framework(self):
        if not ARGS.filter_framework:
            self.skipTest("no --filter-framework given")
        server, neighbour = self.create_files("Sample Filter.ax", "readme.txt")
        self.created_keys[32] += [instance_entry_path(self.manager), CLASS_KEY_PATH]
        Framework(ARGS.filter_framework, self.wine).register(server)
        # Each run of the helper changes the registry of its own accord (Wine
        # records a display device for it): every snapshot comes after them.
        registered = self.framework_view()
        targets = self.wine.names(instance_entry_path(self.manager)) + self.wine.names(CLASS_KEY_PATH)
        before = self.wine.export_registry()
        for target in targets:
            self.assertIn(target, before)
        entry_values = {v.name: v for v in before.keys[targets[0]]}
        self.assertEqual(REG_BINARY, entry_values["FilterData"].type)
        self.assertEqual(TARGET, entry_values["CLSID"].text().upper())
        self.assertEqual(1, registered["listed"], registered)
        self.assertEqual(1, registered["matched"], registered)
        self.assertNotEqual(REGDB_E_CLASSNOTREG, registered["class"], registered)

        self.run_program()

        after = self.wine.export_registry()
        removed = self.framework_view()
        self.assertEqual({"filters": registered["filters"] - 1, "listed": 0, "matched": 0,
                          "class": REGDB_E_CLASSNOTREG, "created": REGDB_E_CLASSNOTREG}, removed,
                         f"what the framework finds after the run (class 0x{removed['class']:08x})")
        self.assertSameRegistry(before.without(*targets), after)
        self.assertFalse(self.wine.file_exists(server))
        self.assertTrue(self.wine.file_exists(neighbour))

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

    def test_folder_of_the_server_path_made_a_link_leaves_the_file_it_leads_to(self):
        # The filter's folder replaced, as a user without elevation may, with
        # a link to another folder that holds a file of the same name.
        victim, neighbour = self.create_files("Victim\\Sample Filter.dll", "Victim\\readme.txt")
        folder = f"{self.directory}\\Vendor"
        os.symlink(self.wine.host_path(f"{self.directory}\\Victim"), self.wine.host_path(folder))
        server = f"{folder}\\Sample Filter.dll"
        self.assertTrue(self.wine.file_exists(server))
        self.register_instance_entry(self.manager)
        self.register_class_key(server)
        targets = self.wine.names(instance_entry_path(self.manager)) + self.wine.names(CLASS_KEY_PATH)
        before = self.wine.export_registry()

        self.run_program()

        self.assertSameRegistry(before.without(*targets), self.wine.export_registry())
        self.assertTrue(self.wine.file_exists(victim), "the file the link leads to was deleted")
        self.assertEqual(b"MZ", self.wine.file_content(victim))
        self.assertTrue(self.wine.file_exists(neighbour))

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


# The running user's own classes. Wine keeps them apart from the machine's
# (HKEY_CLASSES_ROOT does not show them), and in a 64-bit prefix Wine 8
# does not redirect them for a 32-bit process.
USER_CLSID_ROOT = "HKEY_CURRENT_USER\\Software\\Classes\\CLSID"


def user_names(registry, below):
    """The keys under which the snapshot `registry` shows the user's class
    key "CLSID\\<below>" (below HKEY_USERS, in his own or in a redirected
    view)."""
    suffix = ("\\CLSID\\" + below).lower()
    return [key for key in registry.keys
            if key.startswith("HKEY_USERS\\") and "\\software\\classes\\" in key.lower()
            and key.lower().endswith(suffix)]


class UserClassesTest(ProgramCase):
    """The running user's own classes beside the machine's: one run removes
    the filter from both, each tree by its own keys, and deletes only the
    file that the machine's registration names."""

    def register_user_copy(self, user_server):
        """The user's copy of the filter's class key, naming `user_server`,
        and of the class manager's key (its name, not its filters) with an
        entry for the filter."""
        manager = f"{USER_CLSID_ROOT}\\{self.manager}"
        self.register({
            f"{USER_CLSID_ROOT}\\{TARGET}": {"": "Sample Filter"},
            f"{USER_CLSID_ROOT}\\{TARGET}\\InprocServer32": {"": user_server},
            manager: {"": MANAGER_NAME},
            f"{manager}\\Instance\\{TARGET}": {"FriendlyName": "Sample Filter",
                                                  "CLSID": TARGET},
        })

    def user_targets(self, registry):
        targets = user_names(registry, TARGET) + user_names(
            registry, f"{self.manager}\\Instance\\{TARGET}")
        self.assertEqual(2, len(targets), targets)
        return targets

    def test_user_copy_goes_with_the_machine_registration_in_one_run(self):
        server, user_server = self.create_files("Sample Filter.dll", "User Filter.dll")
        self.register_user_copy(user_server)
        self.register_instance_entry(self.manager)
        self.register_class_key(server)
        before = self.wine.export_registry()
        targets = self.wine.names(instance_entry_path(self.manager)) + \
            self.wine.names(CLASS_KEY_PATH) + self.user_targets(before)

        self.run_program()

        after = self.wine.export_registry()
        self.assertSameRegistry(before.without(*targets), after)
        self.assertFalse(self.wine.file_exists(server))
        self.assertTrue(self.wine.file_exists(user_server))
        self.run_program()
        self.assertSameRegistry(after, self.wine.export_registry())

    def test_registration_in_the_user_classes_only_deletes_no_file(self):
        user_server, = self.create_files("User Filter.dll")
        self.register_user_copy(user_server)
        before = self.wine.export_registry()
        targets = self.user_targets(before)

        self.run_program()

        self.assertSameRegistry(before.without(*targets), self.wine.export_registry())
        self.assertTrue(self.wine.file_exists(user_server))


class RelativeServerPathTest(ProgramCase):
    """A server path that is not fully qualified names no file that is known
    to be the filter's: the run's own folder would complete it. The
    registrations go; the file in the folder the run started in stays."""

    def test_relative_paths_leave_the_file_in_the_run_folder(self):
        for stored in ("bare.ax", ".\\bare.ax", "C:bare.ax", f"{self.directory[2:]}\\bare.ax"):
            with self.subTest(stored=stored):
                server, = self.create_files("bare.ax")
                self.register_instance_entry(self.manager)
                self.register_class_key(stored)
                targets = self.wine.names(instance_entry_path(self.manager)) + \
                    self.wine.names(CLASS_KEY_PATH)
                before = self.wine.export_registry()

                self.run_program(cwd=self.directory)

                self.assertSameRegistry(before.without(*targets), self.wine.export_registry())
                self.assertTrue(self.wine.file_exists(server), f"{stored} deleted {server}")


SOURCE_DIR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
# The comment in README.md that stands before the block of the fleet check.
FLEET_CHECK_MARK = "<!-- fleet-check:"


def readme_lines(mark):
    """The lines of the first fenced block after `mark` in README.md."""
    with open(os.path.join(SOURCE_DIR, "README.md"), encoding="utf-8") as f:
        text = f.read()
    at = text.find(mark)
    if at < 0:
        raise AssertionError(f"README.md has no {mark!r}")
    block = text[at:].split("```")
    if len(block) < 3:
        raise AssertionError(f"README.md has no fenced block after {mark!r}")
    lines = [line.strip() for line in block[1].splitlines()[1:] if line.strip()]
    if not lines:
        raise AssertionError(f"the block after {mark!r} in README.md is empty")
    return lines


def fleet_check_lines():
    """The command lines of the check for fleets, as README.md gives them."""
    return readme_lines(FLEET_CHECK_MARK)


class FleetCheckTest(ProgramCase):
    """The check that README.md gives administrators of many machines, run as
    written from a batch file, in the 64-bit prefix from the 32-bit and the
    64-bit command interpreter: each line exits 0 while its key is there and
    1 when it is gone, whatever the 64-bit view holds."""

    CLASS_KEY, INSTANCE_ENTRY = "class key", "instance entry"

    def setUp(self):
        super().setUp()
        self.lines = fleet_check_lines()
        self.batch = f"{self.wine.scratch}\\fleet-check.cmd"
        self.views = (32, 64) if self.wine.is_64_bit else (32,)

    def key_of(self, line):
        """Which of the filter's keys `line` asks for."""
        return self.INSTANCE_ENTRY if "\\Instance\\" in line else self.CLASS_KEY

    def status(self, line, view):
        with open(self.wine.host_path(self.batch), "wb") as f:
            f.write(line.encode("ascii") + b"\r\n")
        result = self.wine.run("cmd", "/c", self.batch, view=view)
        return result.returncode, result.stdout + result.stderr

    def assertStatuses(self, present, state):
        """Each line, from each command interpreter, finds exactly the keys
        in `present`."""
        for line in self.lines:
            for view in self.views:
                status, output = self.status(line, view)
                self.assertEqual(0 if self.key_of(line) in present else 1, status,
                                 f"{state}, {view}-bit cmd: {line}\n{output.decode('latin-1')}")

    def test_lines_name_the_filter_and_the_prefix_class_manager(self):
        self.assertEqual({self.CLASS_KEY, self.INSTANCE_ENTRY}, set(map(self.key_of, self.lines)))
        with open(os.path.join(SOURCE_DIR, "platform", "win32", "README.txt.in"),
                  encoding="ascii") as f:
            packed_text = f.read()
        for line in self.lines:
            self.assertIn(TARGET.lower(), line.lower())
            self.assertIn("/reg:32", line)
            self.assertTrue(line in packed_text, f"README.txt.in lacks the line {line}")
        entry_line, = [line for line in self.lines if self.key_of(line) == self.INSTANCE_ENTRY]
        self.assertIn(f"\\{self.manager.lower()}\\instance\\", entry_line.lower())

    def test_finds_the_filter_before_a_run_and_reports_it_gone_after(self):
        server, = self.create_files("Sample Filter.dll")
        self.register_instance_entry(self.manager)
        self.register_class_key(server)
        self.assertStatuses({self.CLASS_KEY, self.INSTANCE_ENTRY}, "registered")
        self.run_program()
        self.assertStatuses(set(), "after the run")

    # What a run leaves where the class key is protected, and the reverse.
    def test_only_the_class_key_left(self):
        server, = self.create_files("Sample Filter.dll")
        self.register_class_key(server)
        self.assertStatuses({self.CLASS_KEY}, "only the class key")

    def test_only_the_instance_entry_left(self):
        self.register_instance_entry(self.manager)
        self.assertStatuses({self.INSTANCE_ENTRY}, "only the instance entry")

    def test_a_64_bit_registration_is_not_found(self):
        if not self.wine.is_64_bit:
            self.skipTest("a 32-bit prefix has one registry view")
        manager64 = only_class_manager(PRISTINE, VIEW64 + EXPORTED_CLSID_ROOT)
        self.register_instance_entry(manager64, view=64)
        self.register_class_key("C:\\Windows\\System32\\rf_sample_filter.ax", view=64)
        self.assertStatuses(set(), "only a 64-bit registration")


# The marks in README.md before the lines that an installer's source must
# hold, each line whole, to run the program from its uninstaller.
INSTALLER_MARKS = {NSIS: "<!-- installer-lines: nsis", MSI: "<!-- installer-lines: wix"}
# One row per way in: the installer, and what is different from a plain
# install and uninstall, if anything.
INSTALLER_ROWS = [
    ("nsis", NSIS, None),
    ("windows_installer", MSI, None),
    # The same installer built without the lines that README.md gives: its
    # uninstall leaves the filter as it was.
    ("nsis_without_the_program", NSIS, "without the program"),
    # A player holds the filter in a filter graph through the uninstall.
    ("nsis_while_a_player_holds_the_filter", NSIS, "player"),
]


class InstallerTest(ProgramCase):
    """The sample filter as its installers put it on the machine and take it
    off (tests/e2e/installers.py): the real module, registered by regsvr32,
    removed by the program that the uninstaller runs with the lines that
    README.md gives. The media framework lists the filter, finds it by its
    media type and creates it after the install, and knows nothing of it after
    the uninstall; the module and the installer's own files are gone, and the
    registry is as it was before the install, less each installer's
    bookkeeping (installers.py names it)."""

    def setUp(self):
        if not ARGS.installers:
            self.skipTest("no --installers given")
        super().setUp()

    def installer(self, kind, change):
        """`kind`'s installer as the build made it, or built without the
        README's lines."""
        lines = readme_lines(INSTALLER_MARKS[kind])
        source = [line.strip() for line in kind.source_lines()]
        for line in lines:
            self.assertIn(line, source, f"{kind.source} lacks README.md's line")
        path = os.path.join(ARGS.installers, kind.output)
        if change == "without the program":
            folder = tempfile.mkdtemp(prefix="rf-installer.")
            self.addCleanup(shutil.rmtree, folder)
            installers.stage(os.path.join(ARGS.installers, installers.MODULE), ARGS.exe, folder)
            path = installers.build(kind, ARGS.makensis, folder, leave_out=lines)
        installed = Installed(self.wine, kind, path)
        self.addCleanup(self.remove_leftovers, installed)
        return installed

    def remove_leftovers(self, installed):
        """What a failed or a row's own uninstall left: the registrations
        (through the program), the installer's folder."""
        self.wine.run(ARGS.exe)
        shutil.rmtree(self.wine.host_path(installed.folder), ignore_errors=True)

    def check(self, result, what):
        self.assertEqual(0, result.returncode, f"{what}: {result.stderr.decode('latin-1')}")

    def uninstall_while_playing(self, installed):
        """The uninstall while a player holds the filter in a filter graph;
        the player lets it go after the uninstall ended."""
        ready, stop = f"{self.wine.scratch}\\player-ready", f"{self.wine.scratch}\\player-stop"
        for path in (ready, stop):
            self.wine.remove_file(path)
        player = self.wine.start_program(ARGS.filter_framework, "play", ready, stop)
        try:
            deadline = time.monotonic() + 60
            while not self.wine.file_exists(ready):
                self.assertIsNone(player.poll(), "the player ended before it held the filter")
                self.assertLess(time.monotonic(), deadline, "the player did not start")
                time.sleep(0.05)
            return installed.uninstall()
        finally:
            self.wine.create_file(stop, b"")
            self.assertEqual(0, player.wait(timeout=60), "the player failed")

    def without_bookkeeping(self, before, after, installed):
        """`after` less the keys of the installer's bookkeeping that were not
        there before; each must hold no value and no key but such keys."""
        kept = [key for key in installed.bookkeeping_keys() if key in after and key not in before]
        for key in kept:
            self.assertEqual((), after.keys[key], key)
            self.assertLessEqual({f"{key}\\{name}" for name in after.sub_keys(key)}, set(kept), key)
        return Registry({k: v for k, v in after.keys.items() if k not in kept}, after.clsid_root)

    def run_row(self, kind, change):
        installed = self.installer(kind, change)
        # The first view also has Wine record what it records for each new
        # process of the framework: the snapshot comes after it.
        pristine = self.framework_view()
        self.assertEqual((0, 0, REGDB_E_CLASSNOTREG),
                         (pristine["listed"], pristine["matched"], pristine["created"]), pristine)
        before = self.wine.export_registry()

        self.check(installed.install(), "the install")

        present = self.framework_view()
        self.assertEqual({"filters": pristine["filters"] + 1, "listed": 1, "matched": 1,
                          "class": 0, "created": 0}, present, "after the install")

        if change == "player":
            self.check(self.uninstall_while_playing(installed), "the uninstall")
        else:
            self.check(installed.uninstall(), "the uninstall")

        if change == "without the program":
            self.assertEqual(present, self.framework_view(), "the filter after the uninstall")
            self.run_program()  # what the uninstaller did not run
        self.assertEqual(pristine, self.framework_view(), "after the uninstall")
        self.assertEqual(change == "player", self.wine.file_exists(installed.module),
                         "the module after the uninstall")
        self.assertEqual([], installed.own_files())
        after = self.wine.export_registry()
        self.assertSameRegistry(before, self.without_bookkeeping(before, after, installed))


for _name, _kind, _change in INSTALLER_ROWS:
    setattr(InstallerTest, f"test_{_name}",
            lambda self, kind=_kind, change=_change: self.run_row(kind, change))


def sz(text):
    return (text + "\0").encode("utf-16-le")


class SnapshotTest(unittest.TestCase):
    """The snapshots that every case compares see each kind of change that
    the system's own registry editor makes, in each registry view, and
    nothing else: the difference of two snapshots is exactly the change."""

    ROOT = "Software\\rf-snapshot-test"
    UNICODE_KEY = "Grüße ключ 鍵 \U0001f511"  # beyond the Basic Multilingual Plane too
    UNICODE_VALUE = "naïve Wert 値 %0041"

    def names(self, path, view):
        """The snapshot's names of HKEY_LOCAL_MACHINE\\`path` in `view`."""
        if not WINE.is_64_bit:
            return [f"HKEY_LOCAL_MACHINE\\{path}"]
        if view == 64:
            return [f"{VIEW64}HKEY_LOCAL_MACHINE\\{path}"]
        below = path[len("Software\\"):]
        # The 32-bit view's Software is the 64-bit view's Software\Wow6432Node.
        return [f"HKEY_LOCAL_MACHINE\\{path}",
                f"{VIEW64}HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\{below}"]

    def write(self, view, keys, removed_keys=(), removed_values=()):
        """Imports, through the registry editor of `view`, the keys `keys`
        ({path below HKEY_LOCAL_MACHINE: [Value, ...]}), then removes the
        keys and the values ((path, name)) given."""
        machine = "HKEY_LOCAL_MACHINE\\"
        WINE.import_registry(registry_file(
            {machine + path: values for path, values in keys.items()},
            removed=[machine + path for path in removed_keys],
            removed_values=[(machine + path, name) for path, name in removed_values]), view)

    def test_difference_of_two_snapshots_is_exactly_the_change(self):
        views = (32, 64) if WINE.is_64_bit else (32,)
        root = {view: f"{self.ROOT}-{view}" for view in views}
        old = {"": Value("", REG_SZ, sz("old default")),
               "changed": Value("changed", REG_DWORD, (1).to_bytes(4, "little")),
               "binary": Value("binary", REG_BINARY, bytes([0, 1, 0xfe, 0xff])),
               "removed": Value("removed", REG_SZ, sz("going")),
               "same": Value("same", REG_SZ, sz("kept"))}
        new = {"": Value("", REG_SZ, sz("new default")),
               "changed": Value("changed", REG_DWORD, (2).to_bytes(4, "little")),
               "binary": Value("binary", REG_BINARY, bytes([0, 1, 0xfe, 0xfe, 0x80])),
               "expand": Value("expand", REG_EXPAND_SZ, sz("%SystemRoot%\\rf.dll")),
               self.UNICODE_VALUE: Value(self.UNICODE_VALUE, REG_SZ, sz("Größe ✓"))}
        for view in views:
            self.addCleanup(self.write, view, {}, removed_keys=[root[view]])
            self.write(view, {root[view]: list(old.values()),
                              f"{root[view]}\\going\\below": [old["same"]],
                              f"{root[view]}\\kept": []})
        before = WINE.export_registry()
        for view in views:
            self.write(view, {root[view]: [new[n] for n in ("", "changed", "binary", "expand",
                                                             self.UNICODE_VALUE)],
                              f"{root[view]}\\{self.UNICODE_KEY}": [new["expand"]]},
                       removed_keys=[f"{root[view]}\\going"],
                       removed_values=[(root[view], "removed")])
        # Beside a value that Wine changes by itself: it moved is no
        # difference, a value new beside it is one.
        own = {path.lower() for path, _ in WINE_OWN_VALUES}
        counter_key, = [key for key in before.keys if key.lower() in own]
        counter, = [v for v in before.keys[counter_key] if v.name == ""]
        beside = Value("rf-snapshot-test", REG_SZ, sz("beside Wine's own value"))
        moved = Value("", REG_DWORD, (int.from_bytes(counter.data, "little") + 7).to_bytes(
            4, "little"))
        counter_path = "System\\CurrentControlSet\\Control\\ServiceCurrent"
        self.addCleanup(self.write, 32, {counter_path: [counter]},
                        removed_values=[(counter_path, beside.name)])
        self.write(32, {counter_path: [moved, beside]})
        after = WINE.export_registry()
        self.assertNotIn(counter, after.keys[counter_key])  # moved, by us or by Wine

        expected = [f"unexpected: [{counter_key}] {beside}"]
        for view in views:
            for key in self.names(root[view], view):
                expected += [
                    f"changed:    [{key}] {old['']} -> {new['']}",
                    f"changed:    [{key}] {old['changed']} -> {new['changed']}",
                    f"changed:    [{key}] {old['binary']} -> {new['binary']}",
                    f"missing:    [{key}] {old['removed']}",
                    f"unexpected: [{key}] {new['expand']}",
                    f"unexpected: [{key}] {new[self.UNICODE_VALUE]}",
                    f"missing:    [{key}\\going]",
                    f"missing:    [{key}\\going\\below]",
                    f"unexpected: [{key}\\{self.UNICODE_KEY}]",
                ]
                self.assertIn(f"{key}\\kept", after)
                # Every value's type and bytes, in name order.
                kept = [new[""], new["binary"], new["changed"], new["expand"], old["same"]]
                self.assertEqual(kept, [v for v in after.keys[key] if v.name != self.UNICODE_VALUE])
        self.assertEqual(sorted(expected), before.differences(after, limit=len(expected) + 1))
        self.assertEqual([], after.differences(after))


# The 64-bit registration of the filter: what a 64-bit build of it leaves in
# the 64-bit view and the real system folder. It is not the program's target.
SERVER_64 = "Sample Filter (64-bit)"


class Wow64Test(ProgramCase):
    """Cases that only a 64-bit machine has. The 64-bit view holds its own
    class manager; every case would fail on a program that reached into that
    view, or into the real system folder in place of the redirected one."""

    @classmethod
    def setUpClass(cls):
        if not WINE.is_64_bit:
            raise unittest.SkipTest("a 32-bit prefix has one registry view and one system folder")
        super().setUpClass()
        cls.manager64 = only_class_manager(PRISTINE, VIEW64 + EXPORTED_CLSID_ROOT)

    def register_64_bit_filter(self, server):
        """The filter's 64-bit registration: an instance entry below the 64-bit
        view's class manager and a class key naming `server`, created in the
        real system folder. Returns the names of its keys and its file's
        content."""
        self.register_instance_entry(self.manager64, view=64, name=SERVER_64)
        self.register_class_key(server, view=64, name=SERVER_64)
        content = b"MZ\x90\0 64-bit build of the sample filter"
        self.create_file(server, content, view=64)
        keys = self.wine.names(instance_entry_path(self.manager64), 64) + self.wine.names(
            CLASS_KEY_PATH, 64)
        return keys, content

    def assert_64_bit_filter_kept(self, keys, server, content, after):
        for key in keys:
            self.assertIn(key, after)
        self.assertEqual(content, self.wine.file_content(server, view=64))

    def test_same_class_in_both_views_only_the_32_bit_one_goes(self):
        server = "C:\\Windows\\System32\\rf_sample_filter.ax"
        keys64, content64 = self.register_64_bit_filter(server)
        # The same stored path, in the folder that the program's view redirects.
        self.create_file(server, b"MZ 32-bit build")
        self.assertNotEqual(self.wine.host_path(server), self.wine.host_path(server, view=64))
        _, after = self.removal(self.manager, server, [])
        self.assert_64_bit_filter_kept(keys64, server, content64, after)

    def test_only_a_64_bit_registration_changes_nothing(self):
        server = "C:\\Windows\\System32\\rf_sample_filter.ax"
        keys64, content64 = self.register_64_bit_filter(server)
        before = self.wine.export_registry()
        for key in self.wine.names(CLASS_KEY_PATH):
            self.assertNotIn(key, before)

        self.run_program()

        after = self.wine.export_registry()
        self.assertSameRegistry(before, after)
        self.assert_64_bit_filter_kept(keys64, server, content64, after)

    def test_class_manager_only_in_the_32_bit_view(self):
        self.register_manager(EARLY_MANAGER, MANAGER_NAME)
        server, = self.create_files("Sample Filter.dll")
        before, _ = self.removal(EARLY_MANAGER, server, [])
        self.assertEqual([EARLY_MANAGER, self.manager], before.class_managers())
        self.assertEqual([self.manager64], before.class_managers(VIEW64 + EXPORTED_CLSID_ROOT))

    def test_server_below_program_files_x86(self):
        directory = f"C:\\Program Files (x86)\\{self._testMethodName}"
        server = self.create_file(f"{directory}\\Sample Filter.ax")
        neighbour = self.create_file(f"{directory}\\Sample Filter.ax.manifest")
        self.removal(self.manager, server, [neighbour])

    def test_server_in_the_redirected_system_folder_in_short_form(self):
        server = "C:\\Windows\\System32\\rf Sample Filter Server.ax"
        keys64, content64 = self.register_64_bit_filter(server)
        self.create_file(server)
        result = self.wine.run(ARGS.short_path, server)
        self.assertEqual(0, result.returncode, result.stderr)
        short = result.stdout.decode().strip()
        self.assertNotEqual(server.lower(), short.lower())
        self.assertNotIn(" ", short)
        _, after = self.removal(self.manager, server, [], stored_path=short)
        self.assert_64_bit_filter_kept(keys64, server, content64, after)


# Protections as the system puts them on the keys it installs: everyone may
# read, nobody may change; an "Instance" key where administrators may also
# create sub-keys. Set alone, the DACL leaves the key's owner in the caller's
# token, and Wine then grants deletion whatever the DACL says: the rows
# protect no key whose deletion a run tries.
READ_ONLY = "D:P(A;;KR;;;WD)"
READ_AND_CREATE = "D:P(A;;KR;;;WD)(A;;0x2001d;;;BA)"
# The same with an owner outside the caller's token, the local system
# account, as the system's installer leaves the keys it owns: Wine, like
# Windows, grants only what the DACL grants, so the key refuses deletion;
# with OWNED_DELETABLE it grants reading and deletion.
OWNED = "O:SYD:P(A;;KR;;;WD)"
OWNED_DELETABLE = "O:SYD:P(A;;KRSD;;;WD)"


def entry_key(case, below=""):
    """The filter's instance entry below the case's class manager, or a key
    below it, as a path below HKEY_CLASSES_ROOT."""
    return f"CLSID\\{case.manager}\\Instance\\{TARGET}{below}"


def class_key(below=""):
    return f"CLSID\\{TARGET}{below}"


CATEGORY = "\\Implemented Categories\\{DA4E3DA0-D07D-11D0-BD50-00A0C911CE86}"
# The program's name buffer, its terminator included: a longer value name
# ends the pass that empties a key of its named values.
NAME_BUFFER = 260

# One row per state of the machine during the run: the states the helper
# makes (given the case and the server file's path), the keys of the
# filter's two trees that stay whole (given the case), and whether the
# server file goes. Of each tree, the keys above a key that stays whole stay
# with their default value only, and the rest goes. Each owned key that
# stays comes before a key that goes, in the enumeration of its parent or of
# a key above it: a deletion that stopped at the owned key would leave that
# one too.
MACHINE_STATES = [
    ("manager_protected",
     lambda case, server: ["--protect", f"CLSID\\{case.manager}", READ_ONLY,
                           "--protect", f"CLSID\\{case.manager}\\Instance", READ_AND_CREATE],
     lambda case: [], True),
    ("class_root_protected", lambda case, server: ["--protect", "CLSID", READ_ONLY],
     lambda case: [entry_key(case), class_key()], False),
    ("class_key_protected", lambda case, server: ["--protect", class_key(), READ_ONLY],
     lambda case: [class_key()], False),
    ("server_loaded", lambda case, server: ["--loaded", server], lambda case: [], False),
    ("server_locked", lambda case, server: ["--locked", server], lambda case: [], False),
    ("server_read_only", lambda case, server: ["--read-only", server], lambda case: [], False),
    # Owned keys refuse full access and deletion: a childless one inside the
    # class key; one with a sub-key of its own (it is neither walked nor
    # emptied, so its sub-key stays too), and the instance entry, the top of
    # its tree; and one deep in the instance entry beside an owned one that
    # grants deletion (it goes through a handle of just the rights for that).
    ("owned_leaf_in_the_class_key", lambda case, server: ["--own", class_key(CATEGORY), OWNED],
     lambda case: [class_key(CATEGORY)], True),
    ("owned_key_with_a_sub_key_in_the_class_key_and_owned_instance_entry",
     lambda case, server: ["--own", class_key("\\Implemented Categories"), OWNED,
                           "--own", entry_key(case), OWNED],
     lambda case: [class_key("\\Implemented Categories"), entry_key(case)], True),
    ("owned_leaves_deep_in_the_instance_entry",
     lambda case, server: ["--own", entry_key(case, "\\Pins\\Input\\Types\\0"), OWNED,
                           "--own", entry_key(case, "\\Pins\\Input\\Types\\1"),
                           OWNED_DELETABLE],
     lambda case: [entry_key(case, "\\Pins\\Input\\Types\\0")], True),
    # The class key owned: it stays whole with its file, as one that refuses
    # full access; and an owned pin with sub-keys of its own in the entry.
    ("owned_class_key",
     lambda case, server: ["--own", class_key(), OWNED,
                           "--own", entry_key(case, "\\Pins\\Input"), OWNED],
     lambda case: [class_key(), entry_key(case, "\\Pins\\Input")], False),
]


def left_by_a_run(before, trees, whole):
    """`before` as a run leaves it when, of the trees `trees`, the keys
    `whole` stay whole (all of them snapshot names)."""
    def at_or_below(key, top):
        return key.lower() == top.lower() or key.lower().startswith(top.lower() + "\\")

    keys = {}
    for key, values in before.keys.items():
        if not any(at_or_below(key, tree) for tree in trees) or \
                any(at_or_below(key, kept) for kept in whole):
            keys[key] = values
        elif any(at_or_below(kept, key) for kept in whole):
            keys[key] = tuple(v for v in values if v.name == "" or len(v.name) >= NAME_BUFFER)
    return Registry(keys, before.clsid_root)


def without_owners(states):
    """The helper's arguments `states` less the owners it set: they stay."""
    kept = []
    i = 0
    while i < len(states):
        if states[i] == "--own":
            i += 3
        else:
            kept.append(states[i])
            i += 1
    return kept


class MachineStateTest(ProgramCase):
    """The program run while the machine is as a real one may be: keys that
    the system protects or owns, a server file that another process has
    loaded, holds open or marked read-only. The helper makes the state for
    the length of the run and undoes it, but an owner it set; it fails when
    it cannot make it. A second run in the same state changes nothing more."""

    def register_filter(self, server):
        """The whole filter, with keys after those that rows own and named
        values above them: on the class key one named like a link's, and
        names that fit the program's buffer and, last in every order of
        enumeration (Wine's by name, Windows' by creation), one that does
        not."""
        self.register_instance_entry(self.manager)
        self.register_class_key(server)
        entry = instance_entry_path(self.manager)
        self.register({
            CLASS_KEY_PATH: {"AppID": TARGET, "SymbolicLinkValue": "not a link",
                             "v" * (NAME_BUFFER - 1): "fits", "w" * NAME_BUFFER: "too long"},
            entry + "\\Pins\\Input": {"Direction": 0},
            entry + "\\Pins\\Input\\Types\\0": {"Major": "video"},
            entry + "\\Pins\\Input\\Types\\1": {"Major": "audio"},
        })

    def run_in_state(self, states, whole, file_goes):
        global SPENT
        with open(ARGS.module, "rb") as f:
            module = f.read()
        server, neighbour = self.create_files("Sample Filter.ax", "readme.txt")
        self.wine.create_file(server, module)
        self.register_filter(server)
        trees = self.wine.names(instance_entry_path(self.manager)) + self.wine.names(CLASS_KEY_PATH)
        whole = [name for key in whole(self)
                 for name in self.wine.names("HKEY_CLASSES_ROOT\\" + key)]
        before = self.wine.export_registry()
        for key in whole:
            self.assertIn(key, before)
        expected = left_by_a_run(before, trees, whole)
        states = states(self, server)
        SPENT = SPENT or "--own" in states

        for run in ("first run", "second run"):
            result = self.wine.run(ARGS.machine_state, *states, "--run", windows_path(ARGS.exe))

            self.assertEqual((0, b"", b""), (result.returncode, result.stdout, result.stderr), run)
            self.assertSameRegistry(expected, self.wine.export_registry(), run)
            self.assertEqual(not file_goes, self.wine.file_exists(server), run)
            if not file_goes:
                self.assertEqual(module, self.wine.file_content(server), run)
            self.assertTrue(self.wine.file_exists(neighbour), run)
            states = without_owners(states)


for _name, _states, *_expected in MACHINE_STATES:
    setattr(MachineStateTest, f"test_{_name}",
            lambda self, states=_states, expected=_expected: self.run_in_state(states, *expected))


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--short-path", required=True)
    parser.add_argument("--snapshot", required=True)
    parser.add_argument("--prefix", required=True)
    parser.add_argument("--arch", choices=["win32", "win64"], default="win32")
    parser.add_argument("--machine-state", help="tests/e2e/machine_state.cpp, built")
    parser.add_argument("--module", help="a 32-bit module to load as a server file")
    parser.add_argument("--filter-framework", help="tests/e2e/filter_framework.cpp, built")
    parser.add_argument("--installers", help="the folder of the built installers (installers.py)")
    parser.add_argument("--makensis", help="makensis, to build an installer of the rows")
    ARGS, rest = parser.parse_known_args()
    ARGS.exe = os.path.abspath(ARGS.exe)
    ARGS.short_path = os.path.abspath(ARGS.short_path)
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)
