// The hide-and-reveal workflow of the main window, driven through its real
// buttons, file dialogs, password prompts and message boxes.

#include "support/GuiTestSupport.h"

#include "app/OptionDlg.h"
#include "app/Settings.h"
#include "mail/SendMailDlg.h"

#include "app/VeilmarkDlg.h"
#include "picture/BmpPicture.h"
#include "picture/CarrierPicture.h"
#include "picture/SecretContainer.h"
#include "res/StringTable.h"
#include "ui/UiText.h"
#include "ui/WebBrowser2.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QDropEvent>
#include <QFileInfo>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QUrl>

#include <memory>

namespace {

QString Res(unsigned id) { return ToUiText(LoadResString(id)); }

QUrl FileUrl(const std::string& path) { return QUrl::fromLocalFile(QString::fromStdString(path)); }

// Receives the URLs the program hands to the desktop.
class CUrlCatcher : public QObject {
    Q_OBJECT

public:
    QList<QUrl> m_urls;

public slots:
    void Open(const QUrl& url) { m_urls << url; }
};

} // namespace

class WorkflowTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_home;
    QTemporaryDir m_work;
    QString m_programDir;
    QString m_bmp;

    std::unique_ptr<CVeilmarkDlg> OpenMainWindow(const QString& programDir = {})
    {
        auto dialog
            = std::make_unique<CVeilmarkDlg>(nullptr, (programDir.isEmpty() ? m_programDir : programDir).toStdString());
        dialog->show();
        [[maybe_unused]] const bool exposed = QTest::qWaitForWindowExposed(dialog.get());
        return dialog;
    }

    static QPushButton* Button(CVeilmarkDlg& dialog, int id) { return FindControl<QPushButton>(dialog, id); }
    static QPlainTextEdit* MessageBox(CVeilmarkDlg& dialog) { return FindControl<QPlainTextEdit>(dialog, 1005); }
    static void Click(CVeilmarkDlg& dialog, int id) { QTest::mouseClick(Button(dialog, id), Qt::LeftButton); }
    static bool ShowsWelcomePage(CVeilmarkDlg& dialog)
    {
        return dialog.GetBrowser().source() == FileUrl(dialog.GetHomePage())
            && dialog.GetBrowser().toPlainText().contains("Welcome to Veilmark");
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_home.isValid() && m_work.isValid());
        UsePrivateUserFolders(m_home);
        m_programDir = m_work.path() + "/program/";
        QVERIFY(QDir().mkpath(m_programDir));
        QVERIFY(WriteFileBytes(m_programDir + "welcome.html", "<p>Welcome to Veilmark</p>"));
        m_bmp = m_work.path() + "/carrier.bmp";
        QVERIFY(WriteTestPicture(m_bmp, 240, 160));
    }

    void hideAndReveal_data()
    {
        QTest::addColumn<QString>("extension");
        QTest::newRow("bmp") << "bmp";
        QTest::newRow("jpeg") << "jpg";
    }

    void hideAndReveal()
    {
        QFETCH(QString, extension);
        const QString carrier = m_work.path() + "/plain." + extension;
        // A JPEG picture carries one bit per chroma block: it needs some size.
        QVERIFY(extension == "bmp" ? WriteTestPicture(carrier, 240, 160) : WriteTestPicture(carrier, 640, 480));
        const QString saved = m_work.path() + "/secret." + extension;
        const QString message = QString::fromUtf8("Meet at dawn.\nGrüße — 秘密");

        auto dialog = OpenMainWindow();
        QVERIFY(!Button(*dialog, 1002)->isEnabled());
        QString logAtPage;
        connect(&dialog->GetBrowser(), &QTextEdit::textChanged, this, [&logAtPage] {
            if (CLogDlg* log = GetLogWindow())
                logAtPage = log->GetText();
        });

        // A picture without secret data: its page is written and shown, Save
        // is enabled, no password is asked.
        {
            CDialogScript script;
            script.Then(Answer::File(script, carrier));
            Click(*dialog, 1001);
            QCOMPARE(script.m_seen, QStringList { "file" });
            CCarrierPicture* picture = dialog->GetCurrentPicture();
            QVERIFY(picture != nullptr);
            QVERIFY(!picture->HasSecretData());
            const QByteArray page = ReadFileBytes(QString::fromStdString(dialog->GetLoadPagePath()));
            const std::string& text = picture->GetReportPage();
            QCOMPARE(page.size(), qsizetype(text.size() + 1));
            QCOMPARE(page.back(), '\0');
            QCOMPARE(page.left(page.size() - 1), QByteArray::fromStdString(text));
            QCOMPARE(dialog->GetBrowser().source(), FileUrl(dialog->GetLoadPagePath()));
            QVERIFY(dialog->GetBrowser().toPlainText().contains("Normal"));
            QVERIFY(Button(*dialog, 1002)->isEnabled());
        }

        // Hide a message and save.
        {
            MessageBox(*dialog)->setPlainText(message);
            CDialogScript script;
            script.Then(Answer::File(script, saved));
            script.Then(Answer::Password(script, "s3cret"));
            script.Then(Answer::Message(script, QMessageBox::Ok));
            Click(*dialog, 1002);
            QCOMPARE(script.m_seen, (QStringList { "file", "password: " + Res(103), "message: Save finished" }));
            QVERIFY(QFileInfo(saved).size() > 0);
            QCOMPARE(dialog->GetBrowser().source(), FileUrl(dialog->GetResultPagePath()));
            QVERIFY(dialog->GetBrowser().toPlainText().contains("RESULT PICTURE"));
            QVERIFY(ReadFileBytes(QString::fromStdString(dialog->GetResultPagePath())).contains(saved.toUtf8()));
            QCOMPARE(MessageBox(*dialog)->toPlainText(), message);
        }

        // The saved picture asks for its password and shows the message.
        {
            CDialogScript script;
            script.Then(Answer::Message(script, QMessageBox::Yes));
            script.Then(Answer::File(script, saved));
            script.Then(Answer::Password(script, "s3cret"));
            logAtPage.clear();
            Click(*dialog, 1001);
            QCOMPARE(script.m_seen, (QStringList { "message: " + Res(142), "file", "password: " + Res(102) }));
            QCOMPARE(MessageBox(*dialog)->toPlainText(), message);
            QVERIFY(dialog->GetCurrentPicture()->HasSecretData());
            QCOMPARE(dialog->GetBrowser().source(), FileUrl(dialog->GetLoadPagePath()));
            QVERIFY(dialog->GetBrowser().toPlainText().contains("SECRET"));
            const qsizetype key = logAtPage.indexOf(Res(127).trimmed());
            const qsizetype start = logAtPage.indexOf(Res(128).trimmed());
            const qsizetype end = logAtPage.indexOf(Res(129).trimmed());
            QVERIFY2(key >= 0 && key < start && start < end, qPrintable(logAtPage));
            QVERIFY(Button(*dialog, 1002)->isEnabled());
        }

        // "Already Opened" answered No keeps the picture, its page and the message.
        {
            CCarrierPicture* before = dialog->GetCurrentPicture();
            CDialogScript script;
            script.Then(Answer::Message(script, QMessageBox::No));
            Click(*dialog, 1001);
            QCOMPARE(script.m_seen, QStringList { "message: " + Res(142) });
            QCOMPARE(dialog->GetCurrentPicture(), before);
            QCOMPARE(MessageBox(*dialog)->toPlainText(), message);
            QCOMPARE(dialog->GetBrowser().source(), FileUrl(dialog->GetLoadPagePath()));
            QVERIFY(Button(*dialog, 1002)->isEnabled());
        }

        // A password differing only in letter case is wrong: "Wrong password"
        // and nothing else, no message, no page (the pane no longer shows the
        // picture closed for it), nothing to save. Cancelling the prompt is
        // the same without the message.
        for (const bool cancel : { false, true }) {
            CDialogScript script;
            script.Then(Answer::Message(script, QMessageBox::Yes));
            script.Then(Answer::File(script, saved));
            if (cancel) {
                script.Then(Answer::Cancel(script));
            } else {
                script.Then(Answer::Password(script, "S3cret"));
                script.Then(Answer::Message(script, QMessageBox::Ok));
            }
            Click(*dialog, 1001);
            QCOMPARE(script.m_seen,
                cancel ? (QStringList { "message: " + Res(142), "file", "cancelled CPasswordDlg" })
                       : (QStringList {
                           "message: " + Res(142), "file", "password: " + Res(102), "message: Wrong password" }));
            if (!cancel)
                QVERIFY(!script.m_logAtMessage.last().contains(Res(127).trimmed()));
            QVERIFY(MessageBox(*dialog)->toPlainText().isEmpty());
            QVERIFY(ShowsWelcomePage(*dialog));
            QVERIFY(!Button(*dialog, 1002)->isEnabled());
        }
        QVERIFY(GetLogWindow() == nullptr);
    }

    // Typed line breaks are stored as CR LF pairs; on reveal CR LF, a lone CR
    // and a lone LF each start a new line in the box.
    void messageLineBreaks_data()
    {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<QString>("shown");
        QTest::newRow("CR LF") << QByteArray("one\r\ntwo\r\n\r\nthree\r\n") << "one\ntwo\n\nthree\n";
        QTest::newRow("LF") << QByteArray("one\ntwo\n\nthree") << "one\ntwo\n\nthree";
        QTest::newRow("CR") << QByteArray("one\rtwo\r\rthree") << "one\ntwo\n\nthree";
        QTest::newRow("LF CR") << QByteArray("one\n\rtwo") << "one\n\ntwo";
    }

    void messageLineBreaks()
    {
        QFETCH(QByteArray, stored);
        QFETCH(QString, shown);
        const QString picture = m_work.path() + "/breaks.bmp";
        {
            CBmpPicture writer;
            QCOMPARE(writer.Load(m_bmp.toStdString()), kPictureOk);
            QCOMPARE(WriteContainer(writer, "pw", stored.toStdString()), ContainerStatus::Ok);
            QCOMPARE(writer.Save(picture.toStdString()), kPictureOk);
        }
        auto dialog = OpenMainWindow();
        CDialogScript script;
        script.Then(Answer::File(script, picture));
        script.Then(Answer::Password(script, "pw"));
        Click(*dialog, 1001);
        QCOMPARE(MessageBox(*dialog)->toPlainText(), shown);

        // Saved from the box, every line ends in CR LF.
        const QString saved = m_work.path() + "/breaks-saved.bmp";
        script.Then(Answer::File(script, saved));
        script.Then(Answer::Password(script, "pw"));
        script.Then(Answer::Message(script, QMessageBox::Ok));
        Click(*dialog, 1002);
        QVERIFY(script.Finished());
        CBmpPicture reader;
        QCOMPARE(reader.Load(saved.toStdString()), kPictureOk);
        std::string message;
        QCOMPARE(ReadContainer(reader, "pw", message), ContainerStatus::Ok);
        QString expected = shown;
        QCOMPARE(QByteArray::fromStdString(message), expected.replace("\n", "\r\n").toUtf8());
    }

    void keyboardNeverClosesWithoutAsking()
    {
        auto dialog = OpenMainWindow();
        QPlainTextEdit* edit = MessageBox(*dialog);
        edit->setFocus();
        QTest::keyClicks(edit, "a");
        QTest::keyClick(edit, Qt::Key_Return);
        QTest::keyClick(&dialog->GetBrowser(), Qt::Key_Return);
        QTest::keyClick(dialog.get(), Qt::Key_Enter);
        QVERIFY(dialog->isVisible());
        QCOMPARE(edit->toPlainText(), QString("a\n"));

        CDialogScript script;
        script.Then(Answer::Message(script, QMessageBox::No));
        QTest::keyClick(edit, Qt::Key_Escape);
        QCOMPARE(script.m_seen, QStringList { "message: " + Res(143) });
        QVERIFY(dialog->isVisible());
        QCOMPARE(edit->toPlainText(), QString("a\n"));

        script.Then(Answer::Message(script, QMessageBox::Yes));
        dialog->close();
        QCOMPARE(script.m_seen.size(), 2);
        QVERIFY(!dialog->isVisible());
        QCOMPARE(dialog->result(), int(QDialog::Rejected));
    }

    // Enter presses the focused button as Space does; Ctrl+O, Ctrl+S and F1
    // reach the load, save and help commands, Ctrl+S only while saving is possible.
    void keyboardReachesTheCommands()
    {
        CUrlCatcher catcher;
        QDesktopServices::setUrlHandler("file", &catcher, "Open");
        auto dialog = OpenMainWindow();
        dialog->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(dialog.get()));
        const QUrl help = QUrl::fromLocalFile(m_programDir + "Veilmark.html");

        Button(*dialog, 1008)->setFocus();
        QTest::keyClick(Button(*dialog, 1008), Qt::Key_Return);
        QCOMPARE(catcher.m_urls, QList<QUrl> { help });
        QTest::keyClick(Button(*dialog, 1008), Qt::Key_Enter, Qt::KeypadModifier);
        QCOMPARE(catcher.m_urls.size(), 2);
        QTest::keyClick(MessageBox(*dialog), Qt::Key_F1);
        QCOMPARE(catcher.m_urls.size(), 3);
        QDesktopServices::unsetUrlHandler("file");

        CDialogScript script;
        Button(*dialog, 1001)->setFocus();
        script.Then(Answer::Cancel(script));
        QTest::keyClick(Button(*dialog, 1001), Qt::Key_Return);
        QCOMPARE(script.m_seen, QStringList { "cancelled QFileDialog" });

        // Nothing is loaded: Ctrl+S does nothing; Ctrl+O loads. (Shortcuts
        // need the window active again after the file dialog.)
        dialog->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(dialog.get()));
        QTest::keyClick(MessageBox(*dialog), Qt::Key_S, Qt::ControlModifier);
        QCOMPARE(script.m_seen.size(), 1);
        script.Then(Answer::File(script, m_bmp));
        QTest::keyClick(MessageBox(*dialog), Qt::Key_O, Qt::ControlModifier);
        QCOMPARE(script.m_seen.size(), 2);
        QVERIFY(dialog->GetCurrentPicture() != nullptr);

        dialog->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(dialog.get()));
        script.Then(Answer::Cancel(script));
        QTest::keyClick(MessageBox(*dialog), Qt::Key_S, Qt::ControlModifier);
        QCOMPARE(script.m_seen.last(), QString("cancelled QFileDialog"));
        QVERIFY(script.Finished());
        QVERIFY(dialog->isVisible());
    }

    // Each refused input says why and leaves nothing half done.
    void refusals()
    {
        auto dialog = OpenMainWindow();

        // An extension the program does not know.
        const QString unknown = m_work.path() + "/picture.gif";
        QVERIFY(WriteFileBytes(unknown, "GIF89a"));
        CDialogScript script;
        script.Then(Answer::File(script, unknown));
        script.Then(Answer::Message(script, QMessageBox::Ok));
        Click(*dialog, 1001);
        QCOMPARE(script.m_seen.size(), 2);
        QVERIFY2(script.m_seen[1].contains("cannot be loaded") && script.m_seen[1].contains(".jpeg"),
            qPrintable(script.m_seen[1]));
        QVERIFY(dialog->GetCurrentPicture() == nullptr);

        // A file that is not what its name says.
        const QString fake = m_work.path() + "/fake.bmp";
        QVERIFY(WriteFileBytes(fake, "this is plain text, not a bitmap"));
        script.m_seen.clear();
        script.Then(Answer::File(script, fake));
        script.Then(Answer::Message(script, QMessageBox::Ok));
        Click(*dialog, 1001);
        QCOMPARE(script.m_seen.size(), 2);
        QVERIFY2(script.m_seen[1].startsWith("message: file open error"), qPrintable(script.m_seen[1]));
        QVERIFY(!Button(*dialog, 1002)->isEnabled());
        Click(*dialog, 1002); // Save does nothing on a picture whose load failed
        QCOMPARE(script.m_seen.size(), 2);

        // A message longer than the data space is refused before any dialog.
        script.m_seen.clear();
        script.Then(Answer::Message(script, QMessageBox::Yes));
        script.Then(Answer::File(script, m_bmp));
        Click(*dialog, 1001);
        QVERIFY(Button(*dialog, 1002)->isEnabled());
        const std::uint32_t dataSpace = dialog->GetCurrentPicture()->GetDataSpace();
        QVERIFY(dataSpace > 0);
        MessageBox(*dialog)->setPlainText(QString(int(dataSpace), 'x'));
        script.m_seen.clear();
        script.Then(Answer::Message(script, QMessageBox::Ok));
        Click(*dialog, 1002);
        QCOMPARE(script.m_seen.size(), 1);
        QVERIFY2(script.m_seen[0].contains(QString::number(dataSpace - 1) + " bytes"), qPrintable(script.m_seen[0]));

        // The longest message that fits is taken; a file that cannot be
        // written is reported with the reason, and no "Save finished".
        MessageBox(*dialog)->setPlainText(QString(int(dataSpace - 1), 'x'));
        const QString unwritable = "/proc/veilmark-cannot-write-here.bmp";
        script.m_seen.clear();
        script.Then(Answer::File(script, unwritable));
        script.Then(Answer::Password(script, "pw"));
        script.Then(Answer::Message(script, QMessageBox::Ok));
        Click(*dialog, 1002);
        QCOMPARE(script.m_seen.size(), 3);
        QVERIFY2(script.m_seen[2].startsWith("message: The picture was not saved."), qPrintable(script.m_seen[2]));
        QVERIFY(!QFileInfo::exists(unwritable));

        // Closing the picture and then cancelling the file dialog leaves none.
        script.m_seen.clear();
        script.Then(Answer::Message(script, QMessageBox::Yes));
        script.Then(Answer::Cancel(script));
        Click(*dialog, 1001);
        QCOMPARE(script.m_seen, (QStringList { "message: " + Res(142), "cancelled QFileDialog" }));
        QVERIFY(dialog->GetCurrentPicture() == nullptr);
        QVERIFY(!Button(*dialog, 1002)->isEnabled());
        QVERIFY(ShowsWelcomePage(*dialog));
        QVERIFY(script.Finished());
    }

    // A compressed bitmap that carries a secret shows it; its save is refused
    // before anything is asked. A protected output is refused before the
    // password is asked and is kept.
    void compressedPictureAndProtectedOutput()
    {
        // Hide into an uncompressed bitmap, then mark it run-length encoded:
        // the stored bytes stay those that carry the container.
        const QString secret = m_work.path() + "/rle.bmp";
        {
            CBmpPicture twin;
            QCOMPARE(twin.Load(m_bmp.toStdString()), kPictureOk);
            QCOMPARE(WriteContainer(twin, "pw", "rle secret"), ContainerStatus::Ok);
            QCOMPARE(twin.Save(secret.toStdString()), kPictureOk);
            QByteArray file = ReadFileBytes(secret);
            file[30] = 1;
            QVERIFY(WriteFileBytes(secret, file));
        }
        auto dialog = OpenMainWindow();
        CDialogScript script;
        script.Then(Answer::File(script, secret));
        script.Then(Answer::Password(script, "pw"));
        Click(*dialog, 1001);
        QCOMPARE(script.m_seen, (QStringList { "file", "password: " + Res(102) }));
        QCOMPARE(MessageBox(*dialog)->toPlainText(), QString("rle secret"));
        QVERIFY(Button(*dialog, 1002)->isEnabled());

        script.m_seen.clear();
        script.Then(Answer::Message(script, QMessageBox::Ok));
        Click(*dialog, 1002);
        QCOMPARE(script.m_seen.size(), 1);
        QVERIFY2(script.m_seen[0].contains("run-length encoded"), qPrintable(script.m_seen[0]));

        const QString protectedFile = m_work.path() + "/protected.bmp";
        QVERIFY(WriteFileBytes(protectedFile, "keep me"));
        QVERIFY(QFile::setPermissions(protectedFile, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
        script.m_seen.clear();
        script.Then(Answer::Message(script, QMessageBox::Yes));
        script.Then(Answer::File(script, m_bmp));
        Click(*dialog, 1001);
        script.m_seen.clear();
        script.Then(Answer::File(script, protectedFile));
        script.Then(Answer::Message(script, QMessageBox::Ok));
        Click(*dialog, 1002);
        QCOMPARE(script.m_seen,
            (QStringList {
                "file", "message: The picture was not saved.\n\n\"" + protectedFile + "\": Permission denied" }));
        QCOMPARE(ReadFileBytes(protectedFile), QByteArray("keep me"));
        QVERIFY(script.Finished());
    }

    void droppedFileLoadsAfterAsking()
    {
        auto dialog = OpenMainWindow();
        CDialogScript script;
        const auto drop = [this](QWidget* target, const QString& file = {}) {
            QMimeData data;
            data.setUrls({ QUrl::fromLocalFile(QFileInfo(file.isEmpty() ? m_bmp : file).absoluteFilePath()) });
            const QPoint centre = target->rect().center();
            QDragEnterEvent enter(centre, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(target, &enter);
            QVERIFY(enter.isAccepted());
            QDropEvent dropped(centre, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(target, &dropped);
        };
        drop(dialog.get());
        QVERIFY(script.m_seen.isEmpty());
        QVERIFY(dialog->GetCurrentPicture() != nullptr && dialog->GetCurrentPicture()->IsLoaded());
        QCOMPARE(dialog->GetBrowser().source(), FileUrl(dialog->GetLoadPagePath()));

        // Onto the message box, with a picture loaded: the question comes first.
        script.Then(Answer::Message(script, QMessageBox::No));
        drop(MessageBox(*dialog)->viewport());
        QCOMPARE(script.m_seen, QStringList { "message: " + Res(142) });
        QVERIFY(MessageBox(*dialog)->toPlainText().isEmpty());

        // A file of a kind the program cannot load is refused before the
        // question: the loaded picture and its page stay.
        CCarrierPicture* loaded = dialog->GetCurrentPicture();
        const QString unknown = m_work.path() + "/dropped.gif";
        QVERIFY(WriteFileBytes(unknown, "GIF89a"));
        script.m_seen.clear();
        script.Then(Answer::Message(script, QMessageBox::Ok));
        drop(dialog.get(), unknown);
        QCOMPARE(script.m_seen.size(), 1);
        QVERIFY2(script.m_seen[0].contains("cannot be loaded"), qPrintable(script.m_seen[0]));
        QCOMPARE(dialog->GetCurrentPicture(), loaded);
        QCOMPARE(dialog->GetBrowser().source(), FileUrl(dialog->GetLoadPagePath()));
        QVERIFY(Button(*dialog, 1002)->isEnabled());
    }

    void pagesGoToTheUserFolderWhenTheProgramFolderIsReadOnly()
    {
        // Nobody, not even root, can create files in /proc.
        auto dialog = OpenMainWindow("/proc/");
        const QString expected = qEnvironmentVariable("XDG_DATA_HOME") + "/veilmark/";
        QCOMPARE(QString::fromStdString(dialog->GetLoadPagePath()), expected + "load.htm");
        QCOMPARE(QString::fromStdString(dialog->GetResultPagePath()), expected + "result.htm");
        CDialogScript script;
        script.Then(Answer::File(script, m_bmp));
        Click(*dialog, 1001);
        QVERIFY(QFileInfo::exists(expected + "load.htm"));
        QCOMPARE(dialog->GetBrowser().source(), QUrl::fromLocalFile(expected + "load.htm"));
    }

    void helpOpensTheProgramFoldersHelpFile()
    {
        CUrlCatcher catcher;
        QDesktopServices::setUrlHandler("file", &catcher, "Open");
        auto dialog = OpenMainWindow();
        Click(*dialog, 1008);
        QDesktopServices::unsetUrlHandler("file");
        QCOMPARE(catcher.m_urls, QList<QUrl> { QUrl::fromLocalFile(m_programDir + "Veilmark.html") });
    }

    // The mail settings are read at start; the option dialog changes them;
    // with "Send mail after file save" on, the send-mail dialog follows the
    // save, before "Save finished", with the saved file attached.
    void mailSettingsAndSendAfterSave()
    {
        QVERIFY(WriteMailSettings({ "smtp.test.example", "me@test.example", true }));
        auto dialog = OpenMainWindow();
        const QString saved = m_work.path() + "/mailed.bmp";
        {
            CDialogScript script;
            script.Then(Answer::File(script, m_bmp));
            Click(*dialog, 1001);
            MessageBox(*dialog)->setPlainText("hello");
            script.Then(Answer::File(script, saved));
            script.Then(Answer::Password(script, "pw"));
            script.Then([&script](QWidget* mail) {
                auto* send = qobject_cast<CSendMailDlg*>(mail);
                script.m_seen << (send == nullptr ? QString("not the send-mail dialog")
                                                  : QString::fromStdString("mail: " + send->m_strServer + " "
                                                      + send->m_strSender + " " + send->m_strAttachment));
                // Owned by the log window, so it and its message boxes come
                // above the log instead of under it.
                if (mail->parentWidget() == nullptr || mail->parentWidget() != GetLogWindow())
                    script.m_seen << "send-mail dialog not owned by the log window";
                QMetaObject::invokeMethod(mail, "reject", Qt::QueuedConnection);
            });
            script.Then(Answer::Message(script, QMessageBox::Ok));
            Click(*dialog, 1002);
            QCOMPARE(script.m_seen,
                (QStringList { "file", "file", "password: " + Res(103),
                    "mail: smtp.test.example me@test.example " + saved, "message: Save finished" }));
        }
        // Turning the option off in the option dialog takes effect at once.
        {
            CDialogScript script;
            script.Then([&script](QWidget* options) {
                auto* option = qobject_cast<COptionDlg*>(options);
                if (option == nullptr) {
                    script.m_seen << "not the option dialog";
                    QMetaObject::invokeMethod(options, "reject", Qt::QueuedConnection);
                    return;
                }
                script.m_seen << "options: " + FindControl<QLineEdit>(*option, 1015)->text();
                FindControl<QCheckBox>(*option, 1016)->setChecked(false);
                FindControl<QPushButton>(*option, 1)->click();
            });
            Click(*dialog, 1006);
            QCOMPARE(script.m_seen, QStringList { "options: smtp.test.example" });
            QVERIFY(!ReadMailSettings().sendAfterSave);
        }
        {
            CDialogScript script;
            script.Then(Answer::File(script, saved));
            script.Then(Answer::Password(script, "pw"));
            script.Then(Answer::Message(script, QMessageBox::Ok));
            Click(*dialog, 1002);
            QCOMPARE(script.m_seen, (QStringList { "file", "password: " + Res(103), "message: Save finished" }));
        }
        QVERIFY(WriteMailSettings({ kPlaceholderSmtpServer, kPlaceholderUserEmail, false }));
    }

    void softwareUpdateOpensTheUpdateDialog()
    {
        auto dialog = OpenMainWindow();
        CDialogScript script;
        script.Then([&script](QWidget* update) {
            script.m_seen << update->metaObject()->className();
            QMetaObject::invokeMethod(update, "close", Qt::QueuedConnection);
        });
        Click(*dialog, 1007);
        QCOMPARE(script.m_seen, QStringList { "CUpdateDlg" });
    }

    void windowMenuEndsWithTheAboutEntry()
    {
        auto dialog = OpenMainWindow();
        std::unique_ptr<QMenu> menu(dialog->CreateContextMenu(nullptr));
        const QList<QAction*> actions = menu->actions();
        QVERIFY(actions.size() >= 2);
        QCOMPARE(actions.last()->text(), QString("&About Veilmark..."));
        QVERIFY(actions[actions.size() - 2]->isSeparator());

        CDialogScript script;
        script.Then([&script](QWidget* about) {
            script.m_seen << QString("about: ") + FindControl<QLineEdit>(*about, 1023)->text();
            QTest::keyClick(about, Qt::Key_Return);
        });
        actions.last()->trigger();
        QCOMPARE(script.m_seen, QStringList { "about: 1, 0, 0, 1" });
    }
};

QTEST_MAIN(WorkflowTest)
#include "WorkflowTest.moc"
