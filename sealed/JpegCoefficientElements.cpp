#include "sealed/JpegCoefficientElements.h"

#include <cassert>

CJpegCoefficientElements::CJpegCoefficientElements(CJpegCoefficientFile& file)
    : m_file(file)
    , m_carriers(file.GetCarriers())
{
    m_values.resize(m_carriers.size());
    bool inRange = true;
    for (std::size_t i = 0; i < m_carriers.size(); ++i) {
        const std::int16_t value = file.GetCoefficient(m_carriers[i]);
        m_values[i] = value;
        inRange &= value >= -kMaxMagnitude && value <= kMaxMagnitude;
    }
    m_written = m_values;
    if (!inRange)
        m_strUnusable = "The JPEG file holds coefficients beyond the range of 8-bit JPEG";
}

void CJpegCoefficientElements::Change(std::uint32_t index, bool up)
{
    const int value = m_values[index];
    const int magnitude = value < 0 ? -value : value;
    const int stepped = (up && magnitude < kMaxMagnitude) || magnitude == 1 ? magnitude + 1 : magnitude - 1;
    m_values[index] = std::int16_t(value < 0 ? -stepped : stepped);
}

void CJpegCoefficientElements::WriteBack()
{
    for (std::size_t i = 0; i < m_values.size(); ++i) {
        if (m_values[i] != m_written[i]) {
            [[maybe_unused]] const bool set = m_file.SetCoefficient(m_carriers[i], m_values[i]);
            assert(set);
            m_written[i] = m_values[i];
        }
    }
}
