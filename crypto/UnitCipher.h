#pragma once

#include "crypto/PasswordKey.h"

#include <cstdint>
#include <memory>

// The message cipher. A message is cut into 16-byte units; of each unit only
// bytes 0-7 pass through Blowfish, as two little-endian 32-bit halves, and bytes
// 8-15 are carried over unchanged. No chaining: every unit is enciphered on its
// own under the same key.

inline constexpr std::size_t kCipherUnitLength = 16;

// Holds one key schedule so a whole message costs one schedule, not one per
// unit; the output is the same either way.
class CUnitCipher {
public:
    explicit CUnitCipher(const CipherKey& key);
    ~CUnitCipher();
    CUnitCipher(const CUnitCipher&) = delete;
    CUnitCipher& operator=(const CUnitCipher&) = delete;

    // Input and output may be the same 16 bytes.
    void Encrypt(const std::uint8_t* input, std::uint8_t* output) const;
    void Decrypt(const std::uint8_t* input, std::uint8_t* output) const;

private:
    struct Schedule;
    std::unique_ptr<Schedule> m_schedule;
};

// One unit with a fresh key schedule; always 0.
int EncryptUnit(const std::uint8_t* key, const std::uint8_t* input, std::uint8_t* output);
int DecryptUnit(const std::uint8_t* key, const std::uint8_t* input, std::uint8_t* output);
