#pragma once

#include <exception>
#include <string>

// An awaited reply from the coupler did not arrive. Always thrown as a pointer to a new object;
// whoever catches it deletes it.
class timeout_exception : public std::exception
{
public:
    explicit timeout_exception(std::string message) : m_message(std::move(message)) {}
    const char *what() const noexcept override { return m_message.c_str(); }

private:
    std::string m_message;
};
