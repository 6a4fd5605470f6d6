#!/usr/bin/env python3
"""Makes a deterministic placeholder firmware image for builds without the real one.

The header carries the product tag at offset 0 and the version text at offset 92,
as the real images do; every other byte is a repeatable pseudo-random stream, so
a transfer that drops, repeats or reorders a block never matches by chance.
"""
import argparse
import hashlib
import sys

HEADER_SIZE = 128
VERSION_OFFSET = 92


def placeholder_image(tag: bytes, version: bytes, size: int) -> bytes:
    stream = bytearray()
    counter = 0
    while len(stream) < size:
        stream += hashlib.sha256(tag + b"/" + version + counter.to_bytes(8, "big")).digest()
        counter += 1
    image = bytearray(stream[:size])
    header = bytearray(HEADER_SIZE)
    header[0:len(tag)] = tag
    header[VERSION_OFFSET:VERSION_OFFSET + len(version)] = version
    image[0:HEADER_SIZE] = header
    return bytes(image)


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--tag", required=True, help="product tag at offset 0, e.g. qor7101")
    parser.add_argument("--version", required=True, help="version text at offset 92, e.g. 2.0.13(SEg)")
    parser.add_argument("--size", required=True, type=int, help="image size in bytes")
    parser.add_argument("--out", required=True, help="file to write")
    args = parser.parse_args()
    tag, version = args.tag.encode("ascii"), args.version.encode("ascii")
    if args.size < HEADER_SIZE or len(tag) >= VERSION_OFFSET or len(version) >= HEADER_SIZE - VERSION_OFFSET:
        print(f"{args.out}: size, tag or version does not fit a {HEADER_SIZE}-byte header", file=sys.stderr)
        return 1
    with open(args.out, "wb") as out:
        out.write(placeholder_image(tag, version, args.size))
    return 0


if __name__ == "__main__":
    sys.exit(main())
