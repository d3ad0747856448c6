#pragma once

#include <QByteArray>
#include <QString>

// Firmware files as the pages expect them, for tests: Intel HEX text of 16-byte data records
// (addresses counting from 0, extended linear address records every 64 KiB, an end-of-file
// record), CR LF line ends, an optional header line first, encrypted with the built-in key.
namespace FirmwareBuilder {

// The Intel HEX text of `image` (no header line when `header` is empty).
QByteArray hexText(const QByteArray &image, const QString &header = QString());

// Encrypts any plaintext as a firmware file: padded with one marker byte and zeros to a multiple
// of 16, then AES-128-ECB with the built-in key.
QByteArray encrypt(const QByteArray &plaintext);

// `size` bytes that do not repeat with the 256-byte page, so a page written to the wrong place
// shows in a comparison.
QByteArray pattern(int size);

// encrypt(hexText(image, header)).
QByteArray encryptedHex(const QByteArray &image, const QString &header = QString());

}
