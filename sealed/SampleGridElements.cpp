#include "sealed/SampleGridElements.h"

CSampleGridElements::CSampleGridElements(const SampleGrid& grid)
    : m_grid(grid)
    , m_count(grid.SampleCount())
    , m_samplesPerRow(std::uint64_t(grid.pixelsPerRow) * grid.channelCount)
{
    m_bDenseBytes = grid.wordBytes == 1 && grid.pixelBytes == grid.channelCount
        && grid.rowStride == grid.pixelsPerRow * grid.pixelBytes;
    for (std::size_t channel = 0; m_bDenseBytes && channel < grid.channelCount; ++channel)
        m_bDenseBytes = grid.channels[channel].byteOffset == channel && grid.channels[channel].shift == 0
            && grid.channels[channel].maxValue == 0xFF;
}

std::uint8_t* CSampleGridElements::Locate(std::uint32_t index, const SampleChannel*& channel) const
{
    if (m_bDenseBytes) {
        channel = &m_grid.channels[0];
        return m_grid.pixels + index;
    }
    const std::uint64_t row = index / m_samplesPerRow;
    const std::uint64_t inRow = index - row * m_samplesPerRow;
    const std::uint64_t pixel = inRow / m_grid.channelCount;
    channel = &m_grid.channels[inRow - pixel * m_grid.channelCount];
    return m_grid.pixels + row * m_grid.rowStride + pixel * m_grid.pixelBytes + channel->byteOffset;
}

std::uint32_t CSampleGridElements::ReadWord(const std::uint8_t* at) const
{
    std::uint32_t word = 0;
    for (unsigned i = 0; i < m_grid.wordBytes; ++i) {
        const unsigned byte = m_grid.bigEndian ? i : m_grid.wordBytes - 1 - i;
        word = word << 8 | at[byte];
    }
    return word;
}

void CSampleGridElements::WriteWord(std::uint8_t* at, std::uint32_t word) const
{
    for (unsigned i = 0; i < m_grid.wordBytes; ++i) {
        const unsigned byte = m_grid.bigEndian ? m_grid.wordBytes - 1 - i : i;
        at[byte] = std::uint8_t(word >> (8 * i));
    }
}

unsigned CSampleGridElements::Bit(std::uint32_t index) const
{
    const SampleChannel* channel = nullptr;
    const std::uint8_t* at = Locate(index, channel);
    if (m_grid.wordBytes == 1)
        return (*at >> channel->shift) & 1;
    return (ReadWord(at) >> channel->shift) & 1;
}

void CSampleGridElements::Change(std::uint32_t index, bool up)
{
    const SampleChannel* channel = nullptr;
    std::uint8_t* at = Locate(index, channel);
    const std::uint32_t word = ReadWord(at);
    const std::uint32_t value = (word >> channel->shift) & channel->maxValue;
    if (value == channel->maxValue)
        up = false;
    else if (value == 0)
        up = true;
    const std::uint32_t changed = up ? value + 1 : value - 1;
    const std::uint32_t fieldMask = channel->maxValue << channel->shift;
    WriteWord(at, (word & ~fieldMask) | (changed << channel->shift));
    if (m_grid.changedRows)
        m_grid.changedRows[index / m_samplesPerRow] = 1;
}
