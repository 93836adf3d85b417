#include "ui/DialogBuilder.h"

#include "ui/WebBrowser2.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStringList>

#include <algorithm>

namespace {

constexpr char kControlIdProperty[] = "veilmarkControlId";
constexpr char kBaseUnitXProperty[] = "veilmarkBaseUnitX";
constexpr char kBaseUnitYProperty[] = "veilmarkBaseUnitY";

// Rounds like the platform's MulDiv: a * b / c to the nearest integer.
int MulDiv(int a, int b, int c)
{
    const long long product = static_cast<long long>(a) * b;
    return static_cast<int>((product + (product >= 0 ? c / 2 : -c / 2)) / c);
}

// A multi-line push button breaks its text between words to fit its width.
QString WrapButtonText(const QString& text, const QFontMetrics& metrics, int width)
{
    const QStringList words = text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    QStringList lines;
    QString line;
    for (const QString& word : words) {
        const QString candidate = line.isEmpty() ? word : line + QLatin1Char(' ') + word;
        if (!line.isEmpty() && metrics.horizontalAdvance(candidate) > width) {
            lines << line;
            line = word;
        } else {
            line = candidate;
        }
    }
    if (!line.isEmpty())
        lines << line;
    return lines.join(QLatin1Char('\n'));
}

Qt::ScrollBarPolicy ScrollPolicy(unsigned style, unsigned flag)
{
    return (style & flag) != 0 ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff;
}

QWidget* CreateEdit(const ControlTemplate& control, QDialog& dialog)
{
    const QString text = QString::fromUtf8(control.text);
    if ((control.style & kMultiLine) == 0) {
        auto* edit = new QLineEdit(text, &dialog);
        edit->setFrame((control.style & kBorder) != 0);
        edit->setReadOnly((control.style & kReadOnly) != 0);
        return edit;
    }
    auto* edit = new QPlainTextEdit(text, &dialog);
    edit->setReadOnly((control.style & kReadOnly) != 0);
    if ((control.style & kBorder) == 0)
        edit->setFrameShape(QFrame::NoFrame);
    // Scrolling sideways instead of wrapping, as an edit box with a
    // horizontal scroll bar or horizontal auto-scroll does.
    const bool noWrap = (control.style & (kAutoHScroll | kHScroll)) != 0;
    edit->setLineWrapMode(noWrap ? QPlainTextEdit::NoWrap : QPlainTextEdit::WidgetWidth);
    edit->setHorizontalScrollBarPolicy(ScrollPolicy(control.style, kHScroll));
    edit->setVerticalScrollBarPolicy(ScrollPolicy(control.style, kVScroll));
    edit->setTabChangesFocus(true);
    return edit;
}

QWidget* CreateControl(const ControlTemplate& control, QDialog& dialog, const QRect& rect)
{
    const QString text = QString::fromUtf8(control.text);
    switch (control.kind) {
    case ControlKind::PushButton: {
        auto* button = new QPushButton(&dialog);
        const int textWidth = rect.width() - 2 * button->fontMetrics().averageCharWidth();
        button->setText(
            (control.style & kMultiLine) != 0 ? WrapButtonText(text, button->fontMetrics(), textWidth) : text);
        button->setDefault((control.style & kDefault) != 0);
        return button;
    }
    case ControlKind::Label: {
        auto* label = new QLabel(text, &dialog);
        label->setWordWrap((control.style & kCenterVertical) == 0);
        label->setAlignment(Qt::AlignLeft | ((control.style & kCenterVertical) != 0 ? Qt::AlignVCenter : Qt::AlignTop));
        return label;
    }
    case ControlKind::Edit:
        return CreateEdit(control, dialog);
    case ControlKind::CheckBox:
        return new QCheckBox(text, &dialog);
    case ControlKind::GroupBox:
        return new QGroupBox(text, &dialog);
    case ControlKind::EtchedHorz:
    case ControlKind::EtchedVert:
    case ControlKind::EtchedFrame: {
        auto* frame = new QFrame(&dialog);
        frame->setFrameShape(control.kind == ControlKind::EtchedHorz ? QFrame::HLine
                : control.kind == ControlKind::EtchedVert            ? QFrame::VLine
                                                                     : QFrame::Box);
        frame->setFrameShadow(QFrame::Sunken);
        return frame;
    }
    case ControlKind::GreyRect: {
        auto* band = new QFrame(&dialog);
        band->setAutoFillBackground(true);
        QPalette palette = band->palette();
        palette.setColor(QPalette::Window, palette.color(QPalette::Mid));
        band->setPalette(palette);
        return band;
    }
    case ControlKind::ProgressBar: {
        auto* bar = new QProgressBar(&dialog);
        bar->setRange(0, 100);
        bar->setValue(0);
        bar->setTextVisible(false);
        return bar;
    }
    case ControlKind::Browser:
        return new CWebBrowser2(&dialog);
    }
    return nullptr;
}

bool IsDecoration(ControlKind kind)
{
    return kind == ControlKind::GroupBox || kind == ControlKind::EtchedHorz || kind == ControlKind::EtchedVert
        || kind == ControlKind::EtchedFrame || kind == ControlKind::GreyRect;
}

// An etched line is two pixels thick whatever its template says.
QRect WidenLine(ControlKind kind, QRect rect)
{
    if (kind == ControlKind::EtchedVert && rect.width() < 2)
        rect.setWidth(2);
    if (kind == ControlKind::EtchedHorz && rect.height() < 2)
        rect.setHeight(2);
    return rect;
}

Qt::WindowFlags WindowFlagsFor(const DialogTemplate& dialog)
{
    if ((dialog.style & kDialogFrameOnly) != 0)
        return Qt::Tool | Qt::FramelessWindowHint;
    Qt::WindowFlags flags = (dialog.style & kDialogAppWindow) != 0 ? Qt::Window : Qt::Dialog;
    flags |= Qt::CustomizeWindowHint;
    if ((dialog.style & kDialogCaption) != 0)
        flags |= Qt::WindowTitleHint;
    if ((dialog.style & kDialogSysMenu) != 0)
        flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    return flags;
}

} // namespace

