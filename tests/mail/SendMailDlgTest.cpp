// The send-mail dialog, offscreen, against a scripted SMTP server and a real
// one (aiosmtpd) for the send that signs in over TLS.

#include "mail/SendMailDlg.h"
#include "mail/SendProgressDlg.h"
#include "support/PythonSmtpServer.h"
#include "support/ScriptedSmtpServer.h"
#include "support/TestCertificates.h"
#include "ui/DialogBuilder.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include <optional>

// The dialog with its message boxes written down instead of shown.
class CTestSendMailDlg : public CSendMailDlg {
public:
    explicit CTestSendMailDlg(int port, int replyLimitMs = 2000)
    {
        m_port = port;
        m_connectLimitMs = 2000;
        m_replyLimitMs = replyLimitMs;
        SetSmtpServer("127.0.0.1");
        SetSender("user@example.com");
    }

    // Signs in as `userName` over STARTTLS, trusting `caFile` alone.
    void UseStartTls(const std::string& userName, const std::string& caFile)
    {
        SetConnection(m_port, SmtpSecurity::StartTls, userName);
        m_caFile = caFile;
    }

    QStringList messages;
    QStringList passwordPrompts;
    std::optional<std::string> typedPassword; // none: the prompt is cancelled

protected:
    void ShowMessage(const QString& text) override { messages << text; }
    bool AskPassword(const QString& prompt, std::string& password) override
    {
        passwordPrompts << prompt;
        if (typedPassword)
            password = *typedPassword;
        return typedPassword.has_value();
    }
};

// Looks at the windows every millisecond while the mail is on its way.
class CSendWatcher {
public:
    explicit CSendWatcher(const QWidget& dialog)
    {
        QObject::connect(&m_timer, &QTimer::timeout, [this, &dialog] {
            if (CSendProgressDlg* progress = SendProgressWindow()) {
                progressText = progress->Text();
                progressPos = progress->Pos();
                fieldsDisabledMeanwhile = !FindControl<QPushButton>(dialog, IDOK)->isEnabled()
                    && !FindControl<QLineEdit>(dialog, 1028)->isEnabled();
                cancelEnabledMeanwhile = FindControl<QPushButton>(dialog, IDCANCEL)->isEnabled();
            }
        });
        m_timer.start(1);
    }

    QString progressText;
    int progressPos = -1;
    bool fieldsDisabledMeanwhile = false;
    bool cancelEnabledMeanwhile = false;

private:
    QTimer m_timer;
};

class SendMailDlgTest : public QObject {
    Q_OBJECT

private:
    // Opens the dialog, types the fields and presses "Send Now" once.
    static int TypeAndSend(CTestSendMailDlg& dialog, const QString& receiver, const QString& subject,
        const QString& message, const QString& sender = QString())
    {
        QTimer::singleShot(0, &dialog, [&] {
            if (!sender.isNull())
                FindControl<QLineEdit>(dialog, 1011)->setText(sender);
            FindControl<QLineEdit>(dialog, 1028)->setText(receiver);
            FindControl<QLineEdit>(dialog, 1029)->setText(subject);
            FindControl<QPlainTextEdit>(dialog, 1012)->setPlainText(message);
            FindControl<QPushButton>(dialog, IDOK)->click();
            // A refused send leaves the dialog open; the test closes it.
            if (dialog.isVisible())
                dialog.done(-1);
        });
        return dialog.DoModal();
    }

private slots:
    void refusesAnEmptyReceiverSubjectOrMessage_data()
    {
        QTest::addColumn<QString>("receiver");
        QTest::addColumn<QString>("subject");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("refusal");
        QTest::newRow("receiver") << ""
                                  << "Hi"
                                  << "Text"
                                  << "Please fill receiver's e-mail address field.";
        QTest::newRow("subject") << "friend@example.com"
                                 << ""
                                 << "Text"
                                 << "Please fill message subject field.";
        QTest::newRow("message") << "friend@example.com"
                                 << "Hi"
                                 << ""
                                 << "Please write down any message.";
    }

