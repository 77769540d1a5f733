// Quorvel's window: the list of plugged-in modules, the selected module's identity and memory use,
// and the rename, erase, download and bootloader commands. It owns the module detector and the
// worker, each on a thread of its own, and talks to them only through queued signals (except the
// memory read of a single selected module, which it makes itself, and the GPX writer it hands the
// worker before a download).
#pragma once

#include "DialogHooks.h"
#include "DownloadFailure.h"
#include "MemoryState.h"
#include "USBDeviceDesc.h"

#include <QList>
#include <QMainWindow>
#include <QString>

#include <memory>

class GpxWriter;
class QTimer;
class USBCommunicator;
class USBDetector;
class USBDeviceListWidgetItem;

namespace Ui
{
class QuorvelMainWindow;
}

class QuorvelMainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit QuorvelMainWindow(QWidget *parent = nullptr);
    ~QuorvelMainWindow() override;

    // The dialogs of the commands: the text prompt (rename), the error box, the question (erase)
    // and the directory prompt (download folder).
    DialogHooks &dialogs() { return dialogHooks; }

signals:
    void getDeviceInfo(USBDeviceDesc dev);
    void setName(USBDeviceDesc dev, QString name);
    void eraseData(USBDeviceDesc dev);
    void eraseData(QList<USBDeviceDesc> dList);
    void saveData(USBDeviceDesc dev, QString outDirectory);
    void saveData(QList<USBDeviceDesc> dList, QString outDirectory);
    void getMemoryState(USBDeviceDesc dev);
    void getMemoryState(QList<USBDeviceDesc> dList);
    void bootloaderMode(USBDeviceDesc);

private slots:
    void addDevice(USBDeviceDesc devDesc);
    void removeDevice(USBDeviceDesc devDesc);
    void on_listWidget_itemSelectionChanged();
    void on_pushButton_clicked();
    void on_pushButton_2_clicked();
    void on_pushButton_3_clicked();
    void on_pushButton_4_clicked();
    void deviceInfo(USBDeviceDesc dev);
    void eraseFinished(USBDeviceDesc dev);
    void eraseAllFinished(QList<USBDeviceDesc> dList);
    void saveFinished(USBDeviceDesc dev);
    void saveFailed(USBDeviceDesc dev);
    void saveAllFinished(QList<USBDeviceDesc> dList);
    void memoryState(USBDeviceDesc dev, MemoryState state);
    void saveProgress(USBDeviceDesc dev, int percent);
    void eraseProgress(USBDeviceDesc dev, int percent);
    void startbootLoader();

private:
    // Enables the list, the buttons and the progress bar for the current selection and request.
    void updateControls();
    // Names, in the status bar, a module this user may not open and the fix.
    void showUsbAccessNotices();
    QList<USBDeviceListWidgetItem *> selectedEntries() const;
    QList<USBDeviceDesc> selectedDescriptors() const;
    void showProgress(const USBDeviceDesc &dev, int percent);
    // The cause of a failed download and the track file it concerns, in the user's words.
    QString failureText(const DownloadFailure &failure) const;

    Ui::QuorvelMainWindow *ui;
    USBCommunicator *communicator;
    USBDetector *detector;
    QTimer *refreshTimer;
    int selectedCount = 0;
    bool busy = false;
    // Why the download that fails next failed (the worker says it just before saveFailed).
    DownloadFailure lastFailure;
    DialogHooks dialogHooks;
    // The GPX files of the download under way, when the "GPX" box was checked at its start. The
    // worker writes them on its thread; the window reads what became of them once it has ended.
    std::unique_ptr<GpxWriter> gpxWriter;
};
