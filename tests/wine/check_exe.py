#!/usr/bin/python3
"""Checks the built QorUpgrade.exe as a file: it needs no DLL beyond the
system's own, and its resources hold what the program loads at run time.

    check_exe.py --objdump x86_64-w64-mingw32-objdump QorUpgrade.exe
"""

import argparse
import os
import re
import struct
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "scenario"))
import qor_resources  # noqa: E402
from qor_resources import RT_DIALOG, RT_GROUP_ICON, RT_ICON  # noqa: E402

SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "comctl32.dll", "ws2_32.dll", "winmm.dll",
               "msvcrt.dll", "advapi32.dll", "iphlpapi.dll"}
DIALOGS = {101, 103, 104, 105, 110, 111, 114, 139, 304, 305}
RT_MANIFEST = 24
WS_VISIBLE, DS_SETFONT, DS_MODALFRAME = 0x10000000, 0x40, 0x80
WS_POPUP, WS_CAPTION, WS_SYSMENU = 0x80000000, 0x00C00000, 0x00080000

EXE = None
OBJDUMP = None


def read_sz(data, offset):
    end = offset
    while struct.unpack_from("<H", data, end)[0] != 0:
        end += 2
    return data[offset:end].decode("utf-16-le"), end + 2


def skip_sz_or_ord(data, offset):
    if struct.unpack_from("<H", data, offset)[0] == 0xFFFF:
        return offset + 4
    return read_sz(data, offset)[1]


def dialog_header(data):
    """Style, extended style, item count, size, title and font of a plain DLGTEMPLATE."""
    style, exstyle, count, _x, _y, cx, cy = struct.unpack_from("<IIHhhhh", data, 0)
    at = skip_sz_or_ord(data, 18)  # menu
    at = skip_sz_or_ord(data, at)  # class
    title, at = read_sz(data, at)
    point, face = None, None
    if style & DS_SETFONT:
        point = struct.unpack_from("<H", data, at)[0]
        face, at = read_sz(data, at + 2)
    return {"style": style, "exstyle": exstyle, "count": count, "size": (cx, cy), "title": title,
            "font": (face, point)}


class Imports(unittest.TestCase):
    def test_only_system_dlls(self):
        dump = subprocess.run([OBJDUMP, "-p", EXE], check=True, capture_output=True, text=True).stdout
        dlls = {name.lower() for name in re.findall(r"DLL Name: (\S+)", dump)}
        self.assertTrue(dlls, "objdump found no import table")
        self.assertIn("user32.dll", dlls)
        self.assertEqual(dlls - SYSTEM_DLLS, set(), "DLLs beyond the system's own")

    def test_x86_64_gui_program(self):
        dump = subprocess.run([OBJDUMP, "-p", EXE], check=True, capture_output=True, text=True).stdout
        self.assertRegex(dump, r"file format pei-x86-64")
        self.assertRegex(dump, r"Subsystem\s+00000002\s+\(Windows GUI\)")


class Resources(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.resources = qor_resources.read_pe(EXE)

    def names(self, kind):
        return {name for (t, name) in self.resources if t == kind}

    def test_the_ten_dialogs(self):
        self.assertEqual(self.names(RT_DIALOG), DIALOGS)

    def test_dialog_templates_common_form(self):
        for number in sorted(DIALOGS):
            with self.subTest(dialog=number):
                header = dialog_header(self.resources[(RT_DIALOG, number)])
                self.assertNotEqual(header["style"] >> 16, 0xFFFF, "extended template")
                wanted = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT
                self.assertEqual(header["style"] & wanted, wanted)
                self.assertEqual(header["style"] & WS_VISIBLE, 0)
                self.assertEqual(header["exstyle"], 0)
                self.assertEqual(header["font"], ("MS Sans Serif", 8))

    def test_dialog_sizes_and_titles(self):
        expected = {139: ((204, 143), "QOR-7200 Firmware Upgrade"), 101: ((165, 181), "Enter QOR IP Address"),
                    305: ((164, 178), "Dialog"), 104: ((191, 236), "Enter Password Information"),
                    105: ((186, 55), "Connecting with QOR"), 103: ((172, 166), "Confirm Upgrade"),
                    304: ((186, 198), "Confirm Upgrade"),
                    114: ((270, 141), "Waiting For Firmware Download Request From QOR"),
                    110: ((303, 77), "Uploading Firmware To QOR"), 111: ((171, 126), "QOR Upgrade Successful!")}
        for number, (size, title) in expected.items():
            with self.subTest(dialog=number):
                header = dialog_header(self.resources[(RT_DIALOG, number)])
                self.assertEqual((header["size"], header["title"]), (size, title))

    def test_icon_groups(self):
        self.assertEqual(self.names(RT_GROUP_ICON), {106, 286})
        for group in (106, 286):
            with self.subTest(group=group):
                data = self.resources[(RT_GROUP_ICON, group)]
                _reserved, kind, count = struct.unpack_from("<HHH", data, 0)
                self.assertEqual((kind, count), (1, 1))
                width, height, _colors, _r, _planes, bits, _size, icon = struct.unpack_from("<BBBBHHIH", data, 6)
                self.assertEqual((width, height, bits), (32, 32, 4))
                self.assertIn((RT_ICON, icon), self.resources)

    def test_firmware_images(self):
        for number, size, tag in ((112, 737532, b"qor7101"), (319, 728976, b"qor7200")):
            with self.subTest(image=number):
                image = self.resources.get(("QOR_FIRMWARE", number))
                self.assertIsNotNone(image)
                self.assertEqual(len(image), size)
                self.assertEqual(image[:len(tag) + 1], tag + b"\0")
                self.assertIn(b"\0", image[92:128], "version text not ended inside the header")

    def test_manifest_runs_as_invoker(self):
        manifests = [data for (t, _), data in self.resources.items() if t == RT_MANIFEST]
        self.assertEqual(len(manifests), 1)
        self.assertIn(b'level="asInvoker"', manifests[0])


def main():
    global EXE, OBJDUMP
    p = argparse.ArgumentParser()
    p.add_argument("--objdump", default="x86_64-w64-mingw32-objdump")
    p.add_argument("exe")
    args, rest = p.parse_known_args()
    EXE, OBJDUMP = args.exe, args.objdump
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
