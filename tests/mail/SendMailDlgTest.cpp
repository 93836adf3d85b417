// The send-mail dialog, offscreen, against a scripted SMTP server.

#include "mail/SendMailDlg.h"
#include "ScriptedSmtpServer.h"
#include "mail/SendProgressDlg.h"
#include "ui/DialogBuilder.h"

#include <QApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

// The dialog with its message boxes written down instead of shown.
class CTestSendMailDlg : public CSendMailDlg {
public:
    explicit CTestSendMailDlg(int port)
    {
        m_port = port;
        m_connectLimitMs = 2000;
        m_replyLimitMs = 2000;
        SetSmtpServer("127.0.0.1");
        SetSender("user@example.com");
    }

    QStringList messages;

protected:
    void ShowMessage(const QString& text) override { messages << text; }
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
                dialogDisabledMeanwhile = !dialog.isEnabled();
            }
        });
        m_timer.start(1);
    }

    QString progressText;
    int progressPos = -1;
    bool dialogDisabledMeanwhile = false;

private:
    QTimer m_timer;
};

class SendMailDlgTest : public QObject {
    Q_OBJECT

private:
    // Opens the dialog, types the fields and presses "Send Now" once.
    static int TypeAndSend(
        CTestSendMailDlg& dialog, const QString& receiver, const QString& subject, const QString& message)
    {
        QTimer::singleShot(0, &dialog, [&] {
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
        QVERIFY(watcher.dialogDisabledMeanwhile);
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

    void reportsAServerThatCannotBeReached()
    {
        CRefusingPort refusing;
        CTestSendMailDlg dialog(refusing.Port());
        QCOMPARE(TypeAndSend(dialog, "friend@example.com", "Picture", "Text"), int(QDialog::Accepted));
        QCOMPARE(dialog.messages, QStringList { "Connect Mail Server error." });
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
    QApplication application(argc, argv);
    SendMailDlgTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "SendMailDlgTest.moc"
