#include "mail/Base64Coder.h"

#include <array>
#include <cstring>

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::int8_t kInvalid = -1;
constexpr std::int8_t kSkip = -2;

// The decode table covers all 256 byte values, so a byte with its high bit set
// is invalid rather than being folded onto an ASCII letter.
constexpr std::array<std::int8_t, 256> MakeDecodeTable()
{
    std::array<std::int8_t, 256> table {};
    table.fill(kInvalid);
    for (int index = 0; index < 64; ++index)
        table[static_cast<unsigned char>(kAlphabet[index])] = static_cast<std::int8_t>(index);
    table[static_cast<unsigned char>('=')] = kSkip;
    return table;
}

constexpr std::array<std::int8_t, 256> kDecodeTable = MakeDecodeTable();

} // namespace

int CBase64Coder::NextSextet(unsigned& value)
{
    while (m_bitCount < 6 && m_inputPosition < m_inputLength) {
        m_bitBuffer = (m_bitBuffer << 8) | m_input[m_inputPosition++];
        m_bitCount += 8;
    }
    if (m_bitCount >= 6) {
        m_bitCount -= 6;
        value = (m_bitBuffer >> m_bitCount) & 0x3F;
        return 6;
    }
    // End of input: the remaining bits, padded with zeros to six.
    const int carried = m_bitCount;
    value = (m_bitBuffer << (6 - carried)) & 0x3F;
    m_bitCount = 0;
    return carried;
}

std::string CBase64Coder::ToBase64(const std::uint8_t* bytes, int count)
{
    std::string text;
    if (bytes == nullptr || count <= 0)
        return text;

    m_input = bytes;
    m_inputLength = count;
    m_inputPosition = 0;
    m_bitCount = 0;
    m_bitBuffer = 0;
    text.reserve((static_cast<std::size_t>(count) + 2) / 3 * 4);

    unsigned value = 0;
    while (NextSextet(value) > 0)
        text += kAlphabet[value];
    while (text.size() % 4 != 0)
        text += '=';

    m_input = nullptr;
    return text;
}

int CBase64Coder::FromBase64(const char* text, std::span<std::uint8_t> buffer)
{
    if (text == nullptr || buffer.empty())
        return 0;
    const std::size_t length = std::strlen(text);
    if (length == 0 || buffer.size() < length + 1)
        return 0;

    std::memset(buffer.data(), 0, length + 1);
    m_bitBuffer = 0;
    m_bitCount = 0;

    int written = 0;
    for (std::size_t index = 0; index < length; ++index) {
        const std::int8_t value = kDecodeTable[static_cast<unsigned char>(text[index])];
        if (value == kInvalid)
            return 0;
        if (value == kSkip)
            continue;
        m_bitBuffer = (m_bitBuffer << 6) | static_cast<std::uint32_t>(value);
        m_bitCount += 6;
        if (m_bitCount >= 8) {
            m_bitCount -= 8;
            buffer[static_cast<std::size_t>(written++)] = static_cast<std::uint8_t>(m_bitBuffer >> m_bitCount);
        }
    }
    m_bitCount = 0;
    return written;
}
