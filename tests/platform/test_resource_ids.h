// Identifiers of the platform tests' own resources (test_dialogs.rc).
#pragma once

#define IDD_TEST_CANCEL_DEFAULT 201
#define IDD_TEST_ENTRY 202
#define IDD_TEST_NO_BUTTONS 203
#define IDD_TEST_MODELESS 204
#define IDD_TEST_CONTROLS 205

#define IDI_TEST_ICON 106
#define IDR_TEST_DATA 301

#define IDC_TEST_TEXT 1001
#define IDC_TEST_USER 1002
#define IDC_TEST_PASSWORD 1003
#define IDC_TEST_GO 1004
#define IDC_TEST_DISABLED 1005
#define IDC_TEST_PROGRESS 1010
#define IDC_TEST_LIST 1017
#define IDC_TEST_ADDRESS 1000
