"""A throwaway Wine prefix driven from the host: its processes, its files and
its whole registry as text. Shared by the end-to-end tests and the demo."""

import os
import shutil
import subprocess
import tempfile
from concurrent.futures import ThreadPoolExecutor

CLSID_ROOT = "HKEY_CLASSES_ROOT\\CLSID"
# Where Wine keeps HKEY_CLASSES_ROOT, as a full export names it.
EXPORTED_CLSID_ROOT = "HKEY_LOCAL_MACHINE\\Software\\Classes\\CLSID"
CLASS_MANAGER_NAME = "ActiveMovie Filter Class Manager"

# In a 64-bit prefix, a 32-bit process sees HKEY_CLASSES_ROOT\CLSID at
# HKEY_LOCAL_MACHINE\Software\Classes\Wow6432Node\CLSID; Wine 8 keeps it
# there, and HKEY_LOCAL_MACHINE\Software\Wow6432Node\Classes is a link to
# it. Its 64-bit view is HKEY_LOCAL_MACHINE\Software\Classes itself.
WOW64_CLASSES = ("HKEY_LOCAL_MACHINE\\Software\\Classes\\Wow6432Node",
                 "HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\Classes")
# The keys of the 64-bit view's export carry this in front of their path.
VIEW64 = "64-bit view: "
# Wine's 64-bit loader; `wine` itself runs the 32-bit programs of a prefix.
WINE64 = shutil.which("wine64") or "/usr/lib/wine/wine64"


class Registry:
    """A whole-registry export: {key path: (value line, ...)}, in the
    export's own order. A value whose data runs over several lines is one
    entry."""

    def __init__(self, keys):
        self.keys = keys

    @staticmethod
    def parse(text):
        keys = {}
        values = None
        pending = ""
        for line in text.splitlines():
            if pending:
                line = pending + line.lstrip()
                pending = ""
            if line.startswith("["):
                values = keys.setdefault(line[1:-1], [])
            elif line and values is not None:
                # Binary and other non-string data continue after a '\'.
                if line.endswith("\\") and "=hex" in line and not line.endswith('"'):
                    pending = line[:-1]
                else:
                    values.append(line)
        return Registry({k: tuple(v) for k, v in keys.items()})

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
        return Registry({k: v for k, v in self.keys.items() if k not in gone})

    def sub_keys(self, key):
        """Names of the direct sub-keys of `key`."""
        prefix = key.lower() + "\\"
        return [k[len(prefix):] for k in self.keys
                if k.lower().startswith(prefix) and "\\" not in k[len(prefix):]]

    def class_managers(self, root=EXPORTED_CLSID_ROOT):
        """Names of the class keys below `root` whose default value names the
        class manager (in any letter case), in the export's order."""
        wanted = f'@="{CLASS_MANAGER_NAME}"'.lower()
        return [name for name in self.sub_keys(root)
                if wanted in (v.lower() for v in self.keys[f"{root}\\{name}"])]

    def differences(self, other, limit=12):
        """Lines that say how `other` differs from this registry; empty when
        they are the same."""
        lines = []
        for key in self.keys.keys() - other.keys.keys():
            lines.append(f"missing:    [{key}]")
        for key in other.keys.keys() - self.keys.keys():
            lines.append(f"unexpected: [{key}]")
        for key in self.keys.keys() & other.keys.keys():
            if self.keys[key] != other.keys[key]:
                lines.append(f"changed:    [{key}] {self.keys[key]} -> {other.keys[key]}")
        lines.sort()
        if len(lines) > limit:
            lines = lines[:limit] + [f"... and {len(lines) - limit} more"]
        return lines


def registry_file(keys, removed=()):
    """A REGEDIT4 file that creates `keys` ({path: {name: value}}, where the
    name "" is the default value, str is REG_SZ, int REG_DWORD and bytes
    REG_BINARY) and removes the keys in `removed`."""
    lines = ["REGEDIT4", ""]
    for path in removed:
        lines += [f"[-{path}]", ""]
    for path, values in keys.items():
        lines.append(f"[{path}]")
        for name, value in values.items():
            name = "@" if name == "" else '"' + name.replace("\\", "\\\\") + '"'
            if isinstance(value, str):
                data = '"' + value.replace("\\", "\\\\").replace('"', '\\"') + '"'
            elif isinstance(value, int):
                data = f"dword:{value:08x}"
            else:
                data = "hex:" + ",".join(f"{b:02x}" for b in value)
            lines.append(f"{name}={data}")
        lines.append("")
    return "\r\n".join(lines) + "\r\n"


