#pragma once

#include <chrono>

namespace Ethercat {

// How long the master gives a datagram's frame to come back before it sends it again. It follows
// the round trips measured on the segment as a retransmission timer does (their smoothed mean
// plus four times their smoothed spread), so a segment or host that is merely slow draws no
// second copies once its round trips have been seen, while a frame lost on a fast segment goes
// again after the floor of 2 ms. A window that ran out without a reply doubles until the next
// round trip is measured.
class ReplyWindow
{
public:
    static constexpr int kFloorUs = 2000;
    static constexpr int kCeilingUs = 100000;

    std::chrono::microseconds length() const { return std::chrono::microseconds(m_windowUs); }
    // A frame that came back `roundTrip` after it was sent.
    void measured(std::chrono::microseconds roundTrip);
    // No frame came back within the window.
    void ranOut();

private:
    double m_smoothedUs = 0;
    double m_spreadUs = 0;
    bool m_anyMeasured = false;
    int m_windowUs = kFloorUs;
};

}
