#!/usr/bin/python3
"""Ends a linked exe on an 8-byte boundary, with zero bytes and its PE
checksum set anew, as an Authenticode signature wants it: signing appends
the signature at such a boundary and removing the signature cuts the file
back to it, so a signed release without its signature is this very file.

    align_exe.py EXE      (rewrites EXE in place; nothing to do if aligned)
"""
import array
import struct
import sys


def checksum_offset(data):
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise ValueError("not a PE file")
    return pe + 24 + 64  # optional header, CheckSum field


def pe_checksum(data, at):
    """The PE checksum: 16-bit one's-complement style sum with carries folded, plus the length."""
    words = array.array("H", bytes(data[:at]) + b"\0\0\0\0" + bytes(data[at + 4:]) + b"\0" * (len(data) % 2))
    total = 0
    for word in words:
        total += word
        total = (total & 0xFFFF) + (total >> 16)
    return (total + len(data)) & 0xFFFFFFFF


def main():
    path = sys.argv[1]
    with open(path, "rb") as f:
        data = bytearray(f.read())
    padding = -len(data) % 8
    if padding == 0:
        return 0
    data += b"\0" * padding
    at = checksum_offset(data)
    struct.pack_into("<I", data, at, pe_checksum(data, at))
    with open(path, "wb") as f:
        f.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main())
