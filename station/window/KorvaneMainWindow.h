// The station's main window: the beacon list, the selected beacon's records, the displays' tabs,
// the toolbar commands and the wiring between the receptor detector, the receptor worker and the
// window. All of it lives on the window thread; the detector and the worker run on threads of
// their own and are reached only through queued signals.
#pragma once

#include "BeaconInfo.h"
#include "GpsCoords.h"
#include "ReceptorDeviceDesc.h"

#include <QDateTime>
#include <QList>
#include <QMainWindow>
#include <QPen>
#include <QString>

#include <functional>

class BeaconListWidgetItem;
class FreqSpinBox;
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
    // Asks the user for a text; returns it and sets *ok to whether the dialog was accepted.
    using TextPrompt = std::function<QString(QWidget *parent, const QString &title,
                                             const QString &label, bool *ok)>;
    // Shows an error to the user and returns once it has been acknowledged.
    using ErrorBox =
        std::function<void(QWidget *parent, const QString &title, const QString &text)>;

    explicit KorvaneMainWindow(QWidget *parent = nullptr);
    ~KorvaneMainWindow() override;

    // The dialogs of the add command; by default QInputDialog::getText and QMessageBox::critical.
    void setTextPrompt(TextPrompt prompt);
    void setErrorBox(ErrorBox box);

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

private:
    void checkDataStorageDirectory();
    QList<BeaconListWidgetItem *> selectedEntries() const;
    // Hands the entry's position to the displays.
    void emitPosition(const BeaconListWidgetItem *entry);
    QPen takePen();

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
    TextPrompt textPrompt;
    ErrorBox errorBox;
};
