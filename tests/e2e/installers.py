"""The sample filter's two installers, built from their sources beside this
file, and their silent install and uninstall in a Wine prefix. Each installs
the filter's module (tests/e2e/sample_module.cpp) and remove_filter.exe below
Program Files, registers the module with regsvr32 and runs the program from
its uninstaller: the NSIS one (sample_filter.nsi, with makensis) and the
Windows Installer package (sample_filter.wxs, with wixl). Both are 32-bit, as
the program is: in a 64-bit prefix they install below Program Files (x86)
and register the module in the 32-bit view.

    installers.py --makensis makensis --wixl wixl --module libsample_module.dll
                  --program remove_filter.exe --out DIR

builds both into DIR (the build does), beside copies of the two files under
the names that the sources give them.
"""

import argparse
import os
import shutil
import subprocess
import sys

sys.dont_write_bytecode = True  # no cache files in the source tree
from wine_prefix import VIEW64, windows_path  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
MODULE = "sample_filter.ax"
PROGRAM = "remove_filter.exe"
NAME = "Sample Filter"  # the folder below Program Files


class Kind:
    """How one installer tool builds its installer and how the installer
    installs and uninstalls silently."""

    def __init__(self, name, source, output, own_files, bookkeeping=()):
        self.name = name
        self.source = os.path.join(HERE, source)
        self.output = output
        # What the installer puts in its folder besides the module.
        self.own_files = own_files
        # Keys below HKEY_LOCAL_MACHINE\Software (in a 64-bit prefix, of the
        # 64-bit view) that the installer's own bookkeeping keeps, empty,
        # after the last uninstall.
        self.bookkeeping = bookkeeping

    def source_lines(self):
        with open(self.source, encoding="utf-8") as f:
            return f.read().splitlines()


NSIS = Kind("NSIS", "sample_filter.nsi", "sample_filter_installer.exe",
            [PROGRAM, "uninstall.exe"])
# Windows Installer records the products it installs below these keys: it
# makes them with its first install and keeps them, empty, after the last
# uninstall. Its cache of installed packages (C:\Windows\Installer) stays too,
# empty.
MSI = Kind("Windows Installer", "sample_filter.wxs", "sample_filter.msi", [PROGRAM], (
    "Classes\\Installer",
    "Classes\\Installer\\Features",
    "Classes\\Installer\\Products",
    "Classes\\Installer\\UpgradeCodes",
    "Microsoft\\Windows\\CurrentVersion\\Installer\\UpgradeCodes",
    "Microsoft\\Windows\\CurrentVersion\\Installer\\UserData",
    "Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18",
    "Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Components",
    "Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Products",
))
PACKAGE_CACHE = "C:\\Windows\\Installer"


def build(kind, tool, folder, leave_out=()):
    """Builds `kind`'s installer in `folder`, which holds the module and the
    program under their names, from its source less the lines `leave_out`
    (each a whole line, leading blanks aside); returns its path."""
    kept = [line for line in kind.source_lines() if line.strip() not in leave_out]
    source = os.path.join(folder, os.path.basename(kind.source))
    with open(source, "w", encoding="utf-8") as f:
        f.write("\n".join(kept) + "\n")
    output = os.path.join(folder, kind.output)
    if kind is NSIS:
        command = [tool, "-V2", "-WX", f"-DOUTFILE={output}", source]
    else:
        command = [tool, "-o", output, source]
    subprocess.run(command, cwd=folder, check=True, stdout=subprocess.DEVNULL)
    return output


def stage(module, program, folder):
    """Copies the module and the program into `folder` under their names."""
    os.makedirs(folder, exist_ok=True)
    shutil.copyfile(module, os.path.join(folder, MODULE))
    shutil.copyfile(program, os.path.join(folder, PROGRAM))


class Installed:
    """One of the installers (its host path `path`) in the prefix `wine`."""

    def __init__(self, wine, kind, path):
        self.wine = wine
        self.kind = kind
        self.path = path
        files = "C:\\Program Files (x86)" if wine.is_64_bit else "C:\\Program Files"
        self.folder = f"{files}\\{NAME}"
        self.module = f"{self.folder}\\{MODULE}"

    def install(self):
        if self.kind is NSIS:
            return self.wine.run(windows_path(self.path), "/S")
        return self.wine.run("msiexec", "/i", windows_path(self.path), "/qn")

    def uninstall(self):
        """Its uninstaller, silently, waiting for its end. The NSIS one runs in
        place (_?= and the folder, which it takes as the rest of its command
        line as written: each word an argument, so that none is quoted), the
        documented way to wait for it; so run, its own file is in use and its
        deletion of it and of the folder fails, and the caller deletes both
        after it."""
        if self.kind is MSI:
            return self.wine.run("msiexec", "/x", windows_path(self.path), "/qn")
        uninstaller = f"{self.folder}\\uninstall.exe"
        result = self.wine.run(uninstaller, "/S", *f"_?={self.folder}".split(" "))
        self.wine.remove_file(uninstaller)
        try:
            os.rmdir(self.wine.host_path(self.folder))
        except OSError:
            pass  # not empty: the files it left are the caller's to check
        return result

    def own_files(self):
        """The installer's files in the prefix: in its folder and, of the
        Windows Installer package, the cached copy."""
        paths = [f"{self.folder}\\{name}" for name in self.kind.own_files]
        cache = self.wine.host_path(PACKAGE_CACHE)
        if self.kind is MSI and os.path.isdir(cache):
            paths += [f"{PACKAGE_CACHE}\\{name}" for name in os.listdir(cache)]
        return [path for path in paths if self.wine.file_exists(path)]

    def bookkeeping_keys(self):
        """The snapshot's names of the keys its bookkeeping keeps."""
        root = (VIEW64 if self.wine.is_64_bit else "") + "HKEY_LOCAL_MACHINE\\Software\\"
        return [root + key for key in self.kind.bookkeeping]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--makensis", required=True)
    parser.add_argument("--wixl", required=True)
    parser.add_argument("--module", required=True)
    parser.add_argument("--program", required=True)
    parser.add_argument("--out", required=True)
    args = parser.parse_args()
    stage(args.module, args.program, args.out)
    build(NSIS, args.makensis, args.out)
    build(MSI, args.wixl, args.out)


if __name__ == "__main__":
    main()
