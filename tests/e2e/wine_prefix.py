"""A throwaway Wine prefix driven from the host: its processes, its files and
snapshots of its whole registry. Shared by the end-to-end tests and the demo."""

import os
import re
import subprocess
import sys
from collections import namedtuple

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "cmake"))
import wine_driver  # noqa: E402
from sample_filter import CLASS_MANAGER_NAME, CLSID_ROOT  # noqa: E402

# Where Wine keeps HKEY_CLASSES_ROOT\CLSID: in a 32-bit prefix, and in the
# 64-bit view of a 64-bit one.
EXPORTED_CLSID_ROOT = "HKEY_LOCAL_MACHINE\\Software\\Classes\\CLSID"

# In a 64-bit prefix, a 32-bit process sees HKEY_CLASSES_ROOT\CLSID at
# HKEY_LOCAL_MACHINE\Software\Classes\Wow6432Node\CLSID; Wine 8 keeps it
# there, and HKEY_LOCAL_MACHINE\Software\Wow6432Node\Classes (which the
# 32-bit view names HKEY_LOCAL_MACHINE\Software\Classes) is a link to it.
# Its 64-bit view is HKEY_LOCAL_MACHINE\Software\Classes itself.
WOW64_CLASSES = ("HKEY_LOCAL_MACHINE\\Software\\Classes\\Wow6432Node",
                 "HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\Classes")
# The keys of the 64-bit view carry this in front of their path.
VIEW64 = "64-bit view: "
# The snapshot program (tests/e2e/registry_snapshot.cpp) where the win32
# preset builds it, unless RF_REGISTRY_SNAPSHOT or the caller names another.
SNAPSHOT_EXE = os.environ.get("RF_REGISTRY_SNAPSHOT") or os.path.join(
    os.path.dirname(os.path.abspath(__file__)), "..", "..", "build", "win32", "tests", "e2e",
    "registry_snapshot.exe")

# What Wine changes in the registry by itself while a prefix runs, whatever
# its programs do: left out of every whole-registry comparison
# (Registry.differences), value by value, each for the reason above it.
# Every other value of these keys, and every key below them, is compared.
WINE_OWN_VALUES = (
    # The default value counts the service processes that services.exe has
    # started: one of the prefix's services that starts during a run (on a
    # busy machine, one that came up late) moves it on.
    ("HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\ServiceCurrent", ""),
    # The same value under Wine 10, where CurrentControlSet is a link to
    # ControlSet001 and the snapshot shows the key at its own place.
    ("HKEY_LOCAL_MACHINE\\System\\ControlSet001\\Control\\ServiceCurrent", ""),
)

# Keys that Wine adds by itself each time it starts a desktop (the first
# window program on a desktop that no other runs on, as the installers'
# programs and the Windows Installer service's custom actions are): a display
# device's record, the key of a new GUID and its "0000" (with the display
# driver's error where there is no display). Registry.differences leaves out
# such keys that are new; every other key below Control\Video is compared.
WINE_DISPLAY_DEVICE_KEY = re.compile(
    r"HKEY_LOCAL_MACHINE\\System\\(CurrentControlSet|ControlSet\d+)\\Control\\Video\\"
    r"\{[0-9a-f-]{36}\}(\\0000)?", re.IGNORECASE)

REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD, REG_LINK, REG_MULTI_SZ = 1, 2, 3, 4, 6, 7
UNREADABLE = -1  # the type of the value that stands for a key that could not be read
TYPE_NAMES = {0: "REG_NONE", REG_SZ: "REG_SZ", REG_EXPAND_SZ: "REG_EXPAND_SZ",
              REG_BINARY: "REG_BINARY", REG_DWORD: "REG_DWORD", 5: "REG_DWORD_BIG_ENDIAN",
              REG_LINK: "REG_LINK", REG_MULTI_SZ: "REG_MULTI_SZ", 11: "REG_QWORD"}


class Value(namedtuple("Value", "name type data")):
    """A value: its exact name ("" for the default value), type (a number)
    and data (bytes). Equal when all three are."""

    def text(self):
        """The string that REG_SZ-like data holds when it is exactly one
        terminated UTF-16 string (REG_LINK: one unterminated), else None."""
        if self.type not in (REG_SZ, REG_EXPAND_SZ, REG_LINK) or len(self.data) % 2:
            return None
        text = self.data.decode("utf-16-le", "surrogatepass")
        if self.type == REG_LINK:
            return text
        if not text.endswith("\0") or "\0" in text[:-1]:
            return None
        return text[:-1]

    def __str__(self):
        if self.type == UNREADABLE:
            return f"(cannot be read: error {self.data.decode()})"
        name = "@" if self.name == "" else repr(self.name)
        kind = TYPE_NAMES.get(self.type, f"type {self.type}")
        text = self.text()
        if self.type == REG_LINK and self.name == "SymbolicLinkValue" and text is not None:
            return f"{name}={kind} -> {text}"
        if text is not None:
            return f"{name}={kind} {text!r}"
        if self.type == REG_DWORD and len(self.data) == 4:
            return f"{name}={kind} 0x{int.from_bytes(self.data, 'little'):08x}"
        return f"{name}={kind} hex:{self.data.hex(',')}"


