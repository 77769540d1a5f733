// The station window's history and GPX export on the offscreen platform: the toolbar's two new
// actions, the day's records files drawn back on the three displays after a receptor loss or a
// restart (in the beacon's pen, the live track going on beside), what removes history and what does
// not, files that do not read, Qt's own file dialog with the day's files chosen, and a beacon's
// records exported to GPX from its list entry (golden file, read back by gpsbabel).
#include "BeaconListWidgetItem.h"
#include "DataStorage.h"
#include "GeoMapWidget.h"
#include "GpsOnlineMap.h"
#include "GpsbabelReader.h"
#include "KorvaneMainWindow.h"
#include "ReceptorDeviceGeneric.h"
#include "ReceptorMetaTypes.h"
#include "UsbAccess.h"
#include "XCustomPlot.h"
#include "qmapcontrol/GeometryLineString.h"
#include "qmapcontrol/LayerGeometry.h"

#include <QAction>
#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLoggingCategory>
#include <QMenu>
#include <QPushButton>
#include <QShortcut>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QToolBar>
#include <QTreeWidget>
#include <QtTest>

#include <cstring>

namespace
{
// A receptor whose scans read nothing: the window lists only the reports the test hands it.
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

const QString alpha = QStringLiteral("0a1b2c3d4e5f");
const QString bravo = QStringLiteral("ffeeddccbbaa");

// The n-th report of a beacon: 2 s apart from 12:00:00 on 1 February 2024, walking north-east.
BeaconInfo report(const QString &serial, const QString &name, int n)
{
    BeaconInfo info;
    info.date = QStringLiteral("010224");
    // The receptor's ASCII digits, whatever the locale.
    info.time = QLocale::c().toString(QTime(12, 0).addSecs(2 * n), QStringLiteral("hhmmss"));
    info.name = name;
    info.serial = serial;
    info.latitude = QStringLiteral("45%1N").arg(12.3 + 0.05 * n, 8, 'f', 5, QLatin1Char('0'));
    info.longitude = QStringLiteral("006%1E").arg(12.5 + 0.075 * n, 8, 'f', 5, QLatin1Char('0'));
    info.memory = 40;
    info.state = 2;
    info.snr = 5;
    info.rssi = -60 - n % 7;
    return info;
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// A track as the three displays hold it.
struct Shown
{
    int graph = -1;  // positions of its curve; -1 when there is none
    int map = -1;    // positions of its GeoTIFF map track
    int online = -1; // vertices of its online map line
    QColor graphColour;
    QColor mapColour;
    QColor onlineColour;

    bool nowhere() const { return graph < 0 && map < 0 && online < 0; }
};
} // namespace

class TestStationHistory : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void toolbar();
    void backAfterReceptorLoss();
    void backAfterRestart();
    void whatRemovesHistory();
    void filesThatDoNotRead();
    void realFilesDialog();
    void gpxExport();
    void gpxExportRefused();

private:
    template <typename T> T *child(const char *name) const
    {
        return m_window->findChild<T *>(name);
    }
    QAction *action(const char *name) const { return child<QAction>(name); }
    QTreeWidget *list() const { return child<QTreeWidget>("listWidget"); }
    BeaconListWidgetItem *entryOf(const QString &serial) const;
    void newWindow();
    void connectReceptor();
    void disconnectReceptor();
    void deliver(const QString &serial, const QString &name, int first, int count);
    // After a receptor was lost, reports are dropped until the worker has run what was queued for
    // it: the first report is offered until it is taken.
    bool deliverOnceTaken(const QString &serial, const QString &name, int n);
    // Loads the history, the dialog answering `paths`; what it was asked is kept.
    void loadHistory(const QStringList &paths);
    Shown shown(const QString &track) const;
    QString records(const QString &name) const { return dataStorageDirectory() + '/' + name; }

    KorvaneMainWindow *m_window = nullptr;
    QStringList m_errors;   // title, then text, of each error box
    QStringList m_warnings; // likewise for warnings
    QString m_dialogDirectory;
    QStringList m_dialogSelection;
};

void TestStationHistory::initTestCase()
{
    QLoggingCategory::setFilterRules(QStringLiteral("korvane.*.debug=false"));
    registerReceptorMetaTypes();
    usb::setPlatformBackendEnabled(false);
    KorvaneMainWindow::setOnlineTileServer(QUrl());
}

