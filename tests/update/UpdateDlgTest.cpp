#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <memory>
#include <string>
#include <vector>

#include "res/StringTable.h"
#include "support/HttpTestServer.h"
#include "support/UpdateTestSupport.h"
#include "ui/DialogBuilder.h"
#include "ui/UiText.h"
#include "update/UpdateDlg.h"

namespace {

// The dialog with its message boxes answered by the test.
class CTestUpdateDlg : public CUpdateDlg {
public:
    struct Message {
        QString text;
        QMessageBox::Icon icon;
    };
    std::vector<Message> messages;
    QMessageBox::StandardButton answer = QMessageBox::Yes;
    // Shows the dialog's own message boxes instead of answering them.
    bool realMessageBoxes = false;

protected:
    QMessageBox::StandardButton ShowMessage(const QString& text, QMessageBox::StandardButtons buttons,
        QMessageBox::Icon icon, QMessageBox::StandardButton defaultButton) override
    {
        messages.push_back({ text, icon });
        if (realMessageBoxes)
            return CUpdateDlg::ShowMessage(text, buttons, icon, defaultButton);
        return buttons.testFlag(answer) ? answer : QMessageBox::Ok;
    }
};

QString Text(unsigned id) { return ToUiText(LoadResString(id)); }

// Each piece must occur in the text after the one before it.
bool InOrder(const QString& text, const QStringList& pieces)
{
    qsizetype at = 0;
    for (const QString& piece : pieces) {
        const qsizetype found = text.indexOf(piece, at);
        if (found < 0) {
            qWarning().noquote() << "missing in order:" << piece << "\nin:\n" << text;
            return false;
        }
        at = found + piece.size();
    }
    return true;
}

} // namespace

class UpdateDlgTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void FullRunStartsThePatchAndCloses();
    void EnterAtTheQuestionDoesNotStartThePatch();
    void MissingVersionFileEndsTheRun();
    void WrongUrlIsRefusedAndExitCloses();
    void EscapeClosesWhileIdle();
    void EscapeLeavesARunningDownloadAndClosingStopsIt();

private:
    QString Log() const { return FindControl<QPlainTextEdit>(*m_dialog, 2005)->toPlainText(); }
    QProgressBar* Bar(int id) const { return FindControl<QProgressBar>(*m_dialog, id); }
    QPushButton* Button(int id) const { return FindControl<QPushButton>(*m_dialog, id); }
    void Start(const std::string& serverAddress)
    {
        FindControl<QLineEdit>(*m_dialog, 1001)->setText(QString::fromStdString(serverAddress));
        QTest::mouseClick(Button(IDCANCEL), Qt::LeftButton);
    }

    CTempFolder m_site;
    std::unique_ptr<CHttpTestServer> m_server;
    std::unique_ptr<CTempFolder> m_folder;
    std::unique_ptr<CTestUpdateDlg> m_dialog;
};

void UpdateDlgTest::initTestCase()
{
    for (const char* name : { "http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY" })
        qunsetenv(name);
    const std::string english = m_site / "Patch/English/";
    WriteText(english + "NewerVersion.nfo", "1, 0, 0, 2\r\n");
    WriteText(english + "UpdateInfo.nfo", "1, 0, 0, 1 ; veilmark-1001.sh\r\n");
    // The patch leaves a mark where the test can see it ran.
    WriteText(english + "veilmark-1001.sh", "#!/bin/sh\necho ran > '" + (m_site / "patch-ran").string() + "'\n");
    m_server = std::make_unique<CHttpTestServer>(m_site.Path());
    QVERIFY2(m_server->IsRunning(), m_server->StartError().c_str());
}

void UpdateDlgTest::init()
{
    m_folder = std::make_unique<CTempFolder>();
    m_dialog = std::make_unique<CTestUpdateDlg>();
    WriteProgramFile(*m_folder / "veilmark", "1, 0, 0, 1");
    CUpdateSession& session = m_dialog->GetSession();
    session.SetProgramFilePath(*m_folder / "veilmark");
    session.SetCacheFolder(*m_folder / "cache/");
    DownloadLimits limits;
    limits.connectTime = std::chrono::seconds(5);
    limits.totalTime = std::chrono::seconds(20);
    limits.stallTime = std::chrono::seconds(2);
    session.SetDownloadLimits(limits, limits);
    m_dialog->show();
}

void UpdateDlgTest::cleanup()
{
    m_dialog.reset();
    m_folder.reset();
}

