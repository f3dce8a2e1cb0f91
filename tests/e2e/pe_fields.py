"""The headers of a PE32 image: where they lie (the one reading of them
for the tests), and what a byte of the image belongs to (a header field, a
data directory, a section), for reports of where two builds of the program
differ."""

import struct
from collections import namedtuple

COFF_HEADER = [("Machine", 2), ("NumberOfSections", 2), ("TimeDateStamp", 4),
               ("PointerToSymbolTable", 4), ("NumberOfSymbols", 4),
               ("SizeOfOptionalHeader", 2), ("Characteristics", 2)]
PE32_OPTIONAL_HEADER = [
    ("Magic", 2), ("MajorLinkerVersion", 1), ("MinorLinkerVersion", 1), ("SizeOfCode", 4),
    ("SizeOfInitializedData", 4), ("SizeOfUninitializedData", 4), ("AddressOfEntryPoint", 4),
    ("BaseOfCode", 4), ("BaseOfData", 4), ("ImageBase", 4), ("SectionAlignment", 4),
    ("FileAlignment", 4), ("MajorOperatingSystemVersion", 2),
    ("MinorOperatingSystemVersion", 2), ("MajorImageVersion", 2), ("MinorImageVersion", 2),
    ("MajorSubsystemVersion", 2), ("MinorSubsystemVersion", 2), ("Win32VersionValue", 4),
    ("SizeOfImage", 4), ("SizeOfHeaders", 4), ("CheckSum", 4), ("Subsystem", 2),
    ("DllCharacteristics", 2), ("SizeOfStackReserve", 4), ("SizeOfStackCommit", 4),
    ("SizeOfHeapReserve", 4), ("SizeOfHeapCommit", 4), ("LoaderFlags", 4),
    ("NumberOfRvaAndSizes", 4)]
SECTION_HEADER = [("Name", 8), ("VirtualSize", 4), ("VirtualAddress", 4), ("SizeOfRawData", 4),
                  ("PointerToRawData", 4), ("PointerToRelocations", 4),
                  ("PointerToLinenumbers", 4), ("NumberOfRelocations", 2),
                  ("NumberOfLinenumbers", 2), ("Characteristics", 4)]
DIRECTORIES = ["export table", "import table", "resource table", "exception table",
               "certificate table", "base relocation table", "debug data", "architecture",
               "global pointer", "thread-local storage table", "load configuration table",
               "bound import table", "import address table", "delay import descriptor",
               "CLR runtime header", "reserved"]
CERTIFICATE_DIRECTORY = 4


def _field(fields, start, offset):
    """The name of the field of a header at `start` that holds `offset`."""
    for name, size in fields:
        if start <= offset < start + size:
            return name
        start += size
    return None


Headers = namedtuple("Headers", "pe optional optional_size sections symbol_table symbols")
Section = namedtuple("Section", "name virtual_size address raw_size raw")


def headers(data):
    """Where the headers of the image `data` lie: the offsets of the PE
    signature and of the optional header, the optional header's size, the
    number of sections, and the COFF symbol table's offset and count.
    ValueError when `data` is no PE image."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise ValueError("not a PE image")
    sections, symbol_table, symbols, optional_size = struct.unpack_from(
        "<2xH4xIIH", data, pe + 4)
    return Headers(pe, pe + 24, optional_size, sections, symbol_table, symbols)


def directories(data, h):
    """The data directories (address, size) of a PE32 image, which start 96
    bytes into its optional header."""
    return [struct.unpack_from("<II", data, h.optional + 96 + 8 * i) for i in range(16)]


def sections(data, h):
    """The section table."""
    table = h.optional + h.optional_size
    found = []
    for i in range(h.sections):
        name, *numbers = struct.unpack_from("<8sIIII", data, table + 40 * i)
        found.append(Section(name.rstrip(b"\0").decode("latin-1"), *numbers))
    return found


def describe(data, offset):
    """What the byte at `offset` of the image `data` belongs to."""
    try:
        h = headers(data)
    except (struct.error, ValueError):
        return "not a PE image"
    pe, optional, optional_size = h.pe, h.optional, h.optional_size
    if offset < 0x40:
        return "DOS header"
    if offset < pe:
        return "DOS stub"
    if offset < pe + 4:
        return "PE signature"
    if offset < optional:
        return "COFF header: " + _field(COFF_HEADER, pe + 4, offset)
    directories = optional + 96
    table = optional + optional_size
    if offset < directories:
        return "optional header: " + (_field(PE32_OPTIONAL_HEADER, optional, offset) or "?")
    if offset < table:
        index, part = divmod(offset - directories, 8)
        name = DIRECTORIES[index] if index < len(DIRECTORIES) else f"entry {index}"
        return f"data directory: {name} ({'address' if part < 4 else 'size'})"
    if offset < table + 40 * h.sections:
        index = (offset - table) // 40
        name = data[table + 40 * index:table + 40 * index + 8].rstrip(b"\0").decode("latin-1")
        return f"section header {name}: " + _field(SECTION_HEADER, table + 40 * index, offset)
    # The certificate table's address is a file offset, not an address in memory.
    start, size = struct.unpack_from("<II", data, directories + 8 * CERTIFICATE_DIRECTORY)
    if start and start <= offset < start + size:
        return "certificate table (the signature)"
    for s in sections(data, h):
        if s.raw <= offset < s.raw + s.raw_size:
            at = offset - s.raw
            return f"section {s.name} at {at:#x} (address {s.address + at:#x})"
    return "outside every section"


def first_difference(a, b):
    """The first offset at which `a` and `b` differ, or None when equal."""
    for offset, (x, y) in enumerate(zip(a, b)):
        if x != y:
            return offset
    return None if len(a) == len(b) else min(len(a), len(b))
