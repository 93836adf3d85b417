#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// SHA-0, the Secure Hash Algorithm as first published in FIPS PUB 180 (1993).
// It differs from SHA-1 only in the message schedule, which has no rotation.
// Current crypto libraries no longer offer it, so the program carries its own.

using Sha0Digest = std::array<std::uint8_t, 20>;

class CSha0 {
public:
    CSha0();
    void Update(const void* data, std::size_t length);
    Sha0Digest Finish();

private:
    void ProcessBlock(const std::uint8_t* block);

    std::uint32_t m_state[5];
    std::uint8_t m_block[64];
    std::size_t m_blockFill = 0;
    std::uint64_t m_totalBytes = 0;
};

// One-shot digest of a byte range.
Sha0Digest Sha0(const void* data, std::size_t length);
