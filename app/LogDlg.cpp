#include "app/LogDlg.h"

#include "res/Log.h"
#include "ui/DialogBuilder.h"
#include "ui/ToolWindow.h"

#include <QPainter>
#include <QPlainTextEdit>
#include <QStyle>
#include <QStyleOptionFrame>

#include <utility>

namespace {

CLogDlg* g_pLogWindow = nullptr;

LogSink g_previousSink;

QString LogTextToQString(std::string_view text)
{
    QString converted = QString::fromUtf8(text.data(), qsizetype(text.size()));
    converted.remove(QLatin1Char('\r'));
    return converted;
}

} // namespace

CLogDlg::CLogDlg(QWidget* owner)
    : QDialog(owner)
{
    // Owned by the main window, the window manager keeps it above that window
    // and below the prompts and message boxes owned by the log window itself,
    // while other programs' windows may still come above it.
    BuildDialog(*this, IDD_LOG);
    m_edit = FindControl<QPlainTextEdit>(*this, IDC_LOG_TEXT);
    m_edit->setUndoRedoEnabled(false);
}

void CLogDlg::AppendText(std::string_view text)
{
    // Move the caret to the end first, as a user's selection must not decide
    // where the line goes.
    QTextCursor cursor = m_edit->textCursor();
    cursor.movePosition(QTextCursor::End);
    m_edit->setTextCursor(cursor);
    m_edit->ensureCursorVisible();
    m_edit->insertPlainText(LogTextToQString(text));
    m_edit->ensureCursorVisible();
    if (isVisible())
        repaint();
}

QString CLogDlg::GetText() const { return m_edit->toPlainText(); }

void CLogDlg::paintEvent(QPaintEvent* event)
{
    QDialog::paintEvent(event);
    // A dialog frame: the window has no title bar of its own.
    QPainter painter(this);
    QStyleOptionFrame option;
    option.initFrom(this);
    option.rect = rect();
    option.lineWidth = 2;
    option.midLineWidth = 0;
    option.state |= QStyle::State_Raised;
    option.frameShape = QFrame::WinPanel;
    style()->drawPrimitive(QStyle::PE_Frame, &option, &painter, this);
}

void ShowLogWindow(QWidget* mainWindow)
{
    CloseLogWindow();
    auto* window = new CLogDlg(mainWindow);
    g_pLogWindow = window;
    // The main window takes its owned windows with it when it goes first.
    QObject::connect(window, &QObject::destroyed, [window] {
        if (g_pLogWindow == window) {
            g_pLogWindow = nullptr;
            SetLogSink(std::exchange(g_previousSink, LogSink()));
        }
    });

    CentreOver(*window, mainWindow);
    g_previousSink = SetLogSink([](std::string_view text) {
        if (g_pLogWindow != nullptr)
            g_pLogWindow->AppendText(text);
    });
    // The command keeps the thread busy from here on.
    ShowAndPaint(*window);
}

void CloseLogWindow()
{
    if (g_pLogWindow == nullptr)
        return;
    SetLogSink(std::exchange(g_previousSink, LogSink()));
    CLogDlg* window = std::exchange(g_pLogWindow, nullptr);
    window->hide();
    delete window;
}

CLogDlg* GetLogWindow() { return g_pLogWindow; }