def _unescape(field):
    """A name as the snapshot program writes it: %XXXX for one UTF-16 unit.
    A pair of surrogates makes one character; a lone one stays as it is."""
    if "%" not in field:
        return field
    units = re.sub(r"%([0-9A-F]{4})", lambda m: chr(int(m[1], 16)), field)
    return units.encode("utf-16-le", "surrogatepass").decode("utf-16-le", "surrogatepass")


class Registry:
    """A registry snapshot: {key path: (Value, ...)}, keys and values in the
    snapshot program's order (by name, ignoring letter case). A registry link
    is a key of its own with one value SymbolicLinkValue (REG_LINK) that
    names its target; what lies below the target shows under the target's
    own path only. A key that could not be read holds one value "<error>"."""

    def __init__(self, keys, clsid_root=EXPORTED_CLSID_ROOT):
        self.keys = keys
        # Where this snapshot names HKEY_CLASSES_ROOT\CLSID as the program sees it.
        self.clsid_root = clsid_root

    @staticmethod
    def parse(text, clsid_root=EXPORTED_CLSID_ROOT):
        """A snapshot from the snapshot program's output; the 64-bit view's
        keys get VIEW64 in front of their path."""
        keys = {}
        values = None
        for line in text.splitlines():
            kind, *fields = line.split("\t")
            if kind == "V":
                name, kind_number, data = fields
                values.append(Value(_unescape(name), int(kind_number), bytes.fromhex(data)))
                continue
            view, path = fields[0], _unescape(fields[1])
            if view == "64":
                path = VIEW64 + path
            values = keys[path] = []
            if kind == "E":
                values.append(Value("<error>", UNREADABLE, fields[2].encode()))
        return Registry({k: tuple(v) for k, v in keys.items()}, clsid_root)

    def __contains__(self, key):
        return key in self.keys

    def below(self, key):
        """The keys at or below `key` (compared without regard to case)."""
        prefix = key.lower() + "\\"
        return {k: v for k, v in self.keys.items()
                if k.lower() == key.lower() or k.lower().startswith(prefix)}

    def without(self, *subtrees):
        """This registry less the given keys and everything below them."""
        gone = set()
        for key in subtrees:
            gone.update(self.below(key))
        return Registry({k: v for k, v in self.keys.items() if k not in gone}, self.clsid_root)

    def sub_keys(self, key):
        """Names of the direct sub-keys of `key`."""
        prefix = key.lower() + "\\"
        return [k[len(prefix):] for k in self.keys
                if k.lower().startswith(prefix) and "\\" not in k[len(prefix):]]

    def class_managers(self, root=None):
        """Names of the class keys below `root` (by default the class root of
        the program's view) whose default value names the class manager (in
        any letter case), in the snapshot's order."""
        root = root or self.clsid_root
        wanted = CLASS_MANAGER_NAME.lower()
        return [name for name in self.sub_keys(root)
                if any(v.name == "" and v.type == REG_SZ and (v.text() or "").lower() == wanted
                       for v in self.keys[f"{root}\\{name}"])]

    def compared_values(self, key):
        """The values of `key` that a comparison looks at: all but those in
        WINE_OWN_VALUES."""
        left_out = {name.lower() for path, name in WINE_OWN_VALUES if path.lower() == key.lower()}
        return {v.name: v for v in self.keys[key] if v.name.lower() not in left_out}

    def differences(self, other, limit=12):
        """Lines that say how `other` differs from this registry, one a key
        missing or unexpected or a value missing, unexpected or changed;
        empty when they are the same. Every comparison of whole registries
        goes through here: WINE_OWN_VALUES and new keys of
        WINE_DISPLAY_DEVICE_KEY are left out, nothing else."""
        lines = []
        for key in self.keys.keys() - other.keys.keys():
            lines.append(f"missing:    [{key}]")
        for key in other.keys.keys() - self.keys.keys():
            if not WINE_DISPLAY_DEVICE_KEY.fullmatch(key):
                lines.append(f"unexpected: [{key}]")
        for key in self.keys.keys() & other.keys.keys():
            if self.keys[key] == other.keys[key]:
                continue
            before = self.compared_values(key)
            after = other.compared_values(key)
            for name in before.keys() | after.keys():
                if name not in after:
                    lines.append(f"missing:    [{key}] {before[name]}")
                elif name not in before:
                    lines.append(f"unexpected: [{key}] {after[name]}")
                elif before[name] != after[name]:
                    lines.append(f"changed:    [{key}] {before[name]} -> {after[name]}")
        lines.sort()
        if len(lines) > limit:
            lines = lines[:limit] + [f"... and {len(lines) - limit} more"]
        return lines


