#pragma once

#include <QString>

#include <functional>

class QWidget;

// Runs `work` on a worker thread and returns when it has finished. Meanwhile a
// modal dialog over `parent` shows `text` with an indeterminate bar, and the
// user-interface thread keeps processing events: windows repaint, timers fire,
// and no command can start, since the dialog takes all input. The dialog has
// no cancel button: the work owns the data it was given until it ends.
//
// `work` must not throw; whatever it produces it leaves in variables the
// caller owns.
void RunWithBusyIndicator(QWidget* parent, const QString& text, const std::function<void()>& work);
