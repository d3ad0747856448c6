#pragma once

#include <algorithm>
#include <chrono>

// A moment by which a wait must be over, on the monotonic clock. Every time-out of the program
// becomes one of these once, and each wait asks it how long is left, in the unit its call takes.
class Deadline
{
public:
    using Clock = std::chrono::steady_clock;

    static Deadline afterMicroseconds(long long microseconds)
    {
        return Deadline(Clock::now() + std::chrono::microseconds(microseconds));
    }
    static Deadline afterMilliseconds(long long milliseconds)
    {
        return Deadline(Clock::now() + std::chrono::milliseconds(milliseconds));
    }

    bool passed() const { return Clock::now() >= m_at; }
    // What is left, never below 0.
    long long remainingMicroseconds() const
    {
        return std::max<long long>(0, std::chrono::duration_cast<std::chrono::microseconds>(m_at - Clock::now()).count());
    }
    // What is left in whole milliseconds, rounded up so that a wait for it never ends early.
    int remainingMillisecondsRoundedUp() const { return int((remainingMicroseconds() + 999) / 1000); }
    // The earlier of the two.
    Deadline orSooner(const Deadline &other) const { return Deadline(std::min(m_at, other.m_at)); }

private:
    explicit Deadline(Clock::time_point at) : m_at(at) {}
    Clock::time_point m_at;
};
