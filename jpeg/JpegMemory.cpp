#include "jpeg/JpegMemory.h"

#include "base/LargeBuffer.h"

#include <atomic>
#include <cstring>
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

void* AllocateDefault(std::size_t bytes) { return AllocateLargeBlock(bytes); }

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
