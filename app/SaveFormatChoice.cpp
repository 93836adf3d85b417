#include "app/SaveFormatChoice.h"

#include "res/StringIds.h"
#include "res/StringTable.h"
#include "ui/UiText.h"

#include <QLabel>
#include <QRadioButton>
#include <QVBoxLayout>

CSaveFormatChoice::CSaveFormatChoice(SaveFormat offered, QWidget* parent)
    : QGroupBox(ToUiText(LoadResString(IDS_FORMAT_QUESTION)), parent)
{
    setObjectName(QStringLiteral("saveFormat"));
    m_sealedButton = new QRadioButton(ToUiText(LoadResString(IDS_FORMAT_SEALED)), this);
    m_sealedButton->setObjectName(QStringLiteral("sealedFormat"));
    m_compatibleButton = new QRadioButton(ToUiText(LoadResString(IDS_FORMAT_COMPATIBLE)), this);
    m_compatibleButton->setObjectName(QStringLiteral("compatibleFormat"));
    m_noteLabel = new QLabel(ToUiText(LoadResString(IDS_COMPATIBLE_PROTECTS)), this);
    m_noteLabel->setObjectName(QStringLiteral("compatibleNote"));
    m_noteLabel->setWordWrap(true);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_sealedButton);
    layout->addWidget(m_compatibleButton);
    layout->addWidget(m_noteLabel);
    connect(m_compatibleButton, &QRadioButton::toggled, this, &CSaveFormatChoice::ShowNote);
    SetFormat(offered);
}

SaveFormat CSaveFormatChoice::GetFormat() const
{
    return m_sealedButton->isChecked() ? SaveFormat::Sealed : SaveFormat::Compatible;
}

void CSaveFormatChoice::SetFormat(SaveFormat format)
{
    (format == SaveFormat::Sealed ? m_sealedButton : m_compatibleButton)->setChecked(true);
    ShowNote();
}

void CSaveFormatChoice::ShowNote() { m_noteLabel->setVisible(m_compatibleButton->isChecked()); }
