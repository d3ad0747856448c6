#pragma once

#include <functional>
#include <istream>
#include <string>
#include <string_view>
#include <vector>

// The lines of one decrypted firmware file.
class EncryptedHexFile
{
public:
    // Takes one line, without its CR; false stops the reading.
    using LineSink = std::function<bool(std::string_view line)>;

    // Reads the rest of the stream, decrypts it and appends its lines. A CR ends a line and the
    // byte after it (normally LF) is dropped; text after the last CR is not a line.
    bool read(std::istream &in);
    std::vector<std::string> lines() const { return m_lines; }

    // The same lines, handed to `sink` one by one while the file is read a stretch at a time
    // instead of kept. False when read() would be.
    static bool forEachLine(std::istream &in, const LineSink &sink);

private:
    std::vector<std::string> m_lines;
};
