// The dialog builder, the password prompt, the log window and the about box.

#include "support/GuiTestSupport.h"

#include "app/AboutDlg.h"
#include "app/ProgramDir.h"
#include "app/VeilmarkDlg.h"
#include "base/VersionMarker.h"
#include "res/Log.h"
#include "res/StringTable.h"
#include "ui/UiText.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionButton>
#include <QWindow>

class DialogsTest : public QObject {
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

    void dialogUnitsBecomePixels()
    {
        // Rounded to the nearest pixel, x by a quarter and y by an eighth of
        // the base units.
        QCOMPARE(MapDialogRect(QRect(54, 7, 213, 157), { 7, 14 }), QRect(95, 12, 373, 275));
        QCOMPARE(MapDialogRect(QRect(1, 1, 2, 4), { 6, 13 }), QRect(2, 2, 3, 7));
        const DialogBaseUnits units = GetDialogBaseUnits(DialogFont());
        QVERIFY(units.x > 0 && units.y > 0);
    }

    void everyTemplateBuildsItsControlsWhereTheTemplateSays_data()
    {
        QTest::addColumn<int>("templateId");
        for (int id : { IDD_ABOUTBOX, IDD_VEILMARK_DIALOG, IDD_PASSWORD, IDD_SENDMAIL, IDD_UPDATE, IDD_LOG, IDD_OPTION,
                 IDD_SEND_PROGRESS, IDD_SEALED_PASSWORD })
            QTest::addRow("%d", id) << id;
    }

    void everyTemplateBuildsItsControlsWhereTheTemplateSays()
    {
        QFETCH(int, templateId);
        const DialogTemplate* layout = FindDialogTemplate(templateId);
        QVERIFY(layout != nullptr);
        QDialog dialog;
        QVERIFY(BuildDialog(dialog, templateId));
        const DialogBaseUnits units = GetDialogBaseUnits(dialog);
        QCOMPARE(dialog.size(), MapDialogRect(QRect(0, 0, layout->cx, layout->cy), units).size());
        QCOMPARE(dialog.windowTitle(), QString::fromUtf8(layout->caption));
        for (const ControlTemplate& control : layout->controls) {
            if (control.id == IDC_STATIC)
                continue;
            QWidget* widget = FindControl(dialog, control.id);
            QVERIFY2(widget != nullptr, qPrintable(QString::number(control.id)));
            QCOMPARE(ControlId(*widget), control.id);
            QCOMPARE(widget->geometry(), MapDialogRect(QRect(control.x, control.y, control.cx, control.cy), units));
            QCOMPARE(widget->isEnabled(), (control.style & kDisabled) == 0);
        }
        QVERIFY(FindControl(dialog, 4242) == nullptr);
        QVERIFY(!BuildDialog(dialog, 4242));
    }

    void everyStaticTextFitsItsControl_data() { everyTemplateBuildsItsControlsWhereTheTemplateSays_data(); }

    // Measured with the font the dialogs really get, so a desktop font wider
    // than the templates were drawn for shows up as a clipped text here.
    void everyStaticTextFitsItsControl()
    {
        QFETCH(int, templateId);
        QDialog dialog;
        QVERIFY(BuildDialog(dialog, templateId));
        QStringList clipped;
        const auto check = [&clipped](const QString& text, int width, int room) {
            if (width > room)
                clipped << QString("\"%1\": %2 px in %3 px").arg(text).arg(width).arg(room);
        };
        const QList<QWidget*> controls = dialog.findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
        for (QWidget* control : controls) {
            const QFontMetrics metrics = control->fontMetrics();
            if (auto* label = qobject_cast<QLabel*>(control)) {
                const QRect room = label->contentsRect();
                check(label->text(), metrics.horizontalAdvance(label->text()), room.width());
                check(label->text() + " (height)", metrics.height(), room.height());
            } else if (auto* box = qobject_cast<QCheckBox*>(control)) {
                check(box->text(), box->sizeHint().width(), box->width());
            } else if (auto* button = qobject_cast<QPushButton*>(control)) {
                QStyleOptionButton option;
                option.initFrom(button);
                option.text = button->text();
                if (button->autoDefault())
                    option.features |= QStyleOptionButton::AutoDefaultButton;
                const QRect room = button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
                const QStringList lines = button->text().split(QLatin1Char('\n'));
                for (const QString& line : lines)
                    check(line, metrics.horizontalAdvance(line), room.width());
                check(button->text() + " (height)", metrics.height() * int(lines.size()), room.height());
            }
        }
        QVERIFY2(clipped.isEmpty(), qPrintable(clipped.join("; ")));
    }

