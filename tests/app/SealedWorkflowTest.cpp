// The sealed format in the main window, driven through its real buttons,
// save dialogs, password prompts and message boxes: sealing text and files
// into BMP, PNG and JPEG pictures and revealing them, the format question,
// the count under the message box, the busy indicator and the fitted picture.

#include "support/GuiTestSupport.h"

#include "app/GuessCost.h"
#include "app/OptionDlg.h"
#include "app/Settings.h"
#include "app/VeilmarkDlg.h"
#include "picture/CarrierPicture.h"
#include "res/ControlIds.h"
#include "res/StringIds.h"
#include "res/StringTable.h"
#include "sealed/SealedPicture.h"
#include "ui/PictureViewer.h"
#include "ui/UiText.h"
#include "ui/WebBrowser2.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QLabel>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFragment>
#include <QTextImageFormat>

#include <memory>

namespace {

QString Res(unsigned id) { return ToUiText(LoadResString(id)); }

// The first picture of the page shown and the size it is shown at.
QTextImageFormat ShownPicture(const CWebBrowser2& browser, int* position = nullptr)
{
    for (QTextBlock block = browser.document()->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            if (it.fragment().charFormat().isImageFormat()) {
                if (position != nullptr)
                    *position = it.fragment().position();
                return it.fragment().charFormat().toImageFormat();
            }
        }
    }
    return {};
}

} // namespace

class SealedWorkflowTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_home;
    QTemporaryDir m_work;
    QString m_programDir;

    std::unique_ptr<CVeilmarkDlg> OpenMainWindow()
    {
        auto dialog = std::make_unique<CVeilmarkDlg>(nullptr, m_programDir.toStdString());
        dialog->show();
        [[maybe_unused]] const bool exposed = QTest::qWaitForWindowExposed(dialog.get());
        return dialog;
    }

    static QPushButton* Button(CVeilmarkDlg& dialog, int id) { return FindControl<QPushButton>(dialog, id); }
    static QPlainTextEdit* MessageBox(CVeilmarkDlg& dialog) { return FindControl<QPlainTextEdit>(dialog, IDC_MESSAGE); }
    static QLabel* Count(CVeilmarkDlg& dialog) { return FindControl<QLabel>(dialog, IDC_MESSAGE_COUNT); }
    static void Click(CVeilmarkDlg& dialog, int id) { QTest::mouseClick(Button(dialog, id), Qt::LeftButton); }
    static bool IsRed(QLabel* label) { return label->palette().color(QPalette::WindowText) == QColor(Qt::red); }

    // Loads a picture that carries no compatible secret: one file dialog,
    // after the question that closes the current picture.
    static void Load(CVeilmarkDlg& dialog, const QString& path, CDialogScript& script)
    {
        script.m_seen.clear();
        if (dialog.GetCurrentPicture() != nullptr || dialog.GetSealedPicture() != nullptr)
            script.Then(Answer::Message(script, QMessageBox::Yes));
        script.Then(Answer::File(script, path));
        Click(dialog, IDC_LOAD_PICTURE);
        QVERIFY2(script.Finished(), qPrintable(script.m_seen.join(" | ")));
    }

    // A carrier of the kind, or an empty name when the core cannot seal it.
    QString Carrier(const QString& extension, int width, int height)
    {
        const QString path = m_work.path() + "/carrier-" + QString::number(width) + "." + extension;
        if (!QFileInfo::exists(path) && !WriteTestPicture(path, width, height))
            return {};
        return path;
    }

    static bool CoreSeals(const QString& path)
    {
        CSealedPicture probe;
        return probe.Load(path.toStdString()) && probe.HasElements();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_home.isValid() && m_work.isValid());
        UsePrivateUserFolders(m_home);
        m_programDir = m_work.path() + "/program/";
        QVERIFY(QDir().mkpath(m_programDir));
        QVERIFY(WriteFileBytes(m_programDir + "welcome.html", "<p>Welcome to Veilmark</p>"));
    }

    void init() { QVERIFY(WriteDefaultSaveFormat(SaveFormat::Compatible)); }

    void sealAndReveal_data()
    {
        QTest::addColumn<QString>("extension");
        QTest::addColumn<bool>("file");
        for (const char* extension : { "bmp", "png", "jpg" }) {
            QTest::addRow("%s text", extension) << extension << false;
            QTest::addRow("%s file", extension) << extension << true;
        }
    }

    // Sealed, saved, loaded again and revealed with the right password; a
    // wrong one reveals nothing and says why.
    void sealAndReveal()
    {
        QFETCH(QString, extension);
        QFETCH(bool, file);
        const QString carrier = Carrier(extension, 320, 240);
        QVERIFY(!carrier.isEmpty());
        QVERIFY(CoreSeals(carrier));
        const QString saved = m_work.path() + "/sealed-" + QTest::currentDataTag() + "." + extension;
        const QString message = QString::fromUtf8("Meet at dawn.\nGrüße — 秘密");
        const QByteArray hidden = QByteArray("%PDF-1.4\n\0\xff binary \r\n", 20).repeated(20);
        const QString hiddenPath = m_work.path() + "/report.pdf";
        QVERIFY(WriteFileBytes(hiddenPath, hidden));

        auto dialog = OpenMainWindow();
        CDialogScript script;
        Load(*dialog, carrier, script);
        QVERIFY(dialog->GetBrowser().toPlainText().contains("may hold a sealed message"));
        QVERIFY(Button(*dialog, IDC_REVEAL)->isEnabled());
        QVERIFY(Button(*dialog, IDC_HIDE_FILE)->isEnabled());

        if (file) {
            script.Then(Answer::File(script, hiddenPath));
            Click(*dialog, IDC_HIDE_FILE);
            QVERIFY2(
                Count(*dialog)->text().startsWith("File \"report.pdf\": " + QString::number(hidden.size()) + " of "),
                qPrintable(Count(*dialog)->text()));
            QCOMPARE(dialog->GetChosenFormat(), SaveFormat::Sealed);
            QVERIFY(MessageBox(*dialog)->isReadOnly());
        } else {
            MessageBox(*dialog)->setPlainText(message);
        }

        script.m_seen.clear();
        script.Then(Answer::SaveAs(script, saved, "sealedFormat"));
        script.Then(Answer::SealedPassword(script, "s3cret"));
        script.Then(Answer::Message(script, QMessageBox::Ok));
        Click(*dialog, IDC_SAVE_PICTURE);
        QCOMPARE(script.m_seen.size(), 5);
        QCOMPARE(script.m_seen[0], QString("file as Sealed"));
        QCOMPARE(script.m_seen[2], "sealed password: " + Res(IDS_SEALED_SAVE_PROMPT).replace('\n', ' '));
        QVERIFY2(script.m_seen[3].startsWith("cost: Each wrong guess costs an attacker about "),
            qPrintable(script.m_seen[3]));
        QCOMPARE(script.m_seen[4], QString("message: Save finished"));
        QVERIFY(script.m_busySeen > 0);

        // The result page names the format, the file and its size.
        const QString result = dialog->GetBrowser().toPlainText();
        QVERIFY2(result.contains("Sealed") && result.contains(saved)
                && result.contains(QString::number(QFileInfo(saved).size()) + " bytes"),
            qPrintable(result));
        if (extension == "jpg")
            QVERIFY(result.contains(Res(IDS_RESULT_JPEG_COEFFICIENTS)));

        // Loaded again: nothing tells that a sealed message is there, so no
        // password is asked until Reveal.
        Load(*dialog, saved, script);
        QVERIFY(MessageBox(*dialog)->toPlainText().isEmpty());

        script.m_seen.clear();
        script.Then(Answer::SealedPassword(script, "S3cret"));
        script.Then(Answer::Message(script, QMessageBox::Ok));
        Click(*dialog, IDC_REVEAL);
        QCOMPARE(script.m_seen.size(), 3);
        QCOMPARE(script.m_seen[2], "message: " + Res(IDS_NOTHING_SEALED));
        QVERIFY(MessageBox(*dialog)->toPlainText().isEmpty());

        script.m_seen.clear();
        const QString revealed = m_work.path() + "/revealed-" + QTest::currentDataTag() + ".pdf";
        script.Then(Answer::SealedPassword(script, "s3cret"));
        if (file) {
            // Offered under its own name, written where the user says.
            const CDialogScript::Step answer = Answer::File(script, revealed);
            script.Then([&script, answer](QWidget* target) {
                auto* files = qobject_cast<QFileDialog*>(target);
                script.m_seen << "save as: "
                        + (files != nullptr ? files->findChild<QLineEdit*>("fileNameEdit")->text() : QString("?"));
                answer(target);
            });
            script.Then(Answer::Message(script, QMessageBox::Ok));
        }
        Click(*dialog, IDC_REVEAL);
        QVERIFY2(script.Finished(), qPrintable(script.m_seen.join(" | ")));
        if (file) {
            QCOMPARE(script.m_seen[2], QString("save as: report.pdf"));
            QCOMPARE(ReadFileBytes(revealed), hidden);
            QVERIFY(script.m_seen.last().contains(revealed));
        } else {
            QCOMPARE(MessageBox(*dialog)->toPlainText(), message);
        }
    }

    // Compatible is the offered format on a fresh configuration; choosing it
    // says what it protects, and the result page names it.
    void compatibleSaveSaysWhatItProtects_data()
    {
        QTest::addColumn<QString>("extension");
        QTest::newRow("bmp") << "bmp";
        QTest::newRow("jpg") << "jpg";
    }

    void compatibleSaveSaysWhatItProtects()
    {
        QFETCH(QString, extension);
        const QString carrier = Carrier(extension, 640, 480);
        const QString saved = m_work.path() + "/compatible." + extension;
        auto dialog = OpenMainWindow();
        CDialogScript script;
        Load(*dialog, carrier, script);
        QCOMPARE(dialog->GetChosenFormat(), SaveFormat::Compatible);
        MessageBox(*dialog)->setPlainText("plain");
        script.m_seen.clear();
        script.Then(Answer::SaveAs(script, saved, "compatibleFormat"));
        script.Then(Answer::Password(script, "pw"));
        script.Then(Answer::Message(script, QMessageBox::Ok));
        Click(*dialog, IDC_SAVE_PICTURE);
        QCOMPARE(script.m_seen,
            (QStringList { "file as " + Res(IDS_FORMAT_COMPATIBLE) + " / " + Res(IDS_COMPATIBLE_PROTECTS), "file",
                "password: " + Res(IDS_SAVE_PROMPT), "message: Save finished" }));
        const QString result = dialog->GetBrowser().toPlainText();
        QVERIFY2(result.contains(Res(IDS_FORMAT_COMPATIBLE))
                && result.contains(QString::number(QFileInfo(saved).size()) + " bytes"),
            qPrintable(result));
        QCOMPARE(result.contains(Res(IDS_RESULT_JPEG_REENCODED)), extension == "jpg");
    }

    // The count under the message box for a picture with 272 bytes of data
    // space (271 of text) and a sealed capacity of 238: line breaks count as
    // the two bytes they are stored as, characters as their UTF-8 bytes. Past
    // the capacity the count turns red and Save refuses before any dialog.
    void countUnderTheMessageBox_data()
    {
        QTest::addColumn<bool>("sealed");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("count");
        QTest::addColumn<bool>("fits");
        const QString compatible = " (" + Res(IDS_FORMAT_COMPATIBLE) + ")";
        QTest::newRow("compatible empty") << false << ""
                                          << "0 of 271 bytes" + compatible << true;
        QTest::newRow("compatible line breaks") << false << "a\nb\n"
                                                << "6 of 271 bytes" + compatible << true;
        QTest::newRow("compatible UTF-8") << false << QString::fromUtf8("é秘") << "5 of 271 bytes" + compatible << true;
        QTest::newRow("compatible full") << false << QString(271, 'x') << "271 of 271 bytes" + compatible << true;
        QTest::newRow("compatible past") << false << QString(272, 'x') << "272 of 271 bytes" + compatible << false;
        QTest::newRow("sealed full") << true << QString(238, 'x') << "238 of 238 bytes (Sealed)" << true;
        QTest::newRow("sealed past") << true << QString(239, 'x') << "239 of 238 bytes (Sealed)" << false;
    }

    void countUnderTheMessageBox()
    {
        QFETCH(bool, sealed);
        QFETCH(QString, text);
        QFETCH(QString, count);
        QFETCH(bool, fits);
        QVERIFY(WriteDefaultSaveFormat(sealed ? SaveFormat::Sealed : SaveFormat::Compatible));
        const QString carrier = Carrier("bmp", 28, 28);
        auto dialog = OpenMainWindow();
        QVERIFY(Count(*dialog)->text().isEmpty());
        CDialogScript script;
        Load(*dialog, carrier, script);
        QCOMPARE(dialog->GetCurrentPicture()->GetDataSpace(), 272u);
        MessageBox(*dialog)->setFocus();
        // Typed as the user types: Enter for a line break.
        for (const QChar character : text) {
            if (character == '\n')
                QTest::keyClick(MessageBox(*dialog), Qt::Key_Return);
            else
                TypeText(MessageBox(*dialog), QString(character));
        }
        QCOMPARE(Count(*dialog)->text(), count);
        QCOMPARE(IsRed(Count(*dialog)), !fits);

        script.m_seen.clear();
        script.Then(fits ? Answer::Cancel(script) : Answer::Message(script, QMessageBox::Ok));
        Click(*dialog, IDC_SAVE_PICTURE);
        QCOMPARE(script.m_seen.size(), 1);
        if (fits) {
            QCOMPARE(script.m_seen[0], QString("cancelled QFileDialog"));
        } else {
            const QString limit = sealed ? "238 bytes" : "271 bytes";
            QVERIFY2(script.m_seen[0].startsWith("message: ") && script.m_seen[0].contains(limit),
                qPrintable(script.m_seen[0]));
        }
    }

    // A PNG picture offers Sealed; choosing Compatible is refused with the
    // reason before any password is asked, and nothing is written.
    void pngRefusesTheCompatibleFormat()
    {
        const QString carrier = Carrier("png", 64, 48);
        const QString saved = m_work.path() + "/never.png";
        auto dialog = OpenMainWindow();
        CDialogScript script;
        Load(*dialog, carrier, script);
        QVERIFY(dialog->GetCurrentPicture() == nullptr);
        QVERIFY(dialog->GetBrowser().toPlainText().contains("Normal PNG"));
        QCOMPARE(dialog->GetChosenFormat(), SaveFormat::Sealed);
        MessageBox(*dialog)->setPlainText("hello");
        script.m_seen.clear();
        script.Then(Answer::SaveAs(script, saved, "compatibleFormat"));
        script.Then(Answer::Message(script, QMessageBox::Ok));
        Click(*dialog, IDC_SAVE_PICTURE);
        QCOMPARE(script.m_seen.size(), 3);
        QCOMPARE(script.m_seen[2], "message: " + Res(IDS_PNG_NOT_COMPATIBLE));
        QVERIFY(!QFileInfo::exists(saved));
    }

    // The sealed prompt ends only when both entries agree and are not empty;
    // the busy dialog keeps the event loop running while Argon2id works; the
    // cost line shows the figure measured on this computer.
    void sealedPromptAndBusyIndicator()
    {
        const QString carrier = Carrier("bmp", 320, 240);
        const QString saved = m_work.path() + "/busy.bmp";
        auto dialog = OpenMainWindow();
        CDialogScript script;
        Load(*dialog, carrier, script);
        MessageBox(*dialog)->setPlainText("busy");

        int ticksWhileBusy = 0;
        QTimer ticker;
        ticker.setInterval(5);
        connect(&ticker, &QTimer::timeout, this, [&ticksWhileBusy] {
            if (qobject_cast<QProgressDialog*>(QApplication::activeModalWidget()) != nullptr)
                ++ticksWhileBusy;
        });
        ticker.start();

        script.m_seen.clear();
        script.Then(Answer::SaveAs(script, saved, "sealedFormat"));
        script.Then([&script](QWidget* widget) {
            auto* prompt = qobject_cast<CSealedPasswordDlg*>(widget);
            if (prompt == nullptr) {
                script.m_seen << "not the sealed prompt";
                QMetaObject::invokeMethod(widget, "reject", Qt::QueuedConnection);
                return;
            }
            auto* first = FindControl<QLineEdit>(*prompt, IDC_SEALED_PASSWORD);
            auto* second = FindControl<QLineEdit>(*prompt, IDC_SEALED_CONFIRM);
            auto* note = FindControl<QLabel>(*prompt, IDC_SEALED_NOTE);
            const auto attempt = [&](const QString& one, const QString& two) {
                first->clear();
                second->clear();
                TypeText(first, one);
                TypeText(second, two);
                QTest::keyClick(first, Qt::Key_Return);
                script.m_seen << QString("%1/%2: %3").arg(one, two, prompt->isVisible() ? note->text() : "accepted");
            };
            attempt("", "");
            attempt("abc", "abd");
            attempt("abc", "abc");
        });
        script.Then(Answer::Message(script, QMessageBox::Ok));
        Click(*dialog, IDC_SAVE_PICTURE);
        ticker.stop();
        QCOMPARE(script.m_seen,
            (QStringList { "file as Sealed", "file", "/: " + Res(IDS_SEALED_PASSWORD_EMPTY),
                "abc/abd: " + Res(IDS_PASSWORDS_DIFFER), "abc/abc: accepted", "message: Save finished" }));
        QCOMPARE(script.m_busySeen, 1);
        QVERIFY2(ticksWhileBusy > 0, "no timer fired while the message was sealed");

        const std::optional<double> seconds = KnownGuessSeconds();
        QVERIFY(seconds && *seconds > 0.001);
        CSealedPasswordDlg prompt(CSealedPasswordDlg::Mode::Open);
        QCOMPARE(FindControl<QLabel>(prompt, IDC_SEALED_COST)->text(),
            ToUiText(FormatResString(IDS_GUESS_COST, FormatGuessSeconds(*seconds).c_str())));
        QVERIFY(!FindControl<QLineEdit>(prompt, IDC_SEALED_CONFIRM)->isVisibleTo(&prompt));
    }

    void guessSecondsKeepTwoDigits_data()
    {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<QString>("shown");
        QTest::newRow("tenths") << 0.153 << "0.15";
        QTest::newRow("hundredths") << 0.0471 << "0.047";
        QTest::newRow("seconds") << 1.26 << "1.3";
        QTest::newRow("tens") << 12.4 << "12";
    }

    void guessSecondsKeepTwoDigits()
    {
        QFETCH(double, seconds);
        QFETCH(QString, shown);
        QCOMPARE(QString::fromStdString(FormatGuessSeconds(seconds)), shown);
    }

    // On a 1280 x 800 screen a large picture is shown scaled to the pane with
    // its table below, without scrolling; a click shows it at full size.
    void reportPictureFitsThePane()
    {
        const QString carrier = Carrier("bmp", 1600, 1200);
        auto dialog = OpenMainWindow();
        dialog->resize(1280, 760);
        QTRY_COMPARE(dialog->size(), QSize(1280, 760));
        CDialogScript script;
        Load(*dialog, carrier, script);
        CWebBrowser2& browser = dialog->GetBrowser();
        int position = -1;
        const QTextImageFormat shown = ShownPicture(browser, &position);
        QVERIFY(shown.isValid());
        QVERIFY2(shown.width() > 100 && shown.width() <= browser.viewport()->width(),
            qPrintable(QString::number(shown.width())));
        QCOMPARE(qRound(shown.height()), qRound(shown.width() * 1200 / 1600));
        QVERIFY(browser.toPlainText().contains("Available Data space"));
        QCOMPARE(browser.verticalScrollBar()->maximum(), 0);

        QTextCursor cursor(browser.document());
        cursor.setPosition(position);
        const QRect at = browser.cursorRect(cursor);
        const QPoint centre(at.left() + int(shown.width() / 2), at.bottom() - int(shown.height() / 2));
        QTest::mouseClick(browser.viewport(), Qt::LeftButton, Qt::NoModifier, centre);
        QTRY_VERIFY(browser.GetPictureViewer() != nullptr && browser.GetPictureViewer()->isVisible());
        QCOMPARE(browser.GetPictureViewer()->GetPictureSize(), QSize(1600, 1200));
        browser.GetPictureViewer()->close();
        // A click beside the picture opens nothing.
        QTest::mouseClick(
            browser.viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(browser.viewport()->width() - 5, 5));
        QTest::qWait(20);
        QVERIFY(browser.GetPictureViewer() == nullptr);
    }

    // The option dialog keeps the offered format for the next saves.
    void optionDialogKeepsTheDefaultFormat()
    {
        const QString carrier = Carrier("bmp", 320, 240);
        auto dialog = OpenMainWindow();
        CDialogScript script;
        Load(*dialog, carrier, script);
        QCOMPARE(dialog->GetChosenFormat(), SaveFormat::Compatible);
        script.m_seen.clear();
        script.Then([&script](QWidget* options) {
            auto* box = FindControl<QCheckBox>(*options, IDC_DEFAULT_SEALED);
            script.m_seen << (box != nullptr && !box->isChecked() ? "unchecked" : "?");
            if (box != nullptr)
                box->setChecked(true);
            FindControl<QPushButton>(*options, IDOK)->click();
        });
        Click(*dialog, IDC_PROGRAM_OPTION);
        QCOMPARE(script.m_seen, QStringList { "unchecked" });
        QCOMPARE(ReadDefaultSaveFormat(), SaveFormat::Sealed);
        QCOMPARE(dialog->GetChosenFormat(), SaveFormat::Sealed);
        QVERIFY(Count(*dialog)->text().endsWith("(Sealed)"));
        COptionDlg again;
        QVERIFY(FindControl<QCheckBox>(again, IDC_DEFAULT_SEALED)->isChecked());
    }
};

QTEST_MAIN(SealedWorkflowTest)
#include "SealedWorkflowTest.moc"
