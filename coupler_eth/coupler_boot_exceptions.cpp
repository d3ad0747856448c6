#include "coupler_eth/coupler_boot_exceptions.h"

#include "platform/datagram_socket.h"

FormatErrorException::FormatErrorException(std::string text, std::string detail)
    : m_text(std::move(text)), m_detail(std::move(detail))
{
}

const char *FormatErrorException::what() const noexcept
{
    return m_text.c_str();
}

SendFailedException::SendFailedException(std::string function, int bytesSent)
    : m_function(std::move(function)),
      m_bytesSent(bytesSent),
      m_errorCode(DatagramSocket::lastSocketError())
{
}

const char *SendFailedException::what() const noexcept
{
    if (m_text.empty())
        m_text = "function:" + m_function + ",bytes_seneded=" + std::to_string(m_bytesSent)
            + ",error=" + std::to_string(m_errorCode);
    return m_text.c_str();
}