    void mainWindowKeepsTheTemplatesTabOrder()
    {
        CVeilmarkDlg dialog(nullptr, m_work.path().toStdString());
        QList<int> order;
        QWidget* widget = FindControl(dialog, 1001);
        do {
            if (ControlId(*widget) != IDC_STATIC && widget->focusPolicy() & Qt::TabFocus)
                order << ControlId(*widget);
            widget = widget->nextInFocusChain();
        } while (widget != FindControl(dialog, 1001));
        QCOMPARE(order, (QList<int> { 1001, 1002, 1006, 1007, 1005, 1000, 1008, 1040, 1041 }));
        QVERIFY(!FindControl(dialog, 1002)->isEnabled());
        QCOMPARE(dialog.windowTitle(), QString("Veilmark"));
    }

    void passwordPrompt()
    {
        CPasswordDlg prompt(102);
        prompt.show();
        QVERIFY(QTest::qWaitForWindowExposed(&prompt));
        auto* field = FindControl<QLineEdit>(prompt, 1007);
        auto* text = FindControl<QPlainTextEdit>(prompt, 1009);
        QVERIFY(text->isReadOnly());
        QCOMPARE(text->toPlainText().split('\n'),
            (QStringList {
                "This picture contains secret message.", "You have to enter correct password to see that message." }));
        QVERIFY(field->text().isEmpty());
        QTRY_VERIFY(field->hasFocus());
        // Each line of the prompt is read whole, without scrolling sideways.
        QCOMPARE(text->horizontalScrollBar()->maximum(), 0);

        // At most 511 bytes of UTF-8, whatever the characters.
        QTest::keyClicks(field, QString(600, 'a'));
        QCOMPARE(field->text().toUtf8().size(), 511);
        field->clear();
        TypeText(field, QString(300, QChar(0x00E9)));
        QCOMPARE(field->text().toUtf8().size(), 510);
        field->clear();
        TypeText(field, QString::fromUtf8("pässwörd"));
        QTest::keyClick(field, Qt::Key_Return);
        QCOMPARE(prompt.result(), int(QDialog::Accepted));
        QCOMPARE(prompt.GetPassword(), std::string("pässwörd"));

        CPasswordDlg cancelled(103);
        cancelled.show();
        QVERIFY(QTest::qWaitForWindowExposed(&cancelled));
        QCOMPARE(FindControl<QPlainTextEdit>(cancelled, 1009)->toPlainText(), ToUiText(LoadResString(103)));
        QCOMPARE(FindControl<QPlainTextEdit>(cancelled, 1009)->horizontalScrollBar()->maximum(), 0);
        QTest::keyClicks(FindControl<QLineEdit>(cancelled, 1007), "x");
        QTest::keyClick(FindControl<QLineEdit>(cancelled, 1007), Qt::Key_Escape);
        QCOMPARE(cancelled.result(), int(QDialog::Rejected));
    }