def windows_path(host_path):
    """A host path as a Wine process names it, on drive Z:."""
    return "Z:" + os.path.abspath(host_path).replace("/", "\\")


def reg_string(text):
    """A name or a string as a registry file writes it, quoted."""
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def reg_data(value):
    """A value's data as a registry file writes it: of a Value (any type),
    a str (REG_SZ), an int (REG_DWORD) or bytes (REG_BINARY)."""
    if isinstance(value, Value):
        if value.type == REG_SZ and value.text() is not None:
            return reg_string(value.text())
        if value.type == REG_DWORD and len(value.data) == 4:
            return f"dword:{int.from_bytes(value.data, 'little'):08x}"
        kind = "hex" if value.type == REG_BINARY else f"hex({value.type:x})"
        return kind + ":" + ",".join(f"{b:02x}" for b in value.data)
    if isinstance(value, str):
        return reg_string(value)
    if isinstance(value, int):
        return f"dword:{value:08x}"
    return "hex:" + ",".join(f"{b:02x}" for b in value)


def registry_file(keys, removed=(), removed_values=()):
    """The text of a registry file (version 5) that removes the keys in
    `removed`, creates `keys` ({path: {name: data}} or {path: [Value,
    ...]}; the name "" is the default value; data as reg_data() takes it),
    then removes the values `removed_values` ((path, name), ...)."""
    lines = ["Windows Registry Editor Version 5.00", ""]
    for path in removed:
        lines += [f"[-{path}]", ""]
    for path, values in keys.items():
        lines.append(f"[{path}]")
        pairs = values.items() if isinstance(values, dict) else ((v.name, v) for v in values)
        for name, value in pairs:
            lines.append(("@" if name == "" else reg_string(name)) + "=" + reg_data(value))
        lines.append("")
    for path, name in removed_values:
        lines += [f"[{path}]", ("@" if name == "" else reg_string(name)) + "=-", ""]
    return "\r\n".join(lines) + "\r\n"


