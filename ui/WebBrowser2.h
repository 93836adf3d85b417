#pragma once

#include <QTextBrowser>

// The HTML view of the main window. It shows local HTML files with the local
// pictures their image elements name; web links open in the desktop's browser.
class CWebBrowser2 : public QTextBrowser {
    Q_OBJECT

public:
    explicit CWebBrowser2(QWidget* parent = nullptr);

    // Shows a local HTML file (a path or a file: URL). Showing the file that is
    // already shown reads it afresh, pictures included. A web address is handed
    // to the desktop's browser.
    void Navigate(const QString& address);

protected:
    QVariant loadResource(int type, const QUrl& name) override;
};
