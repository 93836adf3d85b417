// The low-level Blowfish interface is deprecated in OpenSSL 3 but still exported
// by libcrypto, and it is exactly the block operation the cipher is defined by.
#define OPENSSL_SUPPRESS_DEPRECATED
#include "crypto/UnitCipher.h"

#include <openssl/blowfish.h>

#include <cstring>

struct CUnitCipher::Schedule {
    BF_KEY key;
};

namespace {

BF_LONG ReadLittleEndian32(const std::uint8_t* bytes)
{
    return static_cast<BF_LONG>(bytes[0]) | (static_cast<BF_LONG>(bytes[1]) << 8)
        | (static_cast<BF_LONG>(bytes[2]) << 16) | (static_cast<BF_LONG>(bytes[3]) << 24);
}

void WriteLittleEndian32(BF_LONG value, std::uint8_t* bytes)
{
    bytes[0] = std::uint8_t(value);
    bytes[1] = std::uint8_t(value >> 8);
    bytes[2] = std::uint8_t(value >> 16);
    bytes[3] = std::uint8_t(value >> 24);
}

template <typename BlockOperation>
void TransformUnit(const BF_KEY& key, const std::uint8_t* input, std::uint8_t* output, BlockOperation operation)
{
    // Read the whole unit before writing, so input and output may coincide.
    std::uint8_t unit[kCipherUnitLength];
    std::memcpy(unit, input, sizeof unit);
    BF_LONG block[2] = { ReadLittleEndian32(unit), ReadLittleEndian32(unit + 4) };
    operation(block, &key);
    WriteLittleEndian32(block[0], output);
    WriteLittleEndian32(block[1], output + 4);
    std::memcpy(output + 8, unit + 8, 8);
}

} // namespace

CUnitCipher::CUnitCipher(const CipherKey& key)
    : m_schedule(std::make_unique<Schedule>())
{
    BF_set_key(&m_schedule->key, int(key.size()), key.data());
}

CUnitCipher::~CUnitCipher() = default;

void CUnitCipher::Encrypt(const std::uint8_t* input, std::uint8_t* output) const
{
    TransformUnit(m_schedule->key, input, output, BF_encrypt);
}

void CUnitCipher::Decrypt(const std::uint8_t* input, std::uint8_t* output) const
{
    TransformUnit(m_schedule->key, input, output, BF_decrypt);
}

int EncryptUnit(const std::uint8_t* key, const std::uint8_t* input, std::uint8_t* output)
{
    CipherKey copy;
    std::memcpy(copy.data(), key, copy.size());
    CUnitCipher(copy).Encrypt(input, output);
    return 0;
}

int DecryptUnit(const std::uint8_t* key, const std::uint8_t* input, std::uint8_t* output)
{
    CipherKey copy;
    std::memcpy(copy.data(), key, copy.size());
    CUnitCipher(copy).Decrypt(input, output);
    return 0;
}
