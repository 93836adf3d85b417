// Page templates in the program folder, as the load and save commands use them.

#include "support/GuiTestSupport.h"

#include "app/VeilmarkDlg.h"
#include "ui/WebBrowser2.h"

#include <QPlainTextEdit>
#include <QPushButton>

#include <memory>

class TemplateTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_home;
    QTemporaryDir m_work;

private slots:
    void initTestCase()
    {
        QVERIFY(m_home.isValid() && m_work.isValid());
        UsePrivateUserFolders(m_home);
    }

    void templatesReplaceTheirTokens_data()
    {
        QTest::addColumn<QString>("extension");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("ownToken");
        QTest::addColumn<QString>("otherToken");
        QTest::addColumn<QString>("secretText");
        QTest::newRow("bmp") << "bmp"
                             << "BMP"
                             << "%SECRETBMP%"
                             << "%SECRETJPG%"
                             << "Normal BMP";
        QTest::newRow("jpeg") << "jpg"
                              << "JPG"
                              << "%SECRETJPG%"
                              << "%SECRETBMP%"
                              << "Normal JPEG";
    }

    void templatesReplaceTheirTokens()
    {
        QFETCH(QString, extension);
        QFETCH(QString, kind);
        QFETCH(QString, ownToken);
        QFETCH(QString, otherToken);
        QFETCH(QString, secretText);

        const QString program = m_work.path() + "/" + kind + "/";
        QVERIFY(QDir().mkpath(program));
        const QString picture = m_work.path() + "/picture." + extension;
        QVERIFY(WriteTestPicture(picture, 320, 240));
        const QString loadTemplate = program + "ltemplate" + kind + ".htm";
        QVERIFY(WriteFileBytes(loadTemplate,
            ("<p>%IMGWIDTH%x%IMGHEIGHT% and again %IMGWIDTH%, %imgwidth%, " + ownToken + ", " + otherToken + "</p>")
                .toUtf8()));
        QVERIFY(WriteFileBytes(program + "stemplate" + kind + ".htm", "saved %FILEPATH% | %FILEPATH%"));

        CVeilmarkDlg dialog(nullptr, program.toStdString());
        dialog.show();
        const QString loadPage = QString::fromStdString(dialog.GetLoadPagePath());
        CDialogScript script;
        script.Then(Answer::File(script, picture));
        QTest::mouseClick(FindControl<QPushButton>(dialog, 1001), Qt::LeftButton);
        QCOMPARE(ReadFileBytes(loadPage),
            ("<p>320x240 and again 320, %imgwidth%, " + secretText + ", " + otherToken + "</p>").toUtf8() + '\0');
        QVERIFY(dialog.GetBrowser().toPlainText().startsWith("320x240"));

        const QString saved = m_work.path() + "/saved." + extension;
        FindControl<QPlainTextEdit>(dialog, 1005)->setPlainText("hidden");
        script.Then(Answer::File(script, saved));
        script.Then(Answer::Password(script, "pw"));
        script.Then(Answer::Message(script, QMessageBox::Ok));
        QTest::mouseClick(FindControl<QPushButton>(dialog, 1002), Qt::LeftButton);
        QCOMPARE(ReadFileBytes(QString::fromStdString(dialog.GetResultPagePath())),
            ("saved " + saved + " | " + saved).toUtf8() + '\0');

        // Without the template the next load shows the built-in page.
        QVERIFY(QFile::remove(loadTemplate));
        script.Then(Answer::Message(script, QMessageBox::Yes));
        script.Then(Answer::File(script, picture));
        QTest::mouseClick(FindControl<QPushButton>(dialog, 1001), Qt::LeftButton);
        const QByteArray builtIn = ReadFileBytes(loadPage);
        QVERIFY(builtIn.contains("Picture Informaion"));
        QVERIFY(builtIn.contains(secretText.toUtf8()));
        QVERIFY(!builtIn.contains("and again"));
        QVERIFY(script.Finished());
        QCOMPARE(script.m_seen.size(), 6);
    }
};

QTEST_MAIN(TemplateTest)
#include "TemplateTest.moc"
