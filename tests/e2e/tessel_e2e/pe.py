"""Reads a Windows executable (PE32 or PE32+): a resource, to compare what the
tool writes with what it carries, the DLLs it imports and the processor it
is built for."""

from __future__ import annotations

import re
import struct


def _rva_to_offset(sections: list[tuple[int, int, int, int]], rva: int) -> int:
    for virtual_address, virtual_size, raw_size, raw_pointer in sections:
        if virtual_address <= rva < virtual_address + max(virtual_size, raw_size):
            return raw_pointer + rva - virtual_address
    raise ValueError("RVA 0x%x is in no section" % rva)


def _pe_header(image: bytes) -> int:
    """The offset of the "PE" signature."""
    if image[:2] != b"MZ":
        raise ValueError("not an executable")
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    if image[pe : pe + 4] != b"PE\0\0":
        raise ValueError("no PE header")
    return pe


def _layout(image: bytes) -> tuple[int, list[tuple[int, int, int, int]]]:
    """The offset of the data directories, and the sections."""
    pe = _pe_header(image)
    section_count = struct.unpack_from("<H", image, pe + 6)[0]
    optional_size = struct.unpack_from("<H", image, pe + 20)[0]
    optional = pe + 24
    magic = struct.unpack_from("<H", image, optional)[0]
    directories = optional + (96 if magic == 0x10B else 112)
    sections = []
    for i in range(section_count):
        header = optional + optional_size + 40 * i
        virtual_size, virtual_address, raw_size, raw_pointer = struct.unpack_from(
            "<IIII", image, header + 8
        )
        sections.append((virtual_address, virtual_size, raw_size, raw_pointer))
    return directories, sections


def imported_dlls(image: bytes) -> list[str]:
    """The DLLs named in the import table, in order."""
    directories, sections = _layout(image)
    offset = _rva_to_offset(sections, struct.unpack_from("<I", image, directories + 8)[0])
    names = []
    # One 20-byte descriptor per DLL, its name's RVA at 12; a zero one ends them.
    while name_rva := struct.unpack_from("<I", image, offset + 12)[0]:
        start = _rva_to_offset(sections, name_rva)
        names.append(image[start : image.index(b"\0", start)].decode("ascii"))
        offset += 20
    return names


def read_resource(image: bytes, type_id: int, name_id: int) -> dict[int, bytes]:
    """The bytes of the resource with integer type and id, by language id."""
    directories, sections = _layout(image)
    resource_rva = struct.unpack_from("<I", image, directories + 2 * 8)[0]
    base = _rva_to_offset(sections, resource_rva)

    def entries(directory_offset: int) -> list[tuple[int | None, int]]:
        named, numbered = struct.unpack_from("<HH", image, base + directory_offset + 12)
        out = []
        for i in range(named + numbered):
            name, target = struct.unpack_from("<II", image, base + directory_offset + 16 + 8 * i)
            out.append((None if name & 0x80000000 else name, target))
        return out

    def subdirectory(directory_offset: int, wanted: int) -> int:
        for name, target in entries(directory_offset):
            if name == wanted and target & 0x80000000:
                return target & 0x7FFFFFFF
        raise KeyError(wanted)

    names = subdirectory(subdirectory(0, type_id), name_id)
    found = {}
    for language, target in entries(names):
        data_rva, size = struct.unpack_from("<II", image, base + target)
        start = _rva_to_offset(sections, data_rva)
        found[language] = image[start : start + size]
    return found


RT_VERSION = 16
ENGLISH_US = 1033


def version_value(image: bytes, name: str) -> str | None:
    """A value of the version resource's strings ("ProductVersion",
    "FileDescription"...), None when it has none. Keys and values are UTF-16,
    each value aligned to four bytes."""
    text = read_resource(image, RT_VERSION, 1)[ENGLISH_US].decode("utf-16-le")
    match = re.search(re.escape(name) + "\0+([^\0]*)\0", text)
    return match.group(1) if match else None


# IMAGE_FILE_HEADER.Machine of the two builds.
MACHINES = {0x014C: "x86", 0x8664: "x64"}


def machine_of(image: bytes) -> str:
    """"x86" or "x64": the processor an executable is built for."""
    machine = struct.unpack_from("<H", image, _pe_header(image) + 4)[0]
    if machine not in MACHINES:
        raise ValueError("built for machine type 0x%04x" % machine)
    return MACHINES[machine]
