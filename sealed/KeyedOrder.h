#pragma once

#include "sealed/SealedKeys.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <unordered_map>
#include <vector>

// A ChaCha20 keystream (libsodium's crypto_stream_chacha20, 64-bit nonce of
// zeros, block counter from 0) read as 64-bit little-endian words.
class CKeyStream {
public:
    explicit CKeyStream(const CSealedKey& key);
    ~CKeyStream();
    CKeyStream(const CKeyStream&) = delete;
    CKeyStream& operator=(const CKeyStream&) = delete;

    std::uint64_t NextWord();
    // A uniform integer in [0, bound), bound > 0, without bias: Lemire's
    // multiply-and-reject over 64-bit words (the high half of word * bound,
    // drawing again while the low half is below 2^64 mod bound).
    std::uint64_t Below(std::uint64_t bound);

private:
    void Refill();

    static constexpr std::size_t kBufferBytes = 4096;
    CSealedKey m_key;
    std::array<std::uint8_t, kBufferBytes> m_buffer {};
    std::size_t m_used = kBufferBytes;
    std::uint64_t m_block = 0;
};

// The keyed order of the cover elements: a Fisher-Yates shuffle of 0 .. N-1
// drawn one position at a time. Draw j swaps entry j with entry
// j + Below(N - j) and fixes entry j as position j. The salt's positions are
// drawn first with one keystream, the rest continue the same shuffle with
// another, so every element is used at most once.
//
// While few positions are drawn the shuffle keeps only the entries it has
// moved; Expect switches to a whole array when many draws are coming. Both
// give the same positions.
class CKeyedOrder {
public:
    explicit CKeyedOrder(std::uint32_t count);

    // Announces `draws` draws in all. Throws std::bad_alloc when the order
    // does not fit in memory.
    void Expect(std::uint64_t draws);
    void Draw(std::size_t count, CKeyStream& stream);
    std::size_t Drawn() const { return m_drawn; }
    // Positions [first, first + count) of the drawn ones.
    std::span<const std::uint32_t> Positions(std::size_t first, std::size_t count) const;

private:
    std::uint32_t m_count = 0;
    std::vector<std::uint32_t> m_order; // the whole shuffle, once Expect asked for it
    std::unordered_map<std::uint32_t, std::uint32_t> m_moved; // entries moved so far, before that
    std::vector<std::uint32_t> m_positions; // the drawn positions, before that
    std::size_t m_drawn = 0;
};
