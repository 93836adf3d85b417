#include "ui/DialogBuilder.h"

#include "ui/WebBrowser2.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QFontMetrics>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStringList>
#include <QStyle>
#include <QStyleOptionButton>

#include <algorithm>
#include <cmath>
#include <utility>

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
        if ((control.style & kPassword) != 0)
            edit->setEchoMode(QLineEdit::Password);
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

// A push button that Enter presses while it has the focus, as Space does,
// also in a dialog without a default button (where Qt leaves Enter alone).
class CDialogButton : public QPushButton {
public:
    using QPushButton::QPushButton;

protected:
    void keyPressEvent(QKeyEvent* event) override
    {
        const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
        if (enter && !autoDefault() && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
            if (!event->isAutoRepeat())
                click();
            event->accept();
            return;
        }
        QPushButton::keyPressEvent(event);
    }
};

QWidget* CreateControl(const ControlTemplate& control, QDialog& dialog)
{
    const QString text = QString::fromUtf8(control.text);
    switch (control.kind) {
    case ControlKind::PushButton: {
        auto* button = new CDialogButton(text, &dialog);
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
    case ControlKind::ComboBox: {
        auto* box = new QComboBox(&dialog);
        box->addItems(text.split(QLatin1Char('\n'), Qt::SkipEmptyParts));
        return box;
    }
    }
    return nullptr;
}

// The width in pixels a control needs to show its whole text on one line, or 0
// when its text may wrap or it shows none.
int RequiredWidth(const ControlTemplate& control, QWidget& widget)
{
    const QFontMetrics metrics = widget.fontMetrics();
    if (auto* label = qobject_cast<QLabel*>(&widget)) {
        if (label->text().isEmpty())
            return 0;
        return metrics.horizontalAdvance(label->text()) + 2 * (label->margin() + label->frameWidth());
    }
    if (auto* box = qobject_cast<QCheckBox*>(&widget))
        return box->text().isEmpty() ? 0 : box->sizeHint().width();
    if (auto* button = qobject_cast<QPushButton*>(&widget)) {
        if ((control.style & kMultiLine) != 0 || button->text().isEmpty())
            return 0;
        // What the style keeps around the label: frame, margins and the
        // default indicator.
        QStyleOptionButton option;
        option.initFrom(button);
        option.rect = QRect(0, 0, 1000, 100);
        option.text = button->text();
        if (button->autoDefault())
            option.features |= QStyleOptionButton::AutoDefaultButton;
        const int room = button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button).width();
        return metrics.horizontalAdvance(button->text()) + option.rect.width() - room;
    }
    if (auto* edit = qobject_cast<QPlainTextEdit*>(&widget)) {
        // A text that scrolls sideways instead of wrapping must show its
        // longest line whole.
        if (edit->lineWrapMode() != QPlainTextEdit::NoWrap || edit->toPlainText().isEmpty())
            return 0;
        int longest = 0;
        const QStringList lines = edit->toPlainText().split(QLatin1Char('\n'));
        for (const QString& line : lines)
            longest = std::max(longest, metrics.horizontalAdvance(line));
        const int scrollBar = edit->verticalScrollBarPolicy() == Qt::ScrollBarAlwaysOn
            ? edit->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, edit)
            : 0;
        return longest + 2 * int(std::ceil(edit->document()->documentMargin())) + 2 * edit->frameWidth()
            + edit->cursorWidth() + scrollBar;
    }
    return 0;
}

