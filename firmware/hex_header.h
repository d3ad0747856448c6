#pragma once

#include <cstdint>
#include <string>

// The optional first line of a firmware text, three fields separated by ", ", for example
// "0702, V1, X=FALSE": the product code in hexadecimal, the hardware version as the digit after
// the field's first character, and whether the loader writes the vector-table checksum (anything
// but exactly "FALSE" after the "=" means yes).
struct HexHeaderValues {
    uint32_t &productCode;
    int &hardwareVersion;
    bool &fixVectorChecksum;
};

// Parses the header into `values`. A value whose field is missing (the text ends before it) is
// left as it was; an empty line changes nothing.
void parseHexHeader(const std::string &header, HexHeaderValues values);
