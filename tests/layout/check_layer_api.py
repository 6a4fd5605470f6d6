#!/usr/bin/env python3
"""The Linux layer on a leash: every function that platform/linux/winapi.h
declares is called by a file under src/, or is one of the exceptions that
the header names with its reason.

    check_layer_api.py WINAPI_H SRC_DIR

Prints each function nobody in src/ calls and exits 1 when there is any."""
import os
import re
import sys

# Kept for the reasons written at the top of winapi.h.
EXCEPTIONS = {"GetMessageA", "IsDialogMessageA", "GetModuleHandleA", "GetFocus", "IsWindow", "PostMessageA",
              "WinMain"}
DECLARATION = re.compile(r"^[A-Za-z_][\w\s\*]*?\b([A-Za-z_]\w*)\(")


def declared(header):
    with open(header, encoding="utf-8") as f:
        for line in f:
            if line.startswith(("#", "//", "using", " ", "}", "struct", "union")):
                continue
            match = DECLARATION.match(line)
            if match:
                yield match.group(1)


def program_text(top):
    texts = []
    for folder, _, files in os.walk(top):
        for name in files:
            if name.endswith((".h", ".cpp")):
                with open(os.path.join(folder, name), encoding="utf-8", errors="replace") as f:
                    texts.append(f.read())
    return "\n".join(texts)


def main():
    if len(sys.argv) != 3:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    names = sorted(set(declared(sys.argv[1])))
    text = program_text(sys.argv[2])
    unused = [n for n in names if n not in EXCEPTIONS and not re.search(r"\b%s\b" % re.escape(n), text)]
    for name in unused:
        print("%s: declared by the Linux layer, called by nothing in src/" % name)
    print("%d functions declared, %d not called by the program" % (len(names), len(unused)))
    return 1 if unused else 0


if __name__ == "__main__":
    sys.exit(main())
