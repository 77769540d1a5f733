// Main window of the station: start-up (form, data folder, detector, worker, poll timer), receptor
// arrival and loss, beacon reports turned into list entries and positions, the beacon commands,
// the three displays (their wiring, keeping them consistent, the view commands), records files
// drawn back as history and a beacon's records exported to GPX.
#include "KorvaneMainWindow.h"
#include "ui_KorvaneMainWindow.h"

#include "AxisStepTicker.h"
#include "BeaconListWidgetItem.h"
#include "DataStorage.h"
#include "FreqSpinBox.h"
#include "GeoMapWidget.h"
#include "GpsOnlineMap.h"
#include "GraphManager.h"
#include "LogCategories.h"
#include "ReceptorCom.h"
#include "ReceptorDetector.h"
#include "ReceptorDeviceGeneric.h"
#include "RecordsGpx.h"
#include "RecordsModel.h"
#include "RecordsRecovery.h"
#include "UsbAccessNotice.h"
#include "qmapcontrol/LayerMapAdapter.h"
#include "qmapcontrol/MapAdapterOSM.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QFontMetricsF>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMenu>
#include <QPixmap>
#include <QRegularExpression>
#include <QScopedValueRollback>
#include <QScrollBar>
#include <QShortcut>
#include <QTimer>
#include <QUrl>

#include <cmath>

namespace
{
constexpr int refreshIntervalMs = 2000;
// About this many ticks along the graph's x axis, fewer when their labels would not fit.
constexpr int graphTickCount = 10;
// Room kept between two tick labels, in pixels.
constexpr double tickLabelGap = 12;
// Room kept around the tracks when the graph fits them: a position's circle is 5 pixels across.
constexpr double fitMarginPixels = 8;
// Degrees shown across the smaller side of the graph around a single position.
constexpr double singlePositionSpan = 0.002;
// Room left around the online map's viewport inside its tab page, in pixels each way.
constexpr int onlineMapInset = 30;

QUrl &tileServer()
{
    static QUrl baseUrl(QString::fromLatin1(qmapcontrol::MapAdapterOSM::defaultBaseUrl));
    return baseUrl;
}

// Track colours of the beacons, handed out in this order.
const QColor beaconColours[] = {
    {255, 179, 0},  {128, 46, 117}, {255, 104, 0}, {166, 189, 215}, {193, 0, 32},
    {206, 162, 98}, {129, 112, 102}, {0, 125, 52}, {246, 118, 142}, {0, 83, 138},
    {255, 122, 92}, {83, 55, 122},  {255, 142, 0}, {179, 40, 81},   {244, 200, 0},
    {127, 24, 13},  {147, 170, 0},  {89, 51, 21},  {241, 58, 19},   {35, 44, 22},
};
constexpr int beaconColourCount = int(sizeof(beaconColours) / sizeof(beaconColours[0]));
// The receptor's beacon slots: it cannot follow more modules than this.
constexpr int maxBeacons = 20;

// Twelve hexadecimal digits in either case, nothing else.
bool isSerialText(const QString &text)
{
    static const QRegularExpression serial(
        QRegularExpression::anchoredPattern(QStringLiteral("[A-Fa-f0-9]{12}")));
    return serial.match(text).hasMatch();
}
} // namespace

