#include "ethercat/reply_window.h"

#include <algorithm>
#include <cmath>

namespace Ethercat {

void ReplyWindow::measured(std::chrono::microseconds roundTrip)
{
    const double sample = double(roundTrip.count());
    if (!m_anyMeasured) {
        m_smoothedUs = sample;
        m_spreadUs = sample / 2;
        m_anyMeasured = true;
    } else {
        m_spreadUs = 0.75 * m_spreadUs + 0.25 * std::fabs(m_smoothedUs - sample);
        m_smoothedUs = 0.875 * m_smoothedUs + 0.125 * sample;
    }
    m_windowUs = int(std::clamp(m_smoothedUs + 4 * m_spreadUs, double(kFloorUs), double(kCeilingUs)));
}

void ReplyWindow::ranOut()
{
    m_windowUs = std::min(2 * m_windowUs, kCeilingUs);
}

}
