#pragma once

#include <QObject>

#include "update/DownloadWorker.h"

// Turns the worker's calls into Qt signals. It lives on the dialog's thread;
// the worker calls it from its own, so a connection made with
// Qt::BlockingQueuedConnection holds the worker until the dialog has handled a
// report, and one made with Qt::QueuedConnection only posts the end.
class CDownloadNotifier : public QObject, public IDownloadListener {
    Q_OBJECT

public:
    using QObject::QObject;

    void OnDownloadStatus(const DownloadProgress* progress) override { emit StatusReported(progress); }
    void OnDownloadDone() override { emit DownloadDone(); }

signals:
    // `progress` is null to announce a cancellation.
    void StatusReported(const DownloadProgress* progress);
    void DownloadDone();
};