QFont DialogFont() { return QApplication::font(); }

DialogBaseUnits GetDialogBaseUnits(const QFont& font)
{
    // The average width of the 52 Latin letters, rounded, and the font height:
    // the way the platform measures a dialog font.
    const QFontMetrics metrics(font);
    const int width = metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return { (width / 26 + 1) / 2, metrics.height() };
}

QRect MapDialogRect(const QRect& dialogUnits, DialogBaseUnits units)
{
    return QRect(MulDiv(dialogUnits.x(), units.x, 4), MulDiv(dialogUnits.y(), units.y, 8),
        MulDiv(dialogUnits.width(), units.x, 4), MulDiv(dialogUnits.height(), units.y, 8));
}

bool BuildDialog(QDialog& dialog, int templateId)
{
    const DialogTemplate* layout = FindDialogTemplate(templateId);
    if (layout == nullptr)
        return false;

    const QFont font = DialogFont();
    const DialogBaseUnits units = GetDialogBaseUnits(font);
    dialog.setProperty(kBaseUnitXProperty, units.x);
    dialog.setProperty(kBaseUnitYProperty, units.y);
    dialog.setWindowFlags(WindowFlagsFor(*layout));
    dialog.setWindowTitle(QString::fromUtf8(layout->caption));
    dialog.setFont(font);

    const QSize clientSize = MapDialogRect(QRect(0, 0, layout->cx, layout->cy), units).size();
    dialog.resize(clientSize);
    if ((layout->style & kDialogResizable) == 0)
        dialog.setFixedSize(clientSize);

    // Without a default button Enter presses no button at all; Qt would
    // otherwise make the first button the default.
    const bool hasDefaultButton
        = std::any_of(layout->controls.begin(), layout->controls.end(), [](const ControlTemplate& control) {
              return control.kind == ControlKind::PushButton && (control.style & kDefault) != 0;
          });
    QList<QWidget*> decorations;
    for (const ControlTemplate& control : layout->controls) {
        const QRect rect
            = WidenLine(control.kind, MapDialogRect(QRect(control.x, control.y, control.cx, control.cy), units));
        QWidget* widget = CreateControl(control, dialog, rect);
        widget->setProperty(kControlIdProperty, control.id);
        widget->setObjectName(
            control.id == IDC_STATIC ? QStringLiteral("static") : QStringLiteral("control%1").arg(control.id));
        widget->setGeometry(rect);
        widget->setEnabled((control.style & kDisabled) == 0);
        if (auto* button = qobject_cast<QPushButton*>(widget)) {
            button->setAutoDefault(hasDefaultButton);
            // The OK and Cancel ids end the dialog through its (overridable)
            // accept and reject, as the platform's dialogs do.
            if (control.id == IDOK)
                QObject::connect(button, &QPushButton::clicked, &dialog, &QDialog::accept);
            else if (control.id == IDCANCEL)
                QObject::connect(button, &QPushButton::clicked, &dialog, &QDialog::reject);
        }
        if (IsDecoration(control.kind)) {
            // Frames are drawn behind the controls they surround and never
            // take the mouse or the focus from them.
            widget->setAttribute(Qt::WA_TransparentForMouseEvents);
            widget->setFocusPolicy(Qt::NoFocus);
            decorations << widget;
        } else if ((control.style & kTabStop) == 0) {
            widget->setFocusPolicy(control.kind == ControlKind::Edit ? Qt::ClickFocus : Qt::NoFocus);
        }
    }
    for (QWidget* decoration : decorations)
        decoration->lower();
    return true;
}

DialogBaseUnits GetDialogBaseUnits(const QWidget& dialog)
{
    return { dialog.property(kBaseUnitXProperty).toInt(), dialog.property(kBaseUnitYProperty).toInt() };
}

QWidget* FindControl(const QWidget& dialog, int controlId)
{
    const QList<QWidget*> children = dialog.findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    for (QWidget* child : children) {
        const QVariant id = child->property(kControlIdProperty);
        if (id.isValid() && id.toInt() == controlId)
            return child;
    }
    return nullptr;
}

int ControlId(const QWidget& control)
{
    const QVariant id = control.property(kControlIdProperty);
    return id.isValid() ? id.toInt() : IDC_STATIC;
}
