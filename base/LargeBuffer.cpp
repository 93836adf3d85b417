#include "base/LargeBuffer.h"

#include <cstdlib>
#include <sys/mman.h>

void* AllocateLargeBlock(std::size_t bytes)
{
    constexpr std::size_t kHugePage = std::size_t(2) << 20;
    if (bytes >= 2 * kHugePage) {
        void* memory = nullptr;
        if (::posix_memalign(&memory, kHugePage, bytes) != 0)
            return nullptr;
        ::madvise(memory, bytes & ~(kHugePage - 1), MADV_HUGEPAGE);
        return memory;
    }
    return std::malloc(bytes == 0 ? 1 : bytes);
}

void CLargeBuffer::FreeDeleter::operator()(std::uint8_t* pointer) const { std::free(pointer); }

bool CLargeBuffer::Allocate(std::size_t size)
{
    m_bytes.reset(static_cast<std::uint8_t*>(AllocateLargeBlock(size)));
    m_size = m_bytes ? size : 0;
    return m_bytes != nullptr;
}
