// The station window on the offscreen platform, its slots driven directly and through its actions
// and keys: start-up state, receptor arrival and loss, beacon reports and pens, the beacon commands
// and the serial dialog. The receptor here answers nothing to scans, so the worker stays silent.
#include "BeaconListWidgetItem.h"
#include "DataStorage.h"
#include "EmulatedBus.h"
#include "FreqSpinBox.h"
#include "KorvaneMainWindow.h"
#include "ModalDialogAnswerer.h"
#include "ReceptorDetector.h"
#include "ReceptorMetaTypes.h"
#include "RecordsModel.h"
#include "RecordsRecovery.h"
#include "SilentReceptor.h"
#include "UsbAccess.h"
#include "VirtualReceptor.h"

#include <QAction>
#include <QDesktopServices>
#include <QLabel>
#include <QLoggingCategory>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableView>
#include <QTreeWidget>
#include <QtTest>

#include <cstring>

namespace
{
// A receptor that only answers its identifier; scans read nothing and commands go nowhere.
class QuietReceptor : public SilentReceptor
{
public:
    explicit QuietReceptor(const QByteArray &id) : m_id(id) {}

    int readReceptorId(char *buffer) override
    {
        if (m_id.isNull())
            return -1;
        std::memcpy(buffer, m_id.constData(), 24);
        return 24;
    }

private:
    const QByteArray m_id;  // 24 bytes, or null for a receptor that does not answer
};

const QByteArray simulatedId("000000000000XXXXXXXX\0\0\0\0", 24);

BeaconInfo report(const QString &serial, const QString &name, int memory = 40)
{
    BeaconInfo info;
    info.date = QStringLiteral("010224");
    info.time = QStringLiteral("123456");
    info.name = name;
    info.serial = serial;
    info.latitude = QStringLiteral("4512.34567N");
    info.longitude = QStringLiteral("00612.50000E");
    info.memory = memory;
    info.state = 2;
    info.snr = 5;
    info.rssi = -60;
    return info;
}

QString serialOf(int n)
{
    return QStringLiteral("0a1b2c3d4e%1").arg(n, 2, 10, QLatin1Char('0'));
}

QColor colourOf(const QVariant &pen)
{
    return pen.value<QPen>().color();
}
} // namespace

// Receives the window's request to open the data folder instead of the desktop.
class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl &url) { urls << url; }
};

class TestKorvaneMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void interface();
    void startState();
    void dataFolderAtStart();
    void receptorArrival();
    void firstReportEver();
    void laterReports();
    void receptorLoss();
    void receptorThisUserMayNotOpen();
    void penReuseOrder();
    void commandsWithoutReceptor();
    void commandsOnSelection();
    void serialEntry_data();
    void serialEntry();
    void receptorLostDuringSerialDialog();
    void refusedAdditions();
    void realDialogs();
    void selectedEntryShown();
    void recordsFolder();
    void hiddenKeys();
    void heldRecordsSaidInStatusBar();

private:
    QTreeWidget *list() const { return m_window->findChild<QTreeWidget *>("listWidget"); }
    QTimer *refreshTimer() const
    {
        return m_window->findChild<QTimer *>("refreshTimer", Qt::FindDirectChildrenOnly);
    }
    QAction *action(const char *name) const { return m_window->findChild<QAction *>(name); }
    QLabel *statusText() const { return m_window->findChild<QLabel *>("receptorStatusLabel"); }
    QLabel *statusIcon() const { return m_window->findChild<QLabel *>("receptorIconLabel"); }
    BeaconListWidgetItem *entry(int row) const
    {
        return static_cast<BeaconListWidgetItem *>(list()->topLevelItem(row));
    }
    BeaconListWidgetItem *entryOf(const QString &serial) const;
    void newWindow();
    ReceptorDeviceDesc connectReceptor(const QByteArray &id = simulatedId);
    void deliver(const BeaconInfo &info);
    void select(const QStringList &serials);

    KorvaneMainWindow *m_window = nullptr;
};

void TestKorvaneMainWindow::initTestCase()
{
    // The debug lines checked here; their category is off by default.
    QLoggingCategory::setFilterRules(QStringLiteral("korvane.window.debug=true"));
    registerReceptorMetaTypes();
    usb::setPlatformBackendEnabled(false);
    // The online map of the windows fetches no tile.
    KorvaneMainWindow::setOnlineTileServer(QUrl());
}

void TestKorvaneMainWindow::newWindow()
{
    delete m_window;
    m_window = new KorvaneMainWindow;
    // Ticks are driven by hand where a test needs them.
    refreshTimer()->stop();
}

void TestKorvaneMainWindow::init()
{
    newWindow();
}

void TestKorvaneMainWindow::cleanup()
{
    delete m_window;
    m_window = nullptr;
}

BeaconListWidgetItem *TestKorvaneMainWindow::entryOf(const QString &serial) const
{
    for (int row = 0; row < list()->topLevelItemCount(); ++row) {
        if (entry(row)->serial() == serial)
            return entry(row);
    }
    return nullptr;
}

