#include "app/fixed_wait.h"

#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <atomic>

namespace {
std::atomic<int> waitDivisor{1};
}

int FixedWait::effectiveMilliseconds(int milliseconds)
{
    return milliseconds / waitDivisor.load();
}

void FixedWait::inLocalEventLoop(int milliseconds)
{
    QEventLoop loop;
    QTimer::singleShot(effectiveMilliseconds(milliseconds), &loop, &QEventLoop::quit);
    loop.exec();
}

void FixedWait::blocking(int milliseconds)
{
    QThread::msleep(static_cast<unsigned long>(effectiveMilliseconds(milliseconds)));
}

void FixedWait::setFixedWaitDivisorForTests(int divisor)
{
    waitDivisor.store(divisor < 1 ? 1 : divisor);
}
