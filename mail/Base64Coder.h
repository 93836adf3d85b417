#pragma once

#include <cstdint>
#include <span>
#include <string>

// A coder between bytes and a printable text form.
class CByteCoder {
public:
    virtual ~CByteCoder() = default;

    // Decodes `text` into `buffer` and returns the number of bytes written,
    // or 0 when the text is absent, empty or not in the coder's alphabet.
    virtual int FromBase64(const char* text, std::span<std::uint8_t> buffer) = 0;

    // Encodes `count` bytes; an absent byte pointer gives an empty text.
    virtual std::string ToBase64(const std::uint8_t* bytes, int count) = 0;
};

// Base64 as MIME uses it (RFC 2045 6.8, RFC 4648 4): the standard alphabet and
// '=' padding, with no line breaks of its own. Callers make lines by feeding
// it 54 bytes at a time, which gives 72 characters per line.
class CBase64Coder : public CByteCoder {
public:
    // The buffer must hold at least the text length plus one byte; that many
    // bytes are cleared first. A smaller buffer gives 0 and is left untouched.
    // A character outside the alphabet stops decoding and gives 0; '=' is
    // skipped wherever it stands, and bits left over at the end are dropped.
    int FromBase64(const char* text, std::span<std::uint8_t> buffer) override;

    std::string ToBase64(const std::uint8_t* bytes, int count) override;

private:
    // Takes the next 6-bit group of the input into `value` and returns the
    // number of bits it carries: 6, fewer at the end of the input, 0 after it.
    int NextSextet(unsigned& value);

    int m_inputLength = 0;
    int m_inputPosition = 0;
    int m_bitCount = 0;
    std::uint32_t m_bitBuffer = 0;
    const std::uint8_t* m_input = nullptr;
};
