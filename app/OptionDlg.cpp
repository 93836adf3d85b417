#include "app/OptionDlg.h"

#include "mail/MailPasswordStore.h"
#include "res/StringIds.h"
#include "res/StringTable.h"
#include "ui/DialogBuilder.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QValidator>

namespace {

// Keeps a text within the bytes a setting can hold when read back, so that
// what the user confirms is what the next start shows.
class CSettingLengthValidator : public QValidator {
public:
    using QValidator::QValidator;

    State validate(QString& input, int&) const override
    {
        return input.toUtf8().size() < qsizetype(kSettingTextBuffer) ? Acceptable : Invalid;
    }
};

} // namespace

COptionDlg::COptionDlg(QWidget* parent)
    : QDialog(parent)
{
    BuildDialog(*this, IDD_OPTION);
    m_smtpServerEdit = FindControl<QLineEdit>(*this, IDC_SMTP_SERVER);
    m_userEmailEdit = FindControl<QLineEdit>(*this, IDC_USER_EMAIL);
    m_sendAfterSaveBox = FindControl<QCheckBox>(*this, IDC_SEND_AFTER_SAVE);
    m_defaultSealedBox = FindControl<QCheckBox>(*this, IDC_DEFAULT_SEALED);
    m_portEdit = FindControl<QLineEdit>(*this, IDC_SMTP_PORT);
    m_securityBox = FindControl<QComboBox>(*this, IDC_SMTP_SECURITY);
    m_userEdit = FindControl<QLineEdit>(*this, IDC_SMTP_USER);
    m_passwordEdit = FindControl<QLineEdit>(*this, IDC_SMTP_PASSWORD);
    m_passwordNote = FindControl<QLabel>(*this, IDC_PASSWORD_NOTE);
    m_portEdit->setValidator(new QIntValidator(1, 65535, m_portEdit));
    for (QLineEdit* edit : { m_smtpServerEdit, m_userEmailEdit, m_userEdit, m_passwordEdit }) {
        edit->setMaxLength(int(kSettingTextBuffer) - 1);
        edit->setValidator(new CSettingLengthValidator(edit));
    }
    // OK and Cancel end the dialog through accept() and reject(), once each
    // however many times they are wired.
    connect(FindControl<QPushButton>(*this, IDOK), &QPushButton::clicked, this, &QDialog::accept, Qt::UniqueConnection);
    connect(
        FindControl<QPushButton>(*this, IDCANCEL), &QPushButton::clicked, this, &QDialog::reject, Qt::UniqueConnection);

    const MailSettings stored = ReadMailSettings();
    m_strSmtpServer = stored.smtpServer;
    m_strUserEmail = stored.userEmail;
    m_bSendAfterSave = stored.sendAfterSave ? 1 : 0;
    m_defaultFormat = ReadDefaultSaveFormat();
    m_nSmtpPort = stored.smtpPort;
    m_smtpSecurity = stored.smtpSecurity;
    m_strSmtpUser = stored.smtpUserName;

    CMailPasswordStore store;
    m_bCanKeepPassword
        = store.Read(m_strSmtpServer, m_strSmtpUser, m_strPassword) != CMailPasswordStore::Result::Unavailable;
    if (!m_bCanKeepPassword) {
        m_passwordEdit->setEnabled(false);
        m_passwordNote->setText(QString::fromStdString(LoadResString(IDS_NO_SECRET_SERVICE)));
    }
    DoDataExchange(false);
}

void COptionDlg::DoDataExchange(bool saveAndValidate)
{
    if (saveAndValidate) {
        m_strUserEmail = m_userEmailEdit->text().toStdString();
        m_strSmtpServer = m_smtpServerEdit->text().toStdString();
        m_bSendAfterSave = m_sendAfterSaveBox->isChecked() ? 1 : 0;
        m_defaultFormat = m_defaultSealedBox->isChecked() ? SaveFormat::Sealed : SaveFormat::Compatible;
        m_nSmtpPort = m_portEdit->text().toInt();
        m_smtpSecurity = SmtpSecurityFromName(m_securityBox->currentText().toStdString()).value_or(SmtpSecurity::None);
        m_strSmtpUser = m_userEdit->text().toStdString();
        if (m_bCanKeepPassword)
            m_strPassword = m_passwordEdit->text().toStdString();
        return;
    }
    m_userEmailEdit->setText(QString::fromStdString(m_strUserEmail));
    m_smtpServerEdit->setText(QString::fromStdString(m_strSmtpServer));
    m_sendAfterSaveBox->setChecked(m_bSendAfterSave != 0);
    m_defaultSealedBox->setChecked(m_defaultFormat == SaveFormat::Sealed);
    m_portEdit->setText(QString::number(m_nSmtpPort));
    m_securityBox->setCurrentText(QString::fromUtf8(SmtpSecurityName(m_smtpSecurity).data()));
    m_userEdit->setText(QString::fromStdString(m_strSmtpUser));
    m_passwordEdit->setText(QString::fromStdString(m_strPassword));
}

void COptionDlg::accept()
{
    // The validator lets nothing but digits in; an empty box or 0 remains.
    const int port = m_portEdit->text().toInt();
    if (port < 1 || port > 65535) {
        QMessageBox::warning(
            this, QCoreApplication::applicationName(), QString::fromStdString(LoadResString(IDS_BAD_SMTP_PORT)));
        m_portEdit->setFocus();
        return;
    }
    DoDataExchange(true);
    QDialog::accept();
}

MailSettings COptionDlg::GetMailSettings() const
{
    return { m_strSmtpServer, m_strUserEmail, m_bSendAfterSave != 0, m_nSmtpPort, m_smtpSecurity, m_strSmtpUser };
}

OptionResult EditProgramOptions(COptionDlg& dialog, MailSettings& settings)
{
    if (dialog.DoModal() != QDialog::Accepted)
        return OptionResult::Cancelled;
    const MailSettings chosen = dialog.GetMailSettings();
    if (!WriteMailSettings(chosen) || !WriteDefaultSaveFormat(dialog.m_defaultFormat))
        return OptionResult::SaveFailed;
    settings = chosen;
    // The password goes to the secret service alone; without one it is asked
    // for at each send.
    if (dialog.CanKeepPassword() && !chosen.smtpUserName.empty()) {
        CMailPasswordStore store;
        const auto result = dialog.m_strPassword.empty()
            ? store.Remove(chosen.smtpServer, chosen.smtpUserName)
            : store.Write(chosen.smtpServer, chosen.smtpUserName, dialog.m_strPassword);
        if (result == CMailPasswordStore::Result::Unavailable)
            QMessageBox::warning(dialog.parentWidget(), QCoreApplication::applicationName(),
                QString::fromStdString(FormatResString(IDS_PASSWORD_NOT_STORED, store.ErrorText().c_str())));
    }
    return OptionResult::Saved;
}