KorvaneMainWindow::KorvaneMainWindow(QWidget *parent)
    : QMainWindow(parent),
      ui(new Ui::KorvaneMainWindow),
      currentReceptor(nullptr)
{
    ui->setupUi(this);
    // Nothing is painted before the constructor returns, so no tile was asked for yet.
    if (auto tiles = std::dynamic_pointer_cast<qmapcontrol::LayerMapAdapter>(
            ui->map_online->getLayer("Map")))
        tiles->getMapAdapter()->setBaseUrl(tileServer());
    setWindowTitle(QStringLiteral("Korvane - v1.9"));

    checkDataStorageDirectory();

    freqSpinBox = new FreqSpinBox;
    freqSpinBox->setMaximum(60);
    freqSpinBox->setMinimum(0.1);
    freqSpinBox->setValue(1);
    freqSpinBox->setToolTip(tr("Durée entre deux mesures (en secondes)"));
    ui->mainToolBar->addAction(ui->actionD_marrer);
    ui->mainToolBar->addWidget(freqSpinBox);
    ui->mainToolBar->addAction(ui->actionArr_ter);
    ui->mainToolBar->addSeparator();
    ui->mainToolBar->addAction(ui->actionAjouter);
    ui->mainToolBar->addAction(ui->actionRetirer);
    ui->mainToolBar->addSeparator();
    ui->mainToolBar->addAction(ui->actionRecadrer);
    ui->mainToolBar->addAction(ui->actionZoom_Avant);
    ui->mainToolBar->addAction(ui->actionZoom_Arri_re);
    ui->mainToolBar->addSeparator();
    ui->mainToolBar->addAction(ui->actionLoadMap);
    ui->mainToolBar->addSeparator();
    ui->mainToolBar->addAction(ui->actionEnregistrements);
    ui->mainToolBar->addSeparator();
    ui->mainToolBar->addAction(ui->actionHistorique);
    ui->mainToolBar->addAction(ui->actionEffacerHistorique);
    connect(ui->actionHistorique, &QAction::triggered, this, [this] { loadHistory(); });
    connect(ui->actionEffacerHistorique, &QAction::triggered, this, [this] { clearHistory(); });

    receptorStatusLabel = new QLabel;
    receptorStatusLabel->setObjectName(QStringLiteral("receptorStatusLabel"));
    receptorStatusLabel->setLineWidth(0);
    ui->statusBar->addPermanentWidget(receptorStatusLabel, 0);
    receptorIconLabel = new QLabel(QString());
    receptorIconLabel->setObjectName(QStringLiteral("receptorIconLabel"));
    ui->statusBar->addPermanentWidget(receptorIconLabel, 0);
    disableReceptor();
    setStyleSheet(QStringLiteral("QStatusBar::item { border: 0px solid black }; "));

    graphManager = new GraphManager(ui->graph);
    // Deleted with the window, after the plot it refers to.
    graphManager->setParent(this);

    receptorCom = new ReceptorCom;
    connect(this, SIGNAL(beaconsNeedRefresh(ReceptorDeviceDesc)), receptorCom,
            SLOT(scanBeacons(ReceptorDeviceDesc)));
    connect(this, SIGNAL(beaconsInitialScan(ReceptorDeviceDesc)), receptorCom,
            SLOT(scanBeaconsInit(ReceptorDeviceDesc)));
    connect(receptorCom, SIGNAL(beaconInfo(BeaconInfo)), this, SLOT(beaconUpdate(BeaconInfo)));
    connect(this, SIGNAL(beaconAddRequested(ReceptorDeviceDesc, QString)), receptorCom,
            SLOT(addBeacon(ReceptorDeviceDesc, QString)));
    connect(this, SIGNAL(beaconDelRequested(ReceptorDeviceDesc, QString)), receptorCom,
            SLOT(delBeacon(ReceptorDeviceDesc, QString)));
    connect(this, SIGNAL(beaconStartRequested(ReceptorDeviceDesc,QString,int)), receptorCom,
            SLOT(startBeacon(ReceptorDeviceDesc,QString,int)));
    connect(this, SIGNAL(beaconStopRequested(ReceptorDeviceDesc,QString)), receptorCom,
            SLOT(stopBeacon(ReceptorDeviceDesc,QString)));

    detector = new ReceptorDetector;
    connect(detector, SIGNAL(receptorConnected(ReceptorDeviceDesc)), this,
            SLOT(enableReceptor(ReceptorDeviceDesc)));
    connect(detector, SIGNAL(receptorDisconnected()), this, SLOT(disableReceptor()));

    refreshTimer = new QTimer(this);
    refreshTimer->setObjectName(QStringLiteral("refreshTimer"));
    connect(refreshTimer, SIGNAL(timeout()), detector, SLOT(refresh()));
    connect(refreshTimer, SIGNAL(timeout()), this, SLOT(refreshBeacons()));
    // The detector's previous poll may have met a receptor this user may not open.
    connect(refreshTimer, &QTimer::timeout, this, [this] { showUsbAccessNotices(); });
    refreshTimer->start(refreshIntervalMs);

    // Each signal reaches its receivers in the order they are connected: the graph, the GeoTIFF
    // map, then the online map, connected further down.
    connect(this, SIGNAL(newPosition(QString, QDateTime, GpsCoords, QPen)), graphManager,
            SLOT(beaconMoved(QString, QDateTime, GpsCoords, QPen)));
    connect(this, SIGNAL(beaconDelete(QString)), graphManager, SLOT(beaconDeleted(QString)));
    connect(this, SIGNAL(newPosition(QString, QDateTime, GpsCoords, QPen)), ui->map,
            SLOT(Slot_BeaconMoved(QString,QDateTime,GpsCoords, QPen)));
    connect(this, SIGNAL(beaconDelete(QString)), ui->map, SLOT(Slot_BeaconDelete(QString)));
    // After the window's own slots for the same actions, bound by name in the form set-up.
    connect(ui->actionZoom_Avant, SIGNAL(triggered()), ui->map, SLOT(ZoomUp()));
    connect(ui->actionZoom_Arri_re, SIGNAL(triggered()), ui->map, SLOT(ZoomDown()));
    connect(ui->actionRecadrer, SIGNAL(triggered()), ui->map, SLOT(ZoomFit()));
    connect(ui->map, SIGNAL(XChanged(int,int)), this, SLOT(MapXChanged(int,int)));
    connect(ui->map, SIGNAL(YChanged(int,int)), this, SLOT(MapYChanged(int,int)));
    connect(ui->mapHScroll, SIGNAL(valueChanged(int)), ui->map, SLOT(SetXPosition(int)));
    connect(ui->mapVScroll, SIGNAL(valueChanged(int)), ui->map, SLOT(SetYPosition(int)));
    connect(this, SIGNAL(resizePlot()), ui->graph, SLOT(rescaleAxes()));
    connect(this, SIGNAL(resizePlot()), ui->graph, SLOT(replot()));
    connect(this, SIGNAL(resizePlot()), ui->map_online, SLOT(centerMap()));

    // Hidden keys, valid in every window of the application.
    QShortcut *bootloaderKey = new QShortcut(QKeySequence(Qt::Key_F12), this);
    bootloaderKey->setContext(Qt::ApplicationShortcut);
    connect(bootloaderKey, SIGNAL(activated()), this, SLOT(startbootLoader()));
    connect(this, SIGNAL(bootloaderMode(ReceptorDeviceDesc)), receptorCom,
            SLOT(bootloaderMode(ReceptorDeviceDesc)));
    fakeReceptorOn = false;
    QShortcut *fakeReceptorKey = new QShortcut(QKeySequence(Qt::Key_F11), this);
    fakeReceptorKey->setContext(Qt::ApplicationShortcut);
    connect(fakeReceptorKey, SIGNAL(activated()), this, SLOT(fakereceptor()));
    connect(this, SIGNAL(RemoveFakeReceptor()), detector, SLOT(RemoveFakeReceptor()));
    connect(this, SIGNAL(AddFakeReceptor()), detector, SLOT(AddFakeReceptor()));

    // The x axis picks about ten ticks; adjustTicks hands its step to the y axis.
    xTicker.reset(new AxisStepTicker);
    xTicker->setTickCount(graphTickCount);
    ui->graph->xAxis->setTicker(xTicker);
    yTicker.reset(new QCPAxisTickerFixed);
    yTicker->setScaleStrategy(QCPAxisTickerFixed::ssNone);
    yTicker->setTickStep(xTicker->tickStepFor(ui->graph->xAxis->range()));
    ui->graph->yAxis->setTicker(yTicker);
    connect(ui->graph->xAxis, SIGNAL(rangeChanged (const QCPRange&)), this, SLOT(adjustTicks()));
    connect(ui->graph->yAxis, SIGNAL(rangeChanged (const QCPRange&)), this, SLOT(adjustTicks()));
    connect(ui->graph, SIGNAL(Resized(QSize)), this, SLOT(adjustTicks()));
    connect(ui->tabs, SIGNAL(currentChanged(int)), this, SLOT(ResizeOnlineMap()));
    connect(this, SIGNAL(newPosition(QString, QDateTime, GpsCoords, QPen)), ui->map_online,
            SLOT(beaconMoved(QString,QDateTime,GpsCoords, QPen)));
    connect(this, SIGNAL(beaconDelete(QString)), ui->map_online, SLOT(beaconDeleted(QString)));

    ui->tabs->setCurrentIndex(0);
    const int columnWidths[] = {80, 70, 90, 110, 10};
    for (int column = 0; column < 5; ++column)
        ui->listWidget->setColumnWidth(column, columnWidths[column]);
    // Every entry is one line of text: a report changing a text needs no row measured again.
    ui->listWidget->setUniformRowHeights(true);
    ui->listWidget->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ui->listWidget, &QWidget::customContextMenuRequested, this,
            [this](const QPoint &position) { showEntryMenu(position); });

    for (const QColor &colour : beaconColours)
        penPool.append(QPen(colour));

    // Rows of a records file that stays blocked are kept in a recovery file: the user is told once
    // where it is, and of any row that could be kept nowhere.
    RecordsRecovery &recovery = RecordsRecovery::instance();
    connect(&recovery, &RecordsRecovery::recoveryStarted, this, [this](const QString &path) {
        ui->statusBar->showMessage(
            tr("Des enregistrements n'ont pas pu être écrits dans leur fichier ; ils sont gardés "
               "dans %1")
                .arg(QDir::toNativeSeparators(path)));
    });
    connect(&recovery, &RecordsRecovery::rowsLost, this, [this](const QString &records, int rows) {
        ui->statusBar->showMessage(
            tr("%1 enregistrement(s) de %2 n'ont pu être écrits nulle part : ils sont perdus")
                .arg(rows)
                .arg(QDir::toNativeSeparators(records)));
    });
}

