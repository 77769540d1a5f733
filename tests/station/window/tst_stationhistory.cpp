// The station window's history and GPX export on the offscreen platform: the toolbar's two new
// actions, the day's records files drawn back on the three displays after a receptor loss (a
// beacon listed then or later takes its history into its pen), what removes history and what does
// not, files that do not read, Qt's own file dialog with the day's files chosen, and a beacon's
// records exported to GPX from its list entry (golden file, read back by gpsbabel).
#include "BeaconListWidgetItem.h"
#include "DataStorage.h"
#include "GeoMapWidget.h"
#include "GpsOnlineMap.h"
#include "GpsbabelReader.h"
#include "KorvaneMainWindow.h"
#include "ReceptorMetaTypes.h"
#include "SilentReceptor.h"
#include "TestFiles.h"
#include "UsbAccess.h"
#include "XCustomPlot.h"
#include "qmapcontrol/GeometryLineString.h"
#include "qmapcontrol/LayerGeometry.h"

#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QMenu>
#include <QShortcut>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QToolBar>
#include <QTreeWidget>
#include <QtTest>

using testfiles::fileBytes;

namespace
{
const QString alpha = QStringLiteral("0a1b2c3d4e5f");
const QString bravo = QStringLiteral("ffeeddccbbaa");
const QString alphaHistory = QStringLiteral("0a1b2c3d4e5f (historique)");
const QString bravoHistory = QStringLiteral("ffeeddccbbaa (historique)");

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
    info.state = 2;
    info.snr = 5;
    info.rssi = -60 - n % 7;
    return info;
}

QString records(const QString &name)
{
    return dataStorageDirectory() + QLatin1Char('/') + name;
}
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
    void whatRemovesHistory();
    void filesThatDoNotRead();
    void realFilesDialog();
    void gpxExport();

private:
    template <typename T> T *child(const char *name) const
    {
        return m_window->findChild<T *>(name);
    }
    QAction *action(const char *name) const { return child<QAction>(name); }
    QTreeWidget *list() const { return child<QTreeWidget>("listWidget"); }
    BeaconListWidgetItem *entryOf(const QString &serial) const;
    void connectReceptor();
    void deliver(const QString &serial, const QString &name, int first, int count);
    // Loads the history, the dialog answering `paths`; what it was offered is kept.
    void loadHistory(const QStringList &paths);
    // A track as the three displays hold it: its number of positions and its colour when all three
    // agree, "none" when none has it, else what each holds.
    QString shown(const QString &track) const;
    QString colourOf(const QString &serial) const { return entryOf(serial)->pen().color().name(); }

    KorvaneMainWindow *m_window = nullptr;
    QStringList m_errors;   // title, then text, of each error box
    QStringList m_warnings; // likewise for warnings
    QString m_dialogDirectory;
    QStringList m_dialogSelection;
};

void TestStationHistory::initTestCase()
{
    registerReceptorMetaTypes();
    usb::setPlatformBackendEnabled(false);
    KorvaneMainWindow::setOnlineTileServer(QUrl());
}

void TestStationHistory::init()
{
    QDir(dataStorageDirectory()).removeRecursively();
    m_errors.clear();
    m_warnings.clear();
    m_window = new KorvaneMainWindow;
    child<QTimer>("refreshTimer")->stop();
    m_window->dialogs().errorBox = [this](QWidget *, const QString &title, const QString &text) {
        m_errors << title << text;
    };
    m_window->dialogs().warningBox = [this](QWidget *, const QString &title, const QString &text) {
        m_warnings << title << text;
    };
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
}

