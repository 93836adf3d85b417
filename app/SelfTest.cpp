#include "app/SelfTest.h"

#include "app/VeilmarkDlg.h"
#include "ui/WebBrowser2.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QPixmap>
#include <QUrl>

#include <cstdio>

namespace {

// The main window with every question answered by the self-test: the chosen
// file is the given picture, no password is given, and every message box is
// printed and closed.
class CSelfTestDlg : public CVeilmarkDlg {
public:
    explicit CSelfTestDlg(QString picture)
        : m_picture(std::move(picture))
    {
        m_bRememberSize = 0;
    }

    int m_messageCount = 0;

protected:
    QString ChooseOpenFile() override { return m_picture; }
    QString ChooseSaveFile(PictureKind, SaveFormat&) override { return {}; }
    bool AskPassword(unsigned, std::string&) override { return false; }
    QMessageBox::StandardButton ShowMessage(
        const QString& text, QMessageBox::StandardButtons buttons, QMessageBox::Icon) override
    {
        ++m_messageCount;
        std::printf("message: %s\n", qPrintable(QString(text).replace(QLatin1Char('\n'), QLatin1Char(' '))));
        return buttons.testFlag(QMessageBox::No) ? QMessageBox::No : QMessageBox::Ok;
    }
    void OpenHelpFile(const QString&) override { }

private:
    QString m_picture;
};

void WaitForEvents(int milliseconds)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < milliseconds)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

bool Check(bool passed, const char* what, const std::string& detail)
{
    std::printf("%s: %s (%s)\n", what, detail.c_str(), passed ? "ok" : "FAILED");
    return passed;
}

bool IsShown(const CWebBrowser2& browser, const std::string& path)
{
    return browser.source() == QUrl::fromLocalFile(QString::fromStdString(path))
        && !browser.toPlainText().trimmed().isEmpty();
}

} // namespace

int RunSelfTest(const QString& picture, const QString& screenshot)
{
    CSelfTestDlg dialog(picture);
    if (!screenshot.isEmpty())
        dialog.resize(900, 680);
    dialog.show();
    WaitForEvents(200);

    bool passed = true;
    std::printf("program-folder: %s\n", dialog.GetProgramFolder().c_str());
    passed &= Check(
        QFileInfo::exists(QString::fromStdString(dialog.GetHelpFilePath())), "help-file", dialog.GetHelpFilePath());
    passed &= Check(IsShown(dialog.GetBrowser(), dialog.GetHomePage()), "home-page", dialog.GetHomePage());

    if (!picture.isEmpty()) {
        dialog.OnLoadPicture();
        WaitForEvents(200);
        passed
            &= Check(dialog.m_messageCount == 0 && QFileInfo::exists(QString::fromStdString(dialog.GetLoadPagePath()))
                    && IsShown(dialog.GetBrowser(), dialog.GetLoadPagePath()),
                "load-page", dialog.GetLoadPagePath());
    }
    if (!screenshot.isEmpty())
        passed &= Check(dialog.grab().save(screenshot, "PNG"), "screenshot", screenshot.toStdString());

    dialog.hide();
    std::fflush(stdout);
    return passed ? 0 : 1;
}