    void refusesAnEmptyReceiverSubjectOrMessage()
    {
        QFETCH(QString, receiver);
        QFETCH(QString, subject);
        QFETCH(QString, message);
        QFETCH(QString, refusal);
        CTestSendMailDlg dialog(0);
        QCOMPARE(TypeAndSend(dialog, receiver, subject, message), -1); // still open after the refusal
        QCOMPARE(dialog.messages, QStringList { refusal });
    }

    void sendsTheMailAndReportsSuccess()
    {
        // The last replies come in pieces, slowly enough for the watcher.
        CScriptedSmtpServer server(
            { "220 ready", "250 hi", "250 ok", "250 ok", "250 ok", "354 go", "2|5|0 queued", "221 bye" });
        CTestSendMailDlg dialog(server.Port());
        dialog.SetAttachment(QFINDTESTDATA("SendMailDlgTest.cpp").toStdString());
        CSendWatcher watcher(dialog);
        const int result = TypeAndSend(
            dialog, "friend@example.com;Other <other@example.com>", "Picture", "first line\n.\nlast line");
        QCOMPARE(result, int(QDialog::Accepted));
        QCOMPARE(dialog.messages, QStringList { "Mail has successfully sent." });
        QCOMPARE(watcher.progressText, QStringLiteral("Encoding attachment file....."));
        QCOMPARE(watcher.progressPos, 100);
        QVERIFY(watcher.fieldsDisabledMeanwhile);
        QVERIFY(watcher.cancelEnabledMeanwhile);
        QCOMPARE(SendProgressWindow(), nullptr);
        QVERIFY(dialog.isEnabled());

        const auto& transcript = server.Transcript();
        QVERIFY(transcript.size() > 8);
        QCOMPARE(transcript[5], std::string("C: RCPT TO: <friend@example.com>"));
        QCOMPARE(transcript[7], std::string("C: RCPT TO: <other@example.com>"));
        // The message lines leave as CR LF lines, the lone dot doubled.
        QVERIFY(server.MailData().find("first line\r\n..\r\nlast line\r\n") != std::string::npos);
        QVERIFY(
            server.MailData().find("\r\nTo: <friend@example.com>,Other <other@example.com>\r\n") != std::string::npos);
    }

    void asksForThePasswordAtEachSendWithoutASecretService()
    {
        const CTestCertificates certificates;
        QCOMPARE(QString::fromStdString(certificates.Error()), QString());
        CPythonSmtpServer server({ "--cert", certificates.ServerCertificate(), "--key", certificates.ServerKey(),
            "--starttls", "--require-tls", "--user", "alice", "--password", "s3cret" });
        QVERIFY2(server.Port() != 0, server.StartError().c_str());

        // A cancelled prompt sends nothing and leaves the dialog open.
        {
            CTestSendMailDlg dialog(server.Port());
            dialog.UseStartTls("alice", certificates.CaFile());
            QCOMPARE(TypeAndSend(dialog, "friend@example.com", "Hi", "Text"), -1);
            QCOMPARE(dialog.passwordPrompts, QStringList { "Password of alice on 127.0.0.1:" });
            QCOMPARE(dialog.messages, QStringList());
        }
        // The password typed is used for the send, over TLS.
        CTestSendMailDlg dialog(server.Port());
        dialog.UseStartTls("alice", certificates.CaFile());
        dialog.typedPassword = "s3cret";
        QCOMPARE(TypeAndSend(dialog, "friend@example.com", "Hi", "Text"), int(QDialog::Accepted));
        QCOMPARE(dialog.messages, QStringList { "Mail has successfully sent." });
        QCOMPARE(dialog.passwordPrompts.size(), 1);
        server.Stop();
        QCOMPARE(
            QString::fromStdString(ReadText(server.Folder() + "/auth.txt")), QStringLiteral("PLAIN alice accepted\n"));
    }

    void reportsAServerThatCannotBeReached()
    {
        CRefusingPort refusing;
        CTestSendMailDlg dialog(refusing.Port());
        QCOMPARE(TypeAndSend(dialog, "friend@example.com", "Picture", "Text"), int(QDialog::Accepted));
        QCOMPARE(dialog.messages, QStringList { "Connect Mail Server error.\n\nUnable to connect to server" });
    }

