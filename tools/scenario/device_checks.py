"""What the simulated device saw, held against a scenario's device-check
lines (run_scenario.py calls it after a run with the device).

The checks file holds one check per line as a JSON array of words, written by
the back end from the scenario (its parser is the one that reads scenarios).
A check is "PATH TEST ARGS...", see README.md.
"""

import json
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import qor_resources  # noqa: E402


class CheckError(Exception):
    pass


def lookup(state, path):
    """The value at a dotted path: keys, 1-based indexes (-1 the last), '#' the
    length, '*' every element (the rest of the path applies to each)."""
    value = state
    parts = path.split(".")
    for i, part in enumerate(parts):
        if part == "#":
            if not isinstance(value, (list, dict)):
                raise CheckError("%s: not a list" % ".".join(parts[:i]))
            value = len(value)
        elif part == "*":
            if not isinstance(value, list):
                raise CheckError("%s: not a list" % ".".join(parts[:i]))
            rest = ".".join(parts[i + 1:])
            return [lookup(item, rest) if rest else item for item in value]
        elif isinstance(value, list):
            try:
                index = int(part)
            except ValueError:
                raise CheckError("%s: a list needs an index, not %r" % (".".join(parts[:i]), part))
            if index == 0 or abs(index) > len(value):
                raise CheckError("%s has %d entries, no entry %d" % (".".join(parts[:i]) or "state",
                                                                     len(value), index))
            value = value[index - 1 if index > 0 else index]
        elif isinstance(value, dict):
            if part not in value:
                raise CheckError("%s: no key %r" % (".".join(parts[:i]) or "state", part))
            value = value[part]
        else:
            raise CheckError("%s: %r has no %r" % (".".join(parts[:i]), value, part))
    return value


def render(value):
    """A value as the scenario writes it: true/false/null, numbers, plain strings."""
    if value is True:
        return "true"
    if value is False:
        return "false"
    if value is None:
        return "null"
    return str(value)


def number(word):
    try:
        return float(word)
    except ValueError:
        raise CheckError("%r is not a number" % word)


def check(words, state, resources):
    if len(words) < 2:
        raise CheckError("a check is PATH TEST ARGS...")
    path, test, args = words[0], words[1], words[2:]
    value = lookup(state, path)
    shown = json.dumps(value)
    if test in ("is", "not", "ends", "starts", "has", "at-least", "at-most", "same-as", "image"):
        if len(args) != 1:
            raise CheckError("%s takes one argument" % test)
        arg = args[0]
    if test == "is":
        ok = render(value) == arg
    elif test == "not":
        ok = render(value) != arg
    elif test == "ends":
        ok = isinstance(value, str) and value.endswith(arg)
    elif test == "starts":
        ok = isinstance(value, str) and value.startswith(arg)
    elif test == "has":
        ok = isinstance(value, str) and arg in value
    elif test == "at-least":
        ok = isinstance(value, (int, float)) and value >= number(arg)
    elif test == "at-most":
        ok = isinstance(value, (int, float)) and value <= number(arg)
    elif test == "same-as":
        other = lookup(state, arg)
        ok = value == other
        shown += " against %s = %s" % (arg, json.dumps(other))
    elif test == "list":
        ok = isinstance(value, list) and [render(v) for v in value] == args
    elif test == "image":
        image = qor_resources.firmware_image(resources, arg)
        if image is None:
            raise CheckError("the program has no %s image" % arg)
        if not isinstance(value, str) or not os.path.isfile(value):
            raise CheckError("%s is %s, not a saved image" % (path, shown))
        with open(value, "rb") as f:
            received = f.read()
        ok = received == image
        if not ok:
            first = next((i for i, (a, b) in enumerate(zip(received, image)) if a != b),
                         min(len(received), len(image)))
            shown = "%s: %d bytes, the embedded %s image %d bytes, first difference at byte %d" % (
                value, len(received), arg, len(image), first)
    else:
        raise CheckError("unknown test %r" % test)
    if not ok:
        raise CheckError("%s is %s" % (path, shown))


def check_file(state_path, embedded_path, checks_path):
    """Prints each check of `checks_path` held against the state at
    `state_path`, up to the first that fails; 0 when every one holds.
    `embedded_path` is the exe or the .res file with the images."""
    with open(state_path) as f:
        state = json.load(f)
    resources = qor_resources.read(embedded_path)
    with open(checks_path) as f:
        checks = [json.loads(line) for line in f if line.strip()]
    for words in checks:
        text = " ".join(json.dumps(w) if " " in w or not w else w for w in words)
        try:
            check(words, state, resources)
        except CheckError as e:
            print("FAIL device-check %s: %s" % (text, e))
            return 1
        print("  ok  device-check %s" % text)
    if checks:
        print("PASS device checks (%d)" % len(checks))
    return 0
