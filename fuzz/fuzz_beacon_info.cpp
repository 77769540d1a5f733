// Fuzz target: the receptor's beacon information and radio-quality replies decoded into a
// BeaconInfo, and what the station derives from it (serial bytes, timestamp, position).
//
// Input: byte 0 bit 0 = a quality reply is present, bits 1-3 = its length (0..7); then that many
// quality bytes; the rest is the information block, of any length (the receptor sends 56 bytes).
#include "BeaconInfoDecoder.h"
#include "FuzzCheck.h"
#include "GpsCoords.h"
#include "QuietQt.h"

#include <QByteArray>
#include <QString>

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace {

bool isLowerHex(QChar c)
{
    return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || (c >= QLatin1Char('a') && c <= QLatin1Char('f'));
}

bool isAsciiDigits(const QString &text)
{
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    return true;
}

// The six serial bytes of a block, zero where the block is too short.
QByteArray serialBytes(const QByteArray &block)
{
    QByteArray bytes = block.mid(1, 6);
    bytes.append(QByteArray(6 - bytes.size(), '\0'));
    return bytes;
}

// A timestamp is valid only for six ASCII digits each of a real date and time, and it gives those
// texts back.
void checkTimestamp(const QString &date, const QString &time)
{
    const QDateTime stamp = BeaconInfoDecoder::timestamp(date, time);
    if (!stamp.isValid())
        return;
    FUZZ_CHECK(stamp.timeSpec() == Qt::UTC);
    FUZZ_CHECK(stamp.date().year() >= 2000 && stamp.date().year() <= 2099);
    FUZZ_CHECK(stamp.toString(QStringLiteral("ddMMyy")) == date);
    FUZZ_CHECK(stamp.toString(QStringLiteral("hhmmss")) == time);
}

// Degrees of any position are finite exactly when the number is ("inf" reads as a number), and
// never undefined.
void checkDegrees(const GpsCoords &coords)
{
    FUZZ_CHECK(std::isfinite(coords.latitudeDegrees()) == std::isfinite(coords.latitude()));
    FUZZ_CHECK(std::isfinite(coords.longitudeDegrees()) == std::isfinite(coords.longitude()));
}

// A coordinate text kept by the decoder: its letter, and for ASCII digits its number and range.
void checkCoordinate(const QString &text, double number, char letter, char positive, char negative,
                     double degrees, int degreeDigits)
{
    FUZZ_CHECK(letter == positive || letter == negative);
    FUZZ_CHECK(text.back() == QLatin1Char(letter));
    const QString digits = text.left(degreeDigits + 2) + text.mid(degreeDigits + 3, 5);
    if (!isAsciiDigits(digits))
        return;
    FUZZ_CHECK(number == text.chopped(1).toDouble());
    FUZZ_CHECK(number > 0);
    const double maxDegrees = std::pow(10.0, degreeDigits) - 1 + 99.99999 / 60;
    FUZZ_CHECK(std::fabs(degrees) <= maxDegrees);
    FUZZ_CHECK((degrees > 0) == (letter == positive));
}

void checkDecoded(const QByteArray &block, const QByteArray *quality)
{
    bool valid = false;
    const BeaconInfo info = BeaconInfoDecoder::decode(block, quality, &valid);

    FUZZ_CHECK(info.serial.size() == 12);
    FUZZ_CHECK(std::all_of(info.serial.begin(), info.serial.end(), isLowerHex));
    FUZZ_CHECK(info.serial == BeaconInfoDecoder::serialToText(serialBytes(block)));
    FUZZ_CHECK(BeaconInfoDecoder::serialFromText(info.serial) == serialBytes(block));

    if (!valid) {
        FUZZ_CHECK(info.date.isEmpty() && info.time.isEmpty() && info.name.isEmpty());
        FUZZ_CHECK(info.latitude.isEmpty() && info.longitude.isEmpty());
        FUZZ_CHECK(info.memory == 0 && info.auxValue == 0 && info.snr == 0 && info.rssi == 0);
        FUZZ_CHECK(info.state == 255);
        return;
    }

    FUZZ_CHECK(info.name.size() <= 8 && info.date.size() <= 6 && info.time.size() <= 6);
    FUZZ_CHECK(!info.name.contains(QChar(0)));
    FUZZ_CHECK(info.latitude.size() == 11 && info.longitude.size() == 12);
    FUZZ_CHECK(info.memory >= 0 && info.memory <= 255);
    if (quality) {
        FUZZ_CHECK(info.snr >= -32 && info.snr <= 31);
        FUZZ_CHECK(info.rssi >= -157 && info.rssi <= 255 - 157);
    } else {
        FUZZ_CHECK(info.snr == 0 && info.rssi == 0);
    }

    checkTimestamp(info.date, info.time);

    // The position a beacon list entry builds from the texts.
    const GpsCoords coords = GpsCoords::fromTexts(info.latitude, info.longitude);
    checkDegrees(coords);
    if (info.latitude == QString(11, QLatin1Char('*')))
        FUZZ_CHECK(std::isnan(coords.latitude()));
    else
        checkCoordinate(info.latitude, coords.latitude(), coords.latHemisphere(), 'N', 'S',
                        coords.latitudeDegrees(), 2);
    if (info.longitude == QString(12, QLatin1Char('*')))
        FUZZ_CHECK(std::isnan(coords.longitude()));
    else
        checkCoordinate(info.longitude, coords.longitude(), coords.lonHemisphere(), 'E', 'W',
                        coords.longitudeDegrees(), 3);
}

// The conversions on texts that did not come from the decoder.
void checkTexts(const QByteArray &block)
{
    const QString text = QString::fromLatin1(block);
    const QByteArray serial = BeaconInfoDecoder::serialFromText(text);
    FUZZ_CHECK(serial.size() == 6);
    const QString twelve = text.left(12);
    bool hex = twelve.size() == 12;
    for (const QChar c : twelve)
        hex = hex && (isLowerHex(c.toLower()));
    if (hex)
        FUZZ_CHECK(BeaconInfoDecoder::serialToText(serial) == twelve.toLower());

    checkTimestamp(text.mid(7, 6), text.mid(13, 6));
    checkTimestamp(text.left(6), text.mid(6, 6));
    checkDegrees(GpsCoords::fromTexts(text.mid(19, 11), text.mid(30, 12)));
    checkDegrees(GpsCoords::fromTexts(text, text.mid(text.size() / 2)));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    quietQtMessages();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const bool hasQuality = data[0] & 1;
    const size_t qualityLength = std::min<size_t>((data[0] >> 1) & 7, size - 1);
    const QByteArray quality(reinterpret_cast<const char *>(data + 1), int(qualityLength));
    const QByteArray block(reinterpret_cast<const char *>(data + 1 + qualityLength),
                           int(size - 1 - qualityLength));

    checkDecoded(block, hasQuality ? &quality : nullptr);
    checkTexts(block);
    return 0;
}
