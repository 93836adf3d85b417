#pragma once

// Numeric ids of the dialogs' controls, shared by the dialog templates
// (res/DialogTemplates.cpp) and the dialogs that find their controls by id.
// Ids are unique within a dialog only, so each name carries its dialog's
// meaning.

// Shared with the platform's conventions.
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
// Labels, lines and frames that no code addresses.
inline constexpr int IDC_STATIC = -1;

// About box.
inline constexpr int IDC_VERSION = 1023;

// Main window.
inline constexpr int IDC_BROWSER = 1000;
inline constexpr int IDC_LOAD_PICTURE = 1001;
inline constexpr int IDC_SAVE_PICTURE = 1002;
inline constexpr int IDC_MESSAGE_GROUP = 1003;
inline constexpr int IDC_SEPARATOR = 1004;
inline constexpr int IDC_MESSAGE = 1005;
inline constexpr int IDC_PROGRAM_OPTION = 1006;
inline constexpr int IDC_SOFTWARE_UPDATE = 1007;
inline constexpr int IDC_HELP_ME = 1008;
inline constexpr int IDC_REVEAL = 1040;
inline constexpr int IDC_HIDE_FILE = 1041;
inline constexpr int IDC_MESSAGE_COUNT = 1042;

// Password prompt.
inline constexpr int IDC_PASSWORD = 1007;
inline constexpr int IDC_PASSWORD_PROMPT = 1009;

// Sealed password prompt.
inline constexpr int IDC_SEALED_PROMPT = 1043;
inline constexpr int IDC_SEALED_PASSWORD = 1044;
inline constexpr int IDC_SEALED_CONFIRM = 1045;
inline constexpr int IDC_SEALED_COST = 1046;
inline constexpr int IDC_SEALED_NOTE = 1047;

// Send-mail dialog.
inline constexpr int IDC_SENDER = 1011;
inline constexpr int IDC_MAIL_TEXT = 1012;
inline constexpr int IDC_ATTACH_FILE = 1013;
inline constexpr int IDC_ATTACHMENT = 1014;
inline constexpr int IDC_RECEIVER = 1028;
inline constexpr int IDC_SUBJECT = 1029;

// Software update dialog.
inline constexpr int IDC_SERVER_ADDRESS = 1001;
inline constexpr int IDC_VERSION_BAR = 1058;
inline constexpr int IDC_LIST_BAR = 1059;
inline constexpr int IDC_PATCH_BAR = 1062;
inline constexpr int IDC_UPDATE_LOG = 2005;

// Log window.
inline constexpr int IDC_LOG_TEXT = 1005;

// Option dialog.
inline constexpr int IDC_SMTP_SERVER = 1015;
inline constexpr int IDC_SEND_AFTER_SAVE = 1016;
inline constexpr int IDC_USER_EMAIL = 1017;
inline constexpr int IDC_DEFAULT_SEALED = 1048;
inline constexpr int IDC_SMTP_PORT = 1080;
inline constexpr int IDC_SMTP_SECURITY = 1081;
inline constexpr int IDC_SMTP_USER = 1082;
inline constexpr int IDC_SMTP_PASSWORD = 1083;
inline constexpr int IDC_PASSWORD_NOTE = 1084;

// Mail progress window.
inline constexpr int IDC_PROGRESS_TEXT = 1009;
inline constexpr int IDC_PROGRESS_BAR = 1019;