ReceptorDeviceDesc TestKorvaneMainWindow::connectReceptor(const QByteArray &id)
{
    auto *device = new QuietReceptor(id);
    const ReceptorDeviceDesc desc(device);
    device->release();
    QMetaObject::invokeMethod(m_window, "enableReceptor", Q_ARG(ReceptorDeviceDesc, desc));
    return desc;
}

void TestKorvaneMainWindow::deliver(const BeaconInfo &info)
{
    QMetaObject::invokeMethod(m_window, "beaconUpdate", Q_ARG(BeaconInfo, info));
}

void TestKorvaneMainWindow::select(const QStringList &serials)
{
    list()->clearSelection();
    for (const QString &serial : serials)
        entryOf(serial)->setSelected(true);
}

void TestKorvaneMainWindow::interface()
{
    const QMetaObject &meta = KorvaneMainWindow::staticMetaObject;
    const QList<QByteArray> signalList = {
        "beaconsNeedRefresh(ReceptorDeviceDesc)",
        "beaconsInitialScan(ReceptorDeviceDesc)",
        "beaconAddRequested(ReceptorDeviceDesc,QString)",
        "beaconDelRequested(ReceptorDeviceDesc,QString)",
        "beaconDelete(QString)",
        "newPosition(QString,QDateTime,GpsCoords,QPen)",
        "beaconStartRequested(ReceptorDeviceDesc,QString,int)",
        "beaconStopRequested(ReceptorDeviceDesc,QString)",
        "resizePlot()",
        "bootloaderMode(ReceptorDeviceDesc)",
        "AddFakeReceptor()",
        "RemoveFakeReceptor()",
    };
    const QList<QByteArray> slotList = {
        "enableReceptor(ReceptorDeviceDesc)",
        "disableReceptor()",
        "on_actionAjouter_triggered()",
        "on_actionRetirer_triggered()",
        "on_actionD_marrer_triggered()",
        "on_actionArr_ter_triggered()",
        "on_actionEnregistrements_triggered()",
        "refreshBeacons()",
        "beaconUpdate(BeaconInfo)",
        "startbootLoader()",
        "fakereceptor()",
        "on_listWidget_itemSelectionChanged()",
        "on_actionRecadrer_triggered()",
        "on_actionZoom_Avant_triggered()",
        "on_actionZoom_Arri_re_triggered()",
        "on_actionLoadMap_triggered()",
        "MapXChanged(int,int)",
        "MapYChanged(int,int)",
        "adjustTicks()",
        "ResizeOnlineMap()",
    };
    const int first = meta.methodOffset();
    QCOMPARE(meta.methodCount() - first, signalList.size() + slotList.size());
    for (int i = 0; i < signalList.size(); ++i) {
        const QMetaMethod method = meta.method(first + i);
        QCOMPARE(method.methodSignature(), signalList.at(i));
        QCOMPARE(method.methodType(), QMetaMethod::Signal);
    }
    for (int i = 0; i < slotList.size(); ++i) {
        const QMetaMethod method = meta.method(first + signalList.size() + i);
        QCOMPARE(method.methodSignature(), slotList.at(i));
        QCOMPARE(method.methodType(), QMetaMethod::Slot);
        QCOMPARE(method.access(), QMetaMethod::Private);
    }
    QCOMPARE(meta.method(first + 6).parameterNames().at(2), QByteArray("freq"));
    QCOMPARE(meta.method(first + 12).parameterNames(), QList<QByteArray>{"devDesc"});
    QCOMPARE(meta.method(first + 20).parameterNames(), QList<QByteArray>{"info"});
    QCOMPARE(meta.method(first + 28).parameterNames(), (QList<QByteArray>{"pos", "max"}));
    QCOMPARE(meta.method(first + 29).parameterNames(), (QList<QByteArray>{"pos", "max"}));
}

void TestKorvaneMainWindow::startState()
{
    QCOMPARE(m_window->windowTitle(), QStringLiteral("Korvane - v1.9"));
    QCOMPARE(m_window->objectName(), QStringLiteral("KorvaneMainWindow"));
    auto *tabs = m_window->findChild<QTabWidget *>("tabs");
    QCOMPARE(tabs->tabText(tabs->currentIndex()), QStringLiteral("Graphe"));
    QCOMPARE(statusText()->text(), QStringLiteral("Recepteur non connecté"));
    QCOMPARE(statusIcon()->pixmap(Qt::ReturnByValue).toImage(),
             QImage(QStringLiteral(":/status/disconnected.ico")));
    QVERIFY(statusIcon()->toolTip().isEmpty());

    // The poll timer was started with 2000 ms before the test stopped it.
    QCOMPARE(refreshTimer()->interval(), 2000);
    QVERIFY(!refreshTimer()->isSingleShot());
    KorvaneMainWindow fresh;
    QVERIFY(fresh.findChild<QTimer *>("refreshTimer", Qt::FindDirectChildrenOnly)->isActive());

    // The last column stretches to the list's edge.
    const int widths[] = {80, 70, 90, 110};
    for (int column = 0; column < 4; ++column)
        QCOMPARE(list()->columnWidth(column), widths[column]);

    // Every icon is compiled in and reachable at its path.
    const char *const icons[] = {":/status/connected.ico", ":/status/disconnected.ico",
                                 ":/toolbar/start.ico",    ":/toolbar/stop.ico",
                                 ":/toolbar/Add.ico",      ":/toolbar/Remove.ico",
                                 ":/toolbar/zoom.ico",     ":/toolbar/zoomin.ico",
                                 ":/toolbar/zoomout.ico",  ":/toolbar/map2.ico",
                                 ":/toolbar/records.ico"};
    for (const char *icon : icons)
        QVERIFY2(!QImage(QString::fromLatin1(icon)).isNull(), icon);
    QVERIFY(!action("actionD_marrer")->icon().isNull());

    const QList<QPen> pens = m_window->freePens();
    QCOMPARE(pens.size(), 20);
    QCOMPARE(pens.at(0).color(), QColor(255, 179, 0));
    QCOMPARE(pens.at(1).color(), QColor(128, 46, 117));
    QCOMPARE(pens.at(19).color(), QColor(35, 44, 22));
}

