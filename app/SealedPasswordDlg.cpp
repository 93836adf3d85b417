#include "app/SealedPasswordDlg.h"

#include "app/GuessCost.h"
#include "crypto/PasswordKey.h"
#include "res/StringIds.h"
#include "res/StringTable.h"
#include "ui/DialogBuilder.h"
#include "ui/UiText.h"
#include "ui/Utf8LengthValidator.h"

#include <QFutureWatcher>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QtConcurrent/QtConcurrentRun>

CSealedPasswordDlg::CSealedPasswordDlg(Mode mode, QWidget* parent)
    : QDialog(parent)
    , m_mode(mode)
{
    const QString prompt
        = ToUiText(LoadResString(mode == Mode::Seal ? IDS_SEALED_SAVE_PROMPT : IDS_SEALED_REVEAL_PROMPT));
    const QString cost = ToUiText(FormatResString(IDS_GUESS_COST, "0.00"));
    BuildDialog(*this, IDD_SEALED_PASSWORD,
        { { IDC_SEALED_PROMPT, prompt }, { IDC_SEALED_COST, cost },
            { IDC_SEALED_NOTE, ToUiText(LoadResString(IDS_PASSWORDS_DIFFER)) } });
    m_promptEdit = FindControl<QPlainTextEdit>(*this, IDC_SEALED_PROMPT);
    m_passwordEdit = FindControl<QLineEdit>(*this, IDC_SEALED_PASSWORD);
    m_confirmEdit = FindControl<QLineEdit>(*this, IDC_SEALED_CONFIRM);
    m_costLabel = FindControl<QLabel>(*this, IDC_SEALED_COST);
    m_noteLabel = FindControl<QLabel>(*this, IDC_SEALED_NOTE);

    m_promptEdit->setPlainText(prompt);
    m_passwordEdit->setPlaceholderText(tr("Password"));
    m_confirmEdit->setPlaceholderText(tr("The same password again"));
    for (QLineEdit* edit : { m_passwordEdit, m_confirmEdit }) {
        edit->setMaxLength(int(kMaxPasswordLength));
        edit->setValidator(new CUtf8LengthValidator(qsizetype(kMaxPasswordLength), edit));
        connect(edit, &QLineEdit::textEdited, m_noteLabel, &QLabel::clear);
    }
    m_confirmEdit->setVisible(mode == Mode::Seal);
    m_noteLabel->clear();
    QPalette warning = m_noteLabel->palette();
    warning.setColor(QPalette::WindowText, Qt::red);
    m_noteLabel->setPalette(warning);
    m_costLabel->setWordWrap(true);

    if (KnownGuessSeconds()) {
        ShowCost();
    } else {
        m_costLabel->setText(ToUiText(LoadResString(IDS_GUESS_COST_MEASURING)));
        // The measurement outlives a prompt closed early; its figure is kept
        // for the next one.
        auto* watcher = new QFutureWatcher<std::optional<double>>(this);
        connect(watcher, &QFutureWatcher<std::optional<double>>::finished, this, &CSealedPasswordDlg::ShowCost);
        watcher->setFuture(QtConcurrent::run(&MeasureGuessSeconds));
    }
    m_passwordEdit->setFocus();
}

void CSealedPasswordDlg::ShowCost()
{
    if (const std::optional<double> seconds = KnownGuessSeconds())
        m_costLabel->setText(ToUiText(FormatResString(IDS_GUESS_COST, FormatGuessSeconds(*seconds).c_str())));
    else
        m_costLabel->clear();
}

void CSealedPasswordDlg::accept()
{
    const QString password = m_passwordEdit->text();
    if (m_mode == Mode::Seal) {
        unsigned refusal = 0;
        if (password.isEmpty())
            refusal = IDS_SEALED_PASSWORD_EMPTY;
        else if (m_confirmEdit->text() != password)
            refusal = IDS_PASSWORDS_DIFFER;
        if (refusal != 0) {
            m_noteLabel->setText(ToUiText(LoadResString(refusal)));
            QLineEdit* retry = password.isEmpty() ? m_passwordEdit : m_confirmEdit;
            retry->setFocus();
            retry->selectAll();
            return;
        }
    }
    m_strPassword = password.toStdString();
    QDialog::accept();
}
