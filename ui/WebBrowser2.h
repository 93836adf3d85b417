#pragma once

#include "ui/PictureViewer.h"

#include <QPointer>
#include <QTextBrowser>

// The HTML view of the main window. It shows local HTML files with the local
// pictures their image elements name; web links open in the desktop's browser.
// A picture is shown no wider than the pane and low enough that the rest of
// the page still fits below it where the pane allows; a click on it opens it
// at its full size.
class CWebBrowser2 : public QTextBrowser {
    Q_OBJECT

public:
    explicit CWebBrowser2(QWidget* parent = nullptr);

    // Shows a local HTML file (a path or a file: URL). Showing the file that is
    // already shown reads it afresh, pictures included. A web address is handed
    // to the desktop's browser.
    void Navigate(const QString& address);
    // The same, and shows `note` (HTML) at the end of the page's body. The
    // file itself stays as it is.
    void NavigateWithNote(const QString& address, const QString& note);

    // The picture at a point of the viewport, or an empty URL.
    QUrl PictureAt(const QPoint& point) const;
    // The window that shows a clicked picture at full size, while it is open.
    CPictureViewer* GetPictureViewer() const { return m_viewer; }

protected:
    QVariant loadResource(int type, const QUrl& name) override;
    void resizeEvent(QResizeEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void FitPictures();
    void ShowFullPicture(const QUrl& picture);

    QString m_strNote;
    bool m_bFitting = false;
    QPointer<CPictureViewer> m_viewer;
};
