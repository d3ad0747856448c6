#include "tests/coupler_can/scripted_canopen_link.h"

#include "core/fixed_waits.h"
#include "coupler_can/sdo_messages.h"
#include "coupler_can/timeout_exception.h"

#include <algorithm>

namespace {

QString describe(const QByteArray &record)
{
    return QString::fromLatin1(record.toHex(' '));
}

template <size_t N>
QByteArray bytesOf(const std::array<uint8_t, N> &record)
{
    return QByteArray(reinterpret_cast<const char *>(record.data()), static_cast<int>(N));
}

}

void ScriptedCanopenLink::expectRequest(const QByteArray &record)
{
    m_steps.push_back({Kind::Request, record, 0});
}

void ScriptedCanopenLink::giveReply(const QByteArray &record)
{
    m_steps.push_back({Kind::Reply, record, 0});
}

void ScriptedCanopenLink::giveSilence()
{
    m_steps.push_back({Kind::Silence, {}, 0});
}

void ScriptedCanopenLink::giveGuard()
{
    m_steps.push_back({Kind::Guard, {}, 0});
}

void ScriptedCanopenLink::expectPause(int milliseconds)
{
    m_steps.push_back({Kind::Pause, {}, milliseconds});
}

void ScriptedCanopenLink::atRequest(int number, std::function<void()> action)
{
    m_actions[number] = std::move(action);
}

void ScriptedCanopenLink::pause(int milliseconds)
{
    const Step &step = take({Kind::Pause}, QString("a pause of %1 ms").arg(milliseconds));
    if (step.milliseconds != milliseconds)
        mismatch(QString("expected a pause of %1 ms, the updater paused %2 ms")
                     .arg(step.milliseconds).arg(milliseconds));
    FixedWaits(1000).block(milliseconds);
}

bool ScriptedCanopenLink::sendDownloadRequest(uint8_t nodeId, uint16_t index, uint8_t subIndex,
                                              const uint32_t *value)
{
    return sendRequest(bytesOf(SdoMessages::downloadRequest(nodeId, index, subIndex, *value)));
}

bool ScriptedCanopenLink::readDownloadResponse(uint16_t index, uint8_t subIndex, uint32_t *result)
{
    *result = awaitReply(SdoMessages::downloadTimeoutMessage(index, subIndex));
    return true;
}

bool ScriptedCanopenLink::sendUploadRequest(uint8_t nodeId, uint16_t index, uint8_t subIndex)
{
    return sendRequest(bytesOf(SdoMessages::uploadRequest(nodeId, index, subIndex)));
}

bool ScriptedCanopenLink::readUploadResponse(uint16_t index, uint8_t subIndex, uint32_t *result)
{
    *result = awaitReply(SdoMessages::uploadTimeoutMessage(index, subIndex));
    return true;
}

void ScriptedCanopenLink::receiveGuard()
{
    if (take({Kind::Guard, Kind::Silence}, "a wait for the guard frame").kind == Kind::Silence)
        throw new timeout_exception("Receive Guard");
}

bool ScriptedCanopenLink::sendRequest(const QByteArray &record)
{
    const Step &step = take({Kind::Request}, "the request " + describe(record));
    if (step.record != record)
        mismatch("expected the request " + describe(step.record) + ", got " + describe(record));
    ++m_requests;
    const auto action = m_actions.find(m_requests);
    if (action != m_actions.end())
        action->second();
    return true;
}

uint32_t ScriptedCanopenLink::awaitReply(const std::string &timeoutMessage)
{
    const Step &step = take({Kind::Reply, Kind::Silence}, "a wait for a reply");
    if (step.kind == Kind::Silence)
        throw new timeout_exception(timeoutMessage);
    return SdoMessages::replyValue(reinterpret_cast<const uint8_t *>(step.record.constData()));
}

const ScriptedCanopenLink::Step &ScriptedCanopenLink::take(std::initializer_list<Kind> kinds,
                                                           const QString &what)
{
    if (finished())
        mismatch("the script had ended, then came " + what);
    const Step &step = m_steps[m_next];
    if (std::find(kinds.begin(), kinds.end(), step.kind) == kinds.end()) {
        const char *expected[] = {"the request ", "a reply read", "a reply read (silence)",
                                  "a guard frame read", "a pause"};
        mismatch(QString("step %1: expected %2%3, came %4")
                     .arg(m_next)
                     .arg(expected[static_cast<int>(step.kind)])
                     .arg(step.kind == Kind::Request ? describe(step.record) : QString())
                     .arg(what));
    }
    ++m_next;
    return step;
}

void ScriptedCanopenLink::mismatch(const QString &text)
{
    if (m_failure.isEmpty())
        m_failure = text;
    throw ScriptMismatch(text.toStdString());
}
