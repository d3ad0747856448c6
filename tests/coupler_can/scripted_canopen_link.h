#pragma once

#include "coupler_can/canopen_comm.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <map>
#include <stdexcept>
#include <vector>

// An in-memory coupler link that plays a script: the request records the updater must send, in
// order, and what the coupler gives back (a reply record, silence, the guard frame), with the
// updater's pauses in their places. Any request or pause the script does not expect at that point
// ends the run with ScriptMismatch; failure() then tells what was expected and what came.
class ScriptedCanopenLink : public CANopenCOMM
{
public:
    struct ScriptMismatch : std::logic_error {
        using std::logic_error::logic_error;
    };

    // The next request must be exactly this 11-byte record.
    void expectRequest(const QByteArray &record);
    // The next awaited reply is this 11-byte record.
    void giveReply(const QByteArray &record);
    // The next awaited reply (or guard frame) never comes: the read times out.
    void giveSilence();
    // The next awaited frame is the 4-byte guard frame (its content is never looked at).
    void giveGuard();
    // The updater pauses this long here.
    void expectPause(int milliseconds);
    // `action` runs when request number `number` (counted from 1) has been sent.
    void atRequest(int number, std::function<void()> action);

    // The updater's pause: checked against the script, then shortened by the fixed-wait divisor.
    void pause(int milliseconds);

    bool finished() const { return m_next == m_steps.size(); }
    QString failure() const { return m_failure; }
    int requestCount() const { return m_requests; }

    bool sendDownloadRequest(uint8_t nodeId, uint16_t index, uint8_t subIndex,
                             const uint32_t *value) override;
    bool readDownloadResponse(uint16_t index, uint8_t subIndex, uint32_t *result) override;
    bool sendUploadRequest(uint8_t nodeId, uint16_t index, uint8_t subIndex) override;
    bool readUploadResponse(uint16_t index, uint8_t subIndex, uint32_t *result) override;
    void receiveGuard() override;

private:
    enum class Kind { Request, Reply, Silence, Guard, Pause };
    struct Step {
        Kind kind;
        QByteArray record;
        int milliseconds;
    };

    bool sendRequest(const QByteArray &record);
    // The next step, which must be of one of `kinds`; `what` names the call for the failure text.
    const Step &take(std::initializer_list<Kind> kinds, const QString &what);
    // Takes a reply or silence; on silence throws the link's timeout with `timeoutMessage`.
    uint32_t awaitReply(const std::string &timeoutMessage);
    [[noreturn]] void mismatch(const QString &text);

    std::vector<Step> m_steps;
    size_t m_next = 0;
    int m_requests = 0;
    std::map<int, std::function<void()>> m_actions;
    QString m_failure;
};