    void logWindow()
    {
        std::string earlier;
        CScopedLogSink sink([&earlier](std::string_view text) { earlier += text; });
        CVeilmarkDlg main(nullptr, m_work.path().toStdString());
        main.show();
        QVERIFY(QTest::qWaitForWindowExposed(&main));

        ShowLogWindow(&main);
        CLogDlg* log = GetLogWindow();
        QVERIFY(log != nullptr && log->isVisible());
        // The command keeps the thread busy once the window is up: it has
        // been exposed (and so painted) before ShowLogWindow returns.
        QVERIFY(log->windowHandle() != nullptr && log->windowHandle()->isExposed());
        QVERIFY(log->windowFlags() & Qt::FramelessWindowHint);
        // Above its own program's windows, which it belongs to, and not above
        // every other program's.
        QVERIFY(!(log->windowFlags() & Qt::WindowStaysOnTopHint));
        QCOMPARE(log->parentWidget(), &main);
        QCOMPARE(log->size(), MapDialogRect(QRect(0, 0, 235, 123), GetDialogBaseUnits(*log)).size());
        QVERIFY((log->geometry().center() - main.frameGeometry().center()).manhattanLength() <= 2);
        auto* edit = FindControl<QPlainTextEdit>(*log, 1005);
        QVERIFY(edit->isReadOnly());

        WriteLog(120);
        WriteLog(121);
        // A selection at the start does not decide where the next line goes.
        QTextCursor selection(edit->document());
        selection.setPosition(0);
        selection.setPosition(7, QTextCursor::KeepAnchor);
        edit->setTextCursor(selection);
        WriteLog(127);
        WriteLog(9999);
        QCOMPARE(
            log->GetText(), QString("Convert RGB color model to YUV model.Level shifting.\nGenerate the 'Key'.\n"));

        // A second window replaces the first: there is only ever one.
        ShowLogWindow(&main);
        QVERIFY(GetLogWindow() != nullptr && GetLogWindow()->GetText().isEmpty());
        CloseLogWindow();
        QVERIFY(GetLogWindow() == nullptr);
        CloseLogWindow();
        QVERIFY(earlier.empty());
        WriteLog(128);
        QCOMPARE(earlier, std::string("Decryption Start.\r\n"));
    }

    void fileVersion_data()
    {
        QTest::addColumn<QByteArray>("contents");
        QTest::addColumn<bool>("found");
        QTest::addColumn<QString>("version");
        const QByteArray marker = "VEILMARK-FILEVERSION:";
        QTest::newRow("marker and version")
            << QByteArray("xx\0", 3) + marker + QByteArray("2, 0, 0, 7\0tail", 15) << true << "2, 0, 0, 7";
        QTest::newRow("bare marker first")
            << marker + QByteArray("\0", 1) + marker + QByteArray("1, 2, 3, 4\0", 11) << true << "1, 2, 3, 4";
        QTest::newRow("only the bare marker") << marker + QByteArray("\0", 1) << false << "";
        QTest::newRow("no terminator") << marker + "1, 0, 0, 1" << false << "";
        QTest::newRow("no marker") << QByteArray("an ordinary file") << false << "";
    }

    void fileVersion()
    {
        QFETCH(QByteArray, contents);
        QFETCH(bool, found);
        QFETCH(QString, version);
        const QString path = m_work.path() + "/program-file";
        QVERIFY(WriteFileBytes(path, contents));
        std::string text;
        std::string error;
        QCOMPARE(ReadVersionText(path.toStdString(), text, error), found);
        if (found)
            QCOMPARE(QString::fromStdString(text), version);

        CAboutDlg about(nullptr, path.toStdString());
        QCOMPARE(FindControl<QLineEdit>(about, 1023)->text(), found ? version : QString("GetVer_failed"));
    }

    void aboutBoxShowsTheRunningProgramsVersion()
    {
        CAboutDlg about;
        QCOMPARE(about.windowTitle(), QString("About Veilmark"));
        QCOMPARE(FindControl<QLineEdit>(about, 1023)->text(), QString("1, 0, 0, 1"));
        QVERIFY(FindControl<QLineEdit>(about, 1023)->isReadOnly());
        std::string version;
        std::string error;
        QVERIFY(ReadVersionText("/proc/self/exe", version, error));
        QCOMPARE(version, std::string("1, 0, 0, 1"));
    }

    void programFolderIsTheExecutablesFolder()
    {
        QCOMPARE(QString::fromStdString(GetProgramDir()), QCoreApplication::applicationDirPath() + "/");
        QCOMPARE(ChoosePageFolder(m_work.path().toStdString() + "/"), m_work.path().toStdString() + "/");
    }
};

QTEST_MAIN(DialogsTest)
#include "DialogsTest.moc"
