#!/usr/bin/python3
"""Checks that every function QorUpgrade.exe imports exists on the oldest
Windows we promise: each import must have a row in the table
(tests/wine/windows-imports.md) whose first Windows is not newer than the
promised one.

    check_imports.py --objdump x86_64-w64-mingw32-objdump [--table FILE] EXE

Prints the imports with their first Windows; exit status 1 names each import
that is missing from the table or newer than the promise.
"""
import argparse
import os
import re
import subprocess
import sys

TABLE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "windows-imports.md")
VERSIONS = ["2000", "XP", "Vista", "7", "8", "8.1", "10", "11"]


def imports_of(objdump_text):
    """(dll, function) pairs of objdump -p's import tables, DLL names in lower case."""
    pairs, dll = [], None
    for line in objdump_text.splitlines():
        named = re.match(r"\s*DLL Name: (\S+)", line)
        if named:
            dll = named.group(1).lower()
            continue
        entry = re.match(r"\t[0-9a-f]+\t\s*\d+\s+(\S+)", line)
        if dll and entry:
            pairs.append((dll, entry.group(1)))
        elif dll and re.match(r"\s*$", line) is None and not line.startswith("\t"):
            dll = None
    return pairs


def read_table(text):
    """The promised version and {(dll, function): first Windows} of the table."""
    promise = re.search(r"^Promised: Windows (\S+)$", text, re.M)
    if not promise or promise.group(1) not in VERSIONS:
        raise ValueError("the table has no line 'Promised: Windows <version>' with a known version")
    rows = {}
    for line in text.splitlines():
        cells = [cell.strip() for cell in line.strip().strip("|").split("|")]
        if len(cells) == 4 and cells[0].endswith(".dll"):
            if cells[2] not in VERSIONS:
                raise ValueError(f"row {cells[0]} {cells[1]}: unknown version {cells[2]!r}")
            rows[(cells[0].lower(), cells[1])] = cells[2]
    return promise.group(1), rows


def problems(pairs, promise, rows):
    """A line for each import that is not known to exist on the promised Windows."""
    found = []
    for dll, function in pairs:
        first = rows.get((dll, function))
        if first is None:
            found.append(f"{dll} {function}: not in the table; add the row "
                         f"'| {dll} | {function} | <first Windows> | Microsoft docs |' with the "
                         f"\"Minimum supported client\" of its documentation page")
        elif VERSIONS.index(first) > VERSIONS.index(promise):
            found.append(f"{dll} {function}: needs Windows {first}, newer than the promised Windows {promise}")
    return found


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--objdump", default="x86_64-w64-mingw32-objdump")
    p.add_argument("--table", default=TABLE)
    p.add_argument("exe")
    args = p.parse_args()
    dump = subprocess.run([args.objdump, "-p", args.exe], check=True, capture_output=True, text=True).stdout
    pairs = imports_of(dump)
    with open(args.table, encoding="utf-8") as f:
        promise, rows = read_table(f.read())
    if not pairs:
        print("check_imports: objdump found no imports", file=sys.stderr)
        return 1
    for dll, function in pairs:
        print(f"{dll:14} {function:32} {rows.get((dll, function), '?')}")
    found = problems(pairs, promise, rows)
    for line in found:
        print("check_imports: " + line, file=sys.stderr)
    newest = max((rows[pair] for pair in pairs if pair in rows), key=VERSIONS.index)
    print(f"check_imports: {len(pairs)} imports, the newest from Windows {newest}; promised: Windows {promise}")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