KorvaneMainWindow::~KorvaneMainWindow()
{
    // The list entries, deleted with the widgets, save their held rows with no window to tell.
    RecordsRecovery::instance().disconnect(this);
    refreshTimer->stop();
    // Each waits for its thread to leave its event loop.
    delete receptorCom;
    delete detector;
    delete refreshTimer;
    delete currentReceptor;
    delete ui;
}

void KorvaneMainWindow::setOnlineTileServer(const QUrl &baseUrl)
{
    tileServer() = baseUrl;
}

QUrl KorvaneMainWindow::onlineTileServer()
{
    return tileServer();
}

void KorvaneMainWindow::showUsbAccessNotices()
{
    const QString message = takeUsbAccessMessage();
    if (!message.isEmpty())
        ui->statusBar->showMessage(message);
}

void KorvaneMainWindow::checkDataStorageDirectory()
{
    const QString path = dataStorageDirectory();
    if (QDir(path).exists()) {
        qCDebug(lcStationWindow, "Data storage directory already exists");
        return;
    }
    qCDebug(lcStationWindow, "Data storage directory does not exist, creating it");
    // With its parents: a fresh account may have no Documents folder yet.
    if (!QDir().mkpath(path))
        qCDebug(lcStationWindow, "Failed to create data storage directory (%s)",
                path.toLocal8Bit().constData());
}

