#!/usr/bin/python3
"""Tests of the helpers around whole runs: the trace check (Wine's escaped
debug strings, order, texts that must never appear) and the main command's
device options (merged with the defaults, matched to a scenario, and the
verdict read from the device's state); and that the user guide explains every
message and hint the program can show."""
import json
import os
import re
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tools", "scenario"))
import trace_check  # noqa: E402
import wizard_run  # noqa: E402

DEFAULTS = ["--software-version", "2.0.12", "--restart-delay", "20"]


class TraceCheck(unittest.TestCase):
    def test_wine_escapes_come_back_as_the_text(self):
        self.assertEqual(trace_check.unescape(r'GET /a HTTP/1.1\r\nHost: \"x\"\\\t\x41\101'),
                         'GET /a HTTP/1.1\r\nHost: "x"\\\tAA')

    def test_wine_log_is_decoded_and_other_lines_pass_on(self):
        with tempfile.TemporaryDirectory() as d:
            log, trace = os.path.join(d, "log"), os.path.join(d, "trace")
            with open(log, "w") as f:
                f.write('0024:warn:debugstr:OutputDebugStringA "recv done\\n"\n'
                        "it looks like wine32 is missing\n"
                        '0024:warn:debugstr:OutputDebugStringA "HTTP/1.1 200 OK\\r\\n"\n')
            trace_check.decode_wine_log(log, trace)
            with open(trace, newline="") as f:
                self.assertEqual(f.read(), "recv done\nHTTP/1.1 200 OK\r\n")

    def test_texts_are_found_in_order_on_one_line_or_later_ones(self):
        lines = ["HTTP c000020a:23456 to c0000214:80", 'Authorization: Digest response="1",nc=000000001,cnonce="2"',
                 "recv done"]
        self.assertEqual(trace_check.check(lines, ["HTTP c0", "response=", "nc=000000001", "recv done"], []), [])
        self.assertTrue(trace_check.check(lines, ["nc=000000001", "response="], []))
        self.assertTrue(trace_check.check(lines, ["recv done", "HTTP c0"], []))

    def test_a_text_that_must_never_appear_fails_wherever_it_is(self):
        self.assertEqual(trace_check.check(["a", "b"], [], ["secret"]), [])
        self.assertEqual(trace_check.check(["a", "password=secret!"], [], ["secret"]),
                         ['trace line 2 holds "secret"'])


class DeviceOptions(unittest.TestCase):
    parser = wizard_run.qor_device.build_parser()
    scenarios = os.path.join(HERE)

    def merged(self, *given):
        return wizard_run.merge(self.parser, DEFAULTS, list(given))

    def played(self, *given):
        found = wizard_run.match(self.parser, self.scenarios, list(given), self.merged(*given))
        return os.path.basename(found[0]) if found else None

    def test_a_given_option_replaces_only_its_own_default(self):
        self.assertEqual(self.merged("--password", "secret"), DEFAULTS + ["--password", "secret"])
        self.assertEqual(self.merged("--software-version=2.0.10", "--never-fetch"),
                         ["--restart-delay", "20", "--software-version=2.0.10", "--never-fetch"])

    def test_options_the_device_does_not_know_are_refused(self):
        with self.assertRaises(SystemExit):
            wizard_run.merge(self.parser, DEFAULTS, ["--bogus"])
        with self.assertRaises(SystemExit):
            wizard_run.merge(self.parser, DEFAULTS, ["--software-version"])

    def test_the_played_scenario_has_the_device_asked_for(self):
        self.assertEqual(self.played(), "straight_to_target.scn")
        self.assertEqual(self.played("--restart-delay", "3"), "straight_to_target.scn")
        self.assertEqual(self.played("--password", "secret", "--software-version", "2.0.10"),
                         "transition_with_password.scn")
        self.assertEqual(self.played("--unreachable", "refuse"), "unreachable.scn")
        # Both let the waiting dialog go with Cancel or Esc.
        self.assertIn(self.played("--never-fetch"), {"never_fetch.scn", "escape_waiting.scn"})
        self.assertIsNone(self.played("--software-version", "2.0.11"))


class Verdict(unittest.TestCase):
    def verdict(self, state):
        with tempfile.NamedTemporaryFile("w", suffix=".json", delete=False) as f:
            json.dump(state, f)
        try:
            return wizard_run.outcome(f.name, "2.0.12")
        finally:
            os.unlink(f.name)

    def test_each_end_of_a_run_has_its_own_line(self):
        upgraded, line = self.verdict({"software_version": "2.0.13(SEg)", "triggers": [{}],
                                       "transfers": [{"complete": True}]})
        self.assertTrue(upgraded)
        self.assertIn("now runs 2.0.13(SEg)", line)
        cases = [({"software_version": "2.0.12", "triggers": [], "transfers": []}, "before it told"),
                 ({"software_version": "2.0.12", "triggers": [{}], "transfers": []}, "never asked"),
                 ({"software_version": "2.0.12", "triggers": [{}],
                   "transfers": [{"name": "/qor1.bi0", "complete": False, "blocks": 7}]}, "after 7 blocks"),
                 ({"software_version": "2.0.12", "triggers": [{}], "transfers": [{"complete": True}]},
                  "still runs 2.0.12")]
        for state, words in cases:
            upgraded, line = self.verdict(state)
            self.assertFalse(upgraded, line)
            self.assertIn(words, line)

    def test_a_missing_state_file_is_no_upgrade(self):
        upgraded, line = wizard_run.outcome("/nonexistent/state.json", "2.0.12")
        self.assertFalse(upgraded)
        self.assertIn("left no state", line)


