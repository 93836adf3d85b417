#include "ui/WebBrowser2.h"

#include <QDesktopServices>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>

CWebBrowser2::CWebBrowser2(QWidget* parent)
    : QTextBrowser(parent)
{
    setOpenLinks(true);
    setOpenExternalLinks(true);
}

void CWebBrowser2::Navigate(const QString& address)
{
    const QUrl given(address);
    const bool isWebAddress = given.scheme() == QLatin1String("http") || given.scheme() == QLatin1String("https");
    if (isWebAddress) {
        QDesktopServices::openUrl(given);
        return;
    }
    const QUrl url = given.isLocalFile() ? given : QUrl::fromLocalFile(QFileInfo(address).absoluteFilePath());
    // The page files are rewritten in place, and a saved picture may replace
    // the one shown before under the same name: forget every cached resource.
    clear();
    if (source() == url)
        reload();
    else
        setSource(url, QTextDocument::HtmlResource);
}

QVariant CWebBrowser2::loadResource(int type, const QUrl& name)
{
    if (!name.isLocalFile())
        return QTextBrowser::loadResource(type, name);
    if (type == QTextDocument::ImageResource) {
        QImageReader reader(name.toLocalFile());
        reader.setAutoTransform(true);
        const QImage image = reader.read();
        if (!image.isNull())
            return image;
        return QTextBrowser::loadResource(type, name);
    }
    if (type == QTextDocument::HtmlResource) {
        // Page files end with a zero byte and declare no character set; they
        // are written as UTF-8.
        QFile file(name.toLocalFile());
        if (!file.open(QIODevice::ReadOnly))
            return {};
        QByteArray bytes = file.readAll();
        const qsizetype zero = bytes.indexOf('\0');
        if (zero >= 0)
            bytes.truncate(zero);
        return QString::fromUtf8(bytes);
    }
    return QTextBrowser::loadResource(type, name);
}
