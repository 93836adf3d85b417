#include "sealed/KeyedOrder.h"

#include <algorithm>
#include <cassert>
#include <numeric>
#include <sodium.h>

CKeyStream::CKeyStream(const CSealedKey& key)
    : m_key(key)
{
}

CKeyStream::~CKeyStream() { sodium_memzero(m_buffer.data(), m_buffer.size()); }

void CKeyStream::Refill()
{
    static constexpr std::size_t kBlockBytes = 64;
    static_assert(kBufferBytes % kBlockBytes == 0);
    static constexpr std::array<std::uint8_t, crypto_stream_chacha20_NONCEBYTES> kNonce {};
    m_buffer.fill(0);
    crypto_stream_chacha20_xor_ic(m_buffer.data(), m_buffer.data(), kBufferBytes, kNonce.data(), m_block, m_key.data());
    m_block += kBufferBytes / kBlockBytes;
    m_used = 0;
}

std::uint64_t CKeyStream::NextWord()
{
    if (m_used == kBufferBytes)
        Refill();
    std::uint64_t word = 0;
    for (int i = 7; i >= 0; --i)
        word = word << 8 | m_buffer[m_used + std::size_t(i)];
    m_used += 8;
    return word;
}

std::uint64_t CKeyStream::Below(std::uint64_t bound)
{
    assert(bound > 0);
    unsigned __int128 product = (unsigned __int128)NextWord() * bound;
    std::uint64_t low = std::uint64_t(product);
    if (low < bound) {
        const std::uint64_t threshold = (0 - bound) % bound;
        while (low < threshold) {
            product = (unsigned __int128)NextWord() * bound;
            low = std::uint64_t(product);
        }
    }
    return std::uint64_t(product >> 64);
}

CKeyedOrder::CKeyedOrder(std::uint32_t count)
    : m_count(count)
{
}

void CKeyedOrder::Expect(std::uint64_t draws)
{
    // A moved entry costs a map node of some 32 bytes and a hashed look-up,
    // some ten times a swap in a whole array of 4 bytes per element: the map
    // pays only for a few draws in a large cover.
    if (!m_order.empty())
        return;
    if (draws * 256 < m_count) {
        // Every draw moves at most one entry into the map.
        m_moved.reserve(std::size_t(draws));
        m_positions.reserve(std::size_t(draws));
        return;
    }
    m_order.resize(m_count);
    std::iota(m_order.begin(), m_order.end(), std::uint32_t(0));
    for (const auto& [index, value] : m_moved)
        m_order[index] = value;
    std::copy(m_positions.begin(), m_positions.end(), m_order.begin());
    m_moved.clear();
    m_positions.clear();
    m_positions.shrink_to_fit();
}

void CKeyedOrder::Draw(std::size_t count, CKeyStream& stream)
{
    assert(count <= m_count - m_drawn);
    const std::uint64_t size = m_count;
    const std::size_t end = m_drawn + count;
    if (!m_order.empty()) {
        // The draws do not depend on the entries, so a batch of them is made
        // first and the entries they reach are fetched while it is made; the
        // swaps then run in the same order as one at a time would. In a large
        // cover nearly every swap reaches an entry outside the cache.
        static constexpr std::size_t kBatch = 64;
        std::array<std::uint32_t, kBatch> others;
        while (m_drawn < end) {
            const std::size_t batch = std::min(kBatch, end - m_drawn);
            for (std::size_t i = 0; i < batch; ++i) {
                const std::size_t draw = m_drawn + i;
                others[i] = std::uint32_t(draw + stream.Below(size - draw));
                __builtin_prefetch(&m_order[others[i]], 1);
            }
            for (std::size_t i = 0; i < batch; ++i)
                std::swap(m_order[m_drawn + i], m_order[others[i]]);
            m_drawn += batch;
        }
        return;
    }
    const auto entry = [this](std::uint32_t index) {
        const auto found = m_moved.find(index);
        return found == m_moved.end() ? index : found->second;
    };
    m_positions.reserve(end);
    for (; m_drawn < end; ++m_drawn) {
        const std::uint32_t here = std::uint32_t(m_drawn);
        const std::uint32_t other = std::uint32_t(m_drawn + stream.Below(size - m_drawn));
        const std::uint32_t drawn = entry(other);
        m_moved[other] = entry(here);
        m_moved.erase(here); // entry `here` is fixed now and lives in m_positions
        m_positions.push_back(drawn);
    }
}

std::span<const std::uint32_t> CKeyedOrder::Positions(std::size_t first, std::size_t count) const
{
    assert(first + count <= m_drawn);
    if (!m_order.empty())
        return { m_order.data() + first, count };
    return { m_positions.data() + first, count };
}
