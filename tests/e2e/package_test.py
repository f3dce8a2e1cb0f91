"""The release package as CPack makes it: a ZIP with the program and a short
text about it, and nothing else.

    package_test.py --cpack CPACK --config CPackConfig.cmake --exe remove_filter.exe
                    --version X.Y.Z --work DIR
"""

import argparse
import os
import shutil
import subprocess
import sys
import unittest
import zipfile

ARGS = None


class ReleasePackageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        shutil.rmtree(ARGS.work, ignore_errors=True)
        subprocess.run([ARGS.cpack, "--config", ARGS.config, "-B", ARGS.work], check=True,
                       capture_output=True)
        cls.path = os.path.join(ARGS.work, f"remove_filter-{ARGS.version}-win32.zip")
        with zipfile.ZipFile(cls.path) as package:
            cls.files = {i.filename: package.read(i) for i in package.infolist()
                         if not i.is_dir()}

    def test_holds_the_program_and_its_text(self):
        top = f"remove_filter-{ARGS.version}-win32/"
        self.assertEqual({top + "remove_filter.exe", top + "README.txt"}, set(self.files))
        with open(ARGS.exe, "rb") as f:
            self.assertEqual(f.read(), self.files[top + "remove_filter.exe"])

    def test_text_says_what_it_does_and_which_right_it_needs(self):
        text = self.files[f"remove_filter-{ARGS.version}-win32/README.txt"]
        # Windows' own editors of older versions show only CRLF line ends.
        self.assertNotIn(b"\n", text.replace(b"\r\n", b""))
        text = text.decode("ascii")
        for phrase in ("{3A7D52C8-6E19-4B2F-9C04-71E5D8A0B6F3}", "InprocServer32", "Instance",
                       "HKEY_CLASSES_ROOT", "administrator", ARGS.version):
            self.assertIn(phrase, text)
        self.assertNotIn("@", text, "a placeholder was left unfilled")


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    for option in ("--cpack", "--config", "--exe", "--version", "--work"):
        parser.add_argument(option, required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)
