#include "res/Log.h"

#include "res/StringTable.h"

#include <string>
#include <utility>

namespace {
LogSink& CurrentSink()
{
    static LogSink sink;
    return sink;
}
} // namespace

LogSink SetLogSink(LogSink sink) { return std::exchange(CurrentSink(), std::move(sink)); }

void WriteLog(unsigned id)
{
    const LogSink& sink = CurrentSink();
    if (!sink)
        return;
    const std::string text = LoadResString(id);
    if (!text.empty())
        sink(text);
}
