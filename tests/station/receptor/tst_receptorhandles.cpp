// ReceptorDeviceDesc reference counting, and the registered meta-types carrying reports and
// handles across threads in queued signals.
#include "BeaconInfo.h"
#include "GpsCoords.h"
#include "ReceptorDeviceDesc.h"
#include "ReceptorMetaTypes.h"
#include "SilentReceptor.h"

#include <QtTest>

#include <memory>
#include <vector>

namespace
{
// A receptor that only counts its deletions.
class CountingReceptor : public SilentReceptor
{
public:
    explicit CountingReceptor(int *deletions) : m_deletions(deletions) {}
    ~CountingReceptor() override { ++*m_deletions; }

private:
    int *m_deletions;
};
}

// Stands for the worker or the detector, emitting on its own thread.
class Emitter : public QObject
{
    Q_OBJECT
public:
    ReceptorDeviceDesc held;
signals:
    void beaconInfo(BeaconInfo info);
    void receptorConnected(ReceptorDeviceDesc receptor);
};

// Stands for the window.
class Receiver : public QObject
{
    Q_OBJECT
public:
    BeaconInfo info;
    ReceptorDeviceDesc receptor;
    QThread *deliveredOn = nullptr;
public slots:
    void beaconUpdate(BeaconInfo value) { info = value; deliver(); }
    void setReceptor(ReceptorDeviceDesc value) { receptor = value; deliver(); }
signals:
    void delivered();
private:
    void deliver()
    {
        deliveredOn = QThread::currentThread();
        emit delivered();
    }
};

class TestReceptorHandles : public QObject
{
    Q_OBJECT

private slots:
    void registersTheThreeTypes();
    void copiesAndAssignmentsCount();
    void countsStayExactAcrossThreads();
    void queuedSignalsCarryValues();
};

void TestReceptorHandles::registersTheThreeTypes()
{
    // Runs before anything else in this program asks for these types.
    registerReceptorMetaTypes();
    const int desc = QMetaType::type("ReceptorDeviceDesc");
    const int info = QMetaType::type("BeaconInfo");
    const int coords = QMetaType::type("GpsCoords");
    QVERIFY(desc >= QMetaType::User);
    QVERIFY(desc < info && info < coords);
    QCOMPARE(qMetaTypeId<ReceptorDeviceDesc>(), desc);
    QCOMPARE(qMetaTypeId<BeaconInfo>(), info);
    QCOMPARE(qMetaTypeId<GpsCoords>(), coords);
    registerReceptorMetaTypes();
    QCOMPARE(QMetaType::type("BeaconInfo"), info);
}

void TestReceptorHandles::copiesAndAssignmentsCount()
{
    int deletionsA = 0, deletionsB = 0;
    auto *a = new CountingReceptor(&deletionsA);  // the detector's first reference
    auto *b = new CountingReceptor(&deletionsB);
    auto handleA = std::make_unique<ReceptorDeviceDesc>(a);
    ReceptorDeviceDesc handleB(b);
    QCOMPARE(a->refCount(), 2);
    {
        const ReceptorDeviceDesc copy(*handleA);
        ReceptorDeviceDesc assigned;
        assigned = copy;
        QCOMPARE(a->refCount(), 4);
        QCOMPARE(assigned.device(), a);
    }
    QCOMPARE(a->refCount(), 2);
    a->release();  // the detector lets go first; the handle still holds it
    b->release();
    QCOMPARE(deletionsA, 0);

    // The only holder assigned to itself must not delete on the way.
    ReceptorDeviceDesc &alias = *handleA;
    *handleA = alias;
    QCOMPARE(deletionsA, 0);
    QCOMPARE(a->refCount(), 1);

    ReceptorDeviceDesc secondA(*handleA);
    *handleA = handleB;
    QCOMPARE(deletionsA, 0);
    QCOMPARE(b->refCount(), 2);
    secondA = ReceptorDeviceDesc();  // a's last holder
    QCOMPARE(deletionsA, 1);
    QVERIFY(secondA.isNull());
    QVERIFY(ReceptorDeviceDesc(nullptr).isNull());

    handleB = ReceptorDeviceDesc();
    QCOMPARE(deletionsB, 0);
    handleA.reset();
    QCOMPARE(deletionsB, 1);
}

