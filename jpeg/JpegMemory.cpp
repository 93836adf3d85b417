#include "JpegMemory.h"

#include <sys/mman.h>

void* AllocateLargeBuffer(std::size_t bytes)
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
    void* grown = std::realloc(m_bytes.get(), capacity);
    if (grown == nullptr)
        return false;
    m_bytes.release();
    m_bytes.reset(static_cast<std::uint8_t*>(grown));
    m_capacity = capacity;
    return true;
}
