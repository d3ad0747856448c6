#pragma once

// The two faults of a boot-loader exchange. CouplerFirmwareWidget knows them by these names.
#include <exception>
#include <string>

// A reply that is missing, too short or too long, or that does not echo what was sent.
class FormatErrorException : public std::exception
{
public:
    // `text` names the exchange and dumps what came back; `detail` says the same for a person
    // (the peer, the bytes in hexadecimal) and is not part of what().
    explicit FormatErrorException(std::string text, std::string detail = std::string());
    const char *what() const noexcept override;
    const std::string &text() const { return m_text; }
    const std::string &detail() const { return m_detail; }

private:
    std::string m_text;
    std::string m_detail;
};

// A request that the socket did not send whole.
class SendFailedException : public std::exception
{
public:
    // Reads the socket error code of the failed call now, before anything else can change it.
    SendFailedException(std::string function, int bytesSent);
    // "function:<name>,bytes_seneded=<count>,error=<code>", built when first asked for.
    const char *what() const noexcept override;
    int errorCode() const { return m_errorCode; }

private:
    std::string m_function;
    int m_bytesSent;
    int m_errorCode;
    mutable std::string m_text;
};
