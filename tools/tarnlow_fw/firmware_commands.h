#pragma once

#include <string>

// The three commands of the firmware tool. Each returns the process exit status and writes one
// line to standard error when it fails.
namespace FirmwareCommands {

// Encrypts an Intel HEX text as the pages expect it: CR LF line ends, the optional header first.
int encrypt(const std::string &input, const std::string &output, const std::string *header);
// Prints the plaintext of a firmware file.
int decrypt(const std::string &input);
// Loads a firmware file as the named page would and prints what it holds.
int info(const std::string &page, const std::string &input);

}
