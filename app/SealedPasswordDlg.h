#pragma once

#include <QDialog>

#include <string>

class QLabel;
class QLineEdit;
class QPlainTextEdit;

// The password prompt of the sealed format. Sealing asks for the password
// twice and ends with OK only when both entries agree and are not empty;
// opening asks once. Both show what each wrong guess costs an attacker,
// measured on this computer the first time a prompt opens. Entries are shown
// as typed, as in the compatible prompt, and hold at most 511 bytes of UTF-8.
class CSealedPasswordDlg : public QDialog {
    Q_OBJECT

public:
    enum class Mode { Seal, Open };

    explicit CSealedPasswordDlg(Mode mode, QWidget* parent = nullptr);

    int DoModal() { return exec(); }

    // The password typed, as UTF-8 bytes; read it after the prompt ended with OK.
    const std::string& GetPassword() const { return m_strPassword; }

    void accept() override;

private:
    void ShowCost();

    Mode m_mode;
    std::string m_strPassword;
    QPlainTextEdit* m_promptEdit = nullptr;
    QLineEdit* m_passwordEdit = nullptr;
    QLineEdit* m_confirmEdit = nullptr;
    QLabel* m_costLabel = nullptr;
    QLabel* m_noteLabel = nullptr;
};
