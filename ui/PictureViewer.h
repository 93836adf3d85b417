#pragma once

#include <QDialog>
#include <QImage>

// A window that shows a picture at its full size, scrolling where it is
// larger than the screen allows.
class CPictureViewer : public QDialog {
    Q_OBJECT

public:
    CPictureViewer(const QImage& image, const QString& title, QWidget* parent = nullptr);

    QSize GetPictureSize() const { return m_size; }

private:
    QSize m_size;
};
