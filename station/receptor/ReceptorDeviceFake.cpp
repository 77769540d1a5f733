// Simulated receptor: three canned tracks, one information read per beacon and scan, each read
// moving the beacon one position along its track.
#include "ReceptorDeviceFake.h"
#include "LogCategories.h"

#include <QLocale>
#include <QString>
#include <QtDebug>

#include <cstring>

namespace
{
// Track 0 is a test loop around 0°N 0°E (positions 6 and 8 carry the all-zero longitude that the
// decoder turns into asterisks); tracks 1 and 2 are closed walks of real coordinates.
const char *const latitudes[ReceptorDeviceFake::trackCount * ReceptorDeviceFake::trackLength] = {
    "0004.00000N", "0003.00000N", "0002.00000N", "0001.00000N", "0001.00000S",
    "0002.00000S", "0003.00000S", "0004.00000S", "0003.00000S", "0002.00000S",
    "0001.00000S", "0001.00000N", "0002.00000N", "0003.00000N", "0004.00000N",

    "3536.46610N", "3537.30820N", "3536.02400N", "3534.58070N", "3533.25580N",
    "3531.36960N", "3530.04410N", "3528.07670N", "3526.26990N", "3524.26130N",
    "3525.34620N", "3528.43900N", "3531.40990N", "3532.33290N", "3536.10440N",

    "3748.57940N", "3748.58910N", "3749.00860N", "3749.08680N", "3749.02820N",
    "3748.15950N", "3748.06180N", "3748.52080N", "3749.49680N", "3750.29700N",
    "3750.51170N", "3750.26770N", "3750.25800N", "3749.55540N", "3749.38940N",
};

const char *const longitudes[ReceptorDeviceFake::trackCount * ReceptorDeviceFake::trackLength] = {
    "00006.00000E", "00005.00000E", "00004.00000E", "00003.00000E", "00002.00000E",
    "00001.00000E", "00000.00000E", "00001.00000W", "00000.00000E", "00001.00000E",
    "00002.00000E", "00003.00000E", "00004.00000E", "00005.00000E", "00006.00000E",

    "13954.09530E", "13958.36500E", "14000.49980E", "14002.28860E", "14002.48630E",
    "14000.45040E", "13958.01890E", "13955.33580E", "13952.55380E", "13950.07280E",
    "13946.29750E", "13949.12900E", "13950.46830E", "13954.24360E", "13955.58290E",

    "12228.24690W", "12227.45140W", "12226.26040W", "12225.11880W", "12223.55250W",
    "12222.32440W", "12221.40530W", "12220.58500W", "12221.23080W", "12221.25700W",
    "12223.07050W", "12224.27380W", "12225.42780W", "12226.42100W", "12227.37720W",
};

constexpr int infoBlockSize = 54;
constexpr char flagsWithNews = 0x03;  // registered, new report
constexpr char memoryByte = '3';      // read by the station as 51 % memory used
constexpr char stateStopped = 0;
constexpr quint16 auxWord = 10;
constexpr int serialSize = 6;
constexpr int nameSize = 8;
constexpr int identificationSize = 24;
} // namespace

ReceptorDeviceFake::ReceptorDeviceFake(Clock clock)
    : ReceptorDeviceGeneric(fakeKind),
      m_clock(clock ? std::move(clock) : Clock(&QDateTime::currentDateTime))
{
    qCDebug(lcReceptor, "Fake receptor created\n");
    m_beacons.append({QByteArray("\0\0\0\0\0\x02", serialSize), 0, 1});
}

const char *ReceptorDeviceFake::latitudeText(int track, int position)
{
    return latitudes[track * trackLength + position];
}

const char *ReceptorDeviceFake::longitudeText(int track, int position)
{
    return longitudes[track * trackLength + position];
}

void ReceptorDeviceFake::sendAddBeacon(QByteArray serial)
{
    m_beacons.append({serial, 0, m_added % trackCount});
    ++m_added;
}

void ReceptorDeviceFake::sendDelBeacon(QByteArray serial)
{
    for (int i = 0; i < m_beacons.size(); ++i) {
        if (m_beacons.at(i).serial == serial) {
            m_beacons.removeAt(i);
            return;
        }
    }
}

QByteArray *ReceptorDeviceFake::readBeaconFlags()
{
    return new QByteArray(m_beacons.size(), flagsWithNews);
}

QByteArray *ReceptorDeviceFake::readBeaconInfo(int slot)
{
    if (slot < 0 || slot >= m_beacons.size())
        return nullptr;
    SimulatedBeacon &beacon = m_beacons[slot];

    // Date and time come from one reading of the clock, so they never straddle midnight.
    const QDateTime now = m_clock();
    const int index = beacon.track * trackLength + beacon.position;

    auto *block = new QByteArray;
    block->reserve(infoBlockSize);
    block->append('*');
    // A serial of another length is cut or padded, so the fields keep their offsets.
    block->append(beacon.serial.leftJustified(serialSize, '\0', true));
    const QLocale c = QLocale::c();  // ASCII digits whatever the user's locale
    block->append(c.toString(now.date(), QStringLiteral("ddMMyy")).toLatin1());
    block->append(c.toString(now.time(), QStringLiteral("hhmmss")).toLatin1());
    block->append(latitudes[index]);
    block->append(longitudes[index]);
    block->append(memoryByte);
    block->append(stateStopped);
    block->append(char(auxWord & 0xFF));
    block->append(char(auxWord >> 8));
    const QByteArray name = QString::asprintf("Fake%04u", unsigned(slot)).toLatin1();
    block->append(name.leftJustified(nameSize, '\0', true));

    beacon.position = (beacon.position + 1) % trackLength;
    return block;
}

// The simulated beacons keep walking whatever they are told.
void ReceptorDeviceFake::sendStartBeacon(QByteArray, int)
{
}

void ReceptorDeviceFake::sendStopBeacon(QByteArray)
{
}

void ReceptorDeviceFake::sendBootloader()
{
}

QByteArray *ReceptorDeviceFake::readBeaconQuality(int)
{
    return new QByteArray(2, '\0');
}

int ReceptorDeviceFake::readReceptorId(char *buffer)
{
    if (!buffer)
        return -1;
    std::memset(buffer, 0, identificationSize);
    std::memcpy(buffer, "000000000000XXXXXXXX", 20);
    return identificationSize;
}
