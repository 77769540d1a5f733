// The whole station with its three threads: the window, the receptor detector and the receptor
// worker, with the poll timer ticked by hand. Once with the simulated receptor switched on by its
// hidden key, following its beacon into the records file; once with a receptor on the emulated
// USB bus that arrives, takes commands and is unplugged.
#include "BeaconListWidgetItem.h"
#include "DataStorage.h"
#include "EmulatedBus.h"
#include "FreqSpinBox.h"
#include "GpsCoords.h"
#include "KorvaneMainWindow.h"
#include "ReceptorDetector.h"
#include "ReceptorDeviceFake.h"
#include "ReceptorMetaTypes.h"
#include "SilentReceptor.h"
#include "UsbAccess.h"
#include "VirtualDevices.h"
#include "VirtualReceptor.h"

#include <QAction>
#include <QFile>
#include <QLabel>
#include <QTreeWidget>
#include <QtTest>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>

class TestStationRun : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void simulatedReceptor();
    void usbReceptor();
    void receptorLostDuringScan_data();
    void receptorLostDuringScan();

private:
    QTreeWidget *list() const { return m_window->findChild<QTreeWidget *>("listWidget"); }
    BeaconListWidgetItem *entry(int row) const
    {
        return static_cast<BeaconListWidgetItem *>(list()->topLevelItem(row));
    }
    QString statusText() const
    {
        return m_window->findChild<QLabel *>("receptorStatusLabel")->text();
    }
    QString receptorTooltip() const
    {
        return m_window->findChild<QLabel *>("receptorIconLabel")->toolTip();
    }
    // One poll period: the detector polls and the window asks for news, as on a timer expiry.
    void tick() { QMetaObject::invokeMethod(m_timer, "timeout"); }
    // Waits until the worker has run everything queued to it and the reports it sent have reached
    // the window; false when it does not get there in time.
    bool drainWorker();

    KorvaneMainWindow *m_window = nullptr;
    QTimer *m_timer = nullptr;
};

namespace
{
// The receptor on the bus, able to hold one numbered control transfer (counted from when it is
// armed) in the middle of the device's answer until the test lets it go.
class HeldReceptor : public usb::VirtualDevice
{
public:
    explicit HeldReceptor(std::shared_ptr<VirtualReceptor> receptor) : m_receptor(std::move(receptor)) {}

    std::vector<usb::PipeInfo> pipes() const override { return m_receptor->pipes(); }
    usb::Transfer control(const usb::SetupPacket &setup, uint8_t *data) override
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (m_armed && ++m_seen == m_holdAt) {
            m_holding = true;
            m_changed.notify_all();
            m_changed.wait(lock, [this] { return !m_holding; });
        }
        lock.unlock();
        return m_receptor->control(setup, data);
    }

    void holdAt(int transfer)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_armed = true;
        m_seen = 0;
        m_holdAt = transfer;
    }
    bool holding() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_holding;
    }
    void release()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_holding = false;
        m_armed = false;
        m_changed.notify_all();
    }

private:
    std::shared_ptr<VirtualReceptor> m_receptor;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_armed = false;
    bool m_holding = false;
    int m_seen = 0;
    int m_holdAt = 0;
};

// Handed to the worker behind everything queued to it: once its scan starts, every report sent
// before has been posted to the window.
class FenceReceptor : public SilentReceptor
{
public:
    std::atomic<bool> reached{false};

    QByteArray *readBeaconFlags() override
    {
        reached = true;
        return nullptr;
    }
};

using testdevices::receptorReport;

// Data rows of a records file (its header line left out).
QStringList recordRows(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList rows = QString::fromLatin1(file.readAll()).split(QStringLiteral("\r\n"));
    rows.removeFirst();
    rows.removeAll(QString());
    return rows;
}
} // namespace

bool TestStationRun::drainWorker()
{
    auto *fence = new FenceReceptor;
    const ReceptorDeviceDesc fenceHandle(fence);
    fence->release();
    emit m_window->beaconsNeedRefresh(fenceHandle);
    const bool reached = QTest::qWaitFor([fence] { return fence->reached.load(); });
    QCoreApplication::processEvents();
    return reached;
}

void TestStationRun::initTestCase()
{
    registerReceptorMetaTypes();
    usb::setPlatformBackendEnabled(false);
    // The online map of the windows fetches no tile.
    KorvaneMainWindow::setOnlineTileServer(QUrl());
}

