#include "mail/SendMailDlg.h"

#include "mail/MailPasswordStore.h"
#include "mail/MimeMailItem.h"
#include "mail/PartHandler.h"
#include "mail/SendProgressDlg.h"
#include "mail/SmtpSession.h"
#include "res/StringIds.h"
#include "res/StringTable.h"
#include "ui/DialogBuilder.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>

#include <chrono>
#include <thread>

namespace {

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

bool BreaksLine(const std::string& text) { return text.find_first_of(std::string("\r\n\0", 3)) != std::string::npos; }

// The refused receivers, one a line with the server's answer, after `outcome`.
std::string WithRefusedRecipients(std::string outcome, const CSmtpSession& session)
{
    if (session.RefusedRecipients().empty())
        return outcome;
    outcome += "\r\n\r\n" + LoadResString(IDS_RECEIVERS_REFUSED);
    for (const auto& [address, reply] : session.RefusedRecipients())
        outcome += "\r\n" + address + " (" + reply + ")";
    return outcome;
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
    m_messageEdit = FindControl<QPlainTextEdit>(*this, IDC_MAIL_TEXT);
    // OK and Cancel end the dialog through accept() and reject(), once each
    // however many times they are wired.
    connect(FindControl<QPushButton>(*this, IDOK), &QPushButton::clicked, this, &QDialog::accept, Qt::UniqueConnection);
    m_cancelButton = FindControl<QPushButton>(*this, IDCANCEL);
    connect(m_cancelButton, &QPushButton::clicked, this, &QDialog::reject, Qt::UniqueConnection);
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

bool CSendMailDlg::AskPassword(const QString& prompt, std::string& password)
{
    bool ok = false;
    const QString text = QInputDialog::getText(this, QString::fromStdString(LoadResString(IDS_MAIL_PASSWORD_TITLE)),
        prompt, QLineEdit::Password, QString(), &ok);
    if (ok)
        password = text.toStdString();
    return ok;
}

bool CSendMailDlg::ObtainPassword()
{
    m_password.clear();
    if (m_strSmtpUser.empty())
        return true;
    CMailPasswordStore store;
    if (store.Read(m_strServer, m_strSmtpUser, m_password) == CMailPasswordStore::Result::Ok)
        return true;
    // Without a secret service, or without a password kept in it.
    const QString prompt
        = QString::fromStdString(FormatResString(IDS_ASK_MAIL_PASSWORD, m_strSmtpUser.c_str(), m_strServer.c_str()));
    return AskPassword(prompt, m_password);
}

unsigned CSendMailDlg::FieldRefusal() const
{
    // A line break would end a header line or a command early and let the
    // rest pass as lines of its own.
    if (BreaksLine(m_strSender))
        return IDS_SENDER_BREAKS_LINE;
    if (BreaksLine(m_strReceiver))
        return IDS_RECEIVER_BREAKS_LINE;
    if (BreaksLine(m_strSubject))
        return IDS_SUBJECT_BREAKS_LINE;
    CMailItem probe;
    probe.SetSender(m_strSender);
    if (!m_strSender.empty() && probe.SenderAddress().empty())
        return IDS_SENDER_UNCLOSED;
    if (!probe.ParseRecipientList(m_strReceiver, CMailItem::kTo))
        return IDS_RECEIVER_UNCLOSED;
    if (probe.RecipientCount(CMailItem::kTo) == 0)
        return IDS_NO_RECEIVER;
    return 0;
}

void CSendMailDlg::SetControlsEnabled(bool enabled)
{
    // Cancel stays usable throughout: it ends a send that is under way.
    for (QWidget* control : findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (control != m_cancelButton)
            control->setEnabled(enabled);
    }
}

std::string CSendMailDlg::SendMail()
{
    CMimeMailItem item;
    CSmtpSession session;
    session.SetServer(m_strServer.c_str(), m_port);
    session.SetTimeLimits(std::chrono::milliseconds(m_connectLimitMs), std::chrono::milliseconds(m_replyLimitMs));
    session.SetSecurity(m_security);
    session.SetCredentials(m_strSmtpUser, m_password);
    session.SetCaFile(m_caFile);
    item.SetSender(m_strSender);
    item.ParseRecipientList(m_strReceiver, CMailItem::kTo);
    item.SetSubject(m_strSubject);
    item.SetBody(m_strMessage);
    if (!m_strAttachment.empty())
        item.AttachPart(m_strAttachment, kFilePartId, std::string());

    // The exchange runs on a worker thread; this thread keeps the windows
    // painted, the progress window fed and Cancel working until it is over.
    std::string outcome;
    QEventLoop loop;
    m_session = &session;
    if (m_cancelRequested)
        session.Cancel();
    std::thread worker([&] {
        // A cancel that comes after the mail was accepted changes nothing.
        if (!session.OpenSession()) {
            m_sendCancelled = session.IsCancelled();
            outcome = m_sendCancelled ? LoadResString(IDS_SEND_CANCELLED)
                                      : LoadResString(IDS_CONNECT_FAILED) + "\r\n\r\n" + session.GetErrorText();
        } else {
            if (session.SendItem(item))
                outcome = WithRefusedRecipients(LoadResString(IDS_MAIL_SENT), session);
            else if ((m_sendCancelled = session.IsCancelled()))
                outcome = LoadResString(IDS_SEND_CANCELLED);
            else
                outcome = WithRefusedRecipients(session.GetErrorText(), session);
            session.CloseSession();
        }
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    worker.join();
    m_session = nullptr;
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
    if (const unsigned refusal = FieldRefusal(); refusal != 0) {
        ShowMessage(FromMailLines(LoadResString(refusal)));
        return;
    }
    // A cancelled password prompt sends nothing and keeps what was typed.
    if (!ObtainPassword())
        return;

    m_sending = true;
    m_cancelRequested = false;
    m_sendCancelled = false;
    ShowSendProgress(this);
    SetControlsEnabled(false);
    const std::string outcome = SendMail();
    m_password.assign(m_password.size(), '\0');
    m_password.clear();
    CloseSendProgress();
    ShowMessage(FromMailLines(outcome));
    SetControlsEnabled(true);
    m_cancelButton->setEnabled(true);
    m_sending = false;
    // A cancelled send closes the dialog as Cancel does; any other outcome
    // closes it as "Send Now" does.
    if (m_sendCancelled)
        QDialog::reject();
    else
        QDialog::accept();
}

void CSendMailDlg::reject()
{
    if (!m_sending) {
        QDialog::reject();
        return;
    }
    // During a send Cancel ends the exchange at once; accept() reports it and
    // closes the dialog when the worker has stopped.
    m_cancelRequested = true;
    m_cancelButton->setEnabled(false);
    if (m_session)
        m_session->Cancel();
}
