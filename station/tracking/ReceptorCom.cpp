// Receptor worker: scans of the receptor's beacon slots and the beacon commands, one at a time on
// the worker thread. Failed transfers are never reported; the next poll simply tries again.
#include "ReceptorCom.h"

#include "BeaconInfoDecoder.h"
#include "ReceptorDeviceGeneric.h"

#include <QByteArray>
#include "BackgroundThread.h"
#include "LogCategories.h"

#include <QThread>
#include <QtDebug>

#include <memory>

namespace
{
// Slot-flag bits of the flags reply.
constexpr quint8 flagRegistered = 0x01;
constexpr quint8 flagNewReport = 0x02;
} // namespace

ReceptorCom::ReceptorCom() : QObject(nullptr)
{
    m_thread = new BackgroundThread;
    m_thread->start(QThread::InheritPriority);
    moveToThread(m_thread);
}

ReceptorCom::~ReceptorCom()
{
    m_thread->exitAndWait();
    delete m_thread;
}

void ReceptorCom::scanBeacons(ReceptorDeviceDesc dev)
{
    scanBeaconsEx(dev, 0);
}

void ReceptorCom::scanBeaconsInit(ReceptorDeviceDesc dev)
{
    scanBeaconsEx(dev, 1);
}

void ReceptorCom::addBeacon(ReceptorDeviceDesc dev, QString id)
{
    if (dev.isNull())
        return;
    dev->sendAddBeacon(BeaconInfoDecoder::serialFromText(id));
    // Report every beacon registered now, the new one included, so that the list shows it at once.
    scanBeaconsEx(dev, 1);
}

void ReceptorCom::delBeacon(ReceptorDeviceDesc dev, QString id)
{
    if (dev.isNull())
        return;
    dev->sendDelBeacon(BeaconInfoDecoder::serialFromText(id));
}

void ReceptorCom::getBeaconInfo(ReceptorDeviceDesc dev)
{
    Q_UNUSED(dev);
}

void ReceptorCom::startBeacon(ReceptorDeviceDesc dev, QString id, int freq)
{
    if (dev.isNull())
        return;
    dev->sendStartBeacon(BeaconInfoDecoder::serialFromText(id), freq);
}

void ReceptorCom::stopBeacon(ReceptorDeviceDesc dev, QString id)
{
    if (dev.isNull())
        return;
    dev->sendStopBeacon(BeaconInfoDecoder::serialFromText(id));
}

void ReceptorCom::scanBeaconsEx(ReceptorDeviceDesc dev, int initial)
{
    if (dev.isNull())
        return;
    const std::unique_ptr<QByteArray> flags(dev->readBeaconFlags());
    if (!flags)
        return;

    for (int i = 0; i < flags->size(); ++i) {
        const quint8 flag = quint8(flags->at(i));
        if (!(flag & flagRegistered))
            continue;
        if (!initial && !(flag & flagNewReport))
            continue;

        const std::unique_ptr<QByteArray> block(dev->readBeaconInfo(i));
        if (!block)
            continue;
        const std::unique_ptr<QByteArray> quality(dev->readBeaconQuality(i));

        bool valid = false;
        const BeaconInfo info = BeaconInfoDecoder::decode(*block, quality.get(), &valid);
        if (valid) {
            qCDebug(lcTracking, "%s %s : %s(%s) is at %s %s state %u memory used %u\n",
                   info.date.toLocal8Bit().constData(), info.time.toLocal8Bit().constData(),
                   info.serial.toLocal8Bit().constData(), info.name.toLocal8Bit().constData(),
                   info.latitude.toLocal8Bit().constData(), info.longitude.toLocal8Bit().constData(),
                   unsigned(info.state), unsigned(info.memory));
            emit beaconInfo(info);
        } else if (initial) {
            // The reduced record still lets the window list every registered serial.
            emit beaconInfo(info);
        }
    }
}

void ReceptorCom::bootloaderMode(ReceptorDeviceDesc dev)
{
    if (dev.isNull())
        return;
    dev->sendBootloader();
}
