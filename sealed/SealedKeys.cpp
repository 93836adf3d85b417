#include "sealed/SealedKeys.h"

#include <sodium.h>

static_assert(kSealedSaltBytes == crypto_pwhash_SALTBYTES);
static_assert(kSealedKeyBytes == crypto_kdf_KEYBYTES);
static_assert(kSealedKeyBytes >= crypto_generichash_KEYBYTES_MIN && kSealedKeyBytes <= crypto_generichash_KEYBYTES_MAX);

CSealedKey::~CSealedKey() { sodium_memzero(m_bytes.data(), m_bytes.size()); }

bool StartSodium()
{
    static const bool started = sodium_init() >= 0;
    return started;
}

CSealedKey SaltOrderKey(std::string_view password)
{
    CSealedKey key;
    crypto_generichash(key.data(), kSealedKeyBytes, reinterpret_cast<const unsigned char*>(password.data()),
        password.size(), reinterpret_cast<const unsigned char*>(kSaltOrderDomain), kSealedKeyBytes);
    return key;
}

bool DeriveMasterKey(
    std::string_view password, const std::uint8_t* salt, const SealedKdfParameters& parameters, CSealedKey& master)
{
    return crypto_pwhash(master.data(), kSealedKeyBytes, password.data(), password.size(), salt, parameters.opsLimit,
               parameters.memLimit, crypto_pwhash_ALG_ARGON2ID13)
        == 0;
}

CSealedKey DeriveSubkey(const CSealedKey& master, SealedSubkey which)
{
    CSealedKey subkey;
    crypto_kdf_derive_from_key(subkey.data(), kSealedKeyBytes, std::uint64_t(which), kSubkeyContext, master.data());
    return subkey;
}
