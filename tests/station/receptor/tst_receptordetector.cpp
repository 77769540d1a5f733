// The receptor detector on its own thread against the emulated bus: announcements per poll, the
// simulated mode, and the reference count of every receptor it creates.
#include "EmulatedBus.h"
#include "ReceptorDetector.h"
#include "ReceptorDevice.h"
#include "ReceptorDeviceDesc.h"
#include "ReceptorDeviceGeneric.h"
#include "ReceptorMetaTypes.h"
#include "UsbAccess.h"
#include "VirtualReceptor.h"

#include <QtTest>

// Receives the detector's signals on the test thread through queued connections, as the window
// does, and keeps every handle it was given.
class DetectorLog : public QObject
{
    Q_OBJECT

public:
    QStringList events;
    QList<ReceptorDeviceDesc> handles;

public slots:
    void connected(ReceptorDeviceDesc dev)
    {
        const auto *real = dynamic_cast<ReceptorDevice *>(dev.device());
        events << (real ? QStringLiteral("connected ") + real->path() : QStringLiteral("connected fake"));
        handles << dev;
    }
    void disconnected() { events << QStringLiteral("disconnected"); }
};

class TestReceptorDetector : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void interface();
    void presentAtStart();
    void unplugged();
    void simulatedWhileRealHeld();
    void simulatedOffWithoutReal();
    void toggledBetweenPolls();
    void twoReceptorsFirstOnly();
    void failedOpenStillAnnounced();
    void unreadablePathChangesNothing();

private:
    std::string attachReceptor(const std::string &name);
    void invoke(const char *slot);
    QStringList poll();
    QStringList settle();

    ReceptorDetector *m_detector = nullptr;
    DetectorLog *m_log = nullptr;
};

void TestReceptorDetector::initTestCase()
{
    registerReceptorMetaTypes();
    usb::setPlatformBackendEnabled(false);
}

void TestReceptorDetector::init()
{
    usb::EmulatedBus::instance().reset();
    m_detector = new ReceptorDetector;
    m_log = new DetectorLog;
    connect(m_detector, &ReceptorDetector::receptorConnected, m_log, &DetectorLog::connected);
    connect(m_detector, &ReceptorDetector::receptorDisconnected, m_log, &DetectorLog::disconnected);
}

void TestReceptorDetector::cleanup()
{
    delete m_detector;
    m_detector = nullptr;
    QCoreApplication::sendPostedEvents();
    // The detector gave up its references: each receptor announced is held by its log handle alone,
    // and dropping the handles closes every device.
    for (const ReceptorDeviceDesc &handle : qAsConst(m_log->handles))
        QCOMPARE(handle->refCount(), 1);
    delete m_log;
    m_log = nullptr;
    QCOMPARE(usb::EmulatedBus::instance().openHandles(), 0);
}

std::string TestReceptorDetector::attachReceptor(const std::string &name)
{
    return usb::EmulatedBus::instance().attach(ReceptorDetector::interfaceClass(), name,
                                               std::make_shared<VirtualReceptor>());
}

void TestReceptorDetector::invoke(const char *slot)
{
    QVERIFY(QMetaObject::invokeMethod(m_detector, slot, Qt::QueuedConnection));
}

QStringList TestReceptorDetector::poll()
{
    invoke("refresh");
    return settle();
}

// Waits until the detector thread has run everything queued so far, then delivers what it emitted.
QStringList TestReceptorDetector::settle()
{
    QMetaObject::invokeMethod(m_detector, [] {}, Qt::BlockingQueuedConnection);
    QCoreApplication::sendPostedEvents();
    const QStringList events = m_log->events;
    m_log->events.clear();
    return events;
}

void TestReceptorDetector::interface()
{
    // The window connects by signature; the order fixes the method indices.
    const QMetaObject &meta = ReceptorDetector::staticMetaObject;
    const QList<QByteArray> expected = {"receptorConnected(ReceptorDeviceDesc)", "receptorDisconnected()",
                                        "refresh()", "AddFakeReceptor()", "RemoveFakeReceptor()"};
    QCOMPARE(meta.methodCount() - meta.methodOffset(), expected.size());
    for (int i = 0; i < expected.size(); ++i)
        QCOMPARE(meta.method(meta.methodOffset() + i).methodSignature(), expected.at(i));
    QCOMPARE(meta.method(meta.methodOffset()).parameterNames(), QList<QByteArray>{"dev"});
    QCOMPARE(m_detector->thread() == QThread::currentThread(), false);
    QVERIFY(!m_detector->parent());
}

void TestReceptorDetector::presentAtStart()
{
    const std::string path = attachReceptor("receptor-a");
    QCOMPARE(poll(), QStringList{QStringLiteral("connected emu:receptor-a")});
    QCOMPARE(poll(), QStringList());
    QCOMPARE(poll(), QStringList());
    QCOMPARE(usb::EmulatedBus::instance().openHandles(), 1);
    QCOMPARE(m_log->handles.first()->kind(), 1);
    // The detector's reference and the log's.
    QCOMPARE(m_log->handles.first()->refCount(), 2);
}