void TestStationHistory::init()
{
    QDir(dataStorageDirectory()).removeRecursively();
    m_errors.clear();
    m_warnings.clear();
    newWindow();
}

void TestStationHistory::cleanup()
{
    delete m_window;
    m_window = nullptr;
}

void TestStationHistory::newWindow()
{
    delete m_window;
    m_window = new KorvaneMainWindow;
    child<QTimer>("refreshTimer")->stop();
    m_window->setErrorBox([this](QWidget *, const QString &title, const QString &text) {
        m_errors << title << text;
    });
    m_window->setWarningBox([this](QWidget *, const QString &title, const QString &text) {
        m_warnings << title << text;
    });
    m_window->resize(1205, 740);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
}

BeaconListWidgetItem *TestStationHistory::entryOf(const QString &serial) const
{
    for (int row = 0; row < list()->topLevelItemCount(); ++row) {
        auto *entry = static_cast<BeaconListWidgetItem *>(list()->topLevelItem(row));
        if (entry->serial() == serial)
            return entry;
    }
    return nullptr;
}

void TestStationHistory::connectReceptor()
{
    auto *device = new SilentReceptor;
    const ReceptorDeviceDesc desc(device);
    device->release();
    QMetaObject::invokeMethod(m_window, "enableReceptor", Q_ARG(ReceptorDeviceDesc, desc));
}

void TestStationHistory::disconnectReceptor()
{
    QMetaObject::invokeMethod(m_window, "disableReceptor");
}

void TestStationHistory::deliver(const QString &serial, const QString &name, int first, int count)
{
    for (int n = first; n < first + count; ++n)
        QMetaObject::invokeMethod(m_window, "beaconUpdate",
                                  Q_ARG(BeaconInfo, report(serial, name, n)));
}

bool TestStationHistory::deliverOnceTaken(const QString &serial, const QString &name, int n)
{
    return QTest::qWaitFor([&] {
        deliver(serial, name, n, 1);
        return entryOf(serial) != nullptr;
    });
}

void TestStationHistory::loadHistory(const QStringList &paths)
{
    m_window->setFilesDialog([this, paths](QWidget *, const QString &, const QString &directory,
                                           const QStringList &selected, const QString &) {
        m_dialogDirectory = directory;
        m_dialogSelection = selected;
        return paths;
    });
    action("actionHistorique")->trigger();
}

Shown TestStationHistory::shown(const QString &track) const
{
    Shown result;
    XCustomPlot *graph = child<XCustomPlot>("graph");
    for (int i = 0; i < graph->plottableCount(); ++i) {
        if (auto *curve = qobject_cast<QCPCurve *>(graph->plottable(i))) {
            if (curve->name() == track) {
                result.graph = curve->dataCount();
                result.graphColour = curve->pen().color();
            }
        }
    }
    for (const MapTrack &mapTrack : child<GeoMapWidget>("map")->model().tracks()) {
        if (mapTrack.name == track) {
            result.map = mapTrack.points.size();
            result.mapColour = mapTrack.pen.color();
        }
    }
    const auto layer = std::dynamic_pointer_cast<qmapcontrol::LayerGeometry>(
        child<GpsOnlineMap>("map_online")->getLayer(track.toStdString()));
    if (layer && !layer->getGeometries().empty()) {
        const auto line = std::dynamic_pointer_cast<qmapcontrol::GeometryLineString>(
            layer->getGeometries().front());
        result.online = int(line->points().size());
        result.onlineColour = line->pen().color();
    }
    return result;
}

