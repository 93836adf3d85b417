// The option dialog and the settings behind it, offscreen, with the user's
// configuration in a temporary folder.

#include "app/OptionDlg.h"
#include "app/Settings.h"
#include "ui/DialogBuilder.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <cstdint>
#include <functional>

class OptionDlgTest : public QObject {
    Q_OBJECT

public:
    explicit OptionDlgTest(QString configHome)
        : m_configHome(std::move(configHome))
    {
    }

private:
    // Runs the option command with `edit` acting on the open dialog.
    OptionResult RunOptions(const std::function<void(COptionDlg&)>& edit, MailSettings& settings)
    {
        COptionDlg dialog;
        QTimer::singleShot(0, &dialog, [&] { edit(dialog); });
        // A failed check inside `edit` leaves the dialog open; close it then.
        QTimer::singleShot(5000, &dialog, &COptionDlg::reject);
        return EditProgramOptions(dialog, settings);
    }

    static QLineEdit* ServerEdit(COptionDlg& dialog) { return FindControl<QLineEdit>(dialog, 1015); }
    static QLineEdit* EmailEdit(COptionDlg& dialog) { return FindControl<QLineEdit>(dialog, 1017); }
    static QCheckBox* SendBox(COptionDlg& dialog) { return FindControl<QCheckBox>(dialog, 1016); }
    static void Press(COptionDlg& dialog, int id) { FindControl<QPushButton>(dialog, id)->click(); }

    // What another tool sees in the settings file.
    static QVariant Stored(const QString& name)
    {
        QSettings settings(QStringLiteral("Norvanta"), QStringLiteral("Veilmark"));
        return settings.value(QStringLiteral("Option/") + name);
    }
    static void StoreAsAnotherTool(const QString& name, const QVariant& value)
    {
        QSettings settings(QStringLiteral("Norvanta"), QStringLiteral("Veilmark"));
        settings.setValue(QStringLiteral("Option/") + name, value);
    }

    QString m_configHome;

private slots:
    void init()
    {
        const QString store = m_configHome + QStringLiteral("/Norvanta");
        QFile::remove(store);
        QDir(store).removeRecursively();
    }

    void freshConfigurationShowsPlaceholdersAndOkWritesAllThree()
    {
        MailSettings written;
        const OptionResult result = RunOptions(
            [](COptionDlg& dialog) {
                QCOMPARE(ServerEdit(dialog)->text(), QStringLiteral("mail.example.com"));
                QCOMPARE(EmailEdit(dialog)->text(), QStringLiteral("user@example.com"));
                QVERIFY(!SendBox(dialog)->isChecked());
                ServerEdit(dialog)->setText(QStringLiteral("smtp.example.org"));
                SendBox(dialog)->setChecked(true);
                Press(dialog, IDOK);
            },
            written);
        QCOMPARE(result, OptionResult::Saved);
        QCOMPARE(written.smtpServer, std::string("smtp.example.org"));
        QCOMPARE(written.userEmail, std::string("user@example.com"));
        QVERIFY(written.sendAfterSave);

        QCOMPARE(Stored(QStringLiteral("SMTPServerAddress")).toString(), QStringLiteral("smtp.example.org"));
        QCOMPARE(Stored(QStringLiteral("UserEmailAddress")).toString(), QStringLiteral("user@example.com"));
        std::uint32_t flag = 0;
        unsigned size = sizeof flag;
        unsigned type = kRegNone;
        QCOMPARE(RegReadValue(kOptionSubKey, "SendAfterSave", &type, &flag, &size), 0);
        QCOMPARE(type, kRegDword);
        QCOMPARE(flag, 0xFFFFFFFFu);

        // The next dialog opens with what was stored.
        MailSettings unused;
        RunOptions(
            [](COptionDlg& dialog) {
                QCOMPARE(ServerEdit(dialog)->text(), QStringLiteral("smtp.example.org"));
                QVERIFY(SendBox(dialog)->isChecked());
                Press(dialog, IDCANCEL);
            },
            unused);
    }

    void cancelChangesNothing()
    {
        StoreAsAnotherTool(QStringLiteral("SMTPServerAddress"), QStringLiteral("old.example.com"));
        MailSettings settings { "main window copy", "copy@example.com", false };
        const OptionResult result = RunOptions(
            [](COptionDlg& dialog) {
                ServerEdit(dialog)->setText(QStringLiteral("new.example.com"));
                SendBox(dialog)->setChecked(true);
                Press(dialog, IDCANCEL);
            },
            settings);
        QCOMPARE(result, OptionResult::Cancelled);
        QCOMPARE(settings.smtpServer, std::string("main window copy"));
        QCOMPARE(Stored(QStringLiteral("SMTPServerAddress")).toString(), QStringLiteral("old.example.com"));
        QVERIFY(!Stored(QStringLiteral("SendAfterSave")).isValid());
    }

    void valuesStoredByAnotherToolAreReadWithinTheirLimits()
    {
        StoreAsAnotherTool(QStringLiteral("SMTPServerAddress"), QString(600, QLatin1Char('s')));
        StoreAsAnotherTool(QStringLiteral("UserEmailAddress"), QString(511, QLatin1Char('u')));
        StoreAsAnotherTool(QStringLiteral("SendAfterSave"), 1);
        const MailSettings settings = ReadMailSettings();
        QCOMPARE(settings.smtpServer, std::string("mail.example.com"));
        QCOMPARE(settings.userEmail, std::string(511, 'u'));
        QVERIFY(settings.sendAfterSave);

        COptionDlg dialog;
        QCOMPARE(ServerEdit(dialog)->text(), QStringLiteral("mail.example.com"));
        QCOMPARE(EmailEdit(dialog)->text().size(), 511);
        QVERIFY(SendBox(dialog)->isChecked());

        StoreAsAnotherTool(QStringLiteral("SendAfterSave"), 0);
        QVERIFY(!ReadMailSettings().sendAfterSave);
    }

