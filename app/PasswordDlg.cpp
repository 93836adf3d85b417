#include "app/PasswordDlg.h"

#include "crypto/PasswordKey.h"
#include "res/StringTable.h"
#include "ui/DialogBuilder.h"
#include "ui/UiText.h"
#include "ui/Utf8LengthValidator.h"

#include <QLineEdit>
#include <QPlainTextEdit>

CPasswordDlg::CPasswordDlg(unsigned promptId, QWidget* parent)
    : QDialog(parent)
    , m_strPrompt(LoadResString(promptId))
{
    // The prompt's lines are sized to be read without scrolling sideways.
    BuildDialog(*this, IDD_PASSWORD, { { IDC_PASSWORD_PROMPT, ToUiText(m_strPrompt) } });
    m_passwordEdit = FindControl<QLineEdit>(*this, IDC_PASSWORD);
    m_promptEdit = FindControl<QPlainTextEdit>(*this, IDC_PASSWORD_PROMPT);
    m_passwordEdit->setMaxLength(int(kMaxPasswordLength));
    m_passwordEdit->setValidator(new CUtf8LengthValidator(qsizetype(kMaxPasswordLength), m_passwordEdit));
    DoDataExchange(false);
    m_passwordEdit->setFocus();
}

void CPasswordDlg::DoDataExchange(bool saveAndValidate)
{
    if (saveAndValidate) {
        m_strPassword = m_passwordEdit->text().toStdString();
        return;
    }
    m_passwordEdit->setText(QString::fromStdString(m_strPassword));
    m_promptEdit->setPlainText(ToUiText(m_strPrompt));
}

void CPasswordDlg::accept()
{
    DoDataExchange(true);
    QDialog::accept();
}