QList<BeaconListWidgetItem *> KorvaneMainWindow::selectedEntries() const
{
    QList<BeaconListWidgetItem *> entries;
    const QList<QTreeWidgetItem *> selected = ui->listWidget->selectedItems();
    for (QTreeWidgetItem *item : selected)
        entries.append(static_cast<BeaconListWidgetItem *>(item));
    return entries;
}

QPen KorvaneMainWindow::takePen()
{
    if (!penPool.isEmpty())
        return penPool.takeFirst();
    // More entries than colours: every entry still gets one, the table going round again.
    return QPen(beaconColours[extraPens++ % beaconColourCount]);
}

void KorvaneMainWindow::emitPosition(const BeaconListWidgetItem *entry)
{
    const GpsCoords coords(entry->latitude(), entry->latHemisphere(), entry->longitude(),
                           entry->lonHemisphere());
    emit newPosition(entry->serial(), entry->timestamp(), coords, entry->pen());
}

void KorvaneMainWindow::enableReceptor(ReceptorDeviceDesc devDesc)
{
    qCDebug(lcStationWindow, "enableReceptor");
    receptorStatusLabel->setText(tr("Recepteur connecté"));
    receptorIconLabel->setPixmap(QPixmap(QStringLiteral(":/status/connected.ico")));

    delete currentReceptor;
    currentReceptor = new ReceptorDeviceDesc(devDesc);

    // The identifier is 24 bytes; only its first 12 characters are shown.
    char id[25] = {};
    const int received = currentReceptor->isNull() ? -1 : (*currentReceptor)->readReceptorId(id);
    if (received > 0) {
        qCDebug(lcStationWindow, "Receptor id : %.12s\n", id);
        receptorIconLabel->setToolTip(
            tr("ID du récepteur: %1").arg(QString::fromLatin1(id, int(qstrnlen(id, 12)))));
    } else {
        qCDebug(lcStationWindow, "Failed to get receptor id\n");
        receptorIconLabel->setToolTip(QString());
    }

    emit beaconsInitialScan(*currentReceptor);
}

void KorvaneMainWindow::disableReceptor()
{
    qCDebug(lcStationWindow, "disableReceptor");
    receptorStatusLabel->setText(tr("Recepteur non connecté"));
    receptorIconLabel->setPixmap(QPixmap(QStringLiteral(":/status/disconnected.ico")));

    if (currentReceptor)
        dropReportsOfLostReceptor();
    delete currentReceptor;
    currentReceptor = nullptr;
    receptorIconLabel->setToolTip(QString());

    while (ui->listWidget->topLevelItemCount() > 0) {
        auto *entry = static_cast<BeaconListWidgetItem *>(ui->listWidget->takeTopLevelItem(0));
        emit beaconDelete(entry->serial());
        penPool.append(entry->pen());
        delete entry;
    }
}