    void readValueReportsSizesAndMissingValues()
    {
        char buffer[8] = {};
        unsigned size = sizeof buffer;
        QCOMPARE(RegReadValue(kOptionSubKey, "SMTPServerAddress", nullptr, buffer, &size), -1);
        QCOMPARE(RegWriteString(kOptionSubKey, "SMTPServerAddress", "mail.example.net"), 0);
        QCOMPARE(RegReadValue(kOptionSubKey, "UserEmailAddress", nullptr, buffer, &size), -2);

        QCOMPARE(RegReadValue(kOptionSubKey, "SMTPServerAddress", nullptr, buffer, &size), 1);
        QCOMPARE(size, 17u); // the text and its terminating zero
        size = 0;
        QCOMPARE(RegReadValue(kOptionSubKey, "SMTPServerAddress", nullptr, nullptr, &size), 2);
        QCOMPARE(size, 17u);
    }

    void connectionFieldsAreStoredBesideTheOthersAndThePasswordNever()
    {
        MailSettings written;
        const OptionResult result = RunOptions(
            [](COptionDlg& dialog) {
                auto* port = FindControl<QLineEdit>(dialog, IDC_SMTP_PORT);
                auto* security = FindControl<QComboBox>(dialog, IDC_SMTP_SECURITY);
                auto* user = FindControl<QLineEdit>(dialog, IDC_SMTP_USER);
                auto* password = FindControl<QLineEdit>(dialog, IDC_SMTP_PASSWORD);
                QCOMPARE(port->text(), QStringLiteral("25"));
                QCOMPARE(security->currentText(), QStringLiteral("None"));
                QCOMPARE(security->count(), 3);
                QCOMPARE(user->text(), QString());
                QCOMPARE(password->echoMode(), QLineEdit::Password);
                // No secret service runs here: the box is off and says why.
                QVERIFY(!dialog.CanKeepPassword());
                QVERIFY(!password->isEnabled());
                QVERIFY(FindControl<QLabel>(dialog, IDC_PASSWORD_NOTE)
                            ->text()
                            .startsWith(QStringLiteral("No secret service is running")));
                port->setText(QStringLiteral("587"));
                security->setCurrentText(QStringLiteral("STARTTLS"));
                user->setText(QStringLiteral("0042"));
                password->setText(QStringLiteral("hunter2-secret"));
                Press(dialog, IDOK);
            },
            written);
        QCOMPARE(result, OptionResult::Saved);
        QCOMPARE(written.smtpPort, 587);
        QCOMPARE(written.smtpSecurity, SmtpSecurity::StartTls);
        QCOMPARE(written.smtpUserName, std::string("0042"));

        QCOMPARE(Stored(QStringLiteral("SMTPPort")).toInt(), 587);
        QCOMPARE(Stored(QStringLiteral("SMTPSecurity")).toString(), QStringLiteral("STARTTLS"));
        QCOMPARE(Stored(QStringLiteral("SMTPServerAddress")).toString(), QStringLiteral("mail.example.com"));
        QFile file(QSettings(QStringLiteral("Norvanta"), QStringLiteral("Veilmark")).fileName());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(!file.readAll().contains("hunter2"));

        const MailSettings read = ReadMailSettings();
        QCOMPARE(read.smtpUserName, std::string("0042")); // a user name of digits stays a text
        MailSettings unused;
        RunOptions(
            [](COptionDlg& dialog) {
                QCOMPARE(FindControl<QLineEdit>(dialog, IDC_SMTP_PORT)->text(), QStringLiteral("587"));
                QCOMPARE(FindControl<QComboBox>(dialog, IDC_SMTP_SECURITY)->currentText(), QStringLiteral("STARTTLS"));
                QCOMPARE(FindControl<QLineEdit>(dialog, IDC_SMTP_USER)->text(), QStringLiteral("0042"));
                QCOMPARE(FindControl<QLineEdit>(dialog, IDC_SMTP_PASSWORD)->text(), QString());
                Press(dialog, IDCANCEL);
            },
            unused);

        // Values no dialog would write fall back to plain SMTP on port 25.
        StoreAsAnotherTool(QStringLiteral("SMTPPort"), 70000);
        StoreAsAnotherTool(QStringLiteral("SMTPSecurity"), QStringLiteral("SSL3"));
        QCOMPARE(ReadMailSettings().smtpPort, 25);
        QCOMPARE(ReadMailSettings().smtpSecurity, SmtpSecurity::None);
    }

    void aFailedWriteIsReported()
    {
        // A file where the settings folder belongs cannot be replaced, not
        // even by the superuser.
        QFile blocker(m_configHome + QStringLiteral("/Norvanta"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        MailSettings settings { "main window copy", "copy@example.com", false };
        const OptionResult result = RunOptions([](COptionDlg& dialog) { Press(dialog, IDOK); }, settings);
        QCOMPARE(result, OptionResult::SaveFailed);
        QCOMPARE(settings.smtpServer, std::string("main window copy"));
        QCOMPARE(RegWriteDword(kOptionSubKey, "SendAfterSave", 0), -1);
    }
};

int main(int argc, char** argv)
{
    QTemporaryDir configHome;
    qputenv("XDG_CONFIG_HOME", configHome.path().toUtf8());
    // No secret service: the password box is the one of a desktop without it.
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    QApplication application(argc, argv);
    OptionDlgTest test(configHome.path());
    return QTest::qExec(&test, argc, argv);
}

#include "OptionDlgTest.moc"
