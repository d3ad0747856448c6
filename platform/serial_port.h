#pragma once

#include <cstddef>
#include <string>

// A serial device opened the way the CANopen coupler's USB virtual COM port is used: exclusive,
// synchronous, raw (bytes pass unchanged; no baud rate, parity or stop bits are chosen), with a
// total time-out per read call and no time-out on writes.
class SerialPort
{
public:
    // The time-outs of one port. A read call returns as soon as at least one byte has arrived,
    // or with nothing after readTotalTimeoutMs.
    struct Timeouts {
        int readTotalTimeoutMs = 0;
    };

    SerialPort() = default;
    ~SerialPort();
    SerialPort(const SerialPort &) = delete;
    SerialPort &operator=(const SerialPort &) = delete;

    // Opens the device for reading and writing. Fails when the device is missing, cannot be
    // accessed, or another opener holds it (every opener takes an exclusive lock); then
    // openFailure() says which, for a person.
    bool open(const std::string &devicePath);
    const std::string &openFailure() const { return m_openFailure; }
    // The text for an open of `devicePath` that failed with `error` (an errno value); a device
    // held by another program fails with EWOULDBLOCK or EBUSY.
    static std::string describeOpenFailure(int error, const std::string &devicePath);
    bool isOpen() const { return m_fd >= 0; }
    void close();

    void setTimeouts(const Timeouts &timeouts) { m_timeouts = timeouts; }
    // Discards everything received but not read, and everything written but not yet sent.
    void purge();

    // Waits at most readTotalTimeoutMs for bytes and delivers up to `count` of them; 0 on a
    // time-out and on any failure (port not open, device gone).
    size_t read(unsigned char *buffer, size_t count);
    // Writes all bytes, blocking as long as needed; the count written (less on failure).
    size_t write(const unsigned char *bytes, size_t count);

private:
    bool fail(int error, const std::string &devicePath);

    int m_fd = -1;
    Timeouts m_timeouts;
    std::string m_openFailure;
};
