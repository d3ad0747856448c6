#pragma once

// The UDP socket the coupler's replies come to. A fresh one for every update; the port is only
// reserved by it, the exchanges use its descriptor. The page and the command line share it, and
// with it the two boxes of a port that cannot be used.
#include "core/update_outcome.h"

#include <QUdpSocket>

#include <memory>
#include <optional>

// The listen port bound on all addresses, not shared: a second program on the same port would
// take some of the coupler's replies. On failure nullptr, and `refusal` holds the box: the
// coupler's own boot port cannot be used, or the bind failed (the OS error as informative text).
std::unique_ptr<QUdpSocket> bindCouplerListenPort(uint16_t port, UpdateOutcome &refusal);
