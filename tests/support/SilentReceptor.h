// A receptor that does nothing: every command goes nowhere, every read gives nothing and its
// identifier does not answer. Tests override the one operation they watch.
#pragma once

#include "ReceptorDeviceGeneric.h"

class SilentReceptor : public ReceptorDeviceGeneric
{
public:
    void sendAddBeacon(QByteArray) override {}
    void sendDelBeacon(QByteArray) override {}
    QByteArray *readBeaconFlags() override { return nullptr; }
    QByteArray *readBeaconInfo(int) override { return nullptr; }
    void sendStartBeacon(QByteArray, int) override {}
    void sendStopBeacon(QByteArray) override {}
    void sendBootloader() override {}
    QByteArray *readBeaconQuality(int) override { return nullptr; }
    int readReceptorId(char *) override { return -1; }
};
