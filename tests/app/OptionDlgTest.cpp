// The option dialog and the settings behind it, offscreen, with the user's
// configuration in a temporary folder.

#include "app/OptionDlg.h"
#include "app/Settings.h"
#include "ui/DialogBuilder.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
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
    QApplication application(argc, argv);
    OptionDlgTest test(configHome.path());
    return QTest::qExec(&test, argc, argv);
}

#include "OptionDlgTest.moc"
