#include "cli/interrupt.h"

#include <atomic>
#include <csignal>

namespace {

// Set in the handler, read by every device's thread: a lock-free atomic serves both.
std::atomic<int> interrupted{0};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs a lock-free flag");

void onSignal(int signalNumber)
{
    // The third signal finds the default action again and ends the program.
    if (++interrupted >= 2)
        std::signal(signalNumber, SIG_DFL);
}

}

void Interrupt::install()
{
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

bool Interrupt::requested()
{
    return interrupted >= 1;
}

bool Interrupt::insisted()
{
    return interrupted >= 2;
}
