#pragma once

#include "app/Settings.h"

#include <QGroupBox>

class QLabel;
class QRadioButton;

// The question every save asks: "Sealed" or "Compatible with earlier
// versions", with the offered format checked. While Compatible is checked, one
// sentence says what it protects. It sits in the save dialog, so choosing the
// format and the file is one step.
class CSaveFormatChoice : public QGroupBox {
    Q_OBJECT

public:
    CSaveFormatChoice(SaveFormat offered, QWidget* parent = nullptr);

    SaveFormat GetFormat() const;
    void SetFormat(SaveFormat format);

private:
    void ShowNote();

    QRadioButton* m_sealedButton = nullptr;
    QRadioButton* m_compatibleButton = nullptr;
    QLabel* m_noteLabel = nullptr;
};