void TestStationHistory::toolbar()
{
    // The actions of before in their places, then the two new ones at the end.
    QStringList names;
    for (QAction *item : child<QToolBar>("mainToolBar")->actions())
        names << (item->isSeparator() ? QStringLiteral("|") : item->objectName());
    names.removeAll(QString());
    QCOMPARE(names, (QStringList{"|", "actionD_marrer", "actionArr_ter", "|", "actionAjouter",
                                 "actionRetirer", "|", "actionRecadrer", "actionZoom_Avant",
                                 "actionZoom_Arri_re", "|", "actionLoadMap", "|",
                                 "actionEnregistrements", "|", "actionHistorique",
                                 "actionEffacerHistorique"}));
    QCOMPARE(action("actionHistorique")->text(), QStringLiteral("Historique"));
    QCOMPARE(action("actionEffacerHistorique")->text(), QStringLiteral("Effacer l'historique"));
    for (const char *name : {"actionHistorique", "actionEffacerHistorique"}) {
        QVERIFY(!action(name)->icon().isNull());
        QVERIFY(!action(name)->toolTip().isEmpty());
    }
    for (const char *icon : {":/toolbar/history.ico", ":/toolbar/clearhistory.ico"})
        QVERIFY2(!QImage(QString::fromLatin1(icon)).isNull(), icon);
    QVERIFY(QImage(":/toolbar/history.ico") != QImage(":/toolbar/records.ico"));
    // Nothing to clear yet.
    QVERIFY(!action("actionEffacerHistorique")->isEnabled());

    // Every key of the window does one thing: the actions' and the hidden keys'.
    QList<QKeySequence> keys;
    for (const QAction *item : m_window->findChildren<QAction *>()) {
        if (!item->shortcut().isEmpty())
            keys << item->shortcut();
    }
    for (const QShortcut *key : m_window->findChildren<QShortcut *>())
        keys << key->key();
    QVERIFY(keys.contains(QKeySequence(Qt::Key_F11)) && keys.contains(QKeySequence(Qt::Key_F12)));
    QCOMPARE(action("actionHistorique")->shortcut(), QKeySequence(QStringLiteral("Ctrl+H")));
    for (const QKeySequence &key : keys)
        QVERIFY2(keys.count(key) == 1, qPrintable(key.toString()));
}

void TestStationHistory::backAfterReceptorLoss()
{
    // Two beacons report, then the receptor is pulled out: their tracks go with their entries.
    connectReceptor();
    deliver(alpha, "ALPHA", 0, 30);
    deliver(bravo, "BRAVO", 0, 20);
    QCOMPARE(shown(alpha).graph, 30);
    disconnectReceptor();
    QVERIFY(shown(alpha).nowhere());
    // A file of another day is not offered.
    const QString old = records("0a0a0a0a0a0a_OLD.csv");
    QVERIFY(QFile::copy(records("ffeeddccbbaa_BRAVO.csv"), old));
    QFile oldFile(old);
    QVERIFY(oldFile.open(QIODevice::ReadWrite));
    QVERIFY(oldFile.setFileTime(QDateTime::currentDateTime().addDays(-2),
                                QFileDevice::FileModificationTime));
    oldFile.close();

    const QStringList today = {"0a1b2c3d4e5f_ALPHA.csv", "ffeeddccbbaa_BRAVO.csv"};
    loadHistory({records(today[0]), records(today[1])});
    QCOMPARE(m_dialogDirectory, dataStorageDirectory());
    QCOMPARE(m_dialogSelection, today);
    QVERIFY(m_errors.isEmpty() && m_warnings.isEmpty());

    // Both back on every display, named as history, in pens no entry holds now.
    const QString alphaHistory = KorvaneMainWindow::historyTrackName(alpha);
    QCOMPARE(alphaHistory, QStringLiteral("0a1b2c3d4e5f (historique)"));
    const Shown alphaShown = shown(alphaHistory);
    const Shown bravoShown = shown(KorvaneMainWindow::historyTrackName(bravo));
    QCOMPARE(alphaShown.graph, 30);
    QCOMPARE(alphaShown.map, 30);
    QCOMPARE(alphaShown.online, 30);
    QCOMPARE(bravoShown.graph, 20);
    QCOMPARE(alphaShown.mapColour, alphaShown.graphColour);
    QCOMPARE(alphaShown.onlineColour, alphaShown.graphColour);
    QVERIFY(alphaShown.graphColour != bravoShown.graphColour);
    QVERIFY(alphaShown.graphColour != m_window->freePens().first().color());
    QVERIFY(action("actionEffacerHistorique")->isEnabled());
    QCOMPARE(child<QStatusBar>("statusBar")->currentMessage(),
             QStringLiteral("Historique : 2 trace(s), 50 position(s)"));
    // Shown whole: the graph was fitted to them.
    XCustomPlot *graph = child<XCustomPlot>("graph");
    QVERIFY(graph->xAxis->range().contains(6.2083) && graph->yAxis->range().contains(45.2055));

    // The receptor is back and ALPHA reports again: its history takes its new entry's pen, and
    // its live track goes on from where the history ends.
    connectReceptor();
    QVERIFY(deliverOnceTaken(alpha, "ALPHA", 30));
    deliver(alpha, "ALPHA", 31, 4);
    const QColor liveColour = entryOf(alpha)->pen().color();
    QVERIFY(liveColour != alphaShown.graphColour);
    const Shown followed = shown(alphaHistory);
    QCOMPARE(followed.graph, 30);
    QCOMPARE(followed.graphColour, liveColour);
    QCOMPARE(followed.mapColour, liveColour);
    QCOMPARE(followed.onlineColour, liveColour);
    QCOMPARE(shown(alpha).graph, 5);
    QCOMPARE(shown(KorvaneMainWindow::historyTrackName(bravo)).graphColour, bravoShown.graphColour);
}

