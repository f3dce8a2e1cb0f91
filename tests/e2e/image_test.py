"""Checks of the built Windows program as a file: what it is, how big, what
it imports and which resources it carries.

    image_test.py --exe remove_filter.exe --objdump OBJDUMP --version X.Y.Z
                  --objects OBJECT_OR_ARCHIVE[;...]... [--signed]

--signed checks a signed copy: it must carry a signature, and the size
limit, which applies to the program as built, is not checked.
"""

import argparse
import re
import struct
import subprocess
import sys
import unittest
import xml.etree.ElementTree as ElementTree

sys.dont_write_bytecode = True  # no cache files in the source tree
import pe_fields  # noqa: E402
from sample_filter import TARGET  # noqa: E402

ARGS = None

MAX_SIZE = 16 * 1024

# Every function that the program may import, by DLL. Each exists on
# Windows XP (most on Windows 95/NT 4 already). A new import fails the
# check until its minimum Windows version has been looked up and it has
# been added here. GetLongPathNameA is absent on purpose: it is looked up
# at run time, since Windows 95 and NT 4 lack it. So are RegDeleteTreeA and
# RegDeleteKeyExA, which Windows XP lacks, and RUN_TIME_ONLY.
ALLOWED_IMPORTS = {
    "kernel32.dll": {"CloseHandle", "CreateFileA", "ExitProcess", "GetFullPathNameA",
                     "GetModuleHandleA", "GetProcAddress", "GetSystemDirectoryA",
                     "QueryDosDeviceA", "WideCharToMultiByte", "lstrcpyA"},
    "advapi32.dll": {"RegCloseKey", "RegDeleteKeyA", "RegDeleteValueA", "RegEnumKeyExA",
                     "RegEnumValueA", "RegOpenKeyExA", "RegQueryInfoKeyA", "RegQueryValueExA"},
    "msvcrt.dll": {"memcmp", "memcpy", "memmove", "memset", "strcmp", "strlen"},
}

# Looked up at run time: Windows 95 and NT 4 lack the first, Windows XP the
# file and process calls after it (GetSystemWow64DirectoryA is needed only
# together with them).
RUN_TIME_ONLY = ["GetLongPathNameA", "GetFinalPathNameByHandleA", "SetFileInformationByHandle",
                 "GetSystemWow64DirectoryA", "SetProcessMitigationPolicy"]

# Windows' identifiers of the versions the manifest declares support for.
SUPPORTED_OS = {
    "{e2011457-1546-43c5-a5fe-008deee3d3f0}",  # Vista
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  # 7
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",  # 8
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  # 8.1
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",  # 10 and 11
}

RT_VERSION = 16
RT_MANIFEST = 24
IMAGE_DIRECTORY_ENTRY_RESOURCE = 2
IMAGE_DIRECTORY_ENTRY_SECURITY = 4


def objdump(*args):
    return subprocess.run([ARGS.objdump, *args], check=True, capture_output=True,
                          text=True).stdout


class PeFile:
    """The parts of a PE image that the checks read directly."""

    def __init__(self, data):
        self.data = data
        h = pe_fields.headers(data)
        self.symbol_table, self.symbols = h.symbol_table, h.symbols
        self.magic = struct.unpack_from("<H", data, h.optional)[0]
        self.directories = pe_fields.directories(data, h)
        self.sections = [(s.name, s.address, max(s.virtual_size, s.raw_size), s.raw)
                         for s in pe_fields.sections(data, h)]

    def offset(self, rva):
        for _, start, size, raw in self.sections:
            if start <= rva < start + size:
                return raw + rva - start
        raise ValueError(f"RVA {rva:#x} lies in no section")

    def resources(self):
        """{(type, id, language): bytes} for resources with numeric ids."""
        rva, _ = self.directories[IMAGE_DIRECTORY_ENTRY_RESOURCE]
        if rva == 0:
            return {}
        base = self.offset(rva)
        found = {}

        def walk(offset, path):
            named, numbered = struct.unpack_from("<12xHH", self.data, offset)
            for i in range(named + numbered):
                name, target = struct.unpack_from("<II", self.data, offset + 16 + 8 * i)
                key = path + (name if not name & 0x80000000 else f"name@{name:#x}",)
                if target & 0x80000000:
                    walk(base + (target & 0x7FFFFFFF), key)
                else:
                    data_rva, size = struct.unpack_from("<II", self.data, base + target)
                    start = self.offset(data_rva)
                    found[key] = self.data[start:start + size]

        walk(base, ())
        return found


class ProgramImageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        with open(ARGS.exe, "rb") as f:
            cls.data = f.read()
        cls.pe = PeFile(cls.data)
        cls.headers = objdump("-p", ARGS.exe)

    def header(self, name):
        match = re.search(rf"^{name}\s+(\S+)", self.headers, re.MULTILINE)
        self.assertIsNotNone(match, f"objdump -p shows no {name}")
        return match.group(1)

    def imports(self):
        """{dll (lower case): [function, ...]} from objdump's import table."""
        table = {}
        dll = None
        for line in self.headers.splitlines():
            m = re.match(r"\s*DLL Name: (\S+)", line)
            if m:
                dll = m.group(1).lower()
                table[dll] = []
                continue
            m = re.match(r"\s+[0-9a-f]+\s+\d+\s+(\S+)$", line)
            if m and dll:
                table[dll].append(m.group(1))
            elif not line.strip():
                dll = None
        return table

    def test_is_a_small_32_bit_console_program(self):
        if not ARGS.signed:
            self.assertLessEqual(len(self.data), MAX_SIZE, "the program has grown past 16 KiB")
        self.assertIn("file format pei-i386", self.headers)
        self.assertEqual(0x10B, self.pe.magic, "not PE32")
        self.assertEqual("00000003", self.header("Subsystem"), "not a console program")

    def test_carries_a_signature_only_when_signed(self):
        start, size = self.pe.directories[IMAGE_DIRECTORY_ENTRY_SECURITY]
        if ARGS.signed:
            self.assertGreater(size, 0, "no certificate table")
            self.assertEqual(len(self.data), start + size, "data after the signature")
        else:
            self.assertEqual((0, 0), (start, size), "the program as built carries a signature")

    def test_is_stripped(self):
        self.assertEqual((0, 0), (self.pe.symbol_table, self.pe.symbols), "has a symbol table")

    def test_loads_on_windows_xp(self):
        # Windows XP is version 5.1; it refuses images that ask for more.
        for field in ("OSystemVersion", "SubsystemVersion"):
            version = (int(self.header("Major" + field)), int(self.header("Minor" + field)))
            self.assertLessEqual(version, (5, 1), field)

    def test_has_address_randomization_and_no_execute_data(self):
        characteristics = int(self.header("DllCharacteristics"), 16)
        self.assertEqual(0x40, characteristics & 0x40, "no dynamic base")
        self.assertEqual(0x100, characteristics & 0x100, "not NX compatible")

    def test_imports_only_what_windows_xp_has(self):
        imports = self.imports()
        self.assertTrue(imports, "objdump -p shows no imports")
        self.assertLessEqual(set(imports), set(ALLOWED_IMPORTS), "imports from other DLLs")
        for dll, functions in imports.items():
            unknown = set(functions) - ALLOWED_IMPORTS.get(dll, set())
            self.assertFalse(unknown, f"imports from {dll} not known to exist on Windows XP")
        for function in RUN_TIME_ONLY:
            self.assertNotIn(function, imports.get("kernel32.dll", []),
                             f"{function} must stay a run-time lookup")

    def test_has_no_thread_local_storage(self):
        # There is no C runtime start-up code to set it up.
        tls = re.search(r"^Entry 9 [0-9a-f]+ ([0-9a-f]+) Thread Storage Directory", self.headers,
                        re.MULTILINE)
        self.assertIsNotNone(tls, "objdump -p shows no data directory 9")
        self.assertEqual("00000000", tls.group(1), "the program has thread-local storage")

    def test_objects_need_no_static_initialization(self):
        # There is no C runtime start-up code to run constructors of static
        # objects either: every object of the program must be constant.
        self.assertTrue(ARGS.objects, "no object files given")
        for path in ARGS.objects:
            sections = re.findall(r"^\s*\d+\s+(\S+)", objdump("-h", path), re.MULTILINE)
            for section in sections:
                self.assertNotRegex(section, r"^\.(ctors|dtors|init_array|fini_array|tls)",
                                    f"{path}: static initialization or thread-local data")

    def test_manifest_runs_as_invoker_on_the_supported_versions(self):
        manifests = [v for k, v in self.pe.resources().items() if k[:2] == (RT_MANIFEST, 1)]
        self.assertEqual(1, len(manifests), "no manifest with the process manifest's id")
        text = manifests[0].decode("utf-8")
        root = ElementTree.fromstring(text)
        levels = [e.attrib for e in root.iter() if e.tag.endswith("}requestedExecutionLevel")]
        self.assertEqual([{"level": "asInvoker", "uiAccess": "false"}], levels)
        supported = {e.attrib["Id"] for e in root.iter() if e.tag.endswith("}supportedOS")}
        self.assertEqual(SUPPORTED_OS, supported)
        identity = [e.attrib for e in root.iter() if e.tag.endswith("}assemblyIdentity")]
        self.assertEqual(ARGS.version + ".0", identity[0]["version"])
        # Windows XP SP2's parser fails on an element with two namespace declarations.
        for tag in re.findall(r"<[^!?][^>]*>", text):
            self.assertLessEqual(len(re.findall(r"\bxmlns(:\w+)?=", tag)), 1, tag)

    def test_version_information(self):
        blocks = [v for k, v in self.pe.resources().items() if k[:2] == (RT_VERSION, 1)]
        self.assertEqual(1, len(blocks), "no version information")
        block = blocks[0]
        fixed = block.find(struct.pack("<I", 0xFEEF04BD))
        self.assertGreater(fixed, 0, "no fixed file information")
        ms, ls = struct.unpack_from("<II", block, fixed + 8)
        major, minor, patch = (int(x) for x in ARGS.version.split("."))
        self.assertEqual((major, minor, patch, 0), (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF))
        strings = {}
        for key in ("ProductName", "FileDescription", "ProductVersion", "FileVersion",
                    "OriginalFilename"):
            m = re.search(re.escape(key.encode("utf-16-le")) + rb"(?:\0\0)+((?:[^\0].|\0[^\0])*)",
                          block, re.DOTALL)
            self.assertIsNotNone(m, f"no {key}")
            strings[key] = m.group(1).decode("utf-16-le")
        self.assertEqual("remove_filter", strings["ProductName"])
        self.assertIn(TARGET, strings["FileDescription"])
        self.assertEqual(ARGS.version, strings["ProductVersion"])
        self.assertEqual(ARGS.version, strings["FileVersion"])
        self.assertEqual("remove_filter.exe", strings["OriginalFilename"])


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--objdump", required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--objects", nargs="*", default=[])
    parser.add_argument("--signed", action="store_true")
    ARGS, rest = parser.parse_known_args()
    # CMake hands over a list of objects as one argument, separated by ';'.
    ARGS.objects = [path for arg in ARGS.objects for path in arg.split(";") if path]
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)
