#!/usr/bin/env python3
"""The portability rule, checked: a file of the program includes only the C++
standard library, its own headers, and the operating system through
"platform/win.h" alone; it never asks which platform it is on. The protocol
files (packets, MD5, Digest) reach no platform header at all, not even
through the headers they include. The folders of src/ are floors that only
look down: a file includes headers of its own folder and of the folders
below it (FLOORS, lowest first), so no folders include each other in a
circle: every circle has an include that looks up, and that include is a
breach.

    check_includes.py SRC_DIR

Prints one line per breach and exits 1 when there is any, 0 otherwise."""
import os
import re
import sys

STANDARD = set("""
algorithm any array atomic bitset cassert cctype cerrno cfenv cfloat charconv chrono cinttypes climits
clocale cmath codecvt complex condition_variable csetjmp csignal cstdarg cstddef cstdint cstdio cstdlib
cstring ctime cuchar cwchar cwctype deque exception execution filesystem forward_list fstream functional
future initializer_list iomanip ios iosfwd iostream istream iterator limits list locale map memory
memory_resource mutex new numeric optional ostream queue random ratio regex scoped_allocator set
shared_mutex sstream stack stdexcept streambuf string string_view system_error thread tuple type_traits
typeindex typeinfo unordered_map unordered_set utility valarray variant vector
""".split())
OWN_PREFIXES = ("src/", "resources/")
OS_DOOR = "platform/win.h"
PROTOCOL_FILES = ("tftp/packets.h", "tftp/packets.cpp", "web/md5.h", "web/md5.cpp", "web/digest.h",
                  "web/digest.cpp")
# What every subsystem shares at the bottom, the sequence that drives them on top.
FLOORS = ("shared", "net", "ui", "web", "tftp", "control")
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')
PLATFORM_TEST = re.compile(r'^\s*#\s*(if|ifdef|ifndef|elif)\b.*\b(_WIN32|_WIN64|WIN32|__linux__|__unix__|__APPLE__|_MSC_VER|__MINGW32__)\b')


def breaches(path):
    with open(path, encoding="utf-8", errors="replace") as f:
        for number, line in enumerate(f, 1):
            include = INCLUDE.match(line)
            if include:
                quote, name = include.groups()
                if quote == "<" and name not in STANDARD:
                    yield number, "<%s> is not the C++ standard library; the OS comes through \"%s\"" % (name, OS_DOOR)
                elif quote == '"' and name != OS_DOOR and not name.startswith(OWN_PREFIXES):
                    yield number, "\"%s\" is neither the program's own header nor \"%s\"" % (name, OS_DOOR)
            elif PLATFORM_TEST.match(line):
                yield number, "asks which platform it is on; only platform/ may"


def floor_breaches(top, path):
    """Includes of a folder above the one `path` lives in (or of a folder on no floor)."""
    folder = os.path.relpath(path, top).split(os.sep)[0]
    if folder not in FLOORS:
        yield "the folder \"%s\" is on no floor; FLOORS names them all" % folder
        return
    for included in own_includes(path):
        parts = included.split("/")
        if parts[0] != "src" or len(parts) < 3:
            continue
        if parts[1] not in FLOORS:
            yield "\"%s\" is in a folder on no floor" % included
        elif FLOORS.index(parts[1]) > FLOORS.index(folder):
            yield "\"%s\" is a floor above %s; folders include only themselves and those below" % (included, folder)


def own_includes(path):
    with open(path, encoding="utf-8", errors="replace") as f:
        for line in f:
            include = INCLUDE.match(line)
            if include and include.group(1) == '"':
                yield include.group(2)


def reaches_platform(top, name, seen):
    """Whether src/`name` includes platform/win.h, directly or through its own headers."""
    if name in seen:
        return False
    seen.add(name)
    path = os.path.join(top, name)
    if not os.path.isfile(path):
        return False
    for included in own_includes(path):
        if included == OS_DOOR:
            return True
        if included.startswith("src/") and reaches_platform(top, included[len("src/"):], seen):
            return True
    return False


def main():
    if len(sys.argv) != 2 or not os.path.isdir(sys.argv[1]):
        print(__doc__.strip(), file=sys.stderr)
        return 2
    top = sys.argv[1]
    found = 0
    checked = 0
    for folder, _, files in sorted(os.walk(top)):
        for name in sorted(files):
            if not name.endswith((".h", ".cpp")):
                continue
            checked += 1
            path = os.path.join(folder, name)
            for number, why in breaches(path):
                print("%s:%d: %s" % (os.path.relpath(path, top), number, why))
                found += 1
            for why in floor_breaches(top, path):
                print("%s: %s" % (os.path.relpath(path, top), why))
                found += 1
    for name in PROTOCOL_FILES:
        if reaches_platform(top, name, set()):
            print("%s: a protocol file reaches \"%s\"; it works on bytes alone" % (name, OS_DOOR))
            found += 1
    print("%d files checked, %d breaches" % (checked, found))
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