void TestKorvaneMainWindow::dataFolderAtStart()
{
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    const QString folder = documents + QStringLiteral("/Korvane");
    delete m_window;
    m_window = nullptr;

    // No Documents folder at all: the whole path is created.
    QDir(documents).removeRecursively();
    QTest::ignoreMessage(QtDebugMsg, "Data storage directory does not exist, creating it");
    newWindow();
    QVERIFY(QFileInfo(folder).isDir());

    QTest::ignoreMessage(QtDebugMsg, "Data storage directory already exists");
    newWindow();

    // A file in the way: the window still starts.
    delete m_window;
    m_window = nullptr;
    QDir(documents).removeRecursively();
    QFile blocker(documents);
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    QTest::ignoreMessage(QtDebugMsg, "Data storage directory does not exist, creating it");
    QTest::ignoreMessage(
        QtDebugMsg, qPrintable(QStringLiteral("Failed to create data storage directory (%1)")
                                   .arg(folder)));
    newWindow();
    QCOMPARE(m_window->windowTitle(), QStringLiteral("Korvane - v1.9"));
    QVERIFY(QFile::remove(documents));
}

void TestKorvaneMainWindow::receptorArrival()
{
    QSignalSpy initialScans(m_window, SIGNAL(beaconsInitialScan(ReceptorDeviceDesc)));
    const ReceptorDeviceDesc desc = connectReceptor();
    QCOMPARE(statusText()->text(), QStringLiteral("Recepteur connecté"));
    QCOMPARE(statusIcon()->pixmap(Qt::ReturnByValue).toImage(), QImage(QStringLiteral(":/status/connected.ico")));
    QCOMPARE(statusIcon()->toolTip(), QStringLiteral("ID du récepteur: 000000000000"));
    QCOMPARE(initialScans.size(), 1);
    QCOMPARE(initialScans.at(0).at(0).value<ReceptorDeviceDesc>().device(), desc.device());

    // An identifier shorter than 12 characters ends at its first zero byte.
    connectReceptor(QByteArray("AB12\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0", 24));
    QCOMPARE(statusIcon()->toolTip(), QStringLiteral("ID du récepteur: AB12"));

    // No identifier: empty tooltip, but the connection goes on with its initial scan.
    QTest::ignoreMessage(QtDebugMsg, "Failed to get receptor id\n");
    const ReceptorDeviceDesc mute = connectReceptor(QByteArray());
    QVERIFY(statusIcon()->toolTip().isEmpty());
    QCOMPARE(initialScans.size(), 3);
    QCOMPARE(initialScans.at(2).at(0).value<ReceptorDeviceDesc>().device(), mute.device());

    // The replaced handles were given back; only ours and the window's remain.
    initialScans.clear();
    QTRY_COMPARE(desc.device()->refCount(), 1);
    QTRY_COMPARE(mute.device()->refCount(), 2);
}

void TestKorvaneMainWindow::firstReportEver()
{
    QSignalSpy positions(m_window, SIGNAL(newPosition(QString, QDateTime, GpsCoords, QPen)));
    connectReceptor();
    deliver(report(QStringLiteral("0a1b2c3d4e5f"), QStringLiteral("Alpha")));

    QCOMPARE(list()->topLevelItemCount(), 1);
    BeaconListWidgetItem *first = entry(0);
    QCOMPARE(first->serial(), QStringLiteral("0a1b2c3d4e5f"));
    QCOMPARE(first->text(BeaconListWidgetItem::StateColumn), QStringLiteral("Hors ligne"));
    QCOMPARE(first->pen().color(), QColor(255, 179, 0));
    QCOMPARE(m_window->freePens().size(), 19);

    QCOMPARE(positions.size(), 1);
    const QList<QVariant> args = positions.at(0);
    QCOMPARE(args.at(0).toString(), QStringLiteral("0a1b2c3d4e5f"));
    QCOMPARE(args.at(1).toDateTime(), QDateTime(QDate(2024, 2, 1), QTime(12, 34, 56), Qt::UTC));
    const GpsCoords coords = args.at(2).value<GpsCoords>();
    QCOMPARE(coords.latitude(), 4512.34567);
    QCOMPARE(coords.latHemisphere(), 'N');
    QCOMPARE(coords.longitude(), 612.5);
    QCOMPARE(coords.lonHemisphere(), 'E');
    QCOMPARE(colourOf(args.at(3)), QColor(255, 179, 0));
}

