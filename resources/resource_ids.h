// Resource and control identifiers, shared by the resource script and the
// code. Plain #defines only: windres reads this file too.
#pragma once

// Dialog templates
#define IDD_ADDRESS 101
#define IDD_CONFIRM_TARGET 103
#define IDD_PASSWORD 104
#define IDD_CONNECTING 105
#define IDD_UPLOAD 110
#define IDD_SUCCESS 111
#define IDD_WAITING 114
#define IDD_WARNING 139
#define IDD_CONFIRM_TRANSITION 304
#define IDD_ADDRESS_HANDSET 305

// Icon groups
#define IDI_ADAPTER 106
#define IDI_HANDSET 286

// Firmware images, resource type "QOR_FIRMWARE"
#define IDR_TARGET_IMAGE 112
#define IDR_TRANSITION_IMAGE 319

// Controls (OK = 1 and Cancel = 2 are the standard IDOK and IDCANCEL)
#define IDC_DEVICE_ADDRESS 1000
#define IDC_SERIAL_NUMBER 1002
#define IDC_MAC_ADDRESS 1003  // the user name in dialog 104
#define IDC_USER IDC_MAC_ADDRESS
#define IDC_SOFTWARE_VERSION 1004
#define IDC_HARDWARE_VERSION 1005  // the password in dialog 104
#define IDC_PASSWORD IDC_HARDWARE_VERSION
#define IDC_PRODUCT_NAME 1006
#define IDC_TOP_TEXT 1007
#define IDC_ADDRESS_HELP 1008
#define IDC_PROGRESS 1010
#define IDC_TARGET_VERSION 1015
#define IDC_LOCAL_ADDRESSES 1017
#define IDC_WARNING_TEXT 1021
#define IDC_WAITING_TEXT 1022
#define IDC_WAITING_HINT 1023  // below the window's bottom until the hint is due
