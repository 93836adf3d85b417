#include "crypto/Sha0.h"

#include <cstring>

namespace {

constexpr std::uint32_t RotateLeft(std::uint32_t value, int bits) { return (value << bits) | (value >> (32 - bits)); }

std::uint32_t ReadBigEndian32(const std::uint8_t* bytes)
{
    return (std::uint32_t(bytes[0]) << 24) | (std::uint32_t(bytes[1]) << 16) | (std::uint32_t(bytes[2]) << 8)
        | std::uint32_t(bytes[3]);
}

} // namespace

CSha0::CSha0()
    : m_state { 0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u, 0xC3D2E1F0u }
{
}

void CSha0::ProcessBlock(const std::uint8_t* block)
{
    // The schedule is a 16-word circular buffer updated in place. FIPS 180
    // (1993): W[t] = W[t-3] ^ W[t-8] ^ W[t-14] ^ W[t-16], without the one-bit
    // rotation that FIPS 180-1 added.
    std::uint32_t w[16];
    for (int t = 0; t < 16; ++t)
        w[t] = ReadBigEndian32(block + 4 * t);

    std::uint32_t a = m_state[0], b = m_state[1], c = m_state[2], d = m_state[3], e = m_state[4];
    for (int t = 0; t < 80; ++t) {
        std::uint32_t word;
        if (t < 16) {
            word = w[t];
        } else {
            word = w[(t - 3) & 15] ^ w[(t - 8) & 15] ^ w[(t - 14) & 15] ^ w[t & 15];
            w[t & 15] = word;
        }
        std::uint32_t f, k;
        if (t < 20) {
            f = (b & c) | (~b & d);
            k = 0x5A827999u;
        } else if (t < 40) {
            f = b ^ c ^ d;
            k = 0x6ED9EBA1u;
        } else if (t < 60) {
            f = (b & c) | (b & d) | (c & d);
            k = 0x8F1BBCDCu;
        } else {
            f = b ^ c ^ d;
            k = 0xCA62C1D6u;
        }
        const std::uint32_t temp = RotateLeft(a, 5) + f + e + k + word;
        e = d;
        d = c;
        c = RotateLeft(b, 30);
        b = a;
        a = temp;
    }
    m_state[0] += a;
    m_state[1] += b;
    m_state[2] += c;
    m_state[3] += d;
    m_state[4] += e;
}

void CSha0::Update(const void* data, std::size_t length)
{
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    m_totalBytes += length;
    while (length > 0) {
        const std::size_t take = std::min<std::size_t>(64 - m_blockFill, length);
        std::memcpy(m_block + m_blockFill, bytes, take);
        m_blockFill += take;
        bytes += take;
        length -= take;
        if (m_blockFill == 64) {
            ProcessBlock(m_block);
            m_blockFill = 0;
        }
    }
}

Sha0Digest CSha0::Finish()
{
    // Padding: one 0x80 byte, zeros up to 56 bytes into the block, then the
    // message length in bits as a 64-bit big-endian number.
    const std::uint64_t bitLength = m_totalBytes * 8;
    const std::uint8_t marker = 0x80;
    Update(&marker, 1);
    const std::uint8_t zero = 0;
    while (m_blockFill != 56)
        Update(&zero, 1);
    std::uint8_t lengthBytes[8];
    for (int i = 0; i < 8; ++i)
        lengthBytes[i] = std::uint8_t(bitLength >> (56 - 8 * i));
    Update(lengthBytes, 8);

    Sha0Digest digest;
    for (int i = 0; i < 5; ++i)
        for (int j = 0; j < 4; ++j)
            digest[4 * i + j] = std::uint8_t(m_state[i] >> (24 - 8 * j));
    return digest;
}

Sha0Digest Sha0(const void* data, std::size_t length)
{
    CSha0 hash;
    hash.Update(data, length);
    return hash.Finish();
}
