#pragma once

#include <QDialog>

#include <string>

class QPlainTextEdit;
class QProgressBar;

// The small topmost window shown over the send-mail dialog while a mail is
// sent: a line of text and a bar for the encoding of the attachment. At most
// one exists; the functions below create, feed and close it.
class CSendProgressDlg : public QDialog {
    Q_OBJECT

public:
    CSendProgressDlg();

    void SetText(const std::string& text);
    void SetPos(int percent);

    QString Text() const;
    int Pos() const;

private:
    void DoDataExchange(bool saveAndValidate);

    std::string m_strText;
    QPlainTextEdit* m_textEdit = nullptr;
    QProgressBar* m_progress = nullptr;
};

// Creates the progress window centred over `window` and shows it at once.
// While it is shown, SetSendProgressText and SetSendProgressPos (SendProgress.h)
// reach it from any thread.
void ShowSendProgress(QWidget* window);

// Destroys the progress window; does nothing when there is none.
void CloseSendProgress();

// The progress window while it exists, else null.
CSendProgressDlg* SendProgressWindow();
