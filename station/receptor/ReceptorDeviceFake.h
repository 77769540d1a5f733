// The simulated receptor: answers the nine receptor operations from memory, with beacons walking
// canned tracks of 15 positions, so that the whole station runs without hardware.
#pragma once

#include "ReceptorDeviceGeneric.h"

#include <QDateTime>
#include <QList>
#include <functional>

class ReceptorDeviceFake : public ReceptorDeviceGeneric
{
public:
    static constexpr qint32 fakeKind = 2;
    static constexpr int trackCount = 3;
    static constexpr int trackLength = 15;

    // Gives the local date and time stamped into each report.
    using Clock = std::function<QDateTime()>;

    // Starts with one beacon, serial 000000000002, at position 0 of track 1.
    explicit ReceptorDeviceFake(Clock clock = &QDateTime::currentDateTime);

    // Appends a beacon at position 0; added beacons take the tracks in turn, starting with track 0.
    void sendAddBeacon(QByteArray serial) override;
    // Removes the first beacon with exactly these serial bytes, if any.
    void sendDelBeacon(QByteArray serial) override;
    // One byte 0x03 (registered, new report) per beacon.
    QByteArray *readBeaconFlags() override;
    // The 54-byte information block of the beacon in this slot, which then moves one position
    // along its track; null for a slot that holds no beacon.
    QByteArray *readBeaconInfo(int slot) override;
    void sendStartBeacon(QByteArray serial, int freq) override;
    void sendStopBeacon(QByteArray serial) override;
    void sendBootloader() override;
    // Two zero bytes: SNR 0 dB, RSSI -157 dBm.
    QByteArray *readBeaconQuality(int slot) override;
    // Twelve '0', eight 'X' and four 0 bytes; returns 24.
    int readReceptorId(char *buffer) override;

    // Latitude and longitude texts of a track position, as the information block carries them.
    static const char *latitudeText(int track, int position);
    static const char *longitudeText(int track, int position);

private:
    struct SimulatedBeacon
    {
        QByteArray serial;  // 6 bytes as sent by sendAddBeacon
        qint32 position;    // 0..14 along the track
        qint32 track;       // 0..2
    };

    QList<SimulatedBeacon> m_beacons;
    Clock m_clock;
    int m_added = 0;  // beacons added so far, which chooses the next track
};
