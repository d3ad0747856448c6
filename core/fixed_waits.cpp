#include "core/fixed_waits.h"

#include <QEventLoop>
#include <QThread>
#include <QTimer>

void FixedWaits::block(int milliseconds) const
{
    QThread::msleep(static_cast<unsigned long>(effective(milliseconds)));
}

void FixedWaits::inLocalEventLoop(int milliseconds) const
{
    QEventLoop loop;
    QTimer::singleShot(effective(milliseconds), &loop, &QEventLoop::quit);
    loop.exec();
}
