#pragma once

#include "app/Settings.h"

#include <QDialog>

#include <string>

class QCheckBox;
class QLineEdit;

// The "Option" dialog: the SMTP server, the user's own address and whether
// the send-mail dialog follows every save. It opens with the values stored in
// the user's settings (not the main window's copies) and stores nothing
// itself; the caller writes them after OK (WriteMailSettings).
class COptionDlg : public QDialog {
    Q_OBJECT

public:
    explicit COptionDlg(QWidget* parent = nullptr);

    int DoModal() { return exec(); }

    // The values as they stood when the dialog ended with OK.
    MailSettings GetMailSettings() const;

    void accept() override;

    std::string m_strUserEmail;
    std::string m_strSmtpServer;
    int m_bSendAfterSave = 0;
    // The format a save offers first.
    SaveFormat m_defaultFormat = SaveFormat::Compatible;

protected:
    void DoDataExchange(bool saveAndValidate);

private:
    QLineEdit* m_smtpServerEdit = nullptr;
    QLineEdit* m_userEmailEdit = nullptr;
    QCheckBox* m_sendAfterSaveBox = nullptr;
    QCheckBox* m_defaultSealedBox = nullptr;
};

// What became of the "Program Option" command.
enum class OptionResult {
    Cancelled, // nothing was written
    Saved, // all three values were written
    SaveFailed, // a write failed; the values before it stay written
};

// Runs the option dialog; after OK writes the SMTP server, the e-mail address,
// the flag and the default save format, in this order, stopping at the first
// failure. After Saved, `settings` holds the mail values written (for the main
// window's copies); the format is the dialog's m_defaultFormat.
OptionResult EditProgramOptions(COptionDlg& dialog, MailSettings& settings);
