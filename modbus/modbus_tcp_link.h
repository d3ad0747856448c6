#pragma once

#include "modbus/pass_through_link.h"

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

    _modbus *m_context;
    std::string m_lastReadFailure;
};
