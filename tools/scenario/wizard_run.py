#!/usr/bin/env python3
"""Helpers of the main command (tools/run-wizard.sh).

    wizard_run.py merge DEFAULT_OPTIONS... -- GIVEN_OPTIONS...
        the device's options: each given one replaces the default of the same
        name; prints them one a line (exit 2 with the device's own message
        when they are not options of the simulated device)
    wizard_run.py match SCENARIO_DIR GIVEN_OPTIONS... -- MERGED_OPTIONS...
        prints the scenario whose device behaves as the merged options say
        (exit 1 when none does)
    wizard_run.py outcome STATE_FILE MERGED_OPTIONS...
    wizard_run.py outcome STATE_FILE --scenario SCENARIO
        prints how the device's run ended, from its state file; exit 0 when
        the device took an image and now runs a new version
"""
import argparse
import glob
import json
import os
import shlex
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "qor_device"))
import qor_device  # noqa: E402

ADDRESS = "192.0.2.20"
# Options that only pace a run (delays, one lost ACK) or say where its files
# go: a scenario matches whatever they are.
PACING = {"address", "answer_delay", "idle_delay", "restart_delay", "dally", "drop_ack", "seed", "log", "state_file", "save_dir"}


def option_groups(parser, words):
    """Splits option words into (destination, words) pairs, in order."""
    actions = parser._option_string_actions  # the parser's own table of option names
    groups, i = [], 0
    while i < len(words):
        name = words[i].split("=", 1)[0]
        action = actions.get(name)
        if action is None:
            parser.error("unknown option %s" % words[i])
        takes_value = action.nargs != 0 and "=" not in words[i]
        groups.append((action.dest, words[i:i + 1 + int(takes_value)]))
        i += 1 + int(takes_value)
    return groups


def merge(parser, defaults, given):
    given_groups = option_groups(parser, given)
    given_names = {dest for dest, _ in given_groups}
    merged = [w for dest, words in option_groups(parser, defaults) if dest not in given_names for w in words]
    merged += [w for _, words in given_groups for w in words]
    parser.parse_args([ADDRESS] + merged)  # exits with the device's message on a bad value
    return merged


def explicit(parser, words):
    return {dest for dest, _ in option_groups(parser, words)} - PACING


def scenario_device(path):
    """The words of a scenario's device line, or None without one."""
    with open(path, encoding="utf-8") as f:
        lines = f.read().splitlines()
    if any(line.split()[:2] == ["build", "handset"] for line in lines if line.strip()):
        return None
    for line in lines:
        words = shlex.split(line, comments=True)
        if words and words[0] == "device":
            return words[1:]
    return None


def match(parser, scenario_dir, given, merged):
    """The scenarios whose device agrees with the merged options on every
    behaviour that the user or the scenario sets; first those that reach the
    success dialog, then those with nothing else in the way (no port held, no
    PC addresses of their own),
    then those where the user does not give up (no Cancel, Esc or close box)."""
    wanted = vars(parser.parse_args([ADDRESS] + merged))
    found = []
    for path in sorted(glob.glob(os.path.join(scenario_dir, "*.scn"))):
        words = scenario_device(path)
        if words is None:
            continue
        played = vars(parser.parse_args([ADDRESS] + words))
        fields = explicit(parser, given) | explicit(parser, words)
        if all(played[f] == wanted[f] for f in fields):
            with open(path, encoding="utf-8") as f:
                steps = [line.split()[:2] for line in f]
            succeeds = ["dialog", "111"] in steps
            holds_ports = any(step[:1] in (["occupy-udp"], ["pc-addresses"]) for step in steps)
            gives_up = ["press", "cancel"] in steps or ["key", "esc"] in steps or ["close"] in steps
            found.append((not succeeds, holds_ports, gives_up, path))
    return [entry[-1] for entry in sorted(found)]


def outcome(state_path, first_version):
    try:
        with open(state_path, encoding="utf-8") as f:
            state = json.load(f)
    except (OSError, ValueError):
        return False, "the simulated device left no state (it did not start?)"
    version = state.get("software_version", "")
    triggers, transfers = state.get("triggers", []), state.get("transfers", [])
    if not triggers:
        return False, ("not upgraded: the wizard ended before it told the QOR to fetch an image "
                       "(cancelled, or stopped with a message); the QOR still runs %s" % version)
    if not transfers:
        return False, "not upgraded: the QOR was told to fetch an image but never asked for it; it runs %s" % version
    last = transfers[-1]
    if not last.get("complete"):
        return False, ("not upgraded: the transfer of %s stopped after %d blocks; the QOR runs %s"
                       % (last.get("name"), last.get("blocks", 0), version))
    if version == first_version:
        return False, "not upgraded: the QOR took %d image(s) but still runs %s" % (len(transfers), version)
    return True, ("upgraded: the QOR at %s now runs %s (it ran %s; %d image(s) sent)"
                  % (state.get("address", ADDRESS), version, first_version, len(transfers)))


def split_at_dashes(words):
    if "--" not in words:
        return words, []
    i = words.index("--")
    return words[:i], words[i + 1:]


def main(argv):
    if not argv:
        print(__doc__, file=sys.stderr)
        return 2
    parser = qor_device.build_parser()
    parser.prog = "run-wizard"
    parser.usage = "tools/run-wizard.sh [DEVICE OPTIONS...]  (README: Device options)"
    command, rest = argv[0], argv[1:]
    if command == "merge":
        defaults, given = split_at_dashes(rest)
        print("\n".join(merge(parser, defaults, given)))
        return 0
    if command == "match":
        given, merged = split_at_dashes(rest[1:])
        found = match(parser, rest[0], given, merged)
        if not found:
            return 1
        print(found[0])
        return 0
    if command == "outcome":
        options = scenario_device(rest[2]) if rest[1:2] == ["--scenario"] else rest[1:]
        first_version = parser.parse_args([ADDRESS] + options).software_version
        upgraded, line = outcome(rest[0], first_version)
        print(line)
        return 0 if upgraded else 1
    print("wizard_run: unknown command %s" % command, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
