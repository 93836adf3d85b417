#pragma once

#include <QDialog>

#include <string_view>

class QPlainTextEdit;

// The small window that lists the steps of a load or save command while it
// runs: no caption, centred over the main window and kept above it.
class CLogDlg : public QDialog {
    Q_OBJECT

public:
    explicit CLogDlg(QWidget* owner = nullptr);

    // Adds the text at the end of the log, whatever the user selected, and
    // paints it at once although the command keeps the thread busy.
    void AppendText(std::string_view text);

    // The whole log as shown.
    QString GetText() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QPlainTextEdit* m_edit = nullptr;
};

// Creates the log window centred over `mainWindow`, waits (briefly) until it
// is on screen and painted, and routes WriteLog to it. An open log window is
// closed first: there is at most one.
void ShowLogWindow(QWidget* mainWindow);

// Destroys the log window and stops routing WriteLog to it; without a log
// window it does nothing.
void CloseLogWindow();

// The open log window, or nullptr.
CLogDlg* GetLogWindow();
