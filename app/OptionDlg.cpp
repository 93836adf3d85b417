#include "app/OptionDlg.h"

#include "ui/DialogBuilder.h"

#include <QCheckBox>
#include <QLineEdit>
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
    for (QLineEdit* edit : { m_smtpServerEdit, m_userEmailEdit }) {
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
    DoDataExchange(false);
}

void COptionDlg::DoDataExchange(bool saveAndValidate)
{
    if (saveAndValidate) {
        m_strUserEmail = m_userEmailEdit->text().toStdString();
        m_strSmtpServer = m_smtpServerEdit->text().toStdString();
        m_bSendAfterSave = m_sendAfterSaveBox->isChecked() ? 1 : 0;
        m_defaultFormat = m_defaultSealedBox->isChecked() ? SaveFormat::Sealed : SaveFormat::Compatible;
        return;
    }
    m_userEmailEdit->setText(QString::fromStdString(m_strUserEmail));
    m_smtpServerEdit->setText(QString::fromStdString(m_strSmtpServer));
    m_sendAfterSaveBox->setChecked(m_bSendAfterSave != 0);
    m_defaultSealedBox->setChecked(m_defaultFormat == SaveFormat::Sealed);
}

void COptionDlg::accept()
{
    DoDataExchange(true);
    QDialog::accept();
}

MailSettings COptionDlg::GetMailSettings() const { return { m_strSmtpServer, m_strUserEmail, m_bSendAfterSave != 0 }; }

OptionResult EditProgramOptions(COptionDlg& dialog, MailSettings& settings)
{
    if (dialog.DoModal() != QDialog::Accepted)
        return OptionResult::Cancelled;
    const MailSettings chosen = dialog.GetMailSettings();
    if (!WriteMailSettings(chosen) || !WriteDefaultSaveFormat(dialog.m_defaultFormat))
        return OptionResult::SaveFailed;
    settings = chosen;
    return OptionResult::Saved;
}