void TestStationHistory::backAfterRestart()
{
    connectReceptor();
    deliver(alpha, "ALPHA", 0, 10);
    deliver(bravo, "BRAVO", 0, 10);
    // The station starts again; BRAVO is the first to report this time.
    newWindow();
    connectReceptor();
    deliver(bravo, "BRAVO", 10, 2);
    deliver(alpha, "ALPHA", 10, 2);

    loadHistory({records("0a1b2c3d4e5f_ALPHA.csv"), records("ffeeddccbbaa_BRAVO.csv")});
    // Each in its listed beacon's pen; the files hold the reports of both runs.
    for (const QString &serial : {alpha, bravo}) {
        const Shown history = shown(KorvaneMainWindow::historyTrackName(serial));
        QCOMPARE(history.graph, 12);
        QCOMPARE(history.map, 12);
        QCOMPARE(history.online, 12);
        QCOMPARE(history.graphColour, entryOf(serial)->pen().color());
        QCOMPARE(shown(serial).graph, 2);
    }
}

void TestStationHistory::whatRemovesHistory()
{
    connectReceptor();
    deliver(alpha, "ALPHA", 0, 10);
    deliver(bravo, "BRAVO", 0, 10);
    const QString alphaHistory = KorvaneMainWindow::historyTrackName(alpha);
    const QString bravoHistory = KorvaneMainWindow::historyTrackName(bravo);
    loadHistory({records("0a1b2c3d4e5f_ALPHA.csv")});
    QCOMPARE(shown(alphaHistory).graph, 10);

    // Removing the beacon takes its live track only.
    list()->clearSelection();
    entryOf(alpha)->setSelected(true);
    action("actionRetirer")->trigger();
    QVERIFY(shown(alpha).nowhere());
    QCOMPARE(shown(alphaHistory).map, 10);
    // So does losing the receptor.
    disconnectReceptor();
    QVERIFY(shown(bravo).nowhere());
    QCOMPARE(shown(alphaHistory).online, 10);

    // A cancelled dialog keeps what is shown; the next load replaces it.
    loadHistory({});
    QCOMPARE(shown(alphaHistory).graph, 10);
    loadHistory({records("ffeeddccbbaa_BRAVO.csv")});
    QVERIFY(shown(alphaHistory).nowhere());
    QCOMPARE(shown(bravoHistory).graph, 10);

    action("actionEffacerHistorique")->trigger();
    QVERIFY(shown(bravoHistory).nowhere());
    QVERIFY(!action("actionEffacerHistorique")->isEnabled());
    QCOMPARE(child<XCustomPlot>("graph")->plottableCount(), 0);
    QVERIFY(child<GeoMapWidget>("map")->model().tracks().empty());
    QCOMPARE(child<GpsOnlineMap>("map_online")->getLayers().size(), size_t(1));
}

