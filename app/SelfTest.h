#pragma once

#include <QString>

// Starts the main window without a user: checks that the help file and the
// welcome page are found and shown, loads `picture` (when given) as if chosen
// in the open dialog, checks that its page was written and shown, optionally
// saves a picture of the window, prints what it found and returns 0 when
// everything was in place.
int RunSelfTest(const QString& picture, const QString& screenshot);