void TestKorvaneMainWindow::laterReports()
{
    QSignalSpy positions(m_window, SIGNAL(newPosition(QString, QDateTime, GpsCoords, QPen)));
    connectReceptor();
    // An initial scan's reduced record: listed, but no position.
    BeaconInfo reduced;
    reduced.serial = QStringLiteral("0a1b2c3d4e5f");
    reduced.state = 255;
    deliver(reduced);
    QCOMPARE(list()->topLevelItemCount(), 1);
    QCOMPARE(positions.size(), 0);

    deliver(report(QStringLiteral("0a1b2c3d4e5f"), QStringLiteral("Alpha")));
    QCOMPARE(list()->topLevelItemCount(), 1);
    QCOMPARE(entry(0)->text(BeaconListWidgetItem::StateColumn), QStringLiteral("Démarré"));
    QCOMPARE(positions.size(), 1);

    // Serials compare exactly: another case is another beacon.
    deliver(report(QStringLiteral("0A1B2C3D4E5F"), QString()));
    QCOMPARE(list()->topLevelItemCount(), 2);
    QCOMPARE(positions.size(), 1);
    QCOMPARE(m_window->freePens().size(), 18);
}

void TestKorvaneMainWindow::receptorLoss()
{
    QSignalSpy refreshes(m_window, SIGNAL(beaconsNeedRefresh(ReceptorDeviceDesc)));
    QSignalSpy deletions(m_window, SIGNAL(beaconDelete(QString)));
    const ReceptorDeviceDesc desc = connectReceptor();
    for (int i = 0; i < 3; ++i)
        deliver(report(serialOf(i), QStringLiteral("B%1").arg(i)));

    QMetaObject::invokeMethod(refreshTimer(), "timeout");
    QCOMPARE(refreshes.size(), 1);
    QCOMPARE(refreshes.at(0).at(0).value<ReceptorDeviceDesc>().device(), desc.device());

    QStringList rowOrder;
    QList<QColor> rowColours;
    for (int row = 0; row < 3; ++row) {
        rowOrder << entry(row)->serial();
        rowColours << entry(row)->pen().color();
    }

    QMetaObject::invokeMethod(m_window, "disableReceptor");
    QCOMPARE(deletions.size(), 3);
    for (int i = 0; i < 3; ++i)
        QCOMPARE(deletions.at(i).at(0).toString(), rowOrder.at(i));
    QCOMPARE(list()->topLevelItemCount(), 0);
    const QList<QPen> pens = m_window->freePens();
    QCOMPARE(pens.size(), 20);
    for (int i = 0; i < 3; ++i)
        QCOMPARE(pens.at(17 + i).color(), rowColours.at(i));
    QCOMPARE(pens.at(0).color(), QColor(166, 189, 215));
    QCOMPARE(statusText()->text(), QStringLiteral("Recepteur non connecté"));
    QCOMPARE(statusIcon()->pixmap(Qt::ReturnByValue).toImage(),
             QImage(QStringLiteral(":/status/disconnected.ico")));
    QVERIFY(statusIcon()->toolTip().isEmpty());

    // Ticks without a receptor send nothing, and the handle was given up.
    QMetaObject::invokeMethod(refreshTimer(), "timeout");
    QCOMPARE(refreshes.size(), 1);
    refreshes.clear();
    QTRY_COMPARE(desc.device()->refCount(), 1);
}

void TestKorvaneMainWindow::receptorThisUserMayNotOpen()
{
    usb::EmulatedBus &bus = usb::EmulatedBus::instance();
    bus.attach(ReceptorDetector::interfaceClass(), "receptor", std::make_shared<VirtualReceptor>());
    bus.setOpenDenied("receptor", true);
    // The notice's debug line belongs to the device-opening category.
    QLoggingCategory::setFilterRules(QStringLiteral("korvane.window.debug=true\nkit.usb.debug=true"));
    QTest::ignoreMessage(QtDebugMsg, "USB device emu:receptor may not be opened (permission denied)\n");
    // The detector's poll meets it; a later tick tells the user.
    QTRY_VERIFY((QMetaObject::invokeMethod(refreshTimer(), "timeout"), !m_window->statusBar()->currentMessage().isEmpty()));
    QCOMPARE(m_window->statusBar()->currentMessage(),
             QStringLiteral("Accès refusé au périphérique USB emu:receptor : installez la règle udev "
                            "70-korvane.rules, puis rebranchez l'appareil."));
    delete m_window;
    m_window = nullptr;
    bus.reset();
    QLoggingCategory::setFilterRules(QStringLiteral("korvane.window.debug=true"));
}