void TestStationHistory::filesThatDoNotRead()
{
    connectReceptor();
    deliver(alpha, "ALPHA", 0, 10);
    disconnectReceptor();
    // ALPHA's file with a line broken in the middle and one cut short at the end.
    QFile alphaFile(records("0a1b2c3d4e5f_ALPHA.csv"));
    QVERIFY(alphaFile.open(QIODevice::ReadOnly));
    QList<QByteArray> lines = alphaFile.readAll().split('\n');
    alphaFile.close();
    lines[4] = "01/02/2024 12:00:06;45.20\r";
    lines.last() = "01/02/2024 12:00:20;4";
    QVERIFY(alphaFile.open(QIODevice::WriteOnly));
    alphaFile.write(lines.join('\n'));
    alphaFile.close();
    QTemporaryDir other;
    const QString sheet = other.filePath("notes.csv");
    QFile sheetFile(sheet);
    QVERIFY(sheetFile.open(QIODevice::WriteOnly));
    sheetFile.write("Nom;Heure\r\nDupont;12:00\r\n");
    sheetFile.close();

    loadHistory({records("0a1b2c3d4e5f_ALPHA.csv"), sheet});
    // What reads is drawn; both files are named with the line concerned.
    QCOMPARE(shown(KorvaneMainWindow::historyTrackName(alpha)).graph, 9);
    QCOMPARE(shown("notes (historique)").graph, -1);
    QCOMPARE(m_errors.size(), 2);
    QCOMPARE(m_errors[0], QStringLiteral("Erreur"));
    QCOMPARE(m_errors[1].split('\n'),
             (QStringList{QStringLiteral("Fichier %1 : 2 ligne(s) illisible(s) ignorée(s), la "
                                         "première à la ligne 5.")
                              .arg(QDir::toNativeSeparators(records("0a1b2c3d4e5f_ALPHA.csv"))),
                          QStringLiteral("Le fichier %1 n'est pas un fichier d'enregistrements de "
                                         "Korvane : sa ligne 1 n'en est pas l'en-tête.")
                              .arg(QDir::toNativeSeparators(sheet))}));

    // Rows skipped alone are a warning.
    m_errors.clear();
    loadHistory({records("0a1b2c3d4e5f_ALPHA.csv")});
    QVERIFY(m_errors.isEmpty());
    QCOMPARE(m_warnings.size(), 2);
    QCOMPARE(m_warnings[0], QStringLiteral("Attention"));
    QVERIFY(m_warnings[1].contains("2 ligne(s) illisible(s)"));
    QCOMPARE(shown(KorvaneMainWindow::historyTrackName(alpha)).map, 9);

    // A file that cannot be opened is named with the system's words.
    m_warnings.clear();
    loadHistory({other.filePath("gone.csv")});
    QCOMPARE(m_errors.size(), 2);
    QVERIFY(m_errors[1].startsWith(QStringLiteral("Le fichier %1 ne peut pas être lu : ")
                                       .arg(QDir::toNativeSeparators(other.filePath("gone.csv")))));
    QVERIFY(!action("actionEffacerHistorique")->isEnabled());
}

void TestStationHistory::realFilesDialog()
{
    connectReceptor();
    deliver(alpha, "ALPHA", 0, 3);
    deliver(bravo, "BRAVO", 0, 4);
    disconnectReceptor();

    // Qt's own dialog, with the day's two files chosen: accepting it takes both.
    QStringList offered;
    QTimer answering;
    answering.setInterval(5);
    connect(&answering, &QTimer::timeout, [&] {
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible())
            return;
        offered = dialog->selectedFiles();
        QMetaObject::invokeMethod(dialog, "accept");
    });
    answering.start();
    action("actionHistorique")->trigger();
    answering.stop();

    QCOMPARE(offered, (QStringList{records("0a1b2c3d4e5f_ALPHA.csv"),
                                   records("ffeeddccbbaa_BRAVO.csv")}));
    QCOMPARE(shown(KorvaneMainWindow::historyTrackName(alpha)).graph, 3);
    QCOMPARE(shown(KorvaneMainWindow::historyTrackName(bravo)).graph, 4);
}

