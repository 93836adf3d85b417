#pragma once

#include <QDialog>

#include <string>

class QLineEdit;
class QPlainTextEdit;

// The modal password prompt of the load and save commands. The password field
// takes at most 511 bytes of UTF-8, the most the password buffer holds.
class CPasswordDlg : public QDialog {
    Q_OBJECT

public:
    explicit CPasswordDlg(unsigned promptId, QWidget* parent = nullptr);

    int DoModal() { return exec(); }

    // The password typed, as UTF-8 bytes; read it after the prompt ended with OK.
    const std::string& GetPassword() const { return m_strPassword; }

    void accept() override;

protected:
    void DoDataExchange(bool saveAndValidate);

private:
    std::string m_strPassword;
    std::string m_strPrompt;
    QLineEdit* m_passwordEdit = nullptr;
    QPlainTextEdit* m_promptEdit = nullptr;
};
