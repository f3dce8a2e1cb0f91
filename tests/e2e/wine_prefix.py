"""A throwaway Wine prefix driven from the host: its processes, its files and
its whole registry as text. Shared by the end-to-end tests and the demo."""

import os
import shutil
import subprocess
import tempfile

CLSID_ROOT = "HKEY_CLASSES_ROOT\\CLSID"
# Where Wine keeps HKEY_CLASSES_ROOT, as a full export names it.
EXPORTED_CLSID_ROOT = "HKEY_LOCAL_MACHINE\\Software\\Classes\\CLSID"
CLASS_MANAGER_NAME = "ActiveMovie Filter Class Manager"


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

    def class_managers(self):
        """Names of the class keys whose default value names the class manager
        (in any letter case), in the export's order."""
        wanted = f'@="{CLASS_MANAGER_NAME}"'.lower()
        return [name for name in self.sub_keys(EXPORTED_CLSID_ROOT)
                if wanted in (v.lower() for v in self.keys[f"{EXPORTED_CLSID_ROOT}\\{name}"])]

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
    """A 32-bit prefix made fresh by cmake/wine-prefix.sh, with one server that
    runs from start() to stop(), so that the registry writes with which Wine
    starts its services are over before the first snapshot and never come
    between two."""

    def __init__(self, path, prefix_script):
        self.path = path
        self.prefix_script = prefix_script
        self.env = dict(os.environ, WINEPREFIX=path, WINEARCH="win32", WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=")
        self.scratch = "C:\\rf-e2e-scratch"

    def create(self):
        subprocess.run([self.prefix_script, "create", self.path], check=True, env=self.env)

    def start(self):
        # The server and the services that the first process starts outlive
        # it: they get no handle on the caller's output. The server waits up
        # to five minutes for the next process, so it outlives every pause
        # between two steps but not a test run that died before stop().
        quiet = dict(env=self.env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                     stderr=subprocess.DEVNULL)
        subprocess.run(["wineserver", "-p300"], check=True, **quiet)
        subprocess.run(["wine", "cmd", "/c", "exit"], check=True, timeout=120, **quiet)
        os.makedirs(self.host_path(self.scratch), exist_ok=True)

    def stop(self):
        quiet = dict(env=self.env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                     stderr=subprocess.DEVNULL)
        subprocess.run(["wineserver", "-k"], **quiet)
        subprocess.run(["wineserver", "-w"], **quiet)

    def remove(self):
        shutil.rmtree(self.path, ignore_errors=True)

    def run(self, program, *args, timeout=120):
        """Runs a program (a Windows command or a host path of a .exe) as its
        own process; returns the CompletedProcess with stdout and stderr as
        bytes. The output goes through files, not pipes, so that nothing the
        process may leave running can hold up the wait for it."""
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            result = subprocess.run(["wine", program, *args], env=self.env, timeout=timeout,
                                    stdin=subprocess.DEVNULL, stdout=out, stderr=err)
            out.seek(0)
            err.seek(0)
            result.stdout, result.stderr = out.read(), err.read()
        return result

    def host_path(self, windows_path):
        """The host path of a path on drive C: ("C:\\a\\b")."""
        assert windows_path[:3].upper() == "C:\\", windows_path
        parts = [p for p in windows_path[3:].split("\\") if p]
        return os.path.join(self.path, "drive_c", *parts)

    def create_file(self, windows_path, content=b"MZ"):
        host = self.host_path(windows_path)
        os.makedirs(os.path.dirname(host), exist_ok=True)
        with open(host, "wb") as f:
            f.write(content)

    def file_exists(self, windows_path):
        return os.path.exists(self.host_path(windows_path))

    def import_registry(self, text):
        path = self.scratch + "\\import.reg"
        with open(self.host_path(path), "w", encoding="ascii", newline="") as f:
            f.write(text)
        result = self.run("regedit", "/s", path)
        if result.returncode != 0 or result.stderr:
            raise RuntimeError(f"regedit /s failed: {result.stderr!r}")

    def export_registry(self):
        """The whole registry (HKEY_LOCAL_MACHINE and HKEY_USERS)."""
        path = self.scratch + "\\export.reg"
        result = self.run("regedit", "/e", path)
        if result.returncode != 0 or result.stderr:
            raise RuntimeError(f"regedit /e failed: {result.stderr!r}")
        with open(self.host_path(path), "rb") as f:
            return Registry.parse(f.read().decode("utf-16"))
