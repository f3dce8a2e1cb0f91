"""The release package as CPack makes it: a ZIP with the program and a short
text about it, and nothing else, in a form that depends on nothing but
those files and the commit, and SHA256SUMS beside it.

    package_test.py --cpack CPACK --config CPackConfig.cmake --exe remove_filter.exe
                    --version X.Y.Z --source DIR --work DIR
"""

import argparse
import calendar
import hashlib
import os
import shutil
import subprocess
import sys
import unittest
import zipfile

sys.dont_write_bytecode = True  # no cache files in the source tree
from commands import git  # noqa: E402
from sample_filter import TARGET  # noqa: E402

ARGS = None


def commit_time():
    """The time of the last commit when the sources are a git checkout of
    their own, else None."""
    return (git(ARGS.source, "log", "-1", "--format=%ct") or "").strip() or None


class ReleasePackageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        shutil.rmtree(ARGS.work, ignore_errors=True)
        subprocess.run([ARGS.cpack, "--config", ARGS.config, "-B", ARGS.work], check=True,
                       capture_output=True)
        cls.path = os.path.join(ARGS.work, f"remove_filter-{ARGS.version}-win32.zip")
        with zipfile.ZipFile(cls.path) as package:
            cls.entries = package.infolist()
            cls.files = {i.filename: package.read(i) for i in cls.entries if not i.is_dir()}

    def test_holds_the_program_and_its_text(self):
        top = f"remove_filter-{ARGS.version}-win32/"
        self.assertEqual({top + "remove_filter.exe", top + "README.txt"}, set(self.files))
        with open(ARGS.exe, "rb") as f:
            self.assertEqual(f.read(), self.files[top + "remove_filter.exe"])

    def test_entries_depend_only_on_the_files_and_the_commit(self):
        names = [i.filename for i in self.entries]
        self.assertEqual(sorted(names), names, "entries not in name order")
        # Dated SOURCE_DATE_EPOCH, else from the last commit when the sources
        # are a checkout of their own, else 2024-01-01, in UTC.
        epoch = os.environ.get("SOURCE_DATE_EPOCH") or commit_time() or "1704067200"
        for info in self.entries:
            # ZIP times have a resolution of two seconds.
            self.assertEqual(int(epoch) // 2 * 2, calendar.timegm(info.date_time + (0, 0, 0)),
                             info.filename)
            mode = 0o100755 if info.filename.endswith(".exe") else 0o100644
            self.assertEqual((3, mode), (info.create_system, info.external_attr >> 16),
                             info.filename)
            self.assertEqual(b"", info.extra, f"{info.filename}: extra fields (owner, times)")

    def test_checksums_beside_it_check_with_sha256sum(self):
        with open(os.path.join(ARGS.work, "SHA256SUMS"), "rb") as f:
            sums = f.read().decode("ascii")
        with open(ARGS.exe, "rb") as f:
            program = hashlib.sha256(f.read()).hexdigest()
        with open(self.path, "rb") as f:
            package = hashlib.sha256(f.read()).hexdigest()
        top = f"remove_filter-{ARGS.version}-win32"
        self.assertEqual(f"{package}  {top}.zip\n{program}  {top}/remove_filter.exe\n", sums)
        # What an administrator runs: check the download, unpack, check the program.
        check = ["sha256sum", "--check", "--strict", "SHA256SUMS"]
        result = subprocess.run(check + ["--ignore-missing"], cwd=ARGS.work, capture_output=True)
        self.assertEqual(0, result.returncode, result.stdout + result.stderr)
        with zipfile.ZipFile(self.path) as zip_file:
            zip_file.extractall(ARGS.work)
        result = subprocess.run(check, cwd=ARGS.work, capture_output=True)
        self.assertEqual(0, result.returncode, result.stdout + result.stderr)
        with open(os.path.join(ARGS.work, top, "remove_filter.exe"), "ab") as f:
            f.write(b"\0")
        self.assertNotEqual(0, subprocess.run(check, cwd=ARGS.work, capture_output=True).returncode)

    def test_buildinfo_names_the_toolchain_and_the_epoch(self):
        with open(os.path.join(ARGS.work, "BUILDINFO"), encoding="ascii") as f:
            fields = dict(line.split(": ", 1) for line in f.read().splitlines()
                          if ": " in line and not line.startswith(" "))
        epoch = os.environ.get("SOURCE_DATE_EPOCH") or commit_time() or "1704067200"
        self.assertEqual(f"remove_filter {ARGS.version}", fields["Source"])
        self.assertEqual(epoch, fields["SOURCE_DATE_EPOCH"])
        self.assertIn("mingw32", fields["Compiler"])
        self.assertIn("GNU ld", fields["Linker"])
        self.assertRegex(fields["Build-System"], r"^Debian GNU/Linux 1[23] ")

    def test_text_says_what_it_does_and_which_right_it_needs(self):
        text = self.files[f"remove_filter-{ARGS.version}-win32/README.txt"]
        # Windows' own editors of older versions show only CRLF line ends.
        self.assertNotIn(b"\n", text.replace(b"\r\n", b""))
        text = text.decode("ascii")
        for phrase in (TARGET, "InprocServer32", "Instance",
                       "HKEY_CLASSES_ROOT", "administrator", ARGS.version,
                       # The two class trees that a run works on.
                       "HKEY_LOCAL_MACHINE\\Software\\Classes",
                       "HKEY_CURRENT_USER\\Software\\Classes", "in one run", "SHA256SUMS"):
            self.assertIn(phrase, text)
        self.assertNotIn("@", text, "a placeholder was left unfilled")


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    for option in ("--cpack", "--config", "--exe", "--version", "--source", "--work"):
        parser.add_argument(option, required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)
