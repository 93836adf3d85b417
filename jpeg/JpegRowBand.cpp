#include "jpeg/JpegRowBand.h"

#include <algorithm>
#include <new>

bool CJpegRowBand::Start(std::uint32_t width, std::uint32_t height)
{
    m_width = width;
    m_rowBytes = (std::size_t(width) * 3 + 3) & ~std::size_t(3);
    m_height = height;
    try {
        m_ring = MakeLargeBuffer<std::uint8_t>(kRingRows * m_rowBytes);
    } catch (const std::bad_alloc&) {
        m_ring.reset();
    }
    return m_ring != nullptr;
}

bool CJpegRowBand::AwaitRoom(std::size_t end)
{
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [&] { return m_stopped || end <= m_released + kRingRows; });
    return !m_stopped;
}

void CJpegRowBand::Publish(std::size_t end)
{
    {
        std::lock_guard lock(m_mutex);
        m_written = std::max(m_written, std::min(end, m_height));
    }
    m_changed.notify_all();
}

bool CJpegRowBand::AwaitRows(std::size_t end)
{
    end = std::min(end, m_height);
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [&] { return m_stopped || end <= m_written; });
    return !m_stopped;
}

void CJpegRowBand::Release(std::size_t end)
{
    {
        std::lock_guard lock(m_mutex);
        m_released = std::max(m_released, end);
    }
    m_changed.notify_all();
}

void CJpegRowBand::Stop()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopped = true;
    }
    m_changed.notify_all();
}

bool CJpegRowBand::Stopped() const
{
    std::lock_guard lock(m_mutex);
    return m_stopped;
}
