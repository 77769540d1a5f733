// One beacon as the receptor reports it: decoded texts and numbers of the 56-byte beacon
// information block and the radio-quality block.
#pragma once

#include <QMetaType>
#include <QString>

struct BeaconInfo
{
    QString date;       // "ddMMyy" (UTC) or empty
    QString time;       // "hhmmss" (UTC) or empty
    QString name;       // 0 to 8 characters
    QString serial;     // 12 lowercase hexadecimal digits
    QString longitude;  // "ddddd.dddddE" or twelve asterisks
    QString latitude;   // "dddd.dddddN" or eleven asterisks
    qint32 memory = 0;  // percent, 0..255
    quint8 state = 0;   // 0 stopped, 1 starting, 2 started, 255 no valid report
    quint16 auxValue = 0;
    qint32 snr = 0;     // dB
    qint32 rssi = 0;    // dBm
};

Q_DECLARE_METATYPE(BeaconInfo)
