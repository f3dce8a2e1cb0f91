"""The program and its release package are reproducible: a second build of
the same sources, copied to another directory, configured and built there
later, in another time zone and with another umask, gives the same bytes of
remove_filter.exe, of the ZIP, of SHA256SUMS and of BUILDINFO as the build under
test.
Only the program and its package are built the second time.

    reproducible_test.py --source DIR --cmake CMAKE --cpack CPACK
                         --toolchain FILE --build-type TYPE
                         --exe remove_filter.exe --config CPackConfig.cmake
                         --version X.Y.Z --work DIR
"""

import argparse
import os
import shutil
import sys
import unittest
import zipfile

sys.dont_write_bytecode = True  # no cache files in the source tree
from commands import git, read, run  # noqa: E402
from pe_fields import describe, first_difference  # noqa: E402

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..",
                                "scripts"))
import work_tree  # noqa: E402

ARGS = None


def zip_entry_at(path, offset):
    """What of the ZIP at `path` holds `offset`: an entry or the directory."""
    with zipfile.ZipFile(path) as package:
        if offset >= package.start_dir:
            return "the central directory"
        starts = [i for i in package.infolist() if i.header_offset <= offset]
    return max(starts, key=lambda i: i.header_offset).filename if starts else "?"


class ReproducibleBuildTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        shutil.rmtree(ARGS.work, ignore_errors=True)
        # A deeper path than the first build's, so that a build path that
        # reaches the output changes its length too.
        source = os.path.join(ARGS.work, "second", "checkout of the sources")
        build = os.path.join(ARGS.work, "second", "build")
        work_tree.copy(ARGS.source, source)

        # The ZIP's entries are dated from the last commit; the copy is no
        # checkout, so it is given the same time the first build takes.
        env = dict(os.environ, TZ="Pacific/Kiritimati")  # UTC+14
        commit_time = git(ARGS.source, "log", "-1", "--format=%ct")
        if commit_time and "SOURCE_DATE_EPOCH" not in env:
            env["SOURCE_DATE_EPOCH"] = commit_time.strip()
        toolchain = os.path.join(source, os.path.relpath(ARGS.toolchain, ARGS.source))
        umask = os.umask(0o027)
        try:
            run(ARGS.cmake, "-S", source, "-B", build, "-G", "Unix Makefiles",
                f"-DCMAKE_TOOLCHAIN_FILE={toolchain}", f"-DCMAKE_BUILD_TYPE={ARGS.build_type}",
                "-DRF_BUILD_TESTS=OFF", "-DRF_BUILD_BENCH=OFF", env=env)
            run(ARGS.cmake, "--build", build, "--target", "remove_filter", "-j2", env=env)
            run(ARGS.cpack, "--config", os.path.join(build, "CPackConfig.cmake"), env=env)
        finally:
            os.umask(umask)
        cls.second = os.path.join(build, "package")
        cls.second_exe = os.path.join(build, "remove_filter.exe")

        # The first build packed as the release command packs it.
        cls.first = os.path.join(ARGS.work, "first-package")
        run(ARGS.cpack, "--config", ARGS.config, "-B", cls.first)
        cls.zip_name = f"remove_filter-{ARGS.version}-win32.zip"

    def assertSameBytes(self, first, second, where):
        a, b = read(first), read(second)
        offset = first_difference(a, b)
        if offset is not None:
            self.fail(f"{second} ({len(b)} bytes) differs from {first} ({len(a)} bytes) "
                      f"first at offset {offset:#x}: {where(a, offset)}")

    def test_program_is_byte_identical(self):
        self.assertSameBytes(ARGS.exe, self.second_exe, describe)

    def test_package_is_byte_identical(self):
        first = os.path.join(self.first, self.zip_name)
        self.assertSameBytes(first, os.path.join(self.second, self.zip_name),
                             lambda _, offset: "in " + zip_entry_at(first, offset))

    def test_checksums_and_buildinfo_are_identical(self):
        for name in ("SHA256SUMS", "BUILDINFO"):
            self.assertEqual(read(os.path.join(self.first, name)),
                             read(os.path.join(self.second, name)), name)

    def test_names_the_field_where_two_images_differ(self):
        data = read(ARGS.exe)
        pe = int.from_bytes(data[0x3C:0x40], "little")
        # The fields that change with every build when the link is not
        # reproducible, and two places the report must tell apart.
        for offset, expected in [(pe + 8, "COFF header: TimeDateStamp"),
                                 (pe + 24 + 64, "optional header: CheckSum"),
                                 (pe + 24 + 96 + 32, "data directory: certificate table"),
                                 (0x10, "DOS header")]:
            self.assertTrue(describe(data, offset).startswith(expected), describe(data, offset))
        changed = bytearray(data)
        changed[pe + 9] ^= 1
        self.assertEqual(pe + 9, first_difference(data, bytes(changed)))
        self.assertEqual(len(data), first_difference(data, data + b"\0"))
        self.assertIsNone(first_difference(data, bytes(data)))


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    for option in ("--source", "--cmake", "--cpack", "--toolchain", "--build-type", "--exe",
                   "--config", "--version", "--work"):
        parser.add_argument(option, required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)
