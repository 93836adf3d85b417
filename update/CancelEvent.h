#pragma once

#include <atomic>

// An auto-reset event that is only ever tested, never waited on: Set raises it
// from any thread, Test lowers it again and tells whether it was raised.
class CCancelEvent {
public:
    void Set() { m_raised.store(true, std::memory_order_release); }
    void Reset() { m_raised.store(false, std::memory_order_release); }
    [[nodiscard]] bool Test() { return m_raised.exchange(false, std::memory_order_acq_rel); }

private:
    std::atomic<bool> m_raised { false };
};
