#!/usr/bin/env python3
"""Writes a C++ file that holds every constant the Linux stand-in defines
against the real Windows header: one static_assert a constant, compiled in
the Windows build, so a value that differs stops the build with its name.

    stand_in_constants.py WINAPI_H OUT_CPP

Function-like macros (LOWORD, MAKELONG, ...) and empty ones (WINAPI) are
no constants and are left out."""
import re
import sys

CONSTANT = re.compile(r"^\s*#\s*define\s+([A-Za-z_]\w*)\s+(.+?)\s*(?://.*)?$")


def constants(header):
    with open(header, encoding="utf-8") as f:
        for line in f:
            match = CONSTANT.match(line)
            if match:
                yield match.groups()


def main():
    if len(sys.argv) != 3:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    found = list(constants(sys.argv[1]))
    lines = [
        "// Written by tests/platform/stand_in_constants.py from platform/linux/winapi.h.",
        '#include "platform/win.h"',
        "",
        "// Resource types compare by their ordinals: an integer made a pointer is no constant.",
        "#undef MAKEINTRESOURCEA",
        "#define MAKEINTRESOURCEA(i) (i)",
        "",
    ]
    for name, value in found:
        lines.append('static_assert(%s == static_cast<decltype(%s)>(%s), "the stand-in\'s %s is %s");'
                     % (name, name, value, name, value))
    with open(sys.argv[2], "w", encoding="utf-8") as out:
        out.write("\n".join(lines) + "\n")
    print("%d constants of the stand-in to compare" % len(found))
    return 0


if __name__ == "__main__":
    sys.exit(main())
