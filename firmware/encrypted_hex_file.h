#pragma once

#include <istream>
#include <string>
#include <vector>

// The lines of one decrypted firmware file.
class EncryptedHexFile
{
public:
    // Reads the rest of the stream, decrypts it and appends its lines. A CR ends a line and the
    // byte after it (normally LF) is dropped; text after the last CR is not a line.
    bool read(std::istream &in);
    std::vector<std::string> lines() const { return m_lines; }

private:
    std::vector<std::string> m_lines;
};
