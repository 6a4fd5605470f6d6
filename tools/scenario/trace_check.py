#!/usr/bin/env python3
"""Checks a run's trace (the program's debug output) against a scenario's
expected trace file.

    trace_check.py --trace TRACE [--wine-log STDERR] EXPECTED

--wine-log: Wine's standard error of the run (WINEDEBUG=+debugstr); its
OutputDebugStringA lines are decoded into TRACE first, and every other line
is passed on to standard error.

EXPECTED holds one text a line, each to be found in a line of the trace after
the line that held the one before (a line may hold several, in order). A line
"never TEXT" names a text that no line of the trace may hold. Blank lines and
lines starting with "#" are ignored. Line breaks of the trace (\\r\\n) do not
take part in the comparison.
"""
import argparse
import re
import sys

DEBUGSTR = re.compile(r'^[0-9a-f]+:warn:debugstr:OutputDebugStringA "(.*)"(\.\.\.)?$')
ESCAPES = {"n": "\n", "r": "\r", "t": "\t", '"': '"', "\\": "\\"}


def unescape(text):
    """Undoes Wine's escaping of a debug string: \\n, \\r, \\t, \\", \\\\, \\xHH, \\ooo."""
    out = []
    i = 0
    while i < len(text):
        c = text[i]
        if c != "\\" or i + 1 == len(text):
            out.append(c)
            i += 1
            continue
        e = text[i + 1]
        if e in ESCAPES:
            out.append(ESCAPES[e])
            i += 2
        elif e == "x":
            digits = re.match(r"[0-9a-fA-F]{1,2}", text[i + 2:]).group(0)
            out.append(chr(int(digits, 16)))
            i += 2 + len(digits)
        elif e.isdigit():
            digits = re.match(r"[0-7]{1,3}", text[i + 1:]).group(0)
            out.append(chr(int(digits, 8)))
            i += 1 + len(digits)
        else:
            out.append(e)
            i += 2
    return "".join(out)


def decode_wine_log(log_path, trace_path):
    pieces = []
    with open(log_path, encoding="latin-1") as log:
        for line in log:
            line = line.rstrip("\n")
            match = DEBUGSTR.match(line)
            if match:
                pieces.append(unescape(match.group(1)))
            elif line:
                print(line, file=sys.stderr)
    with open(trace_path, "w", encoding="latin-1", newline="") as trace:
        trace.write("".join(pieces))


def read_expected(path):
    wanted, never = [], []
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.strip()
            if not line or line.startswith("#"):
                continue
            if line.startswith("never "):
                never.append(line[len("never "):])
            else:
                wanted.append(line)
    return wanted, never


def check(trace_lines, wanted, never):
    """Returns the failures, empty when the trace holds what is expected."""
    failures = []
    line_no, column = 0, 0
    for text in wanted:
        while line_no < len(trace_lines):
            found = trace_lines[line_no].find(text, column)
            if found >= 0:
                column = found + len(text)
                break
            line_no, column = line_no + 1, 0
        else:
            failures.append(f'"{text}" is missing (or out of order)')
            break
    for text in never:
        for number, line in enumerate(trace_lines, 1):
            if text in line:
                failures.append(f'trace line {number} holds "{text}"')
    return failures


def check_file(trace_path, expected_path):
    """Prints what the trace at `trace_path` lacks of `expected_path`; 0 when nothing."""
    with open(trace_path, encoding="latin-1") as f:
        trace_lines = [line.rstrip("\r") for line in f.read().split("\n")]
    wanted, never = read_expected(expected_path)
    failures = check(trace_lines, wanted, never)
    for failure in failures:
        print(f"  FAIL trace: {failure}")
    if failures:
        print(f"--- trace ({trace_path}), {len(trace_lines)} lines")
        return 1
    print(f"PASS trace checks ({len(wanted)} in order, {len(never)} never)")
    return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--trace", required=True)
    parser.add_argument("--wine-log")
    parser.add_argument("expected")
    args = parser.parse_args()
    if args.wine_log:
        decode_wine_log(args.wine_log, args.trace)
    return check_file(args.trace, args.expected)


if __name__ == "__main__":
    sys.exit(main())