class WinePrefix:
    """A prefix of `arch` (win32 or win64) made fresh by cmake/wine-prefix.sh,
    with one server that runs from start() to stop(), so that the registry
    writes with which Wine starts its services are over before the first
    snapshot and never come between two.

    In a 64-bit prefix the registry has two views and C:\\Windows\\System32
    two folders. Where a method takes `view`, 32 (the default) is what a
    32-bit process such as the program sees, 64 what a 64-bit one sees."""

    def __init__(self, path, prefix_script, arch="win32"):
        self.path = path
        self.prefix_script = prefix_script
        self.arch = arch
        self.env = dict(os.environ, WINEPREFIX=path, WINEARCH=arch, WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=")
        self.scratch = "C:\\rf-e2e-scratch"

    @property
    def is_64_bit(self):
        return self.arch == "win64"

    def create(self):
        subprocess.run([self.prefix_script, "create", self.path, self.arch], check=True,
                       env=self.env)

    def start(self):
        # The server and the services that the first process starts outlive
        # it: they get no handle on the caller's output. The server waits up
        # to five minutes for the next process, so it outlives every pause
        # between two steps but not a test run that died before stop().
        quiet = dict(env=self.env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                     stderr=subprocess.DEVNULL)
        # It fails when a server of the prefix already runs; that one serves.
        subprocess.run(["wineserver", "-p300"], **quiet)
        subprocess.run(["wine", "cmd", "/c", "exit"], check=True, timeout=120, **quiet)
        os.makedirs(self.host_path(self.scratch), exist_ok=True)

    def stop(self):
        quiet = dict(env=self.env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                     stderr=subprocess.DEVNULL)
        subprocess.run(["wineserver", "-k"], **quiet)
        subprocess.run(["wineserver", "-w"], **quiet)

    def remove(self):
        shutil.rmtree(self.path, ignore_errors=True)

    def run(self, program, *args, timeout=120, view=32):
        """Runs a program (a Windows command or a host path of a .exe) as its
        own process, a Windows command in its 64-bit build when `view` is 64;
        returns the CompletedProcess with stdout and stderr as bytes. The output goes through files, not pipes, so that nothing the
        process may leave running can hold up the wait for it."""
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            loader = WINE64 if view == 64 else "wine"
            result = subprocess.run([loader, program, *args], env=self.env, timeout=timeout,
                                    stdin=subprocess.DEVNULL, stdout=out, stderr=err)
            out.seek(0)
            err.seek(0)
            result.stdout, result.stderr = out.read(), err.read()
        return result

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
        """Imports a REGEDIT4 text into the registry `view`."""
        path = self.scratch + "\\import.reg"
        with open(self.host_path(path), "w", encoding="ascii", newline="") as f:
            f.write(text)
        result = self.run("regedit", "/s", path, view=view)
        if result.returncode != 0 or result.stderr:
            raise RuntimeError(f"regedit /s failed: {result.stderr!r}")

    def export_registry(self):
        """The whole registry (HKEY_LOCAL_MACHINE and HKEY_USERS) as the
        program sees it; in a 64-bit prefix also the whole software hive
        (HKEY_LOCAL_MACHINE\\Software) as 64-bit programs see it, with its
        keys' paths marked by VIEW64. The 64-bit view holds the 32-bit one's
        keys below WOW64_CLASSES and HKEY_LOCAL_MACHINE\\Software\\Wow6432Node."""
        if not self.is_64_bit:
            return self._export(32)
        # The two exports only read, so they run side by side.
        with ThreadPoolExecutor(2) as pool:
            view32 = pool.submit(self._export, 32)
            view64 = pool.submit(self._export, 64, "HKEY_LOCAL_MACHINE\\Software")
            keys = dict(view32.result().keys)
            keys.update((VIEW64 + key, values) for key, values in view64.result().keys.items())
        return Registry(keys)

    def _export(self, view, *key):
        path = f"{self.scratch}\\export{view}.reg"
        result = self.run("regedit", "/e", path, *key, view=view)
        if result.returncode != 0 or result.stderr:
            raise RuntimeError(f"regedit /e failed: {result.stderr!r}")
        with open(self.host_path(path), "rb") as f:
            return Registry.parse(f.read().decode("utf-16"))

    def names(self, path, view=32):
        """Every name under which export_registry() shows the key `path`
        below HKEY_CLASSES_ROOT of the registry `view`, the first of them the
        name that the program's own view gives it."""
        assert path.startswith("HKEY_CLASSES_ROOT\\"), path
        below = path[len("HKEY_CLASSES_ROOT"):]
        machine = "HKEY_LOCAL_MACHINE\\Software\\Classes" + below
        if not self.is_64_bit:
            return [machine]
        if view == 64:
            return [VIEW64 + machine]
        redirected = [root + below for root in WOW64_CLASSES]
        return [machine, redirected[0]] + [VIEW64 + name for name in redirected]
