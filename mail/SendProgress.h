#pragma once

#include <functional>
#include <string>

// The attachment encoder reports its progress through these two calls. They do
// nothing until a progress display installs its sink; the send-mail dialog's
// progress window does so while it is shown. The sink may be called from the
// thread that runs the mail session, so a display must hand the values over to
// its own thread.
struct SendProgressSink {
    std::function<void(const std::string& text)> text;
    std::function<void(int percent)> position;
};

// Installs the sink (an empty one removes it) and returns the previous one.
SendProgressSink SetSendProgressSink(SendProgressSink sink);

void SetSendProgressText(const std::string& text);
void SetSendProgressPos(int percent);
