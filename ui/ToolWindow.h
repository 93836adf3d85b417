#pragma once

class QWidget;

// The small modeless windows that report a command's progress (the log
// window, the mail progress window) while the command keeps the thread busy.

// Places `window` centred over `over`, or over the primary screen without one.
void CentreOver(QWidget& window, const QWidget* over);

// Shows `window` above its owner and paints it before the command goes on. A
// window is painted only once the window system has exposed it, which takes a
// round trip through the window manager, so this waits for that, within a
// bound of one second, handling no user input meanwhile.
void ShowAndPaint(QWidget& window);
