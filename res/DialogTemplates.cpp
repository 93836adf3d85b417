#include "res/DialogTemplates.h"

#include "res/ControlIds.h"

#include <algorithm>
#include <iterator>

namespace {

using enum ControlKind;

constexpr unsigned kButton = kTabStop;
constexpr unsigned kLineEdit = kAutoHScroll | kBorder | kTabStop;

constexpr ControlTemplate kAboutControls[] = {
    { IDC_STATIC, Label, "Version :", 7, 28, 32, 14, kCenterVertical },
    { IDC_VERSION, Edit, "", 53, 28, 58, 14, kReadOnly | kAutoHScroll | kBorder },
    { IDC_STATIC, EtchedHorz, "", 7, 82, 175, 2, kStyleNone },
    { IDOK, PushButton, "OK", 69, 88, 50, 14, kButton | kDefault },
};

constexpr ControlTemplate kMainControls[] = {
    { IDC_LOAD_PICTURE, PushButton, "Load Picture", 7, 7, 38, 25, kButton | kMultiLine },
    { IDC_SAVE_PICTURE, PushButton, "Save Picture", 7, 36, 38, 25, kButton | kMultiLine | kDisabled },
    { IDC_PROGRAM_OPTION, PushButton, "Program Option", 7, 65, 38, 25, kButton | kMultiLine },
    { IDC_SOFTWARE_UPDATE, PushButton, "S/W Update", 7, 94, 38, 25, kButton | kMultiLine },
    { IDC_MESSAGE, Edit, "", 60, 179, 200, 56,
        kMultiLine | kWantReturn | kAutoHScroll | kHScroll | kVScroll | kBorder | kTabStop },
    { IDC_BROWSER, Browser, "", 54, 7, 213, 157, kTabStop },
    { IDC_MESSAGE_GROUP, GroupBox, "Message", 54, 167, 213, 91, kStyleNone },
    { IDC_SEPARATOR, EtchedVert, "", 49, 7, 1, 251, kStyleNone },
    { IDC_HELP_ME, PushButton, "Help me", 7, 123, 38, 25, kButton | kMultiLine },
    // The sealed format's commands and the count of what the message takes.
    { IDC_REVEAL, PushButton, "Reveal...", 7, 152, 38, 25, kButton | kMultiLine | kDisabled },
    { IDC_HIDE_FILE, PushButton, "Hide a file...", 7, 181, 38, 25, kButton | kMultiLine | kDisabled },
    { IDC_MESSAGE_COUNT, Label, "", 60, 238, 200, 14, kCenterVertical },
};

constexpr ControlTemplate kPasswordControls[] = {
    { IDC_PASSWORD, Edit, "", 7, 58, 173, 14, kLineEdit },
    { IDC_PASSWORD_PROMPT, Edit, "", 7, 7, 173, 45, kReadOnly | kMultiLine | kHScroll | kVScroll | kBorder | kTabStop },
    { IDOK, PushButton, "OK", 41, 77, 50, 14, kButton | kDefault },
    { IDCANCEL, PushButton, "Cancel", 96, 77, 50, 14, kButton },
};

// The password of a sealed message: typed twice when sealing, once when
// opening, with what a guess costs an attacker.
constexpr ControlTemplate kSealedPasswordControls[] = {
    { IDC_SEALED_PASSWORD, Edit, "", 7, 52, 173, 14, kLineEdit },
    { IDC_SEALED_CONFIRM, Edit, "", 7, 70, 173, 14, kLineEdit },
    { IDC_SEALED_PROMPT, Edit, "", 7, 7, 173, 40, kReadOnly | kMultiLine | kVScroll | kBorder | kTabStop },
    { IDC_SEALED_COST, Label, "", 7, 88, 173, 18, kStyleNone },
    { IDC_SEALED_NOTE, Label, "", 7, 107, 173, 10, kStyleNone },
    { IDOK, PushButton, "OK", 41, 121, 50, 14, kButton | kDefault },
    { IDCANCEL, PushButton, "Cancel", 96, 121, 50, 14, kButton },
};

constexpr ControlTemplate kSendMailControls[] = {
    { IDC_STATIC, Label, "Sender e-mail :", 8, 8, 52, 14, kStyleNone },
    { IDC_SENDER, Edit, "", 70, 7, 110, 14, kLineEdit },
    { IDC_STATIC, Label, "Receiver e-mail :", 7, 25, 58, 14, kStyleNone },
    { IDC_RECEIVER, Edit, "", 70, 24, 110, 14, kLineEdit },
    { IDC_STATIC, Label, "Subject :", 7, 41, 32, 14, kStyleNone },
    { IDC_SUBJECT, Edit, "", 41, 41, 139, 14, kLineEdit },
    { IDC_ATTACH_FILE, PushButton, "Attatch a File", 7, 59, 50, 14, kButton },
    { IDC_ATTACHMENT, Edit, "", 60, 59, 120, 14, kLineEdit },
    { IDC_MAIL_TEXT, Edit, "", 7, 77, 173, 77, kMultiLine | kWantReturn | kHScroll | kVScroll | kBorder | kTabStop },
    { IDOK, PushButton, "Send Now", 42, 157, 50, 14, kButton | kDefault },
    { IDCANCEL, PushButton, "Cancel", 96, 157, 50, 14, kButton },
};

constexpr ControlTemplate kUpdateControls[] = {
    { IDC_STATIC, EtchedFrame, "", 8, 10, 211, 42, kStyleNone },
    { IDC_STATIC, Label, "Update server address :", 12, 27, 63, 8, kStyleNone },
    { IDC_SERVER_ADDRESS, Edit, "", 80, 24, 133, 14, kLineEdit },
    { IDC_STATIC, EtchedFrame, "", 8, 59, 211, 68, kStyleNone },
    { IDC_STATIC, Label, "Check update", 12, 73, 60, 8, kStyleNone },
    { IDC_VERSION_BAR, ProgressBar, "", 76, 72, 137, 6, kBorder },
    { IDC_STATIC, Label, "Find an update file", 12, 89, 60, 8, kStyleNone },
    { IDC_LIST_BAR, ProgressBar, "", 76, 88, 137, 6, kBorder },
    { IDC_STATIC, Label, "Receive update file", 12, 105, 61, 8, kStyleNone },
    { IDC_PATCH_BAR, ProgressBar, "", 76, 106, 137, 6, kBorder },
    { IDC_UPDATE_LOG, Edit, "", 8, 135, 211, 76, kReadOnly | kMultiLine | kHScroll | kVScroll | kBorder | kTabStop },
    { IDC_STATIC, EtchedFrame, "", 8, 218, 211, 32, kStyleNone },
    { IDCANCEL, PushButton, "Start", 55, 227, 56, 16, kButton | kDefault },
    { IDOK, PushButton, "Exit", 114, 227, 56, 16, kButton },
};

constexpr ControlTemplate kLogControls[] = {
    { IDC_LOG_TEXT, Edit, "", 7, 7, 221, 109,
        kReadOnly | kMultiLine | kAutoHScroll | kHScroll | kVScroll | kBorder | kTabStop },
};

constexpr ControlTemplate kOptionControls[] = {
    { IDC_STATIC, Label, "Mail (SMTP) Server Address :", 7, 7, 93, 14, kCenterVertical },
    { IDC_SMTP_SERVER, Edit, "", 106, 7, 102, 14, kLineEdit },
    { IDC_STATIC, Label, "Your e-mail address :", 7, 24, 93, 14, kCenterVertical },
    { IDC_USER_EMAIL, Edit, "", 106, 24, 102, 14, kLineEdit },
    { IDC_SEND_AFTER_SAVE, CheckBox, "Send mail after file save", 7, 41, 201, 14, kTabStop },
    // How to reach a mail provider: submission port, encryption, sign-in.
    { IDC_STATIC, Label, "Port :", 7, 58, 24, 14, kCenterVertical },
    { IDC_SMTP_PORT, Edit, "", 33, 58, 36, 14, kLineEdit },
    { IDC_STATIC, Label, "Security :", 78, 58, 36, 14, kCenterVertical },
    { IDC_SMTP_SECURITY, ComboBox, "None\nSTARTTLS\nTLS", 116, 58, 92, 14, kTabStop },
    { IDC_STATIC, Label, "User name :", 7, 75, 93, 14, kCenterVertical },
    { IDC_SMTP_USER, Edit, "", 106, 75, 102, 14, kLineEdit },
    { IDC_STATIC, Label, "Password :", 7, 92, 93, 14, kCenterVertical },
    { IDC_SMTP_PASSWORD, Edit, "", 106, 92, 102, 14, kLineEdit | kPassword },
    { IDC_PASSWORD_NOTE, Label, "", 7, 109, 201, 18, kStyleNone },
    { IDC_DEFAULT_SEALED, CheckBox, "Save in the Sealed format by default", 7, 130, 201, 14, kTabStop },
    { IDC_STATIC, EtchedHorz, "", 7, 148, 201, 1, kStyleNone },
    { IDOK, PushButton, "OK", 56, 157, 50, 14, kButton | kDefault },
    { IDCANCEL, PushButton, "cancel", 109, 157, 50, 14, kButton },
};

constexpr ControlTemplate kSendProgressControls[] = {
    { IDC_STATIC, GreyRect, "", 2, 1, 183, 10, kStyleNone },
    { IDC_PROGRESS_TEXT, Edit, "", 2, 11, 183, 24, kReadOnly | kMultiLine },
    { IDC_PROGRESS_BAR, ProgressBar, "", 2, 35, 183, 6, kSmooth | kBorder },
};

constexpr char kDialogFont[] = "MS Sans Serif";
constexpr char kNewDialogFont[] = "Microsoft Sans Serif";

// Sorted by number.
constexpr DialogTemplate kDialogs[] = {
    { IDD_ABOUTBOX, "About Veilmark", 189, 109, kDialogFont, 8, kDialogCaption | kDialogSysMenu, kAboutControls },
    { IDD_VEILMARK_DIALOG, "Veilmark", 274, 265, kDialogFont, 8,
        kDialogCaption | kDialogSysMenu | kDialogResizable | kDialogAppWindow, kMainControls },
    { IDD_PASSWORD, "Enter a password", 187, 98, kNewDialogFont, 8, kDialogCaption | kDialogSysMenu,
        kPasswordControls },
    { IDD_SENDMAIL, "SendMail", 187, 178, kNewDialogFont, 8, kDialogCaption | kDialogSysMenu, kSendMailControls },
    { IDD_UPDATE, "Software Update", 227, 258, kNewDialogFont, 8, kDialogCaption | kDialogSysMenu, kUpdateControls },
    { IDD_LOG, "", 235, 123, kNewDialogFont, 8, kDialogFrameOnly, kLogControls },
    { IDD_OPTION, "Option", 215, 178, kNewDialogFont, 8, kDialogCaption | kDialogSysMenu, kOptionControls },
    { IDD_SEND_PROGRESS, "", 187, 43, kNewDialogFont, 8, kDialogFrameOnly, kSendProgressControls },
    { IDD_SEALED_PASSWORD, "Enter a password", 187, 142, kNewDialogFont, 8, kDialogCaption | kDialogSysMenu,
        kSealedPasswordControls },
};

static_assert(std::is_sorted(std::begin(kDialogs), std::end(kDialogs),
                  [](const DialogTemplate& a, const DialogTemplate& b) { return a.id < b.id; }),
    "the dialog templates must stay sorted by number");

} // namespace

const DialogTemplate* FindDialogTemplate(int id)
{
    const auto* end = std::end(kDialogs);
    const auto* found = std::lower_bound(
        std::begin(kDialogs), end, id, [](const DialogTemplate& dialog, int key) { return dialog.id < key; });
    return found != end && found->id == id ? found : nullptr;
}

const ControlTemplate* FindControlTemplate(const DialogTemplate& dialog, int controlId)
{
    for (const ControlTemplate& control : dialog.controls) {
        if (control.id == controlId)
            return &control;
    }
    return nullptr;
}
