"""The filter that the program removes, as the end-to-end tests, the
concurrency test and the demo see it: its identifiers, the keys of its
registration, and what the media framework itself reports of it (through
the helper tests/e2e/filter_framework.cpp run in a prefix)."""

# The filter's class identifier, written here on its own and not taken from
# the program's sources: the tests that look for it check that the program
# holds the right one.
TARGET = "{3A7D52C8-6E19-4B2F-9C04-71E5D8A0B6F3}"
# The default value of the media framework's filter class manager's class key.
CLASS_MANAGER_NAME = "ActiveMovie Filter Class Manager"
# A second filter registered beside the target, which every run must leave.
OTHER_FILTER = "{5E0F4A31-9B2C-4D7E-8A16-C3F09B2D4E58}"
# A filter's registration data as its installer writes it: version 2,
# merit 0x200000 (normal), no pins.
FILTER_DATA = b"\x02\0\0\0\0\0\x20\0"
# What activating a class gives when the class is not registered.
REGDB_E_CLASSNOTREG = 0x80040154

CLSID_ROOT = "HKEY_CLASSES_ROOT\\CLSID"
CLASS_KEY_PATH = f"{CLSID_ROOT}\\{TARGET}"


def instance_entry_path(manager):
    """The filter's entry below the "Instance" key of the class manager
    whose class key is `manager`."""
    return f"{CLSID_ROOT}\\{manager}\\Instance\\{TARGET}"


def registered_entry(entry, name="Sample Filter"):
    """The keys of the filter's instance entry at `entry`, as
    registry_file() takes them."""
    return {entry: {"FriendlyName": name, "CLSID": TARGET, "FilterData": FILTER_DATA}}


def registered_class(server, name="Sample Filter", key=CLASS_KEY_PATH):
    """The keys of the filter's class key naming the server file `server`."""
    return {key: {"": name},
            key + "\\InprocServer32": {"": server, "ThreadingModel": "Both"}}


class FrameworkError(Exception):
    """The helper that asks the media framework failed."""


class Framework:
    """The media framework's own view in a prefix, through the helper
    filter_framework.exe (its host path)."""

    def __init__(self, helper, wine=None):
        self.helper = helper
        self.wine = wine

    def call(self, *args):
        result = self.wine.run(self.helper, *args)
        if result.returncode != 0:
            raise FrameworkError(f"filter_framework {args[0]} failed with status "
                                 f"{result.returncode}: "
                                 f"{result.stderr.decode(errors='replace').strip()}")
        return result.stdout.decode("ascii")

    def register(self, server, name="Sample Filter"):
        """Registers the filter with the server file `server` through the
        framework's filter mapper, as its installer would."""
        self.call("register", server, name)

    def report(self):
        """{"filters": the filters that its device enumerator lists, "listed":
        how many of them are the filter, "matched": how many of its mapper's
        matches for the filter's input type are, "class": the result of
        activating the filter's class}."""
        return {word: int(number, 0)
                for word, number in (line.split() for line in self.call("report").splitlines())}
