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
