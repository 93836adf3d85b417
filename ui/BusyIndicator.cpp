#include "ui/BusyIndicator.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFutureWatcher>
#include <QProgressDialog>
#include <QtConcurrent/QtConcurrentRun>

namespace {

// Esc and the close box would hide the dialog while the work goes on.
class CBusyDialog : public QProgressDialog {
public:
    using QProgressDialog::QProgressDialog;

    void reject() override { }

protected:
    void closeEvent(QCloseEvent* event) override { event->ignore(); }
};

} // namespace

void RunWithBusyIndicator(QWidget* parent, const QString& text, const std::function<void()>& work)
{
    CBusyDialog dialog(text, QString(), 0, 0, parent);
    dialog.setWindowTitle(QCoreApplication::applicationName());
    dialog.setWindowModality(Qt::ApplicationModal);
    dialog.setCancelButton(nullptr);
    dialog.setAutoClose(false);
    dialog.setAutoReset(false);
    dialog.setMinimumDuration(0);

    QEventLoop loop;
    QFutureWatcher<void> watcher;
    QObject::connect(&watcher, &QFutureWatcher<void>::finished, &loop, &QEventLoop::quit);
    watcher.setFuture(QtConcurrent::run(work));
    dialog.show();
    if (!watcher.isFinished())
        loop.exec();
    watcher.waitForFinished();
    dialog.hide();
}
