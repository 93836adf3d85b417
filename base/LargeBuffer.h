#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

// Memory for whole pictures and whole files. It is not cleared: its users
// fill every byte they read. Blocks of 4 MiB and more are aligned to 2 MiB
// and offered to the kernel for transparent huge pages, so that a picture of
// many megapixels is mapped with a handful of page faults instead of tens of
// thousands. Null when the memory cannot be had; std::free releases it.
void* AllocateLargeBlock(std::size_t bytes);

// A byte block of fixed length from AllocateLargeBlock.
class CLargeBuffer {
public:
    CLargeBuffer() = default;
    CLargeBuffer(CLargeBuffer&&) noexcept = default;
    CLargeBuffer& operator=(CLargeBuffer&&) noexcept = default;

    // Replaces the contents with `size` bytes of undefined value; false (and
    // an empty buffer) when the memory cannot be had.
    [[nodiscard]] bool Allocate(std::size_t size);
    // Forgets the bytes from `size` on; the memory stays.
    void Shorten(std::size_t size)
    {
        if (size < m_size)
            m_size = size;
    }
    void Reset()
    {
        m_bytes.reset();
        m_size = 0;
    }

    std::uint8_t* data() { return m_bytes.get(); }
    const std::uint8_t* data() const { return m_bytes.get(); }
    std::size_t size() const { return m_size; }
    bool empty() const { return m_size == 0; }
    std::uint8_t& operator[](std::size_t index) { return m_bytes[index]; }
    const std::uint8_t& operator[](std::size_t index) const { return m_bytes[index]; }

private:
    struct FreeDeleter {
        void operator()(std::uint8_t* pointer) const;
    };
    std::unique_ptr<std::uint8_t[], FreeDeleter> m_bytes;
    std::size_t m_size = 0;
};
