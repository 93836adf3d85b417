#include "ui/WebBrowser2.h"

#include "ui/PictureViewer.h"

#include <QAbstractTextDocumentLayout>
#include <QDesktopServices>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFragment>
#include <QTextImageFormat>

#include <algorithm>
#include <vector>

namespace {

// A picture is never made smaller than this to leave room below it.
constexpr qreal kMinimumPictureHeight = 96;

} // namespace

CWebBrowser2::CWebBrowser2(QWidget* parent)
    : QTextBrowser(parent)
{
    setOpenLinks(true);
    setOpenExternalLinks(true);
    document()->setUndoRedoEnabled(false);
}

void CWebBrowser2::Navigate(const QString& address) { NavigateWithNote(address, QString()); }

void CWebBrowser2::NavigateWithNote(const QString& address, const QString& note)
{
    const QUrl given(address);
    const bool isWebAddress = given.scheme() == QLatin1String("http") || given.scheme() == QLatin1String("https");
    if (isWebAddress) {
        QDesktopServices::openUrl(given);
        return;
    }
    m_strNote = note;
    const QUrl url = given.isLocalFile() ? given : QUrl::fromLocalFile(QFileInfo(address).absoluteFilePath());
    // The page files are rewritten in place, and a saved picture may replace
    // the one shown before under the same name: forget every cached resource.
    clear();
    if (source() == url)
        reload();
    else
        setSource(url, QTextDocument::HtmlResource);
    document()->setUndoRedoEnabled(false);
    FitPictures();
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
        QString page = QString::fromUtf8(bytes);
        if (!m_strNote.isEmpty()) {
            const qsizetype end = page.lastIndexOf(QLatin1String("</body>"), -1, Qt::CaseInsensitive);
            page.insert(end >= 0 ? end : page.size(), m_strNote);
        }
        return page;
    }
    return QTextBrowser::loadResource(type, name);
}

void CWebBrowser2::resizeEvent(QResizeEvent* event)
{
    QTextBrowser::resizeEvent(event);
    FitPictures();
}

void CWebBrowser2::FitPictures()
{
    if (m_bFitting)
        return;
    m_bFitting = true;
    QTextDocument* page = document();
    struct Picture {
        int position;
        int length;
        QTextImageFormat format;
        QSizeF natural;
    };
    std::vector<Picture> pictures;
    qreal shownHeight = 0;
    for (QTextBlock block = page->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (!fragment.charFormat().isImageFormat())
                continue;
            const QTextImageFormat format = fragment.charFormat().toImageFormat();
            const QImage image = page->resource(QTextDocument::ImageResource, QUrl(format.name())).value<QImage>();
            if (image.isNull())
                continue;
            pictures.push_back({ fragment.position(), fragment.length(), format, QSizeF(image.size()) });
            shownHeight += format.height() > 0 ? format.height() : image.height();
        }
    }
    if (!pictures.empty()) {
        // What the page needs besides its pictures stays visible below them.
        const qreal margin = page->documentMargin();
        const qreal width = std::max<qreal>(1, viewport()->width() - 2 * margin - 4);
        const qreal rest = page->size().height() - shownHeight;
        const qreal height = std::max(kMinimumPictureHeight, viewport()->height() - rest - margin);
        for (Picture& picture : pictures) {
            const qreal scale = std::min({ qreal(1), width / picture.natural.width(),
                height / (picture.natural.height() * qreal(pictures.size())) });
            picture.format.setWidth(std::max<qreal>(1, std::floor(picture.natural.width() * scale)));
            picture.format.setHeight(std::max<qreal>(1, std::floor(picture.natural.height() * scale)));
            QTextCursor cursor(page);
            cursor.setPosition(picture.position);
            cursor.setPosition(picture.position + picture.length, QTextCursor::KeepAnchor);
            cursor.setCharFormat(picture.format);
        }
    }
    m_bFitting = false;
}

QUrl CWebBrowser2::PictureAt(const QPoint& point) const
{
    const QPointF onPage = QPointF(point) + QPointF(horizontalScrollBar()->value(), verticalScrollBar()->value());
    const int position = document()->documentLayout()->hitTest(onPage, Qt::ExactHit);
    if (position < 0)
        return {};
    // The hit may land on either side of the picture's character.
    for (const int after : { position + 1, position }) {
        QTextCursor cursor(document());
        cursor.setPosition(std::clamp(after, 0, document()->characterCount() - 1));
        const QTextCharFormat format = cursor.charFormat();
        if (format.isImageFormat())
            return QUrl(format.toImageFormat().name());
    }
    return {};
}

void CWebBrowser2::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        const QUrl picture = PictureAt(event->position().toPoint());
        if (!picture.isEmpty()) {
            event->accept();
            ShowFullPicture(picture);
            return;
        }
    }
    QTextBrowser::mouseReleaseEvent(event);
}

void CWebBrowser2::ShowFullPicture(const QUrl& picture)
{
    const QImage image = document()->resource(QTextDocument::ImageResource, picture).value<QImage>();
    if (image.isNull())
        return;
    if (m_viewer)
        m_viewer->close();
    m_viewer = new CPictureViewer(image, picture.isLocalFile() ? picture.toLocalFile() : picture.toString(), window());
    m_viewer->setAttribute(Qt::WA_DeleteOnClose);
    m_viewer->show();
}
