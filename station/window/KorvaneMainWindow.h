// The station's main window: the beacon list, the selected beacon's records, the displays' tabs,
// the toolbar commands and the wiring between the receptor detector, the receptor worker and the
// window. All of it lives on the window thread; the detector and the worker run on threads of
// their own and are reached only through queued signals.
#pragma once

#include "BeaconInfo.h"
#include "DialogHooks.h"
#include "GpsCoords.h"
#include "ReceptorDeviceDesc.h"
#include "RecordsHistory.h"

#include <QDateTime>
#include <QList>
#include <QMainWindow>
#include <QPen>
#include <QPointF>
#include <QSharedPointer>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVector>

#include <vector>

class AxisStepTicker;
class BeaconListWidgetItem;
class FreqSpinBox;
class GraphManager;
class QCPAxisTickerFixed;
class QLabel;
class QTimer;
class ReceptorCom;
class ReceptorDetector;

namespace Ui
{
class KorvaneMainWindow;
}

class KorvaneMainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit KorvaneMainWindow(QWidget *parent = nullptr);
    ~KorvaneMainWindow() override;

    // The dialogs of the commands: the text prompt and error box of the add command, the open-file
    // prompt of the map loading command and its error and warning boxes, the files prompt of the
    // history command and the save prompt of the GPX export.
    DialogHooks &dialogs() { return dialogHooks; }

    // The legend of a beacon's history track on the three displays.
    static QString historyTrackName(const QString &beacon);

    // Tile server of the online map of the windows created from then on; OpenStreetMap's unless
    // changed. With an empty address the online map fetches no tile at all.
    static void setOnlineTileServer(const QUrl &baseUrl);
    static QUrl onlineTileServer();

    // The pens not held by a list entry, in the order they will be handed out.
    const QList<QPen> &freePens() const { return penPool; }

signals:
    void beaconsNeedRefresh(ReceptorDeviceDesc);
    void beaconsInitialScan(ReceptorDeviceDesc);
    void beaconAddRequested(ReceptorDeviceDesc, QString);
    void beaconDelRequested(ReceptorDeviceDesc, QString);
    void beaconDelete(QString);
    void newPosition(QString, QDateTime, GpsCoords, QPen);
    void beaconStartRequested(ReceptorDeviceDesc, QString, int freq);
    void beaconStopRequested(ReceptorDeviceDesc, QString);
    void resizePlot();
    void bootloaderMode(ReceptorDeviceDesc);
    void AddFakeReceptor();
    void RemoveFakeReceptor();

private slots:
    void enableReceptor(ReceptorDeviceDesc devDesc);
    void disableReceptor();
    void on_actionAjouter_triggered();
    void on_actionRetirer_triggered();
    void on_actionD_marrer_triggered();
    void on_actionArr_ter_triggered();
    void on_actionEnregistrements_triggered();
    void refreshBeacons();
    void beaconUpdate(BeaconInfo info);
    void startbootLoader();
    void fakereceptor();
    void on_listWidget_itemSelectionChanged();
    void on_actionRecadrer_triggered();
    void on_actionZoom_Avant_triggered();
    void on_actionZoom_Arri_re_triggered();
    void on_actionLoadMap_triggered();
    void MapXChanged(int pos, int max);
    void MapYChanged(int pos, int max);
    void adjustTicks();
    void ResizeOnlineMap();

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void checkDataStorageDirectory();
    // Names, in the status bar, a kit device this user may not open and the fix.
    void showUsbAccessNotices();
    QList<BeaconListWidgetItem *> selectedEntries() const;
    // Hands the entry's position to the displays.
    void emitPosition(const BeaconListWidgetItem *entry);
    QPen takePen();
    // The entry of a serial, compared without regard to case; null when it is not listed.
    BeaconListWidgetItem *entryOf(const QString &serial) const;
    // Reports of scans already queued for a receptor that is gone are dropped: the worker hands a
    // marker back once it has run everything queued before it.
    void dropReportsOfLostReceptor();
    // Sets the graph's x range to `factor` times its width around the same centre, with the y axis
    // at the same scale, and zooms the online map one level in or out.
    void zoomGraph(double factor);
    // Gives the y axis the x axis's units per pixel, keeping its centre; not before the plot has
    // been laid out, as there is no pixel size to match until then.
    void matchGraphScale();
    // Fits the graph to every track, markers whole, at equal scale on both axes.
    void fitGraphToTracks();

    // History: records files chosen by the user drawn again on the three displays, each beacon's
    // as a track of its own beside its live one. Loading replaces what a previous load showed.
    void loadHistory();
    void clearHistory();
    struct HistoryTrack
    {
        QString beacon;
        QVector<QPointF> positions; // longitude, latitude in decimal degrees; NaN without a fix
        QPen pen;
    };
    void showHistoryTrack(const HistoryTrack &track);
    void removeHistoryTracks(const QStringList &beacons);
    // The pen of the `index`-th of `count` history tracks whose beacons are not listed (a listed
    // beacon's history is drawn in its pen): one that no entry holds, from the end of the pool.
    QPen historyPen(int index, int count) const;
    // A beacon listed after its history was loaded: its history takes its pen, so that the live
    // track continues the picture.
    void historyFollowsEntry(const BeaconListWidgetItem *entry);
    // French lines on the files of a history load or export that could not be read whole; `fatal`
    // is set when one could not be read at all.
    QStringList readingProblems(const RecordsHistory::Result &result, bool *fatal) const;
    // The beacon list's context menu, for the entry under `position`.
    void showEntryMenu(const QPoint &position);
    // Every records file of the beacon in the data folder as one GPX track, where the user says.
    void exportGpx(const QString &serial, const QString &name);
    // The tick step of the x axis for its range: as close to ten ticks as the labels allow without
    // running into each other. Gives both axes as many decimals as the step needs.
    double readableTickStep();

    Ui::KorvaneMainWindow *ui;
    FreqSpinBox *freqSpinBox;
    QLabel *receptorStatusLabel;
    QLabel *receptorIconLabel;
    ReceptorDetector *detector;
    QTimer *refreshTimer;
    ReceptorCom *receptorCom;
    ReceptorDeviceDesc *currentReceptor;
    bool fakeReceptorOn;
    QList<QPen> penPool;
    // Pens made once the pool ran dry; they cycle through the beacon colours again.
    int extraPens = 0;
    DialogHooks dialogHooks;
    std::vector<HistoryTrack> historyTracks;
    GraphManager *graphManager;
    // The graph's two tickers: the x axis picks its step, the y axis is given the same one.
    QSharedPointer<AxisStepTicker> xTicker;
    QSharedPointer<QCPAxisTickerFixed> yTicker;
    // adjustTicks changes the y range, which calls it again.
    bool adjustingTicks = false;
    // Markers sent to the worker after a receptor was lost and not back yet: until they are, the
    // reports that arrive come from scans of the lost receptor.
    int lostReceptorMarkers = 0;
};
