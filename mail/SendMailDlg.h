#pragma once

#include "mail/SmtpSecurity.h"

#include <QDialog>

#include <string>

class CSmtpSession;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

// The modal dialog that mails the picture just saved. The main window fills in
// the SMTP server, the sender and the attachment path; the user adds receiver,
// subject and message and presses "Send Now". The mail goes out through one
// SMTP session on a worker thread while the dialog stays painted, its fields
// disabled and Cancel ready to end the send; the outcome is shown in a message
// box and the dialog closes.
class CSendMailDlg : public QDialog {
    Q_OBJECT

public:
    explicit CSendMailDlg(QWidget* parent = nullptr);

    void SetSmtpServer(const std::string& server) { m_strServer = server; }
    void SetSender(const std::string& sender) { m_strSender = sender; }
    void SetAttachment(const std::string& path) { m_strAttachment = path; }
    // How to reach the server. With a user name the session signs in, with
    // the password from the secret service or, failing that, asked for now.
    void SetConnection(int port, SmtpSecurity security, const std::string& userName)
    {
        m_port = port;
        m_security = security;
        m_strSmtpUser = userName;
    }

    int DoModal() { return exec(); }

    // "Send Now".
    void accept() override;
    // "Cancel": closes the dialog, or during a send ends the send.
    void reject() override;

    std::string m_strServer;
    std::string m_strMessage;
    std::string m_strReceiver;
    std::string m_strSender;
    std::string m_strSubject;
    std::string m_strAttachment;

protected:
    void DoDataExchange(bool saveAndValidate);
    void showEvent(QShowEvent* event) override;

    // Shows a message box over the dialog; tests replace it.
    virtual void ShowMessage(const QString& text);
    // Asks for the mail password; false when the user cancels. Tests replace it.
    virtual bool AskPassword(const QString& prompt, std::string& password);

    // Connects, sends and says QUIT; returns the text for the user. The port
    // and time limits are those of CSmtpSession unless a test sets them.
    std::string SendMail();

    int m_port = 25;
    SmtpSecurity m_security = SmtpSecurity::None;
    std::string m_strSmtpUser;
    std::string m_caFile; // empty: the system's certificate store
    int m_connectLimitMs = 30'000;
    int m_replyLimitMs = 60'000;

private:
    // The string id of the refusal for a field that cannot be sent as typed,
    // or 0 when all can.
    unsigned FieldRefusal() const;
    // Every control but Cancel.
    void SetControlsEnabled(bool enabled);
    // The password for the configured user: kept, or asked for.
    bool ObtainPassword();

    bool m_shown = false;
    bool m_sending = false;
    bool m_cancelRequested = false;
    bool m_sendCancelled = false; // written by the worker, read after it ended
    CSmtpSession* m_session = nullptr; // the session of the send under way
    std::string m_password; // held for one send only
    QPushButton* m_cancelButton = nullptr;
    QLineEdit* m_senderEdit = nullptr;
    QLineEdit* m_receiverEdit = nullptr;
    QLineEdit* m_subjectEdit = nullptr;
    QLineEdit* m_attachmentEdit = nullptr;
    QPlainTextEdit* m_messageEdit = nullptr;
};
