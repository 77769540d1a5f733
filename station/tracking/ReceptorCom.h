// The receptor worker: all beacon traffic with the receptor, on a thread of its own. Every slot
// names the receptor to talk to, so the worker keeps no receptor and no beacon state between calls.
#pragma once

#include "BeaconInfo.h"
#include "ReceptorDeviceDesc.h"

#include <QObject>
#include <QString>

class BackgroundThread;

class ReceptorCom : public QObject
{
    Q_OBJECT

public:
    // Created without parent on the window thread; starts its own thread and moves onto it.
    ReceptorCom();
    // Waits until a slot in progress has returned and the thread has left its event loop.
    ~ReceptorCom() override;

signals:
    void beaconInfo(BeaconInfo info);

public slots:
    // Routine scan: reports the slots with a new, well-formed report.
    void scanBeacons(ReceptorDeviceDesc dev);
    // Initial scan: reports every registered slot, a malformed one as its serial with state 255.
    void scanBeaconsInit(ReceptorDeviceDesc dev);
    // Registers the beacon, then runs an initial scan.
    void addBeacon(ReceptorDeviceDesc dev, QString id);
    void delBeacon(ReceptorDeviceDesc dev, QString id);
    // Causes no traffic: only the handle is given up.
    void getBeaconInfo(ReceptorDeviceDesc dev);
    // `freq` is the measurement interval in tenths of a second.
    void startBeacon(ReceptorDeviceDesc dev, QString id, int freq);
    void stopBeacon(ReceptorDeviceDesc dev, QString id);
    // Scan; a non-zero `initial` makes it an initial scan.
    void scanBeaconsEx(ReceptorDeviceDesc dev, int initial);
    void bootloaderMode(ReceptorDeviceDesc dev);

private:
    BackgroundThread *m_thread = nullptr;
};