void TestKorvaneMainWindow::penReuseOrder()
{
    connectReceptor();
    deliver(report(serialOf(0), QStringLiteral("A")));
    deliver(report(serialOf(1), QStringLiteral("B")));
    QCOMPARE(entryOf(serialOf(0))->pen().color(), QColor(255, 179, 0));
    QCOMPARE(entryOf(serialOf(1))->pen().color(), QColor(128, 46, 117));

    select({serialOf(0)});
    action("actionRetirer")->trigger();
    QCOMPARE(m_window->freePens().last().color(), QColor(255, 179, 0));

    deliver(report(serialOf(2), QStringLiteral("C")));
    QCOMPARE(entryOf(serialOf(2))->pen().color(), QColor(255, 104, 0));

    // Colours 4 to 20 go out before colour 1 comes back.
    for (int n = 3; n < 20; ++n)
        deliver(report(serialOf(n), QStringLiteral("N%1").arg(n)));
    QCOMPARE(entryOf(serialOf(19))->pen().color(), QColor(35, 44, 22));
    deliver(report(serialOf(20), QStringLiteral("N20")));
    QCOMPARE(entryOf(serialOf(20))->pen().color(), QColor(255, 179, 0));
    QVERIFY(m_window->freePens().isEmpty());

    // Past twenty entries the colours go round again, so every entry still has one.
    deliver(report(serialOf(21), QStringLiteral("N21")));
    deliver(report(serialOf(22), QStringLiteral("N22")));
    QCOMPARE(entryOf(serialOf(21))->pen().color(), QColor(255, 179, 0));
    QCOMPARE(entryOf(serialOf(22))->pen().color(), QColor(128, 46, 117));

    // A removed entry's pen is the next one out; with the pool empty again the round goes on.
    select({serialOf(2)});
    action("actionRetirer")->trigger();
    QCOMPARE(m_window->freePens().size(), 1);
    deliver(report(serialOf(23), QStringLiteral("N23")));
    QCOMPARE(entryOf(serialOf(23))->pen().color(), QColor(255, 104, 0));
    deliver(report(serialOf(24), QStringLiteral("N24")));
    QCOMPARE(entryOf(serialOf(24))->pen().color(), QColor(255, 104, 0));
}

void TestKorvaneMainWindow::commandsWithoutReceptor()
{
    int prompts = 0;
    m_window->dialogs().textPrompt = [&prompts](QWidget *, const QString &, const QString &,
                                                const QString &, bool *ok) {
        ++prompts;
        *ok = true;
        return QStringLiteral("0A1B2C3D4E5F");
    };
    // No entry can outlive its receptor: a report arriving without one is dropped.
    deliver(report(serialOf(0), QStringLiteral("A")));
    QCOMPARE(list()->topLevelItemCount(), 0);

    QSignalSpy adds(m_window, SIGNAL(beaconAddRequested(ReceptorDeviceDesc, QString)));
    QSignalSpy dels(m_window, SIGNAL(beaconDelRequested(ReceptorDeviceDesc, QString)));
    QSignalSpy deletions(m_window, SIGNAL(beaconDelete(QString)));
    QSignalSpy starts(m_window, SIGNAL(beaconStartRequested(ReceptorDeviceDesc, QString, int)));
    QSignalSpy stops(m_window, SIGNAL(beaconStopRequested(ReceptorDeviceDesc, QString)));
    QSignalSpy bootloader(m_window, SIGNAL(bootloaderMode(ReceptorDeviceDesc)));
    const QString labelText = m_window->findChild<QLabel *>("label")->text();

    action("actionAjouter")->trigger();
    action("actionRetirer")->trigger();
    action("actionD_marrer")->trigger();
    action("actionArr_ter")->trigger();
    QMetaObject::invokeMethod(m_window, "startbootLoader");

    QCOMPARE(prompts, 0);
    QCOMPARE(adds.size() + dels.size() + deletions.size() + starts.size() + stops.size()
                 + bootloader.size(),
             0);
    QCOMPARE(list()->topLevelItemCount(), 0);
    QCOMPARE(m_window->findChild<QLabel *>("label")->text(), labelText);
}