    void cancelEndsAStuckSend()
    {
        // The server takes the connection and never greets.
        CScriptedSmtpServer server({ "<silent>" });
        CTestSendMailDlg dialog(server.Port(), 30'000);
        QTimer::singleShot(300, &dialog, [&] { FindControl<QPushButton>(dialog, IDCANCEL)->click(); });
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(TypeAndSend(dialog, "friend@example.com", "Picture", "Text"), int(QDialog::Rejected));
        QVERIFY2(clock.elapsed() < 3000, "the send ends at once, not after the reply limit");
        QCOMPARE(dialog.messages, QStringList { "Sending the mail was cancelled." });
        QCOMPARE(SendProgressWindow(), nullptr);
    }

    void refusesFieldsThatCannotBeSent_data()
    {
        QTest::addColumn<QString>("sender");
        QTest::addColumn<QString>("receiver");
        QTest::addColumn<QString>("subject");
        QTest::addColumn<QString>("refusal");
        const QString fine = "friend@example.com";
        QTest::newRow("receiver with a command")
            << "user@example.com" << fine + "\nRCPT TO: <extra@example.com>"
            << "Hi"
            << "The receiver's e-mail address field holds a line break or NUL character; please remove it.";
        QTest::newRow("subject with header lines")
            << "user@example.com" << fine << "Hi\r\nBcc: extra@example.com\r\nX-Injected: yes"
            << "The message subject field holds a line break or NUL character; please remove it.";
        QTest::newRow("sender with a NUL")
            << QString("user@example.com") + QChar(0) << fine << "Hi"
            << "The sender's e-mail address field holds a line break or NUL character; please remove it.";
        QTest::newRow("sender without its '>'")
            << "Alice <user@example.com" << fine << "Hi"
            << "The sender's e-mail address field has a '<' without a '>' after it.";
        QTest::newRow("receiver without its '>'")
            << "user@example.com"
            << "friend@example.com;Bob <bob@example.com"
            << "Hi"
            << "The receiver's e-mail address field has a '<' without a '>' after it.";
        QTest::newRow("receiver of separators only") << "user@example.com"
                                                     << " ; ;"
                                                     << "Hi"
                                                     << "Please fill receiver's e-mail address field.";
    }

    void refusesFieldsThatCannotBeSent()
    {
        QFETCH(QString, sender);
        QFETCH(QString, receiver);
        QFETCH(QString, subject);
        QFETCH(QString, refusal);
        // A send that got under way would fail to connect and close the dialog.
        CRefusingPort refusing;
        CTestSendMailDlg dialog(refusing.Port());
        QCOMPARE(TypeAndSend(dialog, receiver, subject, "Text", sender), -1); // still open, nothing lost
        QCOMPARE(dialog.messages, QStringList { refusal });
        QCOMPARE(FindControl<QLineEdit>(dialog, 1028)->text(), receiver);
    }

    void namesTheReceiversTheServerRefused()
    {
        CScriptedSmtpServer server(
            { "220 ready", "250 hi", "250 ok", "550 5.1.1 no such user", "250 ok", "354 go", "250 queued", "221 bye" });
        CTestSendMailDlg dialog(server.Port());
        QCOMPARE(
            TypeAndSend(dialog, "gone@example.com; friend@example.com;", "Picture", "Text"), int(QDialog::Accepted));
        QCOMPARE(dialog.messages,
            QStringList { "Mail has successfully sent.\n\nThe server refused these receivers:\n"
                          "gone@example.com (550 5.1.1 no such user)" });
    }

    void reportsAnAttachmentThatCannotBeRead()
    {
        CScriptedSmtpServer server({ "220 ready", "250 hi", "221 bye" });
        CTestSendMailDlg dialog(server.Port());
        dialog.SetAttachment("/nonexistent/saved.bmp");
        QCOMPARE(TypeAndSend(dialog, "friend@example.com", "Picture", "Text"), int(QDialog::Accepted));
        QCOMPARE(dialog.messages,
            QStringList { "Cannot open the attachment file /nonexistent/saved.bmp: No such file or directory" });
    }
};

int main(int argc, char** argv)
{
    // No secret service: the password is asked for at each send.
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    QApplication application(argc, argv);
    SendMailDlgTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "SendMailDlgTest.moc"
