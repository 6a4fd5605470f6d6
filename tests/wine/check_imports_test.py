#!/usr/bin/python3
"""Tests of the import check on objdump text: the import tables are read
whole, the repository's table is well formed, and an import newer than the
promise or missing from the table fails with its name."""
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_imports  # noqa: E402

DUMP = """The Import Tables (interpreted .idata section contents)
 vma:            Hint    Time      Forward  DLL       First
 0005d000	0005d090 00000000 00000000 0005e55c 0005d5e0

	DLL Name: COMCTL32.dll
	vma:  Hint/Ord Member-Name Bound-To
	5db30	  105  InitCommonControlsEx

 0005d014	0005d0a0 00000000 00000000 0005e67c 0005d5f0

	DLL Name: KERNEL32.dll
	vma:  Hint/Ord Member-Name Bound-To
	5db48	   20  AddVectoredExceptionHandler
	5dd3e	  800  GetTickCount64
{planted}
 0005d028	00000000 00000000 00000000 00000000 00000000

The Export Tables
"""


class Imports(unittest.TestCase):
    def setUp(self):
        with open(check_imports.TABLE, encoding="utf-8") as f:
            self.promise, self.rows = check_imports.read_table(f.read())

    def test_every_dll_and_function_is_read(self):
        self.assertEqual(check_imports.imports_of(DUMP.format(planted="")),
                         [("comctl32.dll", "InitCommonControlsEx"), ("kernel32.dll", "AddVectoredExceptionHandler"),
                          ("kernel32.dll", "GetTickCount64")])

    def test_the_table_promises_windows_7_and_passes_todays_imports(self):
        self.assertEqual(self.promise, "7")
        self.assertEqual(self.rows[("kernel32.dll", "GetTickCount64")], "Vista")
        self.assertEqual(check_imports.problems(check_imports.imports_of(DUMP.format(planted="")), self.promise,
                                                self.rows), [])

    def test_rows_of_imports_still_to_come_are_there(self):
        for function in ("GetBestInterface", "GetAdaptersAddresses"):
            self.assertIn(("iphlpapi.dll", function), self.rows)

    def test_a_newer_import_fails_with_its_name(self):
        rows = {**self.rows, ("kernel32.dll", "GetSystemTimePreciseAsFileTime"): "8"}
        pairs = check_imports.imports_of(DUMP.format(planted="\t5dd50	  801  GetSystemTimePreciseAsFileTime"))
        self.assertEqual(check_imports.problems(pairs, self.promise, rows),
                         ["kernel32.dll GetSystemTimePreciseAsFileTime: needs Windows 8, newer than the promised "
                          "Windows 7"])

    def test_an_import_missing_from_the_table_names_the_row_to_add(self):
        pairs = check_imports.imports_of(DUMP.format(planted="\t5dd50	  801  CreateWaitableTimerExW"))
        found = check_imports.problems(pairs, self.promise, self.rows)
        self.assertEqual(len(found), 1)
        self.assertIn("'| kernel32.dll | CreateWaitableTimerExW | <first Windows> | Microsoft docs |'", found[0])

    def test_a_row_with_an_unknown_version_is_refused(self):
        with self.assertRaisesRegex(ValueError, "Windows Me"):
            check_imports.read_table("Promised: Windows 7\n| kernel32.dll | Sleep | Windows Me | docs |\n")


if __name__ == "__main__":
    unittest.main(verbosity=2)