void TestReceptorHandles::countsStayExactAcrossThreads()
{
    int deletions = 0;
    auto *receptor = new CountingReceptor(&deletions);
    {
        const ReceptorDeviceDesc shared(receptor);
        // Copies made and dropped at the same time on several threads, as the detector, the
        // worker and the window do.
        std::vector<std::unique_ptr<QThread>> threads;
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back(QThread::create([shared] {
                for (int i = 0; i < 100000; ++i) {
                    ReceptorDeviceDesc assigned;
                    assigned = ReceptorDeviceDesc(shared);
                }
            }));
            threads.back()->start();
        }
        for (const auto &thread : threads)
            QVERIFY(thread->wait(60000));
        threads.clear();  // drops the copies held by the thread functions
        QCOMPARE(receptor->refCount(), 2);
    }
    receptor->release();
    QCOMPARE(deletions, 1);
}

void TestReceptorHandles::queuedSignalsCarryValues()
{
    int deletions = 0;
    auto *receptor = new CountingReceptor(&deletions);

    QThread thread;
    auto *emitter = new Emitter;
    emitter->held = ReceptorDeviceDesc(receptor);
    emitter->moveToThread(&thread);
    Receiver receiver;
    QVERIFY(connect(emitter, SIGNAL(beaconInfo(BeaconInfo)), &receiver, SLOT(beaconUpdate(BeaconInfo))));
    QVERIFY(connect(emitter, SIGNAL(receptorConnected(ReceptorDeviceDesc)), &receiver,
                    SLOT(setReceptor(ReceptorDeviceDesc))));
    thread.start();
    QSignalSpy delivered(&receiver, &Receiver::delivered);

    BeaconInfo sent;
    sent.serial = QStringLiteral("0a1b2c3d4e5f");
    sent.latitude = QStringLiteral("3536.46610N");
    sent.memory = 255;
    sent.state = 2;
    sent.auxValue = 10;
    sent.rssi = -157;
    // The signal is emitted on the emitter's thread; the blocking call returns once it is posted.
    QVERIFY(QMetaObject::invokeMethod(emitter, [emitter, sent] { emit emitter->beaconInfo(sent); },
                                      Qt::BlockingQueuedConnection));
    QVERIFY(delivered.wait(10000));
    QCOMPARE(receiver.deliveredOn, QThread::currentThread());
    QCOMPARE(receiver.info.serial, sent.serial);
    QCOMPARE(receiver.info.latitude, sent.latitude);
    QCOMPARE(receiver.info.memory, sent.memory);
    QCOMPARE(receiver.info.state, sent.state);
    QCOMPARE(receiver.info.auxValue, sent.auxValue);
    QCOMPARE(receiver.info.rssi, sent.rssi);

    QVERIFY(QMetaObject::invokeMethod(emitter, [emitter] { emit emitter->receptorConnected(emitter->held); },
                                      Qt::BlockingQueuedConnection));
    QVERIFY(delivered.wait(10000));
    QCOMPARE(receiver.receptor.device(), receptor);
    // The copy that travelled in the event is gone: detector, emitter and receiver remain.
    QCOMPARE(receptor->refCount(), 3);

    thread.quit();
    QVERIFY(thread.wait(10000));
    delete emitter;
    receiver.receptor = ReceptorDeviceDesc();
    receptor->release();
    QCOMPARE(deletions, 1);
}

QTEST_GUILESS_MAIN(TestReceptorHandles)
#include "tst_receptorhandles.moc"
