#pragma once

#include <algorithm>
#include <chrono>
#include <ctime>

// Asks a question again and again, a step apart, until it says yes or the bound runs out.
// Safe in a child after fork(): it allocates nothing and only reads the monotonic clock and
// sleeps.
class CBoundedWait {
public:
    using Clock = std::chrono::steady_clock;

    explicit CBoundedWait(std::chrono::milliseconds bound) : m_deadline(Clock::now() + bound) {}

    bool Expired() const { return Clock::now() >= m_deadline; }
    // What is left of the bound, never negative.
    std::chrono::milliseconds Left() const {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(m_deadline - Clock::now());
        return left.count() > 0 ? left : std::chrono::milliseconds(0);
    }
    // True as soon as ready() is, false when the bound ran out first. ready() is asked once
    // more at the bound, so a short bound still gets its answer.
    template <typename Ready> bool Until(std::chrono::milliseconds step, Ready ready) const {
        for (;;) {
            if (ready())
                return true;
            if (Expired())
                return false;
            const auto pause = std::min(step, Left());
            const timespec sleep{time_t(pause.count() / 1000),
                                 long(pause.count() % 1000) * 1000000};
            nanosleep(&sleep, nullptr);
        }
    }

private:
    Clock::time_point m_deadline;
};