void UpdateDlgTest::FullRunStartsThePatchAndCloses()
{
    QCOMPARE(FindControl<QLineEdit>(*m_dialog, 1001)->text(), QString(kDefaultServerAddress));
    Start(m_server->BaseUrl() + "/Patch/English");
    QVERIFY(!Button(IDCANCEL)->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(!m_dialog->isVisible(), 20000);

    QCOMPARE(m_dialog->result(), 0);
    QVERIFY(InOrder(Log(),
        { ToUiText(FormatResString(182, "1, 0, 0, 1")), Text(191), Text(156), Text(161), Text(191), Text(184),
            ToUiText(FormatResString(188, 1, 0, 0, 2)), Text(189), Text(191), Text(161), Text(191), Text(184),
            ToUiText(FormatResString(192, "veilmark-1001.sh")), Text(191), Text(161), Text(191), Text(184) }));
    for (const int bar : { 1058, 1059, 1062 })
        QCOMPARE(Bar(bar)->value(), 100);
    QCOMPARE(m_dialog->messages.size(), std::size_t(1));
    QCOMPARE(m_dialog->messages[0].icon, QMessageBox::Question);
    QVERIFY(m_dialog->messages[0].text.contains(
        QString::fromStdString(m_server->BaseUrl()) + "/Patch/English/veilmark-1001.sh"));
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(QString::fromStdString(m_site / "patch-ran")), 10000);
    QVERIFY(Button(IDCANCEL)->isEnabled());
}

void UpdateDlgTest::EnterAtTheQuestionDoesNotStartThePatch()
{
    const QString mark = QString::fromStdString(m_site / "patch-ran");
    QFile::remove(mark);
    m_dialog->realMessageBoxes = true;
    // Answers the question the way a hasty user does, with Enter.
    QString question;
    bool noIsDefault = false;
    QTimer answerer;
    connect(&answerer, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !question.isEmpty())
            return;
        question = box->text();
        noIsDefault = box->defaultButton() && box->defaultButton() == box->button(QMessageBox::No);
        QTest::keyClick(box, Qt::Key_Return);
    });
    answerer.start(20);

    Start(m_server->BaseUrl() + "/Patch/English");
    QTRY_VERIFY_WITH_TIMEOUT(Log().contains(Text(196)), 20000);
    QVERIFY(noIsDefault);
    QVERIFY(m_dialog->isVisible());
    QVERIFY(Button(IDCANCEL)->isEnabled());
    QTest::qWait(200);
    QVERIFY(!QFileInfo::exists(mark));
    // The question names where the program came from and, for plain http,
    // that nothing vouches for it.
    QVERIFY(question.contains(QString::fromStdString(m_server->BaseUrl()) + "/Patch/English/veilmark-1001.sh"));
    QVERIFY(question.contains(Text(202).trimmed()));
}

void UpdateDlgTest::MissingVersionFileEndsTheRun()
{
    Start(m_server->BaseUrl() + "/Patch/Nowhere/");
    QTRY_VERIFY_WITH_TIMEOUT(Button(IDCANCEL)->isEnabled(), 20000);
    QVERIFY(InOrder(Log(), { Text(191), Text(185), "404", Text(191) }));
    QVERIFY(Log().endsWith(Text(191)));
    QVERIFY(Button(IDOK)->isEnabled());
    QVERIFY(m_dialog->isVisible());
    QCOMPARE(Bar(1059)->value(), 0);
}

void UpdateDlgTest::WrongUrlIsRefusedAndExitCloses()
{
    Start("ftp://update.example.com/Patch");
    QCOMPARE(m_dialog->messages.size(), std::size_t(1));
    QCOMPARE(m_dialog->messages[0].text, Text(186));
    QCOMPARE(m_dialog->messages[0].icon, QMessageBox::Critical);
    QVERIFY(Button(IDCANCEL)->isEnabled());
    QVERIFY(Button(IDOK)->isEnabled());

    QSignalSpy finished(m_dialog.get(), &QDialog::finished);
    QTest::mouseClick(Button(IDOK), Qt::LeftButton);
    QVERIFY(!m_dialog->isVisible());
    QCOMPARE(m_dialog->result(), int(QDialog::Accepted));
    QCOMPARE(finished.count(), 1);
}

void UpdateDlgTest::EscapeClosesWhileIdle()
{
    QSignalSpy finished(m_dialog.get(), &QDialog::finished);
    QTest::keyClick(FindControl<QLineEdit>(*m_dialog, 1001), Qt::Key_Escape);
    QVERIFY(!m_dialog->isVisible());
    QCOMPARE(m_dialog->result(), int(QDialog::Rejected));
    QCOMPARE(finished.count(), 1);
    QVERIFY(Log().isEmpty());
}

void UpdateDlgTest::EscapeLeavesARunningDownloadAndClosingStopsIt()
{
    // 1 MB at 4 KiB per 20 ms takes about 5 s.
    Start(m_server->BaseUrl() + "/slow/1000000");
    QTRY_VERIFY_WITH_TIMEOUT(Log().contains(Text(160)), 10000);
    QVERIFY(m_dialog->GetSession().IsDownloading());
    // While the buttons are disabled Esc does not end the run either.
    QTest::keyClick(m_dialog.get(), Qt::Key_Escape);
    QVERIFY(m_dialog->isVisible());
    QVERIFY(m_dialog->GetSession().IsDownloading());
    QElapsedTimer timer;
    timer.start();
    m_dialog->close();
    QVERIFY(!m_dialog->GetSession().IsDownloading());
    QVERIFY(!m_dialog->isVisible());
    QVERIFY(timer.elapsed() < 5000);
}

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    UpdateDlgTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "UpdateDlgTest.moc"