# Texts that are a fixed part of a dialog: the guide shows that dialog in a
# picture rather than quoting them. Every other text of texts.h (a message, a
# hint) must be quoted in the guide.
PICTURED = {
    "kUpgradeTitle": "139-qor-7101-firmware-upgrade.png",
    "kWarning": "139-qor-7101-firmware-upgrade.png",
    "kAddressHeading": "101-qor-7101-firmware-upgrade.png",
    "kTargetVersion": "101-qor-7101-firmware-upgrade.png",
    "kAdapterAddressHelp": "101-qor-7101-firmware-upgrade.png",
    "kHandsetAddressHelp": "305-qor-540-firmware-upgrade.png",
    "kConnectingTitle": "105-connecting-with-qor-192-0-2-20.png",
    "kPasswordHelp": "104-enter-password-information.png",
    "kDefaultUser": "104-enter-password-information.png",
    "kConfirmTitle": "103-confirm-upgrade-to-ver-2-0-13-seg.png",
    "kConfirm": "103-confirm-upgrade-to-ver-2-0-13-seg.png",
    "kTransitionNote": "304-confirm-upgrade-to-ver-2-0-13-seg.png",
    "kWaitingHelp": "114-waiting-for-firmware-download-request-from-qor.png",
    "kUploadingTitle": "110-uploading-target.png",
    "kUpdatingTitle": "110-updating-target.png",
    "kSuccessTitle": "111-qor-192-0-2-20-upgrade-successful.png",
    "kSuccess": "111-qor-192-0-2-20-upgrade-successful.png",
}


def program_texts(header):
    """{name: text} of texts.h, its C string pieces joined and escapes undone."""
    texts = {}
    for name, pieces in re.findall(r'constexpr char (k\w+)\[\] =\s*((?:"(?:[^"\\]|\\.)*"\s*)+);', header):
        joined = "".join(re.findall(r'"((?:[^"\\]|\\.)*)"', pieces))
        texts[name] = joined.encode().decode("unicode_escape")
    return texts


def flat(text):
    return " ".join(text.split())


def quoted_in(text, place):
    """Whether text, its line breaks as spaces and %s/%d as any words, is in place."""
    pattern = re.escape(flat(text)).replace("%s", ".+?").replace("%d", "[0-9]+")
    return re.search(pattern, flat(place)) is not None


class UserGuide(unittest.TestCase):
    """Every text the program shows is in the user guide: a message or hint
    in the table of messages with what it means and what to do, a caption
    anywhere, a fixed dialog text as the picture of its dialog."""

    @classmethod
    def setUpClass(cls):
        top = os.path.join(HERE, "..", "..")
        with open(os.path.join(top, "src", "shared", "texts.h"), encoding="utf-8") as f:
            cls.texts = program_texts(f.read())
        with open(os.path.join(top, "docs", "user-guide.md"), encoding="utf-8") as f:
            cls.guide = f.read()
        cls.rows = [[cell.strip() for cell in line.strip().strip("|").split("|")]
                    for line in cls.guide.splitlines() if line.startswith("| ") and "---" not in line]
        cls.screenshots = os.path.join(top, "docs", "screenshots")

    def test_texts_are_read_whole(self):
        self.assertGreater(len(self.texts), 30)
        self.assertEqual(self.texts["kNoLocalAddress"],
                         "This PC has no IPv4 address to offer the QOR.\r\nConnect it to the QOR's network and start again.")
        self.assertIn('Please click "Upgrade"', self.texts["kConfirm"])

    def test_every_message_and_hint_is_explained(self):
        unexplained = []
        for name, text in self.texts.items():
            if name in PICTURED or name.endswith("Caption"):
                continue
            explained = any(len(row) == 3 and quoted_in(text, row[0]) and row[1] and row[2] for row in self.rows)
            if not explained:
                unexplained.append(f"{name}: {flat(text)}")
        self.assertGreater(len(self.texts) - len(PICTURED), 15)
        self.assertEqual(unexplained, [], "add a row (message | what it means | what to do) to docs/user-guide.md")

    def test_every_caption_is_named(self):
        captions = [name for name in self.texts if name.endswith("Caption")]
        self.assertEqual(len(captions), 2)
        self.assertEqual([name for name in captions if not quoted_in(self.texts[name], self.guide)], [])

    def test_every_fixed_dialog_text_is_pictured(self):
        self.assertEqual(sorted(set(PICTURED) - set(self.texts)), [], "PICTURED names a text texts.h no longer has")
        for name, picture in PICTURED.items():
            with self.subTest(text=name):
                self.assertIn(f"(screenshots/{picture})", self.guide)
                self.assertTrue(os.path.isfile(os.path.join(self.screenshots, picture)))

    def test_a_missing_message_is_found(self):
        texts = dict(self.texts, kNew="Upgrade Failed: Something new")
        self.assertFalse(any(len(row) == 3 and quoted_in(texts["kNew"], row[0]) for row in self.rows))
        self.assertTrue(quoted_in("Upgrade Failed: %s", "| Upgrade Failed: User Abort |"))


if __name__ == "__main__":
    unittest.main()