void KorvaneMainWindow::dropReportsOfLostReceptor()
{
    ++lostReceptorMarkers;
    // Runs on the worker thread after the scans queued so far; its answer comes back through this
    // thread's queue behind every report those scans sent.
    QMetaObject::invokeMethod(
        receptorCom,
        [this] {
            QMetaObject::invokeMethod(this, [this] { --lostReceptorMarkers; }, Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
}

void KorvaneMainWindow::refreshBeacons()
{
    if (currentReceptor)
        emit beaconsNeedRefresh(*currentReceptor);
}

void KorvaneMainWindow::beaconUpdate(BeaconInfo info)
{
    // A scan that was under way when its receptor went still delivers what it read: listed now,
    // such a beacon could never be removed.
    if (!currentReceptor || lostReceptorMarkers > 0)
        return;
    for (int row = 0; row < ui->listWidget->topLevelItemCount(); ++row) {
        auto *entry = static_cast<BeaconListWidgetItem *>(ui->listWidget->topLevelItem(row));
        if (!entry->matchesSerial(info.serial))
            continue;
        entry->update(info);
        if (!info.name.isEmpty())
            emitPosition(entry);
        return;
    }

    auto *entry = new BeaconListWidgetItem(info.serial);
    entry->setPen(takePen());
    entry->update(info);
    // Shown offline until the beacon's next report.
    entry->setOffline();
    if (!info.name.isEmpty())
        emitPosition(entry);
    ui->listWidget->addTopLevelItem(entry);
    historyFollowsEntry(entry);
}

BeaconListWidgetItem *KorvaneMainWindow::entryOf(const QString &serial) const
{
    for (int row = 0; row < ui->listWidget->topLevelItemCount(); ++row) {
        auto *entry = static_cast<BeaconListWidgetItem *>(ui->listWidget->topLevelItem(row));
        if (entry->serial().compare(serial, Qt::CaseInsensitive) == 0)
            return entry;
    }
    return nullptr;
}

void KorvaneMainWindow::on_actionAjouter_triggered()
{
    if (!currentReceptor)
        return;
    // A module more than the receptor has slots for would never be reported.
    if (ui->listWidget->topLevelItemCount() >= maxBeacons) {
        dialogHooks.errorBox(this, tr("Erreur"),
                             tr("La liste compte déjà %1 modules : c'est le plus que le récepteur "
                                "puisse suivre.\nRetirez un module avant d'en ajouter un autre.")
                                 .arg(maxBeacons));
        return;
    }

    bool accepted = false;
    const QString serial = dialogHooks.textPrompt(this, tr("Ajouter un module"),
                                                  tr("Numéro de série"), QString(), &accepted);
    if (!accepted || !isSerialText(serial)) {
        dialogHooks.errorBox(this, tr("Erreur"),
                             tr("Ceci n'est pas un numéro de série valide.\n"
                                "Un numéro de série valide comporte 12 caractères héxadécimaux."));
        return;
    }
    // Twice the same module would follow two tracks under one entry.
    if (const BeaconListWidgetItem *listed = entryOf(serial)) {
        dialogHooks.errorBox(this, tr("Erreur"),
                             tr("Le module %1 est déjà dans la liste.").arg(listed->serial()));
        return;
    }
    // The receptor may have gone while the dialog was open.
    if (currentReceptor)
        emit beaconAddRequested(*currentReceptor, serial);
}

void KorvaneMainWindow::on_actionRetirer_triggered()
{
    const QList<BeaconListWidgetItem *> entries = selectedEntries();
    if (!currentReceptor || entries.isEmpty())
        return;
    for (BeaconListWidgetItem *entry : entries) {
        emit beaconDelRequested(*currentReceptor, entry->serial());
        emit beaconDelete(entry->serial());
        penPool.append(entry->pen());
        delete entry;
    }
}

void KorvaneMainWindow::on_actionD_marrer_triggered()
{
    const QList<BeaconListWidgetItem *> entries = selectedEntries();
    if (!currentReceptor || entries.isEmpty())
        return;
    for (BeaconListWidgetItem *entry : entries) {
        // The beacon counts in tenths of a second.
        const int interval = int(freqSpinBox->value() * 10);
        emit beaconStartRequested(*currentReceptor, entry->serial(), interval);
    }
}

void KorvaneMainWindow::on_actionArr_ter_triggered()
{
    const QList<BeaconListWidgetItem *> entries = selectedEntries();
    if (!currentReceptor || entries.isEmpty())
        return;
    for (BeaconListWidgetItem *entry : entries)
        emit beaconStopRequested(*currentReceptor, entry->serial());
}

void KorvaneMainWindow::on_actionEnregistrements_triggered()
{
    QDesktopServices::openUrl(QUrl::fromLocalFile(dataStorageDirectory()));
}

void KorvaneMainWindow::startbootLoader()
{
    if (currentReceptor)
        emit bootloaderMode(*currentReceptor);
}

void KorvaneMainWindow::fakereceptor()
{
    if (!fakeReceptorOn)
        emit AddFakeReceptor();
    else
        emit RemoveFakeReceptor();
    fakeReceptorOn = !fakeReceptorOn;
}

void KorvaneMainWindow::on_listWidget_itemSelectionChanged()
{
    const QList<BeaconListWidgetItem *> entries = selectedEntries();
    if (!currentReceptor || entries.size() != 1)
        return;
    const BeaconListWidgetItem *entry = entries.first();

    QAbstractItemModel *records = entry->recordsModel();
    if (ui->tableView->model() != records) {
        // The view makes a new selection model for each model and keeps the old ones.
        QItemSelectionModel *previous = ui->tableView->selectionModel();
        ui->tableView->setModel(records);
        delete previous;
    }
    ui->tableView->scrollToBottom();

    ui->label->setText(tr("Nom : %1\nNuméro de série : %2\nUtilisation mémoire : %3%")
                           .arg(entry->name(), entry->serial(), QString::number(entry->memory())));
}

void KorvaneMainWindow::on_actionRecadrer_triggered()
{
    emit resizePlot();
    fitGraphToTracks();
}

void KorvaneMainWindow::on_actionZoom_Avant_triggered()
{
    zoomGraph(0.5);
}

void KorvaneMainWindow::on_actionZoom_Arri_re_triggered()
{
    zoomGraph(2.0);
}

void KorvaneMainWindow::on_actionLoadMap_triggered()
{
    const QString path = dialogHooks.openFilePrompt(this, tr("Ouvrir une carte"), QString(),
                                                    tr("GeoTIFF (*.tif *.tiff)"));
    if (path.isEmpty())
        return;
    const QString shown = QDir::toNativeSeparators(path);
    // A file that does not load leaves the map shown before, with its tracks.
    if (!ui->map->LoadMap(path)) {
        dialogHooks.errorBox(this, tr("Erreur"),
                             tr("La carte %1 n'a pas pu être chargée.\n%2")
                                 .arg(shown, ui->map->loadErrorText()));
        return;
    }
    if (!ui->map->isGeoReferenced())
        dialogHooks.warningBox(this, tr("Attention"),
                               tr("La carte %1 n'est pas géoréférencée : les positions des modules "
                                  "ne peuvent pas y être placées.")
                                   .arg(shown));
}

void KorvaneMainWindow::MapXChanged(int pos, int max)
{
    // The map moved itself: the bar follows without moving the map again.
    const bool wasBlocked = ui->mapHScroll->blockSignals(true);
    ui->mapHScroll->setRange(0, max);
    ui->mapHScroll->setValue(pos);
    ui->mapHScroll->blockSignals(wasBlocked);
}

void KorvaneMainWindow::MapYChanged(int pos, int max)
{
    const bool wasBlocked = ui->mapVScroll->blockSignals(true);
    ui->mapVScroll->setRange(0, max);
    ui->mapVScroll->setValue(pos);
    ui->mapVScroll->blockSignals(wasBlocked);
}

void KorvaneMainWindow::adjustTicks()
{
    if (adjustingTicks)
        return;
    const QScopedValueRollback<bool> adjusting(adjustingTicks, true);
    XCustomPlot *plot = ui->graph;
    const double step = readableTickStep();
    // A range too small or too large for a step keeps the last good one.
    if (std::isfinite(step) && step > 0)
        yTicker->setTickStep(step);
    // The tick labels take their room out of the axis rectangle, so new labels can change its
    // size, and with it the units per pixel: match the scales again until the layout holds.
    for (int pass = 0; pass < 3; ++pass) {
        const QSize before = plot->axisRect()->size();
        matchGraphScale();
        plot->replot();
        if (plot->axisRect()->size() == before)
            break;
    }
}

void KorvaneMainWindow::ResizeOnlineMap()
{
    const QRect area = ui->tabs->widget(2)->contentsRect();
    ui->map_online->setViewportSize(QSizeF(qMax(0, area.width() - onlineMapInset),
                                           qMax(0, area.height() - onlineMapInset)));
}

void KorvaneMainWindow::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    ResizeOnlineMap();
}

void KorvaneMainWindow::zoomGraph(double factor)
{
    QCPAxis *x = ui->graph->xAxis;
    const double size = x->range().size();
    const double centre = (x->range().lower + x->range().upper) * 0.5;
    // Runs adjustTicks.
    x->setRange(centre - 0.5 * factor * size, centre + 0.5 * factor * size);
    matchGraphScale();
    ui->graph->replot();
    if (factor < 1.0)
        ui->map_online->zoomIn();
    else
        ui->map_online->zoomOut();
}

void KorvaneMainWindow::matchGraphScale()
{
    const QRect area = ui->graph->axisRect()->rect();
    if (area.width() > 0 && area.height() > 0)
        ui->graph->yAxis->setScaleRatio(ui->graph->xAxis, 1.0);
}

void KorvaneMainWindow::fitGraphToTracks()
{
    XCustomPlot *plot = ui->graph;
    bool found = false;
    QCPRange longitudes;
    QCPRange latitudes;
    for (int i = 0; i < plot->plottableCount(); ++i) {
        bool hasKeys = false;
        bool hasValues = false;
        const QCPRange keys = plot->plottable(i)->getKeyRange(hasKeys);
        const QCPRange values = plot->plottable(i)->getValueRange(hasValues);
        if (!hasKeys || !hasValues)
            continue;
        if (found) {
            longitudes.expand(keys);
            latitudes.expand(values);
        } else {
            longitudes = keys;
            latitudes = values;
        }
        found = true;
    }
    if (!found)
        return;
    // The labels of the new ticks can change the plot area's size: fit again until it holds.
    for (int pass = 0; pass < 3; ++pass) {
        const QRect area = plot->axisRect()->rect();
        const double usableWidth = area.width() - 2 * fitMarginPixels;
        const double usableHeight = area.height() - 2 * fitMarginPixels;
        if (usableWidth <= 0 || usableHeight <= 0)
            return;
        // The same degrees per pixel both ways, enough for the direction that limits.
        double perPixel = qMax(longitudes.size() / usableWidth, latitudes.size() / usableHeight);
        if (!(perPixel > 0))
            perPixel = singlePositionSpan / qMin(usableWidth, usableHeight);
        const double halfWidth = perPixel * area.width() / 2;
        const double halfHeight = perPixel * area.height() / 2;
        // Each runs adjustTicks, which keeps the scales equal around these centres.
        plot->xAxis->setRange(longitudes.center() - halfWidth, longitudes.center() + halfWidth);
        plot->yAxis->setRange(latitudes.center() - halfHeight, latitudes.center() + halfHeight);
        plot->replot();
        if (plot->axisRect()->rect() == area)
            break;
    }
}

namespace
{
// The fewest decimals that write every multiple of `step` exactly (at most 12).
int decimalsFor(double step)
{
    double scaled = step;
    for (int decimals = 0; decimals < 12; ++decimals, scaled *= 10) {
        if (qAbs(scaled - std::round(scaled)) <= 1e-6 * scaled)
            return decimals;
    }
    return 12;
}
} // namespace

double KorvaneMainWindow::readableTickStep()
{
    QCPAxis *x = ui->graph->xAxis;
    const QCPRange range = x->range();
    const double width = ui->graph->axisRect()->width();
    const QFontMetricsF metrics(x->tickLabelFont());
    double step = 0;
    for (int count = graphTickCount; count >= 1; --count) {
        xTicker->setTickCount(count);
        step = xTicker->tickStepFor(range);
        if (!std::isfinite(step) || step <= 0)
            return step;
        const int decimals = decimalsFor(step);
        // Labels written with the decimals the step needs, so that two ticks never read the same.
        for (QCPAxis *axis : {x, ui->graph->yAxis}) {
            axis->setNumberFormat(QStringLiteral("f"));
            axis->setNumberPrecision(decimals);
        }
        const double widest =
            qMax(metrics.horizontalAdvance(QString::number(range.lower, 'f', decimals)),
                 metrics.horizontalAdvance(QString::number(range.upper, 'f', decimals)));
        if (width <= 0 || range.size() / step * (widest + tickLabelGap) <= width)
            break;
    }
    return step;
}

QString KorvaneMainWindow::historyTrackName(const QString &beacon)
{
    return tr("%1 (historique)").arg(beacon);
}

void KorvaneMainWindow::loadHistory()
{
    const QString folder = dataStorageDirectory();
    // The files the station wrote today: after a reconnection or a restart, today's tracks.
    const QStringList today = RecordsHistory::filesWrittenOn(folder, QDate::currentDate());
    const QStringList paths = dialogHooks.openFilesPrompt(
        this, tr("Historique : fichiers d'enregistrements"), folder, today,
        tr("Fichiers d'enregistrements (*.csv);;Tous les fichiers (*)"));
    if (paths.isEmpty())
        return;

    clearHistory();
    const RecordsHistory::Result result = RecordsHistory::read(paths);
    int positions = 0;
    int unlisted = 0;
    for (const RecordsHistory::Track &read : result.tracks)
        unlisted += entryOf(read.beacon) ? 0 : 1;
    int ownPens = 0;
    for (const RecordsHistory::Track &read : result.tracks) {
        HistoryTrack track;
        track.beacon = read.beacon;
        track.positions.reserve(int(read.rows.size()));
        for (const RecordsFileParser::Row &row : read.rows) {
            track.positions.append(QPointF(row.longitude, row.latitude));
            // Reports without a fix are kept (a gap on the GeoTIFF map), but are no position.
            positions += std::isnan(row.latitude) || std::isnan(row.longitude) ? 0 : 1;
        }
        const BeaconListWidgetItem *entry = entryOf(track.beacon);
        track.pen = entry ? entry->pen() : historyPen(ownPens++, unlisted);
        showHistoryTrack(track);
        historyTracks.push_back(std::move(track));
    }
    ui->actionEffacerHistorique->setEnabled(!historyTracks.empty());
    qCDebug(lcStationWindow, "History: %d files, %d tracks, %d positions\n", int(paths.size()),
            int(historyTracks.size()), positions);
    ui->statusBar->showMessage(tr("Historique : %1 trace(s), %2 position(s)")
                                   .arg(historyTracks.size())
                                   .arg(positions));
    // The tracks brought back are shown whole.
    if (!historyTracks.empty())
        ui->actionRecadrer->trigger();

    bool fatal = false;
    const QStringList problems = readingProblems(result, &fatal);
    if (problems.isEmpty())
        return;
    const QString text = problems.join(QLatin1Char('\n'));
    if (fatal)
        dialogHooks.errorBox(this, tr("Erreur"), text);
    else
        dialogHooks.warningBox(this, tr("Attention"), text);
}

QStringList KorvaneMainWindow::readingProblems(const RecordsHistory::Result &result,
                                               bool *fatal) const
{
    QStringList lines;
    *fatal = false;
    for (const RecordsHistory::FileReport &file : result.files) {
        const QString name = QDir::toNativeSeparators(file.path);
        switch (file.outcome) {
        case RecordsHistory::Outcome::Unreadable:
            lines << tr("Le fichier %1 ne peut pas être lu : %2.").arg(name, file.reason);
            *fatal = true;
            break;
        case RecordsHistory::Outcome::Empty:
            lines << tr("Le fichier %1 est vide.").arg(name);
            *fatal = true;
            break;
        case RecordsHistory::Outcome::NotRecords:
            lines << tr("Le fichier %1 n'est pas un fichier d'enregistrements de Korvane : sa "
                        "ligne 1 n'en est pas l'en-tête.")
                         .arg(name);
            *fatal = true;
            break;
        case RecordsHistory::Outcome::NoReadableRow:
            lines << tr("Le fichier %1 ne contient aucun enregistrement lisible (ligne %2 : "
                        "format inconnu).")
                         .arg(name, QString::number(file.firstSkippedLine));
            *fatal = true;
            break;
        case RecordsHistory::Outcome::NoRow:
            lines << tr("Le fichier %1 ne contient aucun enregistrement.").arg(name);
            break;
        case RecordsHistory::Outcome::Read:
            if (file.skipped > 0)
                lines << tr("Fichier %1 : %2 ligne(s) illisible(s) ignorée(s), la première à la "
                            "ligne %3.")
                             .arg(name, QString::number(file.skipped),
                                  QString::number(file.firstSkippedLine));
            break;
        }
    }
    return lines;
}

void KorvaneMainWindow::clearHistory()
{
    QStringList beacons;
    for (const HistoryTrack &track : historyTracks)
        beacons << track.beacon;
    removeHistoryTracks(beacons);
    historyTracks.clear();
    ui->actionEffacerHistorique->setEnabled(false);
}

void KorvaneMainWindow::showHistoryTrack(const HistoryTrack &track)
{
    // Straight to the displays, in the order positions go: each takes the whole track at once.
    const QString name = historyTrackName(track.beacon);
    graphManager->addTrack(name, track.positions, track.pen);
    ui->map->addTrack(name, track.positions, track.pen);
    ui->map_online->addTrack(name, track.positions, track.pen);
}

void KorvaneMainWindow::removeHistoryTracks(const QStringList &beacons)
{
    if (beacons.isEmpty())
        return;
    QStringList names;
    for (const QString &beacon : beacons)
        names << historyTrackName(beacon);
    for (const QString &name : qAsConst(names)) {
        graphManager->beaconDeleted(name);
        ui->map_online->beaconDeleted(name);
    }
    ui->map->removeTracks(names);
}

QPen KorvaneMainWindow::historyPen(int index, int count) const
{
    // The pool hands out from its front: its last pens are those a new beacon gets last, and
    // the pens of beacons gone most recently.
    if (!penPool.isEmpty()) {
        const int size = penPool.size();
        return penPool.at((size - count % size + index) % size);
    }
    return QPen(beaconColours[index % beaconColourCount]);
}

void KorvaneMainWindow::historyFollowsEntry(const BeaconListWidgetItem *entry)
{
    for (HistoryTrack &track : historyTracks) {
        if (track.beacon.compare(entry->serial(), Qt::CaseInsensitive) != 0
            || track.pen == entry->pen())
            continue;
        removeHistoryTracks({track.beacon});
        track.pen = entry->pen();
        showHistoryTrack(track);
    }
}

void KorvaneMainWindow::showEntryMenu(const QPoint &position)
{
    auto *entry = static_cast<BeaconListWidgetItem *>(ui->listWidget->itemAt(position));
    if (!entry)
        return;
    auto *menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("entryMenu"));
    menu->setAttribute(Qt::WA_DeleteOnClose);
    // The entry may go (receptor lost) while the menu is open: its serial and name are kept.
    const QString serial = entry->serial();
    const QString name = entry->name();
    QAction *gpx = menu->addAction(tr("Exporter en GPX…"));
    gpx->setObjectName(QStringLiteral("actionExportGpx"));
    connect(gpx, &QAction::triggered, this, [this, serial, name] { exportGpx(serial, name); });
    menu->popup(ui->listWidget->viewport()->mapToGlobal(position));
}

void KorvaneMainWindow::exportGpx(const QString &serial, const QString &name)
{
    const QString folder = dataStorageDirectory();
    QStringList paths;
    for (const QString &file : RecordsHistory::filesOf(folder, serial))
        paths << folder + QLatin1Char('/') + file;
    const RecordsHistory::Result result = RecordsHistory::read(paths);
    if (result.tracks.empty()) {
        dialogHooks.errorBox(this, tr("Erreur"),
                             tr("Aucun enregistrement du module %1 dans %2.")
                                 .arg(serial, QDir::toNativeSeparators(folder)));
        return;
    }

    const QString base = name.isEmpty() ? serial : serial + QLatin1Char('_') + name;
    QString path = dialogHooks.saveFilePrompt(
        this, tr("Exporter en GPX"), folder + QLatin1Char('/') + base + QStringLiteral(".gpx"),
        tr("GPX (*.gpx)"));
    if (path.isEmpty())
        return;
    if (QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".gpx");
    // The records themselves are never written over.
    for (const QString &records : qAsConst(paths)) {
        if (QFileInfo(records).canonicalFilePath() == QFileInfo(path).canonicalFilePath()) {
            dialogHooks.errorBox(
                this, tr("Erreur"),
                tr("Le fichier %1 est un fichier d'enregistrements : il n'est pas remplacé.")
                    .arg(QDir::toNativeSeparators(path)));
            return;
        }
    }

    QString reason;
    if (!RecordsGpx::write(path, base, result.tracks.front().rows, &reason)) {
        dialogHooks.errorBox(this, tr("Erreur"),
                             tr("Le fichier %1 n'a pas pu être écrit : %2.")
                                 .arg(QDir::toNativeSeparators(path), reason));
        return;
    }
    ui->statusBar->showMessage(
        tr("Enregistrements de %1 exportés dans %2").arg(serial, QDir::toNativeSeparators(path)));
    // What was left out of the file.
    bool fatal = false;
    const QStringList problems = readingProblems(result, &fatal);
    if (!problems.isEmpty())
        dialogHooks.warningBox(this, tr("Attention"), problems.join(QLatin1Char('\n')));
}