// The platform's base units come from the average letter, which suits the
// font the templates were drawn with; a wider desktop font would clip texts
// that filled their controls there. The horizontal unit grows until every
// text fits, so the dialog keeps its shape and only becomes wider.
DialogBaseUnits FitBaseUnits(DialogBaseUnits units, const QList<std::pair<const ControlTemplate*, QWidget*>>& controls)
{
    const int limit = 4 * std::max(units.x, 1);
    for (const auto& [control, widget] : controls) {
        const int required = RequiredWidth(*control, *widget);
        while (units.x < limit && MapDialogRect(QRect(0, 0, control->cx, 0), units).width() < required)
            ++units.x;
    }
    return units;
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

bool BuildDialog(QDialog& dialog, int templateId, const QList<ControlText>& contents)
{
    const DialogTemplate* layout = FindDialogTemplate(templateId);
    if (layout == nullptr)
        return false;

    const QFont font = DialogFont();
    dialog.setWindowFlags(WindowFlagsFor(*layout));
    dialog.setWindowTitle(QString::fromUtf8(layout->caption));
    dialog.setFont(font);

    // Without a default button Enter presses no button at all; Qt would
    // otherwise make the first button the default.
    const bool hasDefaultButton
        = std::any_of(layout->controls.begin(), layout->controls.end(), [](const ControlTemplate& control) {
              return control.kind == ControlKind::PushButton && (control.style & kDefault) != 0;
          });
    QList<std::pair<const ControlTemplate*, QWidget*>> controls;
    for (const ControlTemplate& control : layout->controls) {
        QWidget* widget = CreateControl(control, dialog);
        widget->setProperty(kControlIdProperty, control.id);
        widget->setObjectName(
            control.id == IDC_STATIC ? QStringLiteral("static") : QStringLiteral("control%1").arg(control.id));
        widget->setEnabled((control.style & kDisabled) == 0);
        if (auto* button = qobject_cast<QPushButton*>(widget))
            button->setAutoDefault(hasDefaultButton);
        for (const ControlText& content : contents) {
            if (content.controlId != control.id)
                continue;
            if (auto* edit = qobject_cast<QPlainTextEdit*>(widget))
                edit->setPlainText(content.text);
            else if (auto* line = qobject_cast<QLineEdit*>(widget))
                line->setText(content.text);
            else if (auto* label = qobject_cast<QLabel*>(widget))
                label->setText(content.text);
        }
        controls.append({ &control, widget });
    }

    const DialogBaseUnits units = FitBaseUnits(GetDialogBaseUnits(font), controls);
    dialog.setProperty(kBaseUnitXProperty, units.x);
    dialog.setProperty(kBaseUnitYProperty, units.y);
    const QSize clientSize = MapDialogRect(QRect(0, 0, layout->cx, layout->cy), units).size();
    dialog.resize(clientSize);
    if ((layout->style & kDialogResizable) == 0)
        dialog.setFixedSize(clientSize);

    QList<QWidget*> decorations;
    for (const auto& [control, widget] : controls) {
        const QRect rect
            = WidenLine(control->kind, MapDialogRect(QRect(control->x, control->y, control->cx, control->cy), units));
        widget->setGeometry(rect);
        if (auto* button = qobject_cast<QPushButton*>(widget)) {
            if ((control->style & kMultiLine) != 0) {
                const QFontMetrics metrics = button->fontMetrics();
                button->setText(WrapButtonText(button->text(), metrics, rect.width() - 2 * metrics.averageCharWidth()));
            }
            // The OK and Cancel ids end the dialog through its (overridable)
            // accept and reject, as the platform's dialogs do.
            if (control->id == IDOK)
                QObject::connect(button, &QPushButton::clicked, &dialog, &QDialog::accept);
            else if (control->id == IDCANCEL)
                QObject::connect(button, &QPushButton::clicked, &dialog, &QDialog::reject);
        }
        if (IsDecoration(control->kind)) {
            // Frames are drawn behind the controls they surround and never
            // take the mouse or the focus from them.
            widget->setAttribute(Qt::WA_TransparentForMouseEvents);
            widget->setFocusPolicy(Qt::NoFocus);
            decorations << widget;
        } else if ((control->style & kTabStop) == 0) {
            widget->setFocusPolicy(control->kind == ControlKind::Edit ? Qt::ClickFocus : Qt::NoFocus);
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