void TestStationRun::init()
{
    usb::EmulatedBus::instance().reset();
    m_window = new KorvaneMainWindow;
    m_timer = m_window->findChild<QTimer *>("refreshTimer", Qt::FindDirectChildrenOnly);
    QVERIFY(m_timer && m_timer->isActive());
    QCOMPARE(m_timer->interval(), 2000);
    m_timer->stop();
}

void TestStationRun::cleanup()
{
    delete m_window;
    m_window = nullptr;
    // Every receptor handle that crossed the threads was given back.
    QCOMPARE(usb::EmulatedBus::instance().openHandles(), 0);
}

void TestStationRun::simulatedReceptor()
{
    const QString records = dataStorageDirectory() + QStringLiteral("/000000000002_Fake0000.csv");
    QFile::remove(records);
    QSignalSpy positions(m_window, SIGNAL(newPosition(QString, QDateTime, GpsCoords, QPen)));
    QSignalSpy deletions(m_window, SIGNAL(beaconDelete(QString)));

    // The F11 key's slot.
    QMetaObject::invokeMethod(m_window, "fakereceptor");
    tick();
    QTRY_COMPARE(list()->topLevelItemCount(), 1);
    QCOMPARE(statusText(), QStringLiteral("Recepteur connecté"));
    QCOMPARE(receptorTooltip(), QStringLiteral("ID du récepteur: 000000000000"));
    QCOMPARE(entry(0)->serial(), QStringLiteral("000000000002"));
    QCOMPARE(entry(0)->text(BeaconListWidgetItem::NameColumn), QStringLiteral("Fake0000"));
    QTRY_COMPARE(recordRows(records).size(), 1);
    QVERIFY(recordRows(records).at(0).contains(QStringLiteral(";35.6078;139.9016;")));

    // Each tick moves the beacon one position along its track.
    const int scans = 5;
    for (int scan = 1; scan < scans; ++scan) {
        tick();
        QTRY_COMPARE(recordRows(records).size(), scan + 1);
    }
    const QStringList rows = recordRows(records);
    for (int position = 0; position < scans; ++position) {
        const GpsCoords expected =
            GpsCoords::fromTexts(QString::fromLatin1(ReceptorDeviceFake::latitudeText(1, position)),
                                 QString::fromLatin1(ReceptorDeviceFake::longitudeText(1, position)));
        const QStringList fields = rows.at(position).split(QLatin1Char(';'));
        QCOMPARE(fields.size(), 5);
        QVERIFY(qAbs(fields.at(1).toDouble() - expected.latitudeDegrees()) < 0.00006);
        QVERIFY(qAbs(fields.at(2).toDouble() - expected.longitudeDegrees()) < 0.00006);
        QCOMPARE(fields.at(3), QStringLiteral("-157"));
        QCOMPARE(fields.at(4), QStringLiteral("0"));
    }
    QCOMPARE(list()->topLevelItemCount(), 1);
    QCOMPARE(positions.size(), scans);
    for (const QList<QVariant> &position : qAsConst(positions))
        QCOMPARE(position.at(0).toString(), QStringLiteral("000000000002"));
    QCOMPARE(positions.at(1).at(2).value<GpsCoords>().latitude(), 3537.30820);

    // F11 again: the next poll gives the simulated receptor up and the listed beacon goes. The
    // same tick's scan runs on the worker thread meanwhile; its report, coming after the loss
    // notice, does not list the beacon again.
    QMetaObject::invokeMethod(m_window, "fakereceptor");
    tick();
    QTRY_COMPARE(statusText(), QStringLiteral("Recepteur non connecté"));
    QCOMPARE(deletions.size(), 1);
    QCOMPARE(deletions.at(0).at(0).toString(), QStringLiteral("000000000002"));
    QVERIFY(drainWorker());
    QCOMPARE(list()->topLevelItemCount(), 0);
    QCOMPARE(m_window->freePens().size(), 20);
}

