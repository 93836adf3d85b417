#include "mail/SendProgressDlg.h"

#include "mail/SendProgress.h"
#include "ui/DialogBuilder.h"
#include "ui/ToolWindow.h"

#include <QCoreApplication>
#include <QPlainTextEdit>
#include <QProgressBar>

namespace {

CSendProgressDlg* g_pSendProgress = nullptr;

} // namespace

CSendProgressDlg::CSendProgressDlg()
    : QDialog(nullptr)
{
    BuildDialog(*this, IDD_SEND_PROGRESS);
    setWindowFlag(Qt::WindowStaysOnTopHint);
    m_textEdit = FindControl<QPlainTextEdit>(*this, IDC_PROGRESS_TEXT);
    m_progress = FindControl<QProgressBar>(*this, IDC_PROGRESS_BAR);
    m_progress->setRange(0, 100);
    m_progress->setValue(0);
}

void CSendProgressDlg::DoDataExchange(bool saveAndValidate)
{
    if (saveAndValidate)
        m_strText = m_textEdit->toPlainText().toStdString();
    else
        m_textEdit->setPlainText(QString::fromStdString(m_strText));
}

void CSendProgressDlg::SetText(const std::string& text)
{
    m_strText = text;
    DoDataExchange(false);
    repaint();
}

void CSendProgressDlg::SetPos(int percent) { m_progress->setValue(percent); }

QString CSendProgressDlg::Text() const { return m_textEdit->toPlainText(); }

int CSendProgressDlg::Pos() const { return m_progress->value(); }

void ShowSendProgress(QWidget* window)
{
    CloseSendProgress();
    auto* progress = new CSendProgressDlg;
    g_pSendProgress = progress;

    if (window != nullptr)
        CentreOver(*progress, window);
    ShowAndPaint(*progress);

    // The encoder may report from the thread that runs the mail session; the
    // values are handed to the application's thread and reach the window that
    // is shown by then, if any.
    SetSendProgressSink({ [](const std::string& text) {
                             QMetaObject::invokeMethod(QCoreApplication::instance(), [text] {
                                 if (CSendProgressDlg* window = SendProgressWindow())
                                     window->SetText(text);
                             });
                         },
        [](int percent) {
            QMetaObject::invokeMethod(QCoreApplication::instance(), [percent] {
                if (CSendProgressDlg* window = SendProgressWindow())
                    window->SetPos(percent);
            });
        } });
}

void CloseSendProgress()
{
    if (g_pSendProgress == nullptr)
        return;
    SetSendProgressSink({});
    delete g_pSendProgress;
    g_pSendProgress = nullptr;
}

CSendProgressDlg* SendProgressWindow() { return g_pSendProgress; }