void TestStationHistory::cleanup()
{
    delete m_window;
    m_window = nullptr;
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

// A receptor whose scans read nothing: the window lists only the reports the test hands it.
void TestStationHistory::connectReceptor()
{
    auto *device = new SilentReceptor;
    const ReceptorDeviceDesc desc(device);
    device->release();
    QMetaObject::invokeMethod(m_window, "enableReceptor", Q_ARG(ReceptorDeviceDesc, desc));
}

void TestStationHistory::deliver(const QString &serial, const QString &name, int first, int count)
{
    for (int n = first; n < first + count; ++n)
        QMetaObject::invokeMethod(m_window, "beaconUpdate",
                                  Q_ARG(BeaconInfo, report(serial, name, n)));
}

void TestStationHistory::loadHistory(const QStringList &paths)
{
    m_window->dialogs().openFilesPrompt = [this, paths](QWidget *, const QString &, const QString &directory,
                                           const QStringList &selected, const QString &) {
        m_dialogDirectory = directory;
        m_dialogSelection = selected;
        return paths;
    };
    action("actionHistorique")->trigger();
}

QString TestStationHistory::shown(const QString &track) const
{
    QStringList held;
    const auto holds = [&held](int count, const QPen &pen) {
        held << QStringLiteral("%1 %2").arg(count).arg(pen.color().name());
    };
    XCustomPlot *graph = child<XCustomPlot>("graph");
    for (int i = 0; i < graph->plottableCount(); ++i) {
        auto *curve = qobject_cast<QCPCurve *>(graph->plottable(i));
        if (curve && curve->name() == track)
            holds(curve->dataCount(), curve->pen());
    }
    for (const MapTrack &mapTrack : child<GeoMapWidget>("map")->model().tracks()) {
        if (mapTrack.name == track)
            holds(mapTrack.points.size(), mapTrack.pen);
    }
    const auto layer = std::dynamic_pointer_cast<qmapcontrol::LayerGeometry>(
        child<GpsOnlineMap>("map_online")->getLayer(track.toStdString()));
    if (layer) {
        const auto line = std::dynamic_pointer_cast<qmapcontrol::GeometryLineString>(
            layer->getGeometries().front());
        holds(int(line->points().size()), line->pen());
    }
    if (held.isEmpty())
        return QStringLiteral("none");
    return held.size() == 3 && held.count(held.first()) == 3 ? held.first() : held.join(" | ");
}

void TestStationHistory::toolbar()
{
    // The actions of before in their places, then the two new ones at the end.
    const QList<QAction *> items = child<QToolBar>("mainToolBar")->actions();
    QCOMPARE(items.size(), 18);
    QCOMPARE(items.at(14)->objectName(), QStringLiteral("actionEnregistrements"));
    QVERIFY(items.at(15)->isSeparator());
    QCOMPARE(items.at(16), action("actionHistorique"));
    QCOMPARE(items.at(17), action("actionEffacerHistorique"));
    QCOMPARE(action("actionHistorique")->text(), QStringLiteral("Historique"));
    QCOMPARE(action("actionEffacerHistorique")->text(), QStringLiteral("Effacer l'historique"));
    for (const char *icon : {":/toolbar/history.ico", ":/toolbar/clearhistory.ico"})
        QVERIFY2(!QImage(QString::fromLatin1(icon)).isNull(), icon);
    QVERIFY(!action("actionHistorique")->icon().isNull());
    // Nothing to clear yet.
    QVERIFY(!action("actionEffacerHistorique")->isEnabled());

    // Every key of the window does one thing: the actions' and the hidden keys'.
    QList<QKeySequence> keys;
    for (const QAction *item : m_window->findChildren<QAction *>())
        keys << item->shortcut();
    for (const QShortcut *key : m_window->findChildren<QShortcut *>())
        keys << key->key();
    keys.removeAll(QKeySequence());
    QCOMPARE(keys.size(), 13);
    for (const QKeySequence &key : keys)
        QVERIFY2(keys.count(key) == 1, qPrintable(key.toString()));
}

void TestStationHistory::backAfterReceptorLoss()
{
    // Two beacons report, then the receptor is pulled out: their tracks go with their entries.
    connectReceptor();
    deliver(alpha, "ALPHA", 0, 30);
    deliver(bravo, "BRAVO", 0, 20);
    QMetaObject::invokeMethod(m_window, "disableReceptor");
    QCOMPARE(shown(alpha), QStringLiteral("none"));
    // A records file of another day is not offered.
    QFile old(records("0a0a0a0a0a0a_OLD.csv"));
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write(fileBytes(records("ffeeddccbbaa_BRAVO.csv")));
    QVERIFY(old.flush());
    QVERIFY(old.setFileTime(QDateTime::currentDateTime().addDays(-2),
                            QFileDevice::FileModificationTime));
    old.close();

    const QStringList today = {"0a1b2c3d4e5f_ALPHA.csv", "ffeeddccbbaa_BRAVO.csv"};
    loadHistory({records(today[0]), records(today[1])});
    QCOMPARE(m_dialogDirectory, dataStorageDirectory());
    QCOMPARE(m_dialogSelection, today);
    QVERIFY(m_errors.isEmpty() && m_warnings.isEmpty());
    QCOMPARE(KorvaneMainWindow::historyTrackName(alpha), alphaHistory);
    // Both back on every display, in two pens that no entry holds and that a new beacon does not
    // get next.
    const QString alphaShown = shown(alphaHistory);
    const QString bravoShown = shown(bravoHistory);
    QVERIFY2(alphaShown.startsWith("30 #") && bravoShown.startsWith("20 #"),
             qPrintable(alphaShown + ", " + bravoShown));
    QVERIFY(alphaShown.mid(3) != bravoShown.mid(3));
    QVERIFY(!alphaShown.endsWith(m_window->freePens().first().color().name()));
    QVERIFY(action("actionEffacerHistorique")->isEnabled());
    QCOMPARE(child<QStatusBar>("statusBar")->currentMessage(),
             QStringLiteral("Historique : 2 trace(s), 50 position(s)"));
    // Shown whole: the graph was fitted to them.
    XCustomPlot *graph = child<XCustomPlot>("graph");
    QVERIFY(graph->xAxis->range().contains(6.2083) && graph->yAxis->range().contains(45.2055));

    // The receptor is back and ALPHA reports again: its history takes its new entry's pen, and its
    // live track goes on beside. (Reports are dropped until the worker has run what was queued
    // for the lost receptor: the first one is offered until taken.)
    connectReceptor();
    QVERIFY(QTest::qWaitFor([&] {
        deliver(alpha, "ALPHA", 30, 1);
        return entryOf(alpha) != nullptr;
    }));
    deliver(alpha, "ALPHA", 31, 4);
    QCOMPARE(shown(alphaHistory), "30 " + colourOf(alpha));
    QCOMPARE(shown(alpha), "5 " + colourOf(alpha));
    QCOMPARE(shown(bravoHistory), bravoShown);
}

void TestStationHistory::whatRemovesHistory()
{
    connectReceptor();
    deliver(alpha, "ALPHA", 0, 10);
    deliver(bravo, "BRAVO", 0, 10);
    // A listed beacon's history is drawn in its pen.
    loadHistory({records("0a1b2c3d4e5f_ALPHA.csv")});
    QCOMPARE(shown(alphaHistory), "10 " + colourOf(alpha));

    // Removing the beacon, or losing the receptor, takes live tracks only.
    entryOf(alpha)->setSelected(true);
    action("actionRetirer")->trigger();
    QCOMPARE(shown(alpha), QStringLiteral("none"));
    QMetaObject::invokeMethod(m_window, "disableReceptor");
    QCOMPARE(shown(bravo), QStringLiteral("none"));
    QVERIFY(shown(alphaHistory).startsWith("10 #"));

    // A cancelled dialog keeps what is shown; the next load replaces it.
    loadHistory({});
    QVERIFY(shown(alphaHistory).startsWith("10 #"));
    loadHistory({records("ffeeddccbbaa_BRAVO.csv")});
    QCOMPARE(shown(alphaHistory), QStringLiteral("none"));
    QVERIFY(shown(bravoHistory).startsWith("10 #"));

    action("actionEffacerHistorique")->trigger();
    QCOMPARE(shown(bravoHistory), QStringLiteral("none"));
    QVERIFY(!action("actionEffacerHistorique")->isEnabled());
}

void TestStationHistory::filesThatDoNotRead()
{
    connectReceptor();
    deliver(alpha, "ALPHA", 0, 10);
    // ALPHA's file with a line broken in the middle and one cut short at the end, and a
    // spreadsheet of another kind.
    QList<QByteArray> lines = fileBytes(records("0a1b2c3d4e5f_ALPHA.csv")).split('\n');
    lines[4] = "01/02/2024 12:00:06;45.20\r";
    lines.last() = "01/02/2024 12:00:20;4";
    QFile damaged(records("0a1b2c3d4e5f_ALPHA.csv"));
    QVERIFY(damaged.open(QIODevice::WriteOnly));
    damaged.write(lines.join('\n'));
    damaged.close();
    QTemporaryDir other;
    QFile sheet(other.filePath("notes.csv"));
    QVERIFY(sheet.open(QIODevice::WriteOnly));
    sheet.write("Nom;Heure\r\nDupont;12:00\r\n");
    sheet.close();

    // What reads is drawn; the box names both files with the line concerned.
    loadHistory({damaged.fileName(), sheet.fileName()});
    QVERIFY(shown(alphaHistory).startsWith("9 #"));
    QCOMPARE(shown("notes (historique)"), QStringLiteral("none"));
    QCOMPARE(m_errors,
             (QStringList{"Erreur",
                          QStringLiteral("Fichier %1 : 2 ligne(s) illisible(s) ignorée(s), la "
                                         "première à la ligne 5.\nLe fichier %2 n'est pas un "
                                         "fichier d'enregistrements de Korvane : sa ligne 1 n'en "
                                         "est pas l'en-tête.")
                              .arg(QDir::toNativeSeparators(damaged.fileName()),
                                   QDir::toNativeSeparators(sheet.fileName()))}));
    // Rows skipped alone are a warning.
    loadHistory({damaged.fileName()});
    QCOMPARE(m_errors.size(), 2);
    QCOMPARE(m_warnings.value(0), QStringLiteral("Attention"));

    // A file whose name holds what looks like a placeholder is named as it is.
    const QString odd = other.filePath(QStringLiteral("relevé %2 %3.csv"));
    QVERIFY(QFile::copy(damaged.fileName(), odd));
    m_warnings.clear();
    loadHistory({odd});
    QCOMPARE(m_warnings,
             (QStringList{"Attention",
                          QStringLiteral("Fichier %1 : 2 ligne(s) illisible(s) ignorée(s), la "
                                         "première à la ligne 5.")
                              .arg(QDir::toNativeSeparators(odd))}));
}

void TestStationHistory::realFilesDialog()
{
    connectReceptor();
    deliver(alpha, "ALPHA", 0, 3);
    deliver(bravo, "BRAVO", 0, 4);

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
    QCOMPARE(shown(alphaHistory), "3 " + colourOf(alpha));
    QCOMPARE(shown(bravoHistory), "4 " + colourOf(bravo));
}

void TestStationHistory::gpxExport()
{
    connectReceptor();
    deliver(alpha, "ALPHA", 0, 6);
    QString proposed;
    QString answer;
    m_window->dialogs().saveFilePrompt = [&](QWidget *, const QString &, const QString &path, const QString &) {
        proposed = path;
        return answer;
    };
    // From the list entry's menu, where the pointer is.
    const auto exportFromMenu = [&](const QString &serial) {
        emit list()->customContextMenuRequested(list()->visualItemRect(entryOf(serial)).center());
        QMenu *menu = child<QMenu>("entryMenu");
        QVERIFY(menu);
        QAction *item = menu->findChild<QAction *>("actionExportGpx");
        QCOMPARE(item->text(), QStringLiteral("Exporter en GPX…"));
        item->trigger();
        delete menu;
    };

    QTemporaryDir out;
    answer = out.filePath("alpha");
    exportFromMenu(alpha);
    QCOMPARE(proposed, records("0a1b2c3d4e5f_ALPHA.gpx"));
    const QString gpx = out.filePath("alpha.gpx");
    QCOMPARE(fileBytes(gpx),
             fileBytes(QStringLiteral(KORVANE_TEST_DATA_DIR "/0a1b2c3d4e5f_ALPHA.gpx")));
    QVERIFY(m_errors.isEmpty() && m_warnings.isEmpty());
    QCOMPARE(child<QStatusBar>("statusBar")->currentMessage(),
             QStringLiteral("Enregistrements de 0a1b2c3d4e5f exportés dans %1")
                 .arg(QDir::toNativeSeparators(gpx)));
    if (GpsbabelReader::available()) {
        const QString mismatch = GpsbabelReader::mismatch(gpx, records("0a1b2c3d4e5f_ALPHA.csv"),
                                                          QStringLiteral("dd/MM/yyyy hh:mm:ss"));
        QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));
    } else {
        qWarning("gpsbabel is not installed: the GPX file is not read back");
    }

    // Never over the records themselves.
    const QByteArray kept = fileBytes(records("0a1b2c3d4e5f_ALPHA.csv"));
    answer = records("0a1b2c3d4e5f_ALPHA.csv");
    exportFromMenu(alpha);
    QCOMPARE(m_errors.value(1), QStringLiteral("Le fichier %1 est un fichier d'enregistrements : "
                                               "il n'est pas remplacé.")
                                    .arg(QDir::toNativeSeparators(answer)));
    QCOMPARE(fileBytes(answer), kept);

    // A beacon whose reports carried no date has no records: nothing is asked.
    BeaconInfo undated = report(bravo, "BRAVO", 0);
    undated.date.clear();
    QMetaObject::invokeMethod(m_window, "beaconUpdate", Q_ARG(BeaconInfo, undated));
    proposed.clear();
    exportFromMenu(bravo);
    QVERIFY(proposed.isEmpty());
    QCOMPARE(m_errors.value(3),
             QStringLiteral("Aucun enregistrement du module ffeeddccbbaa dans %1.")
                 .arg(QDir::toNativeSeparators(dataStorageDirectory())));
}

QTEST_MAIN(TestStationHistory)
#include "tst_stationhistory.moc"
