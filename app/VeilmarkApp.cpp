#include "VeilmarkApp.h"

#include "VeilmarkDlg.h"

#include <QIcon>

CVeilmarkApp::CVeilmarkApp(int& argc, char** argv) : QApplication(argc, argv)
{
    // The name is the caption of every message box.
    setApplicationName(QStringLiteral("Veilmark"));
    setDesktopFileName(QStringLiteral("veilmark"));
    setWindowIcon(QIcon(QStringLiteral(":/veilmark/veilmark.png")));
}

int CVeilmarkApp::InitInstance()
{
    CVeilmarkDlg dialog;
    dialog.exec();
    return 0;
}
