#pragma once

#include <QApplication>

// The application object: starts the toolkit, runs the main window until the
// user confirms the exit, and ends the program with it.
class CVeilmarkApp : public QApplication {
    Q_OBJECT

public:
    CVeilmarkApp(int& argc, char** argv);

    // Runs the main window modally; returns the program's exit status.
    int InitInstance();
};
