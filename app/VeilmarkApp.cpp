#include "app/VeilmarkApp.h"

#include "app/VeilmarkDlg.h"

#include <QIcon>
#include <QStringList>
#include <QTimer>

CVeilmarkApp::CVeilmarkApp(int& argc, char** argv)
    : QApplication(argc, argv)
{
    // The name is the caption of every message box.
    setApplicationName(QStringLiteral("Veilmark"));
    setDesktopFileName(QStringLiteral("veilmark"));
    setWindowIcon(QIcon(QStringLiteral(":/veilmark/veilmark.png")));
}

int CVeilmarkApp::InitInstance()
{
    CVeilmarkDlg dialog;
    // A picture named on the command line (the desktop's "Open with") is
    // loaded once the window is up, as if chosen in the open dialog.
    const QStringList arguments = CVeilmarkApp::arguments();
    if (arguments.size() > 1) {
        const QString picture = arguments.at(1);
        QTimer::singleShot(0, &dialog, [&dialog, picture] { dialog.LoadPictureFile(picture); });
    }
    dialog.exec();
    return 0;
}
