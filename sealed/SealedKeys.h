#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

// Key material of the sealed format. Everything comes from libsodium:
//   salt order key = BLAKE2b-256 keyed with kSaltOrderDomain over the password
//   master key     = Argon2id(password, salt), 32 bytes
//   subkeys        = crypto_kdf_derive_from_key(master, id, "VMsealed")
// The salt order key places only the salt; every other position and both
// ciphers hang off the master key, so each password guess costs one Argon2id
// evaluation.

inline constexpr std::size_t kSealedKeyBytes = 32;
inline constexpr std::size_t kSealedSaltBytes = 16;

// Argon2id cost. The format fixes these values: a reader cannot learn them
// from the picture, which stores nothing in the clear.
struct SealedKdfParameters {
    unsigned long long opsLimit; // passes over the memory
    std::size_t memLimit; // bytes
};
inline constexpr SealedKdfParameters kSealedKdf { 3, std::size_t(64) << 20 };

inline constexpr char kSaltOrderDomain[] = "Veilmark sealed salt positions 1";
static_assert(sizeof(kSaltOrderDomain) - 1 == kSealedKeyBytes);
inline constexpr char kSubkeyContext[] = "VMsealed";
static_assert(sizeof(kSubkeyContext) - 1 == 8);

enum class SealedSubkey : std::uint64_t {
    Order = 1, // the keystream that places the header and body bits
    Header = 2, // AEAD key of the header
    Body = 3, // AEAD key of the body
};

// 32 bytes that are wiped when they go out of scope.
class CSealedKey {
public:
    CSealedKey() = default;
    ~CSealedKey();
    CSealedKey(const CSealedKey& other) = default;
    CSealedKey& operator=(const CSealedKey& other) = default;

    std::uint8_t* data() { return m_bytes.data(); }
    const std::uint8_t* data() const { return m_bytes.data(); }

private:
    std::array<std::uint8_t, kSealedKeyBytes> m_bytes {};
};

// Calls sodium_init once; false when libsodium cannot start.
[[nodiscard]] bool StartSodium();

CSealedKey SaltOrderKey(std::string_view password);
// False when Argon2id cannot get its memory.
[[nodiscard]] bool DeriveMasterKey(
    std::string_view password, const std::uint8_t* salt, const SealedKdfParameters& parameters, CSealedKey& master);
CSealedKey DeriveSubkey(const CSealedKey& master, SealedSubkey which);
