#!/usr/bin/env python3
"""Build-time checks of a firmware image before it is embedded in the executable.

An image must hold a whole 128-byte header whose version text (offset 92) ends
with a NUL inside the header, and it must fit the 65,535 blocks of 512 bytes
that a TFTP transfer with 16-bit block numbers can carry.
"""
import sys

HEADER_SIZE = 128
VERSION_OFFSET = 92
SIZE_LIMIT = 65535 * 512  # 33,553,920 bytes: the first size that cannot be served


def problem_with(image: bytes) -> str:
    if len(image) < HEADER_SIZE:
        return f"is {len(image)} bytes long, shorter than its {HEADER_SIZE}-byte header"
    if b"\0" not in image[VERSION_OFFSET:HEADER_SIZE]:
        return f"has no NUL after its version text at offset {VERSION_OFFSET} before offset {HEADER_SIZE}"
    if len(image) >= SIZE_LIMIT:
        return f"is {len(image)} bytes long; it must stay below {SIZE_LIMIT} bytes (65535 blocks of 512)"
    return ""


def main() -> int:
    if len(sys.argv) != 3:
        print("usage: check_firmware_image.py IMAGE STAMP", file=sys.stderr)
        return 2
    path, stamp = sys.argv[1], sys.argv[2]
    try:
        with open(path, "rb") as image_file:
            image = image_file.read()
    except OSError as error:
        print(f"firmware image {path}: cannot be read: {error.strerror}", file=sys.stderr)
        return 1
    problem = problem_with(image)
    if problem:
        print(f"firmware image {path} {problem}", file=sys.stderr)
        return 1
    version = image[VERSION_OFFSET:image.index(b"\0", VERSION_OFFSET)].decode("latin-1")
    with open(stamp, "w") as out:
        out.write(f"{path} {len(image)} {version}\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
