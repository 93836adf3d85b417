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

// Null when the memory cannot be had. Every picture buffer of the codec
// comes from here, on whichever thread needs it.
void* AllocateLargeBuffer(std::size_t bytes);

// The allocator behind AllocateLargeBuffer, replaceable so that tests can
// make chosen allocations fail. It returns memory that std::free releases,
// or null when the memory cannot be had; it may also throw std::bad_alloc.
// It must allow calls from several threads at once.
using JpegAllocator = void* (*)(std::size_t bytes);
// The allocator in use when none is installed: malloc, and 2 MiB-aligned
// blocks offered for huge pages for large buffers.
void* AllocateDefault(std::size_t bytes);
// Installs `allocator` for the whole process (null restores the default) and
// returns the one it replaces.
JpegAllocator SetJpegAllocator(JpegAllocator allocator);

template <typename T> JpegLargeBuffer<T> MakeLargeBuffer(std::size_t count)
{
    return JpegLargeBuffer<T>(static_cast<T*>(AllocateLargeBuffer(count * sizeof(T))));
}

// A byte buffer that grows without clearing what it adds: the writer fills
// every byte it keeps.
class CJpegByteBuffer {
public:
    CJpegByteBuffer() = default;
    CJpegByteBuffer(const CJpegByteBuffer&) = delete;
    CJpegByteBuffer& operator=(const CJpegByteBuffer&) = delete;

    std::uint8_t* Data() { return m_bytes.get(); }
    const std::uint8_t* Data() const { return m_bytes.get(); }
    std::size_t Capacity() const { return m_capacity; }
    // False when the memory cannot be had; the contents are kept.
    bool Grow(std::size_t capacity);

private:
    JpegLargeBuffer<std::uint8_t> m_bytes;
    std::size_t m_capacity = 0;
};