class WinePrefix:
    """A prefix of `arch` (win32 or win64), made and run through the Wine
    driver (cmake/wine_driver.py), with one server that runs from start()
    to stop(), so that the registry writes with which Wine starts its
    services are over before the first snapshot and never come between two.

    In a 64-bit prefix the registry has two views and C:\\Windows\\System32
    two folders. Where a method takes `view`, 32 (the default) is what a
    32-bit process such as the program sees, 64 what a 64-bit one sees."""

    def __init__(self, path, arch="win32", snapshot=SNAPSHOT_EXE):
        self.path = os.path.abspath(path)
        self.snapshot = os.path.abspath(snapshot)  # the host path of registry_snapshot.exe
        self.arch = arch
        self.env = wine_driver.environment(self.path)
        self.scratch = "C:\\rf-e2e-scratch"

    @property
    def is_64_bit(self):
        return self.arch == "win64"

    def create(self):
        """A fresh prefix in place of whatever was at the path."""
        wine_driver.create(self.path, self.arch)

    def start(self):
        # The server and the services that the first process starts outlive
        # it: they get no handle on the caller's output. The server waits up
        # to five minutes for the next process, so it outlives every pause
        # between two steps but not a test run that died before stop().
        wine_driver.make_private_folders(self.env)
        quiet = wine_driver.quiet(self.env)
        # It fails when a server of the prefix already runs; that one serves.
        subprocess.run(["wineserver", "-p300"], **quiet)
        subprocess.run(["wine", "cmd", "/c", "exit"], check=True, timeout=120, **quiet)
        # A service started writes the registry (ServiceCurrent); the RPC service starts on
        # demand a moment after the first process. Asking for it waits until it has started.
        subprocess.run(["wine", "net", "start", "RpcSs"], timeout=120, **quiet)
        os.makedirs(self.host_path(self.scratch), exist_ok=True)

    def stop(self):
        wine_driver.stop(self.path)

    def remove(self):
        """Stopped and removed, unless RF_KEEP_PREFIX keeps it."""
        wine_driver.remove(self.path)

    def run(self, program, *args, timeout=120, view=32, cwd=None):
        """wine_driver.run in this prefix, in the current folder `cwd` (a
        path on drive C:) when given."""
        return wine_driver.run(self.path, program, *args, timeout=timeout, view=view,
                               env=self.env, cwd=self.host_path(cwd) if cwd else None)

    def start_program(self, program, *args):
        """Starts a program (as run() takes it) as its own process and returns
        its Popen at once; its output goes nowhere."""
        wine_driver.make_private_folders(self.env)
        return subprocess.Popen(["wine", program, *args], env=self.env, stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def host_path(self, windows_path, view=32):
        """The host path of a path on drive C: ("C:\\a\\b"). In a 64-bit
        prefix a 32-bit process finds C:\\Windows\\System32 in the host's
        drive_c/windows/syswow64."""
        assert windows_path[:3].upper() == "C:\\", windows_path
        parts = [p for p in windows_path[3:].split("\\") if p]
        if [p.lower() for p in parts[:2]] == ["windows", "system32"]:
            folder = "syswow64" if self.is_64_bit and view == 32 else "system32"
            parts[:2] = ["windows", folder]
        return os.path.join(self.path, "drive_c", *parts)

    def create_file(self, windows_path, content=b"MZ", view=32):
        host = self.host_path(windows_path, view)
        os.makedirs(os.path.dirname(host), exist_ok=True)
        with open(host, "wb") as f:
            f.write(content)

    def file_exists(self, windows_path, view=32):
        return os.path.exists(self.host_path(windows_path, view))

    def file_content(self, windows_path, view=32):
        with open(self.host_path(windows_path, view), "rb") as f:
            return f.read()

    def remove_file(self, windows_path, view=32):
        try:
            os.remove(self.host_path(windows_path, view))
        except FileNotFoundError:
            pass

    def import_registry(self, text, view=32):
        """Imports a registry file's text into the registry `view`: a
        REGEDIT4 one, or one of "Windows Registry Editor Version 5.00" (the
        only kind that can hold names and data beyond ASCII)."""
        path = self.scratch + "\\import.reg"
        data = text.encode("ascii") if text.isascii() else "\ufeff".encode("utf-16-le") + \
            text.encode("utf-16-le")
        with open(self.host_path(path), "wb") as f:
            f.write(data)
        result = self.run("regedit", "/s", path, view=view)
        if result.returncode != 0 or result.stderr:
            raise RuntimeError(f"regedit /s failed: {result.stderr!r}")

    def export_registry(self):
        """A snapshot of the whole registry (HKEY_LOCAL_MACHINE and
        HKEY_USERS) as the program sees it; in a 64-bit prefix also of the
        whole software hive (HKEY_LOCAL_MACHINE\\Software) as 64-bit programs
        see it, with its keys' paths marked by VIEW64. All of it comes from
        one run of the snapshot program. The 64-bit view holds the 32-bit
        one's keys below WOW64_CLASSES[0] and HKEY_LOCAL_MACHINE\\Software\\
        Wow6432Node; the links among them show as links."""
        roots = ["32:HKEY_LOCAL_MACHINE", "32:HKEY_USERS"]
        if self.is_64_bit:
            roots.append("64:HKEY_LOCAL_MACHINE\\Software")
        result = self.run(self.snapshot, *roots)
        if result.returncode != 0 or result.stderr:
            raise RuntimeError(f"registry_snapshot failed ({result.returncode}): {result.stderr!r}")
        return Registry.parse(result.stdout.decode("ascii"),
                              clsid_root=self.names(CLSID_ROOT)[0])

    def names(self, path, view=32):
        """Every name under which export_registry() shows the key `path`
        (HKEY_CLASSES_ROOT\\CLSID or below) of the registry `view`. Links
        are never followed, so there is one: in a 64-bit prefix the path of
        the key's own place, in the 64-bit view. (The 32-bit view keeps only
        some keys of HKEY_CLASSES_ROOT apart, CLSID among them; Wine finds
        the others in the 64-bit view's Classes, where the snapshot shows
        them.)"""
        assert path == "HKEY_CLASSES_ROOT" or path.startswith("HKEY_CLASSES_ROOT\\"), path
        below = path[len("HKEY_CLASSES_ROOT"):]
        if not self.is_64_bit:
            return ["HKEY_LOCAL_MACHINE\\Software\\Classes" + below]
        if view == 64:
            return [VIEW64 + "HKEY_LOCAL_MACHINE\\Software\\Classes" + below]
        return [VIEW64 + WOW64_CLASSES[0] + below]
