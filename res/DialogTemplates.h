#pragma once

#include "res/ControlIds.h"

#include <span>

// The program's dialog layouts as plain data: for every dialog its caption,
// size and font, and for every control its numeric id, kind, text, rectangle
// in dialog units and style flags. A GUI builder turns them into real controls;
// dialog units become pixels through the dialog font's base units
// (x * baseX / 4, y * baseY / 8).

// Dialog template numbers.
inline constexpr int IDD_ABOUTBOX = 100;
inline constexpr int IDD_VEILMARK_DIALOG = 102;
inline constexpr int IDD_PASSWORD = 130;
inline constexpr int IDD_SENDMAIL = 131;
inline constexpr int IDD_UPDATE = 160;
inline constexpr int IDD_LOG = 225;
inline constexpr int IDD_OPTION = 226;
inline constexpr int IDD_SEND_PROGRESS = 227;
inline constexpr int IDD_SEALED_PASSWORD = 240;

enum class ControlKind {
    PushButton,
    Label, // static text
    Edit, // single-line or, with kMultiLine, multi-line edit box
    CheckBox, // automatic check box
    GroupBox, // titled frame
    EtchedHorz, // etched horizontal line
    EtchedVert, // etched vertical line
    EtchedFrame, // etched rectangle
    GreyRect, // filled grey band
    ProgressBar,
    Browser, // the HTML view
    ComboBox, // drop-down list; its text holds the items, one a line
};

// Control style flags.
enum ControlStyle : unsigned {
    kStyleNone = 0,
    kTabStop = 1u << 0,
    kDisabled = 1u << 1,
    kDefault = 1u << 2, // push button: the default button
    kMultiLine = 1u << 3, // edit: several lines; push button: text wraps
    kReadOnly = 1u << 4,
    kWantReturn = 1u << 5, // multi-line edit: Enter inserts a line break
    kAutoHScroll = 1u << 6, // edit: scrolls sideways instead of wrapping
    kHScroll = 1u << 7, // horizontal scroll bar
    kVScroll = 1u << 8, // vertical scroll bar
    kBorder = 1u << 9,
    kCenterVertical = 1u << 10, // label: text centred vertically
    kSmooth = 1u << 11, // progress bar: a continuous bar
    kPassword = 1u << 12, // single-line edit: shows dots for what is typed
};

// Dialog style flags.
enum DialogStyle : unsigned {
    kDialogNone = 0,
    kDialogCaption = 1u << 0, // title bar
    kDialogSysMenu = 1u << 1, // window menu and close box
    kDialogResizable = 1u << 2, // sizing border
    kDialogFrameOnly = 1u << 3, // a plain frame, no title bar
    kDialogAppWindow = 1u << 4, // a top-level window of its own in the task bar
};

struct ControlTemplate {
    int id;
    ControlKind kind;
    const char* text;
    int x, y, cx, cy; // dialog units
    unsigned style;
};

struct DialogTemplate {
    int id;
    const char* caption;
    int cx, cy; // dialog units
    const char* fontFace;
    int pointSize;
    unsigned style;
    // In tab order: the order the controls are created and reached by Tab.
    std::span<const ControlTemplate> controls;
};

// The template with the given number, or nullptr.
const DialogTemplate* FindDialogTemplate(int id);

// The control with the given id in a template, or nullptr.
const ControlTemplate* FindControlTemplate(const DialogTemplate& dialog, int controlId);
