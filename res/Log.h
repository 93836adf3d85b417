#pragma once

#include <functional>
#include <string_view>

// The step log. Codec and cipher code report each step by string-table number;
// whoever shows the log (the log window, the command-line tool's --verbose)
// installs a sink. Without a sink WriteLog does nothing.

using LogSink = std::function<void(std::string_view text)>;

// Installs the sink (an empty function removes it) and returns the previous one.
LogSink SetLogSink(LogSink sink);

// Appends the text with the given number to the sink, if one is installed.
// A number without a text appends nothing.
void WriteLog(unsigned id);

// Installs a sink for the lifetime of the object and restores the previous one.
class CScopedLogSink {
public:
    explicit CScopedLogSink(LogSink sink)
        : m_previous(SetLogSink(std::move(sink)))
    {
    }
    ~CScopedLogSink() { SetLogSink(std::move(m_previous)); }
    CScopedLogSink(const CScopedLogSink&) = delete;
    CScopedLogSink& operator=(const CScopedLogSink&) = delete;

private:
    LogSink m_previous;
};
