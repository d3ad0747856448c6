#pragma once

#include "modbus/mbap_frame.h"
#include "modbus/pass_through_link.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

struct _modbus;

// The pass-through link on one libmodbus TCP context. The context lives exactly as long as this
// object: it is closed and freed in the destructor, whichever way the run ends.
class ModbusTcpLink : public PassThroughLink
{
public:
    // A connected link, or nullptr when the context cannot be created or connected; then the
    // reason ("Connection refused", "No route to host", ...) goes to `failure` when given.
    static std::unique_ptr<ModbusTcpLink> connect(const std::string &ip, int port,
                                                  std::string *failure = nullptr);
    // The same, giving up on a connection not made within `connectTimeoutMs` (the library waits
    // its response time-out, half a second, for a connection). Replies are then awaited with
    // the library's response time-out, as after connect().
    static std::unique_ptr<ModbusTcpLink> connectWithin(const std::string &ip, int port, int connectTimeoutMs,
                                                        std::string *failure = nullptr);
    ~ModbusTcpLink() override;

    ModbusTcpLink(const ModbusTcpLink &) = delete;
    ModbusTcpLink &operator=(const ModbusTcpLink &) = delete;

    void setResponseTimeout(int seconds, int microseconds) override;
    void sendRawRequest(const uint8_t *request, int length) override;
    int receiveReply(uint8_t *frame) override;
    bool readHoldingRegister(int address, uint16_t &value) override;
    std::string lastReadFailure() const override { return m_lastReadFailure; }

private:
    explicit ModbusTcpLink(_modbus *context);
    int readSome(uint8_t *into, int wanted, bool firstRead);
    bool receiveMore(bool firstRead);
    bool awaitMoreBytes(int socket);
    void waitForRepliesUpTo(uint32_t seconds, uint32_t microseconds);
    void dropPending();

    _modbus *m_context;
    std::string m_lastReadFailure;
    // Bytes received and not yet taken. A reply mostly arrives whole, so one wait and one recv
    // take all of it rather than one each for its header and its rest.
    std::array<uint8_t, Mbap::kMaxFrameBytes> m_received{};
    size_t m_receivedBegin = 0;
    size_t m_receivedEnd = 0;
};
