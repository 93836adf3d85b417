#include "ui/ToolWindow.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QScreen>
#include <QThread>
#include <QWidget>
#include <QWindow>

namespace {

constexpr qint64 kExposeLimitMs = 1000;

bool IsExposed(const QWidget& window) { return window.windowHandle() != nullptr && window.windowHandle()->isExposed(); }

} // namespace

void CentreOver(QWidget& window, const QWidget* over)
{
    const QRect area = over != nullptr ? over->frameGeometry() : QGuiApplication::primaryScreen()->availableGeometry();
    const QSize size = window.frameGeometry().size();
    window.move(area.left() + (area.width() - size.width()) / 2, area.top() + (area.height() - size.height()) / 2);
}

void ShowAndPaint(QWidget& window)
{
    window.show();
    window.raise();
    QElapsedTimer waited;
    waited.start();
    while (!IsExposed(window) && waited.elapsed() < kExposeLimitMs) {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 10);
        if (!IsExposed(window))
            QThread::msleep(2);
    }
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    window.repaint();
}
