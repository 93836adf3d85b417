#pragma once

#include "jpeg/JpegMemory.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>

// Pixel rows handed from a decoder on one thread to an encoder on others,
// through a ring of a few hundred rows instead of a whole picture: the
// decoder writes top-down rows of B, G, R bytes (each padded to a multiple of
// 4 bytes) and publishes how far it got; the encoder reads them and releases
// the rows it no longer needs, which gives the decoder room for more.
// Either side may stop the hand-over, which wakes every wait.
class CJpegRowBand {
public:
    // Rows the ring holds: the encoder's window of rows of blocks at its
    // largest (8 rows of blocks for each of up to 4 threads), plus two MCU
    // rows of the tallest kind, so the decoder can always run ahead of the
    // rows the encoder waits for.
    static constexpr std::size_t kRingRows = 8 * 32 + 2 * 32;

    CJpegRowBand() = default;
    CJpegRowBand(const CJpegRowBand&) = delete;
    CJpegRowBand& operator=(const CJpegRowBand&) = delete;

    // False when the ring cannot be had.
    [[nodiscard]] bool Start(std::uint32_t width, std::uint32_t height);

    std::size_t Width() const { return m_width; }
    std::size_t RowBytes() const { return m_rowBytes; }
    std::size_t Height() const { return m_height; }
    std::uint8_t* Row(std::size_t y) const { return m_ring.get() + (y % kRingRows) * m_rowBytes; }

    // Decoder: waits until rows before `end` may be written; false once
    // stopped.
    [[nodiscard]] bool AwaitRoom(std::size_t end);
    // Decoder: rows before `end` are written.
    void Publish(std::size_t end);
    // Encoder: waits until rows before `end` are written; false once stopped.
    [[nodiscard]] bool AwaitRows(std::size_t end);
    // Encoder: rows before `end` will not be read again.
    void Release(std::size_t end);
    // Ends the hand-over for both sides.
    void Stop();
    bool Stopped() const;

private:
    JpegLargeBuffer<std::uint8_t> m_ring;
    std::size_t m_width = 0;
    std::size_t m_rowBytes = 0;
    std::size_t m_height = 0;

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::size_t m_written = 0;
    std::size_t m_released = 0;
    bool m_stopped = false;
};
