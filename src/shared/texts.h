// Every text the user reads, in one place.
#pragma once

namespace text {

// Failure messages
inline constexpr char kWinsockInit[] = "Upgrade Failed: Winsock init error";
inline constexpr char kUserAbort[] = "Upgrade Failed: User Abort";
inline constexpr char kNoResponse[] = "Upgrade Failed: No Response From QOR";
inline constexpr char kHttpSocket[] = "Upgrade Failed: Can't open HTTP socket";
inline constexpr char kHttpBind[] = "Upgrade Failed: Can't bind HTTP socket";
inline constexpr char kRequestThread[] = "Upgrade Failed: Can't start HTTP request thread";
inline constexpr char kListenerMalloc[] = "Upgrade Failed: Can't malloc for TFTP listener";
inline constexpr char kListenerSocket[] = "Upgrade Failed: Can't create TFTP listener socket";
inline constexpr char kListenerBind[] = "Upgrade Failed: Can't bind TFTP listener socket";
inline constexpr char kListenerThread[] = "Upgrade Failed: Can't start TFTP listener thread";
inline constexpr char kSessionMalloc[] = "Upgrade Failed: Can't malloc for TFTP session";
inline constexpr char kUploadIncomplete[] = "Upgrade Failed: Firmware Upload Incomplete";
inline constexpr char kVersionMismatch[] = "Upgrade Failed: Version not matching";
inline constexpr char kImageMissing[] = "Upgrade Failed: Firmware image missing";
inline constexpr char kDefaultErrorCaption[] = "QOR Firwmare Upgrade Error";

// Window titles (printf formats)
inline constexpr char kUpgradeTitle[] = "%s Firmware Upgrade";
inline constexpr char kConfirmTitle[] = "Confirm Upgrade to Ver. %s";
inline constexpr char kConnectingTitle[] = "Connecting with QOR@%s";
inline constexpr char kUploadingTitle[] = "Uploading %s Firmware to QOR@%s %d/%d Bytes";
inline constexpr char kUpdatingTitle[] = "Updating %s Firmware to QOR@%s";
inline constexpr char kSuccessTitle[] = "QOR@%s Upgrade Successful!";

// Dialog texts
inline constexpr char kWarning[] =
    "WARNING: Forcing a firmware upgrade on your QOR\r\nwithout prior approval from your service provider "
    "or\r\nnetwork administrator may cause interruption to your\r\nservice.  If your QOR is managed by a "
    "service\r\nprovider who retains administrative control of the\r\ndevice, please contact the service "
    "provider for\r\nauthorization before proceeding.  In such cases, the\r\nmost current, approved for "
    "service firmware is\r\nautomatically provided by your service provider without\r\nany onus on the end "
    "user to upgrade manually.";
inline constexpr char kConfirm[] =
    "The following information was extracted\r\nfrom your QOR. Please click \"Upgrade\"\r\nif you would like "
    "to proceed. If you would\r\nlike to quit click \"Cancel\".";
inline constexpr char kTransitionNote[] =
    "%s\r\n\r\nNote: Since your current firmware version\r\nis older than %s, this upgrade "
    "procedure\r\nrequires additional steps and will be\r\nslightly longer.\r\n";
inline constexpr char kPasswordHelp[] =
    "This QOR requires a password in order to be\r\nupgraded. If you do not have administrator's\r\nprivileges "
    "for this unit, please contact your\r\nService Provider or network administrator,\r\nbefore "
    "proceeding.\r\n\r\nYou must provide the QOR administrator's\r\npassword to upgrade. If you are the "
    "administrator\r\nand forgot the password, you may perform a\r\nfactory reset by entering * * * *, option "
    "51946#,\r\nand value 1 from a telephone connected to the\r\nunit to be upgraded.\r\n\r\n* * * * * * * * "
    "* * *  Warning  * * * * * * * * * * *\r\nAll settings will revert to default values\r\nafter factory "
    "reset!  You may not be able to\r\nreestablish service after completing this upgrade\r\nwithout first "
    "reentering service configuration\r\ninformation.";
inline constexpr char kDefaultUser[] = "admin";
inline constexpr char kWaitingHelp[] =
    "Firmware upload will begin when the QOR is idle, where the QOR will request to download the firmware "
    "from this PC using TFTP at the first available UDP port starting at port number 69.\r\n\r\nIf firmware "
    "download does not start, please check that you have done the following: a) Hangup properly all the "
    "phones attached to the QOR, b) Disable any firewall software (such as Internet Connection Firewall) on "
    "this PC, and c) Make sure that this PC and the QOR are on the same LAN subnet; it will not work for "
    "example if this PC is behind a router while the QOR is in front of it.";
// The waiting dialog's word when no read request has come long after the trigger (a format: the PC address).
inline constexpr char kWaitingHint[] =
    "Nothing yet? Allow this program if a firewall asks (perhaps behind this window) and check that the "
    "QOR can reach %s.";
inline constexpr char kSuccess[] = "Your QOR has been successfully\r\nupgraded to the version shown\r\nbelow.";
inline constexpr char kAddressHeading[] = "This program will upgrade your QOR\r\nfirmware to:";
inline constexpr char kTargetVersion[] = "Version %s";
inline constexpr char kHandsetAddressHelp[] =
    "To proceed, please provide the IP address\r\nof your QOR. To find out the IP address of\r\nyour QOR, "
    "press the I button on the phone,\r\nselect \"Network\" option, and check the\r\nvalue of \"Current IP\". "
    "For example, 10.1.0.13\r\n\r\nPlease enter IP address of your QOR:";
inline constexpr char kAdapterAddressHelp[] =
    "To proceed, please provide the IP address\r\nof your QOR. To find out the IP address\r\nof your QOR, "
    "using a telephone handset,\r\nenter * * * *, option 110#, and write down\r\nthe value. For example, "
    "10.1.0.123\r\n\r\nPlease enter IP address of your QOR:";
inline constexpr char kInvalidAddress[] = "Invalid IP Address";
inline constexpr char kInvalidAddressCaption[] = "Error";
inline constexpr char kNoLocalAddress[] =
    "This PC has no IPv4 address to offer the QOR.\r\nConnect it to the QOR's network and start again.";

}  // namespace text