void TestKorvaneMainWindow::commandsOnSelection()
{
    const ReceptorDeviceDesc desc = connectReceptor();
    for (int i = 0; i < 3; ++i)
        deliver(report(serialOf(i), QStringLiteral("B%1").arg(i)));
    QSignalSpy starts(m_window, SIGNAL(beaconStartRequested(ReceptorDeviceDesc, QString, int)));
    QSignalSpy stops(m_window, SIGNAL(beaconStopRequested(ReceptorDeviceDesc, QString)));
    QSignalSpy dels(m_window, SIGNAL(beaconDelRequested(ReceptorDeviceDesc, QString)));
    QSignalSpy deletions(m_window, SIGNAL(beaconDelete(QString)));
    QSignalSpy bootloader(m_window, SIGNAL(bootloaderMode(ReceptorDeviceDesc)));
    auto *box = m_window->findChild<FreqSpinBox *>();

    // Nothing selected: nothing sent.
    list()->clearSelection();
    action("actionD_marrer")->trigger();
    action("actionArr_ter")->trigger();
    action("actionRetirer")->trigger();
    QCOMPARE(starts.size() + stops.size() + dels.size(), 0);

    select({serialOf(2), serialOf(0)});
    QStringList selectionOrder;
    for (QTreeWidgetItem *item : list()->selectedItems())
        selectionOrder << static_cast<BeaconListWidgetItem *>(item)->serial();

    const QList<QPair<double, int>> intervals = {{0.2, 2}, {0.1, 1}, {0.5, 5}, {60, 600}};
    for (const auto &interval : intervals) {
        box->setValue(interval.first);
        starts.clear();
        action("actionD_marrer")->trigger();
        QCOMPARE(starts.size(), 2);
        for (int i = 0; i < 2; ++i) {
            QCOMPARE(starts.at(i).at(0).value<ReceptorDeviceDesc>().device(), desc.device());
            QCOMPARE(starts.at(i).at(1).toString(), selectionOrder.at(i));
            QCOMPARE(starts.at(i).at(2).toInt(), interval.second);
        }
    }

    action("actionArr_ter")->trigger();
    QCOMPARE(stops.size(), 2);
    QCOMPARE(stops.at(0).at(1).toString(), selectionOrder.at(0));
    QCOMPARE(stops.at(1).at(1).toString(), selectionOrder.at(1));

    QMetaObject::invokeMethod(m_window, "startbootLoader");
    QCOMPARE(bootloader.size(), 1);
    QCOMPARE(bootloader.at(0).at(0).value<ReceptorDeviceDesc>().device(), desc.device());

    QList<QColor> removedColours;
    for (const QString &serial : selectionOrder)
        removedColours << entryOf(serial)->pen().color();
    action("actionRetirer")->trigger();
    QCOMPARE(dels.size(), 2);
    QCOMPARE(deletions.size(), 2);
    for (int i = 0; i < 2; ++i) {
        QCOMPARE(dels.at(i).at(0).value<ReceptorDeviceDesc>().device(), desc.device());
        QCOMPARE(dels.at(i).at(1).toString(), selectionOrder.at(i));
        QCOMPARE(deletions.at(i).at(0).toString(), selectionOrder.at(i));
    }
    QCOMPARE(list()->topLevelItemCount(), 1);
    QCOMPARE(entry(0)->serial(), serialOf(1));
    const QList<QPen> pens = m_window->freePens();
    QCOMPARE(pens.size(), 19);
    QCOMPARE(pens.at(17).color(), removedColours.at(0));
    QCOMPARE(pens.at(18).color(), removedColours.at(1));
}

void TestKorvaneMainWindow::serialEntry_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<bool>("valid");

    QTest::newRow("upper case") << "0A1B2C3D4E5F" << true << true;
    QTest::newRow("lower case") << "0a1b2c3d4e5f" << true << true;
    QTest::newRow("11 digits") << "0A1B2C3D4E5" << true << false;
    QTest::newRow("13 digits") << "0A1B2C3D4E5F6" << true << false;
    QTest::newRow("blank inside") << "0A1B2C 3D4E5" << true << false;
    QTest::newRow("trailing blank") << "0A1B2C3D4E5F " << true << false;
    QTest::newRow("letter g") << "0A1B2C3D4E5G" << true << false;
    QTest::newRow("empty") << "" << true << false;
    QTest::newRow("cancelled") << "0A1B2C3D4E5F" << false << false;
}

void TestKorvaneMainWindow::serialEntry()
{
    QFETCH(QString, typed);
    QFETCH(bool, accepted);
    QFETCH(bool, valid);

    QStringList prompt;
    QList<QWidget *> parents;
    m_window->dialogs().textPrompt = [&](QWidget *parent, const QString &title,
                                         const QString &label, const QString &, bool *ok) {
        parents << parent;
        prompt << title << label;
        *ok = accepted;
        return typed;
    };
    QStringList errors;
    m_window->dialogs().errorBox = [&](QWidget *parent, const QString &title, const QString &text) {
        parents << parent;
        errors << title << text;
    };
    const ReceptorDeviceDesc desc = connectReceptor();
    QSignalSpy adds(m_window, SIGNAL(beaconAddRequested(ReceptorDeviceDesc, QString)));

    action("actionAjouter")->trigger();
    QCOMPARE(prompt, (QStringList{"Ajouter un module", "Numéro de série"}));
    for (QWidget *parent : qAsConst(parents))
        QCOMPARE(parent, static_cast<QWidget *>(m_window));
    if (valid) {
        QCOMPARE(adds.size(), 1);
        QCOMPARE(adds.at(0).at(0).value<ReceptorDeviceDesc>().device(), desc.device());
        QCOMPARE(adds.at(0).at(1).toString(), typed);
        QVERIFY(errors.isEmpty());
    } else {
        QCOMPARE(adds.size(), 0);
        QCOMPARE(errors,
                 (QStringList{"Erreur", "Ceci n'est pas un numéro de série valide.\nUn numéro de "
                                        "série valide comporte 12 caractères héxadécimaux."}));
    }
    // The command never lists the beacon itself: the worker's reports will.
    QCOMPARE(list()->topLevelItemCount(), 0);
}