void TestStationHistory::gpxExport()
{
    connectReceptor();
    deliver(alpha, "ALPHA", 0, 6);
    deliver(bravo, "BRAVO", 0, 2);

    QString proposed;
    QTemporaryDir out;
    m_window->setSaveDialog(
        [&](QWidget *, const QString &, const QString &path, const QString &) {
            proposed = path;
            return out.filePath("alpha");
        });
    // The list entry's menu, where the pointer is.
    const QRect row = list()->visualItemRect(entryOf(alpha));
    emit list()->customContextMenuRequested(row.center());
    auto *menu = child<QMenu>("entryMenu");
    QVERIFY(menu);
    QTRY_VERIFY(menu->isVisible());
    QAction *exportAction = menu->findChild<QAction *>("actionExportGpx");
    QCOMPARE(exportAction->text(), QStringLiteral("Exporter en GPX…"));
    exportAction->trigger();
    menu->close();

    QCOMPARE(proposed, records("0a1b2c3d4e5f_ALPHA.gpx"));
    const QString gpx = out.filePath("alpha.gpx");
    QCOMPARE(fileBytes(gpx),
             fileBytes(QStringLiteral(KORVANE_TEST_DATA_DIR "/0a1b2c3d4e5f_ALPHA.gpx")));
    QVERIFY(m_errors.isEmpty() && m_warnings.isEmpty());
    QCOMPARE(child<QStatusBar>("statusBar")->currentMessage(),
             QStringLiteral("Enregistrements de 0a1b2c3d4e5f exportés dans %1")
                 .arg(QDir::toNativeSeparators(gpx)));

    // Another reader finds the records file's rows in it, point for point.
    if (!GpsbabelReader::available())
        QSKIP("gpsbabel is not installed (scripts/install-deps.sh installs it)");
    const QString mismatch = GpsbabelReader::mismatch(gpx, records("0a1b2c3d4e5f_ALPHA.csv"),
                                                      QStringLiteral("dd/MM/yyyy hh:mm:ss"));
    QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));
}

void TestStationHistory::gpxExportRefused()
{
    connectReceptor();
    int asked = 0;
    QString answer;
    m_window->setSaveDialog([&](QWidget *, const QString &, const QString &, const QString &) {
        ++asked;
        return answer;
    });
    const auto exportFromMenu = [&](const QString &serial) {
        emit list()->customContextMenuRequested(list()->visualItemRect(entryOf(serial)).center());
        QMenu *menu = child<QMenu>("entryMenu");
        menu->findChild<QAction *>("actionExportGpx")->trigger();
        menu->close();
        delete menu;
    };

    // A beacon whose reports carried no date has no records file: nothing is asked.
    BeaconInfo undated = report(alpha, "ALPHA", 0);
    undated.date.clear();
    QMetaObject::invokeMethod(m_window, "beaconUpdate", Q_ARG(BeaconInfo, undated));
    exportFromMenu(alpha);
    QCOMPARE(asked, 0);
    QCOMPARE(m_errors.size(), 2);
    QCOMPARE(m_errors[1], QStringLiteral("Aucun enregistrement du module 0a1b2c3d4e5f dans %1.")
                              .arg(QDir::toNativeSeparators(dataStorageDirectory())));

    // Cancelled: no file. A folder that is not there: said with the system's words.
    deliver(alpha, "ALPHA", 0, 2);
    m_errors.clear();
    exportFromMenu(alpha);
    QCOMPARE(asked, 1);
    QVERIFY(m_errors.isEmpty());
    QTemporaryDir out;
    answer = out.filePath("gone/alpha.gpx");
    exportFromMenu(alpha);
    QCOMPARE(m_errors.size(), 2);
    QVERIFY(m_errors[1].startsWith(QStringLiteral("Le fichier %1 n'a pas pu être écrit : ")
                                       .arg(QDir::toNativeSeparators(answer))));
    QVERIFY(QDir(out.path()).isEmpty());
    // Never over the records themselves.
    const QString records = dataStorageDirectory() + QStringLiteral("/0a1b2c3d4e5f_ALPHA.csv");
    const QByteArray kept = fileBytes(records);
    answer = records;
    exportFromMenu(alpha);
    QCOMPARE(m_errors.size(), 4);
    QCOMPARE(m_errors[3], QStringLiteral("Le fichier %1 est un fichier d'enregistrements : il "
                                         "n'est pas remplacé.")
                              .arg(QDir::toNativeSeparators(records)));
    QCOMPARE(fileBytes(records), kept);

    // No menu away from the entries.
    emit list()->customContextMenuRequested(QPoint(5, list()->viewport()->height() - 5));
    QVERIFY(!child<QMenu>("entryMenu"));
}

QTEST_MAIN(TestStationHistory)
#include "tst_stationhistory.moc"
