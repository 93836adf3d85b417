#pragma once

#include "sealed/SealedKeys.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <thread>

// The master key of a hide, derived ahead of time on a thread of its own, so
// that Argon2id runs while the picture is still being read. Start draws a
// fresh salt; SealPayload (SealOptions::derived) takes salt and key from
// here instead of deriving them itself. A key seals one message only: once
// Finish has handed it out, IsFor is false. Destruction waits for the thread.
class CMasterKeyDerivation {
public:
    CMasterKeyDerivation() = default;
    ~CMasterKeyDerivation();
    CMasterKeyDerivation(const CMasterKeyDerivation&) = delete;
    CMasterKeyDerivation& operator=(const CMasterKeyDerivation&) = delete;

    // False when libsodium cannot start; the derivation then never began.
    // Where no thread can be had, Finish derives the key itself.
    bool Start(std::string_view password, const SealedKdfParameters& parameters = kSealedKdf);
    bool IsStarted() const { return m_bStarted; }
    // Whether the key being derived is the one for `password` and these
    // parameters, and has not been handed out yet.
    bool IsFor(std::string_view password, const SealedKdfParameters& parameters) const;
    // Waits for the key and hands it out; false when Argon2id could not get
    // its memory.
    [[nodiscard]] bool Finish();

    const std::uint8_t* Salt() const { return m_salt.data(); }
    const CSealedKey& MasterKey() const { return m_master; }

private:
    void Derive();

    bool m_bStarted = false;
    bool m_bFinished = false;
    bool m_bDerived = false;
    std::string m_password;
    SealedKdfParameters m_parameters = kSealedKdf;
    std::array<std::uint8_t, kSealedSaltBytes> m_salt {};
    CSealedKey m_master;
    std::thread m_worker;
};
