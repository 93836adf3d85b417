#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

// Buffers for whole pictures. They are not cleared: their users fill every
// byte. Large ones are aligned to 2 MiB and offered to the kernel for
// transparent huge pages, so that a picture of many megapixels is mapped with
// a handful of page faults instead of thousands.

struct JpegFreeDeleter {
    void operator()(void* pointer) const { std::free(pointer); }
};

template <typename T> using JpegLargeBuffer = std::unique_ptr<T[], JpegFreeDeleter>;

// Null when the memory cannot be had.
void* AllocateLargeBuffer(std::size_t bytes);

template <typename T> JpegLargeBuffer<T> MakeLargeBuffer(std::size_t count)
{
    return JpegLargeBuffer<T>(static_cast<T*>(AllocateLargeBuffer(count * sizeof(T))));
}
