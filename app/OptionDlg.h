#pragma once

#include "app/Settings.h"

#include <QDialog>

#include <string>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;

// The "Option" dialog: the SMTP server, the user's own address and whether
// the send-mail dialog follows every save; below them how to reach the
// server: port, security, user name and password. It opens with the values
// stored in the user's settings (not the main window's copies) and the
// password kept in the secret service, and stores nothing itself; the caller
// writes them after OK (EditProgramOptions). Without a secret service the
// password box stays disabled and a note says it is asked for at each send.
class COptionDlg : public QDialog {
    Q_OBJECT

public:
    explicit COptionDlg(QWidget* parent = nullptr);

    int DoModal() { return exec(); }

    // The values as they stood when the dialog ended with OK.
    MailSettings GetMailSettings() const;

    void accept() override;

    // Whether the secret service answered, so that the password can be kept.
    bool CanKeepPassword() const { return m_bCanKeepPassword; }

    std::string m_strUserEmail;
    std::string m_strSmtpServer;
    int m_bSendAfterSave = 0;
    // The format a save offers first.
    SaveFormat m_defaultFormat = SaveFormat::Compatible;
    int m_nSmtpPort = kDefaultSmtpPort;
    SmtpSecurity m_smtpSecurity = SmtpSecurity::None;
    std::string m_strSmtpUser;
    std::string m_strPassword; // as read from, and to be written to, the secret service

protected:
    void DoDataExchange(bool saveAndValidate);

private:
    QLineEdit* m_smtpServerEdit = nullptr;
    QLineEdit* m_userEmailEdit = nullptr;
    QCheckBox* m_sendAfterSaveBox = nullptr;
    QCheckBox* m_defaultSealedBox = nullptr;
    QLineEdit* m_portEdit = nullptr;
    QComboBox* m_securityBox = nullptr;
    QLineEdit* m_userEdit = nullptr;
    QLineEdit* m_passwordEdit = nullptr;
    QLabel* m_passwordNote = nullptr;
    bool m_bCanKeepPassword = false;
};

// What became of the "Program Option" command.
enum class OptionResult {
    Cancelled, // nothing was written
    Saved, // all values were written
    SaveFailed, // a write failed; the values before it stay written
};

// Runs the option dialog; after OK writes the SMTP server, the e-mail address
// and the flag, then port, security and user name, and the default save
// format, in this order, stopping at the first failure, and then keeps the
// password in the secret service (or removes it there when the box was
// emptied). After Saved, `settings` holds the mail values written (for the
// main window's copies); the format is the dialog's m_defaultFormat.
OptionResult EditProgramOptions(COptionDlg& dialog, MailSettings& settings);