// A serial already listed (in any case) and a 21st module are refused in words; nothing is sent.
void TestKorvaneMainWindow::refusedAdditions()
{
    int prompts = 0;
    QString typed;
    m_window->dialogs().textPrompt = [&](QWidget *, const QString &, const QString &,
                                         const QString &, bool *ok) {
        ++prompts;
        *ok = true;
        return typed;
    };
    QStringList errors;
    m_window->dialogs().errorBox = [&](QWidget *, const QString &title, const QString &text) {
        errors << title << text;
    };
    connectReceptor();
    QSignalSpy adds(m_window, SIGNAL(beaconAddRequested(ReceptorDeviceDesc, QString)));
    for (int i = 0; i < 19; ++i)
        deliver(report(serialOf(i), QStringLiteral("B%1").arg(i)));

    typed = serialOf(7).toUpper();
    action("actionAjouter")->trigger();
    QCOMPARE(errors, (QStringList{"Erreur", "Le module 0a1b2c3d4e07 est déjà dans la liste."}));
    QCOMPARE(adds.size(), 0);

    // The 20th is taken.
    errors.clear();
    typed = QStringLiteral("0a1b2c3d4e19");
    action("actionAjouter")->trigger();
    QVERIFY(errors.isEmpty());
    QCOMPARE(adds.size(), 1);
    deliver(report(typed, QStringLiteral("B19")));
    QCOMPARE(list()->topLevelItemCount(), 20);

    // A 21st is refused before any serial is asked for.
    prompts = 0;
    typed = QStringLiteral("0a1b2c3d4e20");
    action("actionAjouter")->trigger();
    QCOMPARE(prompts, 0);
    QCOMPARE(errors, (QStringList{"Erreur", "La liste compte déjà 20 modules : c'est le plus que le "
                                            "récepteur puisse suivre.\nRetirez un module avant d'en "
                                            "ajouter un autre."}));
    QCOMPARE(adds.size(), 1);
}

void TestKorvaneMainWindow::receptorLostDuringSerialDialog()
{
    connectReceptor();
    int errors = 0;
    m_window->dialogs().errorBox = [&errors](QWidget *, const QString &, const QString &) { ++errors; };
    // The detector's loss notice is delivered while the dialog runs its own event loop.
    m_window->dialogs().textPrompt = [this](QWidget *, const QString &, const QString &,
                                            const QString &, bool *ok) {
        QMetaObject::invokeMethod(m_window, "disableReceptor");
        *ok = true;
        return QStringLiteral("0A1B2C3D4E5F");
    };
    QSignalSpy adds(m_window, SIGNAL(beaconAddRequested(ReceptorDeviceDesc, QString)));
    action("actionAjouter")->trigger();
    QCOMPARE(adds.size(), 0);
    QCOMPARE(errors, 0);
}

void TestKorvaneMainWindow::realDialogs()
{
    connectReceptor();
    QSignalSpy adds(m_window, SIGNAL(beaconAddRequested(ReceptorDeviceDesc, QString)));
    ModalDialogAnswerer answerer;

    answerer.setText(QStringLiteral("0a1b2c3d4e5f"));
    action("actionAjouter")->trigger();
    QCOMPARE(answerer.seen(), (QStringList{"Ajouter un module", "Numéro de série"}));
    QCOMPARE(adds.size(), 1);
    QCOMPARE(adds.at(0).at(1).toString(), QStringLiteral("0a1b2c3d4e5f"));

    // Invalid text: the input dialog, then the error box.
    answerer.clear();
    answerer.setText(QStringLiteral("xyz"));
    action("actionAjouter")->trigger();
    QCOMPARE(answerer.seen().size(), 4);
    QCOMPARE(answerer.seen().at(2), QStringLiteral("Erreur"));
    QCOMPARE(answerer.seen().at(3), QStringLiteral("Ceci n'est pas un numéro de série valide.\nUn numéro "
                                                   "de série valide comporte 12 caractères héxadécimaux."));
    QCOMPARE(answerer.buttons(), QList<QMessageBox::StandardButtons>{QMessageBox::Ok});
    QCOMPARE(adds.size(), 1);
}