void TestStationRun::usbReceptor()
{
    auto receptor = std::make_shared<VirtualReceptor>();
    receptor->setIdentification(std::string("RCPT0001ABCDEFGH"));
    const std::string path = usb::EmulatedBus::instance().attach(
        ReceptorDetector::interfaceClass(), "receptor", receptor);
    QSignalSpy positions(m_window, SIGNAL(newPosition(QString, QDateTime, GpsCoords, QPen)));
    QSignalSpy deletions(m_window, SIGNAL(beaconDelete(QString)));

    tick();
    QTRY_COMPARE(statusText(), QStringLiteral("Recepteur connecté"));
    QCOMPARE(receptorTooltip(), QStringLiteral("ID du récepteur: RCPT0001ABCD"));

    // Register a beacon: the worker's scan after the command lists it, still without a name.
    m_window->dialogs().textPrompt = [](QWidget *, const QString &, const QString &,
                                        const QString &, bool *ok) {
        *ok = true;
        return QStringLiteral("0A1B2C3D4E5F");
    };
    m_window->findChild<QAction *>("actionAjouter")->trigger();
    QTRY_COMPARE(list()->topLevelItemCount(), 1);
    QCOMPARE(entry(0)->serial(), QStringLiteral("0a1b2c3d4e5f"));
    QCOMPARE(positions.size(), 0);
    const VirtualReceptor::Serial serial = {0x0a, 0x1b, 0x2c, 0x3d, 0x4e, 0x5f};
    QCOMPARE(receptor->slotOf(serial), 0);

    QVERIFY(receptor->postReport(serial, receptorReport("Alpha")));
    tick();
    QTRY_COMPARE(positions.size(), 1);
    QCOMPARE(entry(0)->text(BeaconListWidgetItem::NameColumn), QStringLiteral("Alpha"));
    QCOMPARE(positions.at(0).at(0).toString(), QStringLiteral("0a1b2c3d4e5f"));

    entry(0)->setSelected(true);
    m_window->findChild<FreqSpinBox *>()->setValue(0.5);
    m_window->findChild<QAction *>("actionD_marrer")->trigger();
    QTRY_VERIFY(receptor->lastStartInterval().has_value());
    QCOMPARE(int(*receptor->lastStartInterval()), 5);

    // Unplugged: the next poll loses it and the list empties.
    usb::EmulatedBus::instance().detach(path);
    tick();
    QTRY_COMPARE(statusText(), QStringLiteral("Recepteur non connecté"));
    QCOMPARE(list()->topLevelItemCount(), 0);
    QCOMPARE(deletions.size(), 1);
    QCOMPARE(deletions.at(0).at(0).toString(), QStringLiteral("0a1b2c3d4e5f"));
    QVERIFY(receptorTooltip().isEmpty());
}

void TestStationRun::receptorLostDuringScan_data()
{
    // A routine scan of two beacons with news: the flags, then each one's block and quality.
    QTest::addColumn<int>("transfer");
    QTest::newRow("flags") << 1;
    QTest::newRow("first block") << 2;
    QTest::newRow("first quality") << 3;
    QTest::newRow("second block") << 4;
    QTest::newRow("second quality") << 5;
}

// The receptor is unplugged while a scan is held at one of its transfers, and the window learns of
// the loss before the scan ends: what the scan still reads must not list a beacon again (it could
// never be removed). Once the receptor is back, its beacons are listed as usual.
void TestStationRun::receptorLostDuringScan()
{
    QFETCH(int, transfer);
    const VirtualReceptor::Serial alpha = {0x0a, 0x1b, 0x2c, 0x3d, 0x4e, 0x01};
    const VirtualReceptor::Serial bravo = {0x0a, 0x1b, 0x2c, 0x3d, 0x4e, 0x02};
    auto receptor = std::make_shared<VirtualReceptor>();
    receptor->registerSerial(alpha);
    receptor->registerSerial(bravo);
    auto held = std::make_shared<HeldReceptor>(receptor);
    usb::EmulatedBus &bus = usb::EmulatedBus::instance();
    const std::string path = bus.attach(ReceptorDetector::interfaceClass(), "receptor", held);
    QSignalSpy deletions(m_window, SIGNAL(beaconDelete(QString)));

    tick();
    QTRY_COMPARE(list()->topLevelItemCount(), 2);
    QVERIFY(receptor->postReport(alpha, receptorReport("Alpha", "120000")));
    QVERIFY(receptor->postReport(bravo, receptorReport("Bravo", "120000")));

    held->holdAt(transfer);
    tick();
    QTRY_VERIFY(held->holding());
    bus.detach(path);
    tick();
    QTRY_COMPARE(statusText(), QStringLiteral("Recepteur non connecté"));
    QCOMPARE(list()->topLevelItemCount(), 0);
    held->release();

    // Everything the worker had queued, and every report it sent, has come through.
    QVERIFY(drainWorker());
    QCOMPARE(list()->topLevelItemCount(), 0);
    QCOMPARE(m_window->freePens().size(), 20);
    QCOMPARE(deletions.size(), 2);

    bus.attach(ReceptorDetector::interfaceClass(), "receptor", held);
    tick();
    QTRY_COMPARE(list()->topLevelItemCount(), 2);
    QCOMPARE(statusText(), QStringLiteral("Recepteur connecté"));
}

QTEST_MAIN(TestStationRun)
#include "tst_stationrun.moc"
