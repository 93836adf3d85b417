#include "mail/SendMailDlg.h"

#include "mail/MimeMailItem.h"
#include "mail/PartHandler.h"
#include "mail/SendProgressDlg.h"
#include "mail/SmtpSession.h"
#include "res/StringTable.h"
#include "ui/DialogBuilder.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>

#include <chrono>
#include <thread>

namespace {

constexpr int IDC_SENDER = 1011;
constexpr int IDC_MESSAGE = 1012;
constexpr int IDC_ATTACHMENT = 1014;
constexpr int IDC_RECEIVER = 1028;
constexpr int IDC_SUBJECT = 1029;

constexpr unsigned IDS_NO_RECEIVER = 133;
constexpr unsigned IDS_NO_SUBJECT = 134;
constexpr unsigned IDS_NO_MESSAGE = 135;
constexpr unsigned IDS_MAIL_SENT = 136;
constexpr unsigned IDS_CONNECT_FAILED = 146;

// The edit box gives line feeds; mail lines end with CR LF (RFC 5322 2.1).
std::string ToMailLines(const QString& text)
{
    QString lines = text;
    lines.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    lines.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    return lines.toStdString();
}

QString FromMailLines(const std::string& text)
{
    QString lines = QString::fromStdString(text);
    lines.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    return lines;
}

} // namespace

CSendMailDlg::CSendMailDlg(QWidget* parent)
    : QDialog(parent)
{
    BuildDialog(*this, IDD_SENDMAIL);
    m_senderEdit = FindControl<QLineEdit>(*this, IDC_SENDER);
    m_receiverEdit = FindControl<QLineEdit>(*this, IDC_RECEIVER);
    m_subjectEdit = FindControl<QLineEdit>(*this, IDC_SUBJECT);
    m_attachmentEdit = FindControl<QLineEdit>(*this, IDC_ATTACHMENT);
    m_messageEdit = FindControl<QPlainTextEdit>(*this, IDC_MESSAGE);
    // OK and Cancel end the dialog through accept() and reject(), once each
    // however many times they are wired.
    connect(FindControl<QPushButton>(*this, IDOK), &QPushButton::clicked, this, &QDialog::accept, Qt::UniqueConnection);
    connect(
        FindControl<QPushButton>(*this, IDCANCEL), &QPushButton::clicked, this, &QDialog::reject, Qt::UniqueConnection);
    // "Attatch a File" (1013) has no action: the path edit names the attachment.
}

void CSendMailDlg::showEvent(QShowEvent* event)
{
    // The dialog opens with what the main window filled in.
    if (!m_shown) {
        m_shown = true;
        DoDataExchange(false);
    }
    QDialog::showEvent(event);
}

void CSendMailDlg::DoDataExchange(bool saveAndValidate)
{
    if (saveAndValidate) {
        m_strMessage = ToMailLines(m_messageEdit->toPlainText());
        m_strReceiver = m_receiverEdit->text().toStdString();
        m_strSender = m_senderEdit->text().toStdString();
        m_strSubject = m_subjectEdit->text().toStdString();
        m_strAttachment = m_attachmentEdit->text().toStdString();
        return;
    }
    m_messageEdit->setPlainText(FromMailLines(m_strMessage));
    m_receiverEdit->setText(QString::fromStdString(m_strReceiver));
    m_senderEdit->setText(QString::fromStdString(m_strSender));
    m_subjectEdit->setText(QString::fromStdString(m_strSubject));
    m_attachmentEdit->setText(QString::fromStdString(m_strAttachment));
}

void CSendMailDlg::ShowMessage(const QString& text)
{
    QMessageBox box(QMessageBox::NoIcon, QCoreApplication::applicationName(), text, QMessageBox::Ok, this);
    box.exec();
}

std::string CSendMailDlg::SendMail()
{
    CMimeMailItem item;
    CSmtpSession session;
    session.SetServer(m_strServer.c_str(), m_port);
    session.SetTimeLimits(std::chrono::milliseconds(m_connectLimitMs), std::chrono::milliseconds(m_replyLimitMs));
    item.SetSender(m_strSender);
    item.ParseRecipientList(m_strReceiver, CMailItem::kTo);
    item.SetSubject(m_strSubject);
    item.SetBody(m_strMessage);
    if (!m_strAttachment.empty())
        item.AttachPart(m_strAttachment, kFilePartId, std::string());

    // The exchange runs on a worker thread; this thread keeps the windows
    // painted and the progress window fed until it is over.
    std::string outcome;
    QEventLoop loop;
    std::thread worker([&] {
        if (!session.OpenSession()) {
            outcome = LoadResString(IDS_CONNECT_FAILED);
        } else {
            outcome = session.SendItem(item) ? LoadResString(IDS_MAIL_SENT) : session.GetErrorText();
            session.CloseSession();
        }
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    worker.join();
    return outcome;
}

void CSendMailDlg::accept()
{
    if (m_sending)
        return;
    DoDataExchange(true);
    const struct {
        const std::string& field;
        unsigned refusal;
    } required[]
        = { { m_strReceiver, IDS_NO_RECEIVER }, { m_strSubject, IDS_NO_SUBJECT }, { m_strMessage, IDS_NO_MESSAGE } };
    for (const auto& check : required) {
        if (check.field.empty()) {
            ShowMessage(QString::fromStdString(LoadResString(check.refusal)));
            return;
        }
    }

    m_sending = true;
    ShowSendProgress(this);
    setEnabled(false);
    const std::string outcome = SendMail();
    CloseSendProgress();
    ShowMessage(QString::fromStdString(outcome));
    setEnabled(true);
    m_sending = false;
    QDialog::accept();
}

void CSendMailDlg::reject()
{
    // A mail on its way cannot be called back; the dialog closes after it.
    if (!m_sending)
        QDialog::reject();
}
