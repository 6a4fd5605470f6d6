"""Reads the resources of the program as it was built: from the PE executable
(QorUpgrade.exe) or from the compiled .res file that the native build embeds.
Standard library only. Keys are (type, name) with ordinals as ints and names as
upper-case strings, e.g. (5, 139) for dialog 139, ("QOR_FIRMWARE", 112).
"""

import struct

RT_ICON, RT_DIALOG, RT_GROUP_ICON = 3, 5, 14


class FormatError(Exception):
    pass


def _u16(data, offset):
    return struct.unpack_from("<H", data, offset)[0]


def _u32(data, offset):
    return struct.unpack_from("<I", data, offset)[0]


def read_pe(path):
    """Every resource of a PE file, {(type, name): bytes}, first language only."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:2] != b"MZ":
        raise FormatError("%s: not an MZ executable" % path)
    pe = _u32(data, 0x3C)
    if data[pe:pe + 4] != b"PE\0\0":
        raise FormatError("%s: no PE signature" % path)
    sections = _u16(data, pe + 6)
    optional_size = _u16(data, pe + 20)
    optional = pe + 24
    magic = _u16(data, optional)
    directories = optional + (112 if magic == 0x20B else 96)
    resource_rva, _ = struct.unpack_from("<II", data, directories + 2 * 8)
    if resource_rva == 0:
        return {}
    table = optional + optional_size
    spans = []
    for i in range(sections):
        entry = table + 40 * i
        virtual_size, virtual_address, raw_size, raw_pointer = struct.unpack_from("<IIII", data, entry + 8)
        spans.append((virtual_address, max(virtual_size, raw_size), raw_pointer))

    def offset_of(rva):
        for start, size, raw in spans:
            if start <= rva < start + size:
                return raw + rva - start
        raise FormatError("%s: RVA 0x%x outside every section" % (path, rva))

    base = offset_of(resource_rva)

    def entries(directory):
        named, numbered = struct.unpack_from("<HH", data, base + directory + 12)
        for i in range(named + numbered):
            name, target = struct.unpack_from("<II", data, base + directory + 16 + 8 * i)
            if name & 0x80000000:
                at = base + (name & 0x7FFFFFFF)
                length = _u16(data, at)
                key = data[at + 2:at + 2 + 2 * length].decode("utf-16-le").upper()
            else:
                key = name
            yield key, target

    resources = {}
    for type_key, type_target in entries(0):
        for name_key, name_target in entries(type_target & 0x7FFFFFFF):
            languages = list(entries(name_target & 0x7FFFFFFF))
            if not languages:
                continue
            leaf = languages[0][1]
            data_rva, size = struct.unpack_from("<II", data, base + leaf)
            start = offset_of(data_rva)
            resources[(type_key, name_key)] = data[start:start + size]
    return resources


def _res_id(data, offset):
    if _u16(data, offset) == 0xFFFF:
        return _u16(data, offset + 2), offset + 4
    end = offset
    while _u16(data, end) != 0:
        end += 2
    return data[offset:end].decode("utf-16-le").upper(), end + 2


def read_res(path):
    """Every resource of a compiled .res file, {(type, name): bytes}."""
    with open(path, "rb") as f:
        data = f.read()
    resources = {}
    offset = 0
    while offset + 8 <= len(data):
        size, header_size = struct.unpack_from("<II", data, offset)
        if header_size < 8 or offset + header_size + size > len(data):
            raise FormatError("%s: broken entry at offset %d" % (path, offset))
        type_key, at = _res_id(data, offset + 8)
        name_key, at = _res_id(data, at)
        start = offset + header_size
        if size or type_key != 0:
            resources[(type_key, name_key)] = data[start:start + size]
        offset = (start + size + 3) & ~3
    return resources


def read(path):
    """Resources of an executable or of a .res file, by its first bytes."""
    with open(path, "rb") as f:
        magic = f.read(2)
    return read_pe(path) if magic == b"MZ" else read_res(path)


def firmware_image(resources, name):
    """The Target (112) or Transition (319) image, by number or by role."""
    number = {"target": 112, "transition": 319}.get(name, name)
    return resources.get(("QOR_FIRMWARE", int(number)))
