#include "mail/SendProgress.h"

#include <mutex>
#include <utility>

namespace {

std::mutex& SinkMutex()
{
    static std::mutex mutex;
    return mutex;
}

SendProgressSink& CurrentSink()
{
    static SendProgressSink sink;
    return sink;
}

} // namespace

SendProgressSink SetSendProgressSink(SendProgressSink sink)
{
    std::lock_guard lock(SinkMutex());
    return std::exchange(CurrentSink(), std::move(sink));
}

void SetSendProgressText(const std::string& text)
{
    std::function<void(const std::string&)> report;
    {
        std::lock_guard lock(SinkMutex());
        report = CurrentSink().text;
    }
    if (report)
        report(text);
}

void SetSendProgressPos(int percent)
{
    std::function<void(int)> report;
    {
        std::lock_guard lock(SinkMutex());
        report = CurrentSink().position;
    }
    if (report)
        report(percent);
}
