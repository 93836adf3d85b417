#include "update/UpdateDlg.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileInfo>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTextCursor>

#include "res/StringTable.h"
#include "ui/DialogBuilder.h"
#include "ui/UiText.h"

namespace {

} // namespace

CUpdateDlg::CUpdateDlg(QWidget* parent)
    : QDialog(parent)
    , m_session(*this, m_notifier)
{
    BuildDialog(*this, IDD_UPDATE);
    m_serverEdit = FindControl<QLineEdit>(*this, IDC_SERVER_ADDRESS);
    m_logEdit = FindControl<QPlainTextEdit>(*this, IDC_UPDATE_LOG);
    m_versionBar = FindControl<QProgressBar>(*this, IDC_VERSION_BAR);
    m_listBar = FindControl<QProgressBar>(*this, IDC_LIST_BAR);
    m_patchBar = FindControl<QProgressBar>(*this, IDC_PATCH_BAR);
    m_startButton = FindControl<QPushButton>(*this, IDCANCEL);
    m_exitButton = FindControl<QPushButton>(*this, IDOK);

    // A report holds the worker until the log line is written; the end is
    // only posted, and handled after the worker's last report.
    connect(&m_notifier, &CDownloadNotifier::StatusReported, this, &CUpdateDlg::OnDownloadStatus,
        Qt::BlockingQueuedConnection);
    connect(&m_notifier, &CDownloadNotifier::DownloadDone, this, &CUpdateDlg::OnDownloadDone, Qt::QueuedConnection);
    // "Start" carries the cancel id, which the builder ties to reject(); here
    // it starts the check instead. "Exit" keeps the OK id's accept().
    disconnect(m_startButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_startButton, &QPushButton::clicked, this, &CUpdateDlg::OnStartUpdate);

    OnInitDialog();
}

CUpdateDlg::~CUpdateDlg() { StopWorker(); }

void CUpdateDlg::OnInitDialog()
{
    DoDataExchange(false);
    for (QProgressBar* bar : { m_versionBar, m_listBar, m_patchBar }) {
        bar->setRange(0, 100);
        bar->setValue(0);
    }
}

void CUpdateDlg::DoDataExchange(bool saveAndValidate)
{
    if (saveAndValidate)
        m_strServerAddress = m_serverEdit->text().trimmed().toStdString();
    else
        m_serverEdit->setText(QString::fromStdString(m_strServerAddress));
}

void CUpdateDlg::OnStartUpdate()
{
    if (m_session.IsDownloading())
        return;
    DoDataExchange(true);
    m_session.SetServerAddress(m_strServerAddress);
    m_session.OnStartUpdate();
}

void CUpdateDlg::OnDownloadStatus(const DownloadProgress* progress) { m_session.OnDownloadStatus(progress); }

void CUpdateDlg::OnDownloadDone() { m_session.OnDownloadDone(); }

void CUpdateDlg::reject()
{
    // "Start" carries the cancel id but is wired to the check, so only Esc
    // arrives here. While idle it closes the dialog, as "Exit" does; while a
    // run goes on "Exit" is disabled and Esc waits as well.
    if (!m_session.IsDownloading())
        QDialog::reject();
}

void CUpdateDlg::closeEvent(QCloseEvent* event)
{
    event->accept();
    done(QDialog::Rejected);
}

void CUpdateDlg::done(int result)
{
    StopWorker();
    QDialog::done(result);
}

void CUpdateDlg::StopWorker()
{
    if (!m_session.IsDownloading())
        return;
    m_session.Abandon();
    // The worker may be waiting for this thread to take a report; keep taking
    // them until its end has been handled.
    while (m_session.IsDownloading())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void CUpdateDlg::AppendLogText(const std::string& text)
{
    QTextCursor cursor = m_logEdit->textCursor();
    cursor.movePosition(QTextCursor::End);
    m_logEdit->setTextCursor(cursor);
    m_logEdit->ensureCursorVisible();
    cursor.insertText(ToUiText(text));
    m_logEdit->setTextCursor(cursor);
    m_logEdit->ensureCursorVisible();
}

void CUpdateDlg::SetStageProgress(int stage, int position)
{
    QProgressBar* const bars[] = { m_versionBar, m_listBar, m_patchBar };
    if (stage >= 1 && stage <= 3)
        bars[stage - 1]->setValue(position);
}

void CUpdateDlg::EnableUpdateButtons(bool enable)
{
    m_startButton->setEnabled(enable);
    m_exitButton->setEnabled(enable);
}

void CUpdateDlg::ShowErrorMessage(unsigned stringId)
{
    ShowMessage(ToUiText(LoadResString(stringId)), QMessageBox::Ok, QMessageBox::Critical);
}

void CUpdateDlg::ShowSystemError(const std::string& text)
{
    ShowMessage(ToUiText(text), QMessageBox::Ok, QMessageBox::Critical);
}

bool CUpdateDlg::AskYesNo(const std::string& question)
{
    // The question is whether to run a downloaded program: Enter must not say
    // yes to it.
    return ShowMessage(ToUiText(question), QMessageBox::Yes | QMessageBox::No, QMessageBox::Question, QMessageBox::No)
        == QMessageBox::Yes;
}

bool CUpdateDlg::StartProgram(const std::string& path, std::string& error)
{
    QProcess process;
    const QString program = QString::fromStdString(path);
    process.setProgram(program);
    process.setWorkingDirectory(QFileInfo(program).absolutePath());
    if (process.startDetached())
        return true;
    error = process.errorString().toStdString();
    return false;
}

void CUpdateDlg::EndDialog(int result) { done(result); }

QMessageBox::StandardButton CUpdateDlg::ShowMessage(const QString& text, QMessageBox::StandardButtons buttons,
    QMessageBox::Icon icon, QMessageBox::StandardButton defaultButton)
{
    QMessageBox box(icon, QCoreApplication::applicationName(), text, buttons, this);
    if (defaultButton != QMessageBox::NoButton)
        box.setDefaultButton(defaultButton);
    return QMessageBox::StandardButton(box.exec());
}
