#include "ui/PictureViewer.h"

#include <QGuiApplication>
#include <QLabel>
#include <QPixmap>
#include <QScreen>
#include <QScrollArea>
#include <QVBoxLayout>

CPictureViewer::CPictureViewer(const QImage& image, const QString& title, QWidget* parent)
    : QDialog(parent)
    , m_size(image.size())
{
    setWindowTitle(title);
    auto* picture = new QLabel;
    picture->setPixmap(QPixmap::fromImage(image));
    picture->resize(image.size());
    auto* scroll = new QScrollArea;
    scroll->setWidget(picture);
    scroll->setAlignment(Qt::AlignCenter);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(scroll);
    // As large as the picture, within most of the screen.
    const QSize frame = scroll->frameSize() - scroll->viewport()->size() + QSize(2, 2);
    QSize wanted = image.size() + frame;
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        wanted = wanted.boundedTo(screen->availableSize() * 9 / 10);
    resize(wanted);
}
