#pragma once

#include <QValidator>

// Refuses any edit that would make the text longer than the limit in UTF-8
// bytes; a character limit alone would let multi-byte characters through.
class CUtf8LengthValidator : public QValidator {
public:
    CUtf8LengthValidator(qsizetype maxBytes, QObject* parent)
        : QValidator(parent)
        , m_maxBytes(maxBytes)
    {
    }

    State validate(QString& input, int&) const override
    {
        return input.toUtf8().size() <= m_maxBytes ? Acceptable : Invalid;
    }

private:
    qsizetype m_maxBytes;
};