void TestKorvaneMainWindow::selectedEntryShown()
{
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
    auto *label = m_window->findChild<QLabel *>("label");
    auto *table = m_window->findChild<QTableView *>("tableView");
    const QString initial = label->text();

    // Without a receptor there is no entry to select.
    deliver(report(serialOf(0), QStringLiteral("Alpha"), 40));
    QCOMPARE(list()->topLevelItemCount(), 0);
    QCOMPARE(label->text(), initial);
    QVERIFY(!table->model());

    connectReceptor();
    deliver(report(serialOf(0), QStringLiteral("Alpha"), 40));
    deliver(report(serialOf(1), QStringLiteral("Bravo"), 7));
    for (int i = 0; i < 40; ++i)
        deliver(report(serialOf(0), QStringLiteral("Alpha"), 41));

    select({serialOf(0)});
    QCOMPARE(label->text(),
             QStringLiteral("Nom : Alpha\nNuméro de série : 0a1b2c3d4e00\nUtilisation mémoire : 41%"));
    QCOMPARE(table->model(), static_cast<QAbstractItemModel *>(entryOf(serialOf(0))->recordsModel()));
    QCOMPARE(table->model()->rowCount(), 41);
    QTRY_VERIFY(table->verticalScrollBar()->maximum() > 0);
    QTRY_COMPARE(table->verticalScrollBar()->value(), table->verticalScrollBar()->maximum());

    // Two entries: label and table keep what they show.
    select({serialOf(0), serialOf(1)});
    QVERIFY(label->text().startsWith(QStringLiteral("Nom : Alpha\n")));
    QCOMPARE(table->model(), static_cast<QAbstractItemModel *>(entryOf(serialOf(0))->recordsModel()));

    select({serialOf(1)});
    QCOMPARE(label->text(),
             QStringLiteral("Nom : Bravo\nNuméro de série : 0a1b2c3d4e01\nUtilisation mémoire : 7%"));

    // The shown entry removed: its table goes with it, the label stays.
    action("actionRetirer")->trigger();
    QCOMPARE(list()->topLevelItemCount(), 1);
    QVERIFY(label->text().startsWith(QStringLiteral("Nom : Bravo\n")));
    QCOMPARE(table->model(), nullptr);
}

void TestKorvaneMainWindow::recordsFolder()
{
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher, "open");
    action("actionEnregistrements")->trigger();
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation)
                           + QStringLiteral("/Korvane");
    QCOMPARE(catcher.urls, QList<QUrl>{QUrl::fromLocalFile(folder)});
}

void TestKorvaneMainWindow::hiddenKeys()
{
    m_window->show();
    QApplication::setActiveWindow(m_window);
    QVERIFY(QTest::qWaitForWindowActive(m_window));

    QStringList emitted;
    connect(m_window, &KorvaneMainWindow::AddFakeReceptor, [&emitted] { emitted << "add"; });
    connect(m_window, &KorvaneMainWindow::RemoveFakeReceptor, [&emitted] { emitted << "remove"; });
    QSignalSpy bootloader(m_window, SIGNAL(bootloaderMode(ReceptorDeviceDesc)));

    QTest::keyClick(m_window, Qt::Key_F11);
    QTest::keyClick(m_window, Qt::Key_F11);
    QTest::keyClick(m_window, Qt::Key_F11);
    QCOMPARE(emitted, (QStringList{"add", "remove", "add"}));

    QTest::keyClick(m_window, Qt::Key_F12);
    QCOMPARE(bootloader.size(), 0);
    const ReceptorDeviceDesc desc = connectReceptor();
    QTest::keyClick(m_window, Qt::Key_F12);
    QCOMPARE(bootloader.size(), 1);
    QCOMPARE(bootloader.at(0).at(0).value<ReceptorDeviceDesc>().device(), desc.device());
}

// The receptor is lost while an entry holds a row for its blocked records file: the row goes to the
// recovery file, and the status bar says where.
void TestKorvaneMainWindow::heldRecordsSaidInStatusBar()
{
    const QString records = dataStorageDirectory() + QStringLiteral("/0a1b2c3d4e5f_Alpha.csv");
    QFile::remove(records);
    QVERIFY(QDir().mkpath(records));
    const QString recovery = RecordsRecovery::recoveryPathBeside(records);
    QFile::remove(recovery);
    QStatusBar *bar = m_window->findChild<QStatusBar *>("statusBar");

    connectReceptor();
    deliver(report(QStringLiteral("0a1b2c3d4e5f"), QStringLiteral("Alpha")));
    QCOMPARE(list()->topLevelItemCount(), 1);
    QVERIFY(bar->currentMessage().isEmpty());
    QVERIFY(!QFile::exists(recovery));

    QMetaObject::invokeMethod(m_window, "disableReceptor");
    QCOMPARE(bar->currentMessage(),
             QStringLiteral("Des enregistrements n'ont pas pu être écrits dans leur fichier ; ils "
                            "sont gardés dans %1")
                 .arg(QDir::toNativeSeparators(recovery)));
    const QByteArray row("01/02/2024 12:34:56;45.2058;6.2083;-60;5\r\n");
    QFile kept(recovery);
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QVERIFY(kept.readAll().endsWith(row));
    kept.close();

    // The program ends with a row held: it goes there too, with no window left to tell.
    newWindow();
    connectReceptor();
    deliver(report(QStringLiteral("0a1b2c3d4e5f"), QStringLiteral("Alpha")));
    delete m_window;
    m_window = nullptr;
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QVERIFY(kept.readAll().endsWith(row + row));
    QVERIFY(QDir(records).removeRecursively());
}

QTEST_MAIN(TestKorvaneMainWindow)
#include "tst_korvanemainwindow.moc"