void TestReceptorDetector::unplugged()
{
    const std::string path = attachReceptor("receptor-a");
    QCOMPARE(poll().size(), 1);
    usb::EmulatedBus::instance().detach(path);
    QCOMPARE(poll(), QStringList{QStringLiteral("disconnected")});
    QCOMPARE(poll(), QStringList());
    QCOMPARE(m_log->handles.first()->refCount(), 1);

    attachReceptor("receptor-a");
    QCOMPARE(poll(), QStringList{QStringLiteral("connected emu:receptor-a")});
}

void TestReceptorDetector::simulatedWhileRealHeld()
{
    attachReceptor("receptor-a");
    QCOMPARE(poll().size(), 1);

    invoke("AddFakeReceptor");
    QCOMPARE(poll(), (QStringList{QStringLiteral("disconnected"), QStringLiteral("connected fake")}));
    QCOMPARE(m_log->handles.at(0)->refCount(), 1);
    QCOMPARE(m_log->handles.at(1)->kind(), 2);
    QCOMPARE(poll(), QStringList());

    // Switching back with the USB receptor still present: dropped fake, then a fresh USB receptor.
    invoke("RemoveFakeReceptor");
    QCOMPARE(poll(), (QStringList{QStringLiteral("disconnected"), QStringLiteral("connected emu:receptor-a")}));
    QCOMPARE(m_log->handles.at(1)->refCount(), 1);
    QCOMPARE(m_log->handles.size(), 3);
    QCOMPARE(poll(), QStringList());
}

void TestReceptorDetector::simulatedOffWithoutReal()
{
    invoke("AddFakeReceptor");
    QCOMPARE(poll(), QStringList{QStringLiteral("connected fake")});
    QCOMPARE(poll(), QStringList());
    invoke("RemoveFakeReceptor");
    QCOMPARE(poll(), QStringList{QStringLiteral("disconnected")});
    QCOMPARE(poll(), QStringList());
}

void TestReceptorDetector::toggledBetweenPolls()
{
    // Nothing held.
    invoke("AddFakeReceptor");
    invoke("RemoveFakeReceptor");
    QCOMPARE(poll(), QStringList());

    // A USB receptor held.
    attachReceptor("receptor-a");
    QCOMPARE(poll().size(), 1);
    invoke("AddFakeReceptor");
    invoke("RemoveFakeReceptor");
    QCOMPARE(poll(), QStringList());

    // The simulated receptor held.
    invoke("AddFakeReceptor");
    QCOMPARE(poll().size(), 2);
    invoke("RemoveFakeReceptor");
    invoke("AddFakeReceptor");
    QCOMPARE(poll(), QStringList());
    QCOMPARE(m_log->handles.size(), 2);
}

void TestReceptorDetector::twoReceptorsFirstOnly()
{
    attachReceptor("receptor-a");
    attachReceptor("receptor-b");
    QCOMPARE(poll(), QStringList{QStringLiteral("connected emu:receptor-a")});
    QCOMPARE(poll(), QStringList());
    QCOMPARE(usb::EmulatedBus::instance().openHandles(), 1);
}

void TestReceptorDetector::failedOpenStillAnnounced()
{
    const std::string path = attachReceptor("receptor-a");
    usb::EmulatedBus::instance().setOpenFails(path, true);
    QCOMPARE(poll(), QStringList{QStringLiteral("connected emu:receptor-a")});
    char id[24];
    QCOMPARE(m_log->handles.first()->readReceptorId(id), -1);
    QCOMPARE(poll(), QStringList());
}

// A present interface whose path cannot be read this time (a failed detail read) neither lets the
// held receptor go nor opens one.
void TestReceptorDetector::unreadablePathChangesNothing()
{
    usb::EmulatedBus &bus = usb::EmulatedBus::instance();
    const std::string path = attachReceptor("receptor");
    bus.setPathUnreadable(path, true);
    QCOMPARE(poll(), QStringList());
    bus.setPathUnreadable(path, false);
    QCOMPARE(poll(), QStringList{QStringLiteral("connected emu:receptor")});

    bus.setPathUnreadable(path, true);
    QCOMPARE(poll(), QStringList());
    QCOMPARE(poll(), QStringList());
    QCOMPARE(m_log->handles.first()->refCount(), 2);
    bus.setPathUnreadable(path, false);
    QCOMPARE(poll(), QStringList());

    // Gone from the listing altogether: lost.
    bus.detach(path);
    QCOMPARE(poll(), QStringList{QStringLiteral("disconnected")});
}

QTEST_GUILESS_MAIN(TestReceptorDetector)
#include "tst_receptordetector.moc"
