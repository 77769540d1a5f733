// Pure functions from the receptor's reply bytes to a BeaconInfo, and between serial texts and the
// 6 serial bytes that commands carry. No device is needed to use them.
#pragma once

#include "BeaconInfo.h"

#include <QByteArray>
#include <QDateTime>

namespace BeaconInfoDecoder
{
constexpr int infoBlockSize = 56;
constexpr int qualityBlockSize = 6;

// Decodes an information block and the radio-quality reply of the same slot. `quality` null means
// the quality request failed. `valid` (if given) tells whether the block was well formed; an
// invalid block yields the reduced record (serial only, state 255). Bytes beyond a short block
// read as 0; nothing past the arrays is ever read.
BeaconInfo decode(const QByteArray &block, const QByteArray *quality, bool *valid = nullptr);

// "%02x%02x%02x%02x%02x%02x" of the first six bytes.
QString serialToText(const QByteArray &bytes);
// The six bytes of a serial text. A text that is not six hexadecimal pairs from its start gives
// the pairs that did read, followed by zero bytes, always 6 bytes long: a pair reads when both of
// its characters are hexadecimal digits (either case), and the first pair that does not read ends
// the conversion ("0a1bzz3d4e5f" gives 0A 1B 00 00 00 00).
QByteArray serialFromText(const QString &serial);

// "ddMMyy" + "hhmmss" (six ASCII digits each) as a UTC timestamp in 20yy; invalid when either
// text does not read as a real date or time.
QDateTime timestamp(const QString &date, const QString &time);
}
