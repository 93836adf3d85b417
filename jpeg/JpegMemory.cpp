#include "jpeg/JpegMemory.h"

#include <atomic>
#include <cstring>
#include <sys/mman.h>
#include <utility>

namespace {

std::atomic<JpegAllocator> g_allocator { nullptr };

} // namespace

JpegAllocator SetJpegAllocator(JpegAllocator allocator) { return g_allocator.exchange(allocator); }

void* AllocateLargeBuffer(std::size_t bytes)
{
    if (const JpegAllocator allocator = g_allocator.load(std::memory_order_acquire))
        return allocator(bytes);
    return AllocateDefault(bytes);
}

void* AllocateDefault(std::size_t bytes)
{
    constexpr std::size_t kHugePage = std::size_t(2) << 20;
    void* memory = nullptr;
    if (bytes >= 2 * kHugePage) {
        if (::posix_memalign(&memory, kHugePage, bytes) != 0)
            return nullptr;
        ::madvise(memory, bytes & ~(kHugePage - 1), MADV_HUGEPAGE);
        return memory;
    }
    return std::malloc(bytes == 0 ? 1 : bytes);
}

bool CJpegByteBuffer::Grow(std::size_t capacity)
{
    if (capacity <= m_capacity)
        return true;
    JpegLargeBuffer<std::uint8_t> grown = MakeLargeBuffer<std::uint8_t>(capacity);
    if (!grown)
        return false;
    if (m_capacity != 0)
        std::memcpy(grown.get(), m_bytes.get(), m_capacity);
    m_bytes = std::move(grown);
    m_capacity = capacity;
    return true;
}
