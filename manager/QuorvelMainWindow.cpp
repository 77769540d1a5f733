// Main window of the module manager: start-up (form, worker, detector, poll timer, F12), the module
// list kept in step with the detector, the selected module's details, and the commands with their
// dialogs, progress display and end-of-request handling.
#include "QuorvelMainWindow.h"
#include "ui_QuorvelMainWindow.h"

#include "GpxWriter.h"
#include "USBCommunicator.h"
#include "USBDetector.h"
#include "USBDeviceListWidgetItem.h"
#include "UsbAccessNotice.h"
#include "LogCategories.h"

#include <QDir>
#include <QRegularExpression>
#include <QShortcut>
#include <QTimer>

#include <cmath>

namespace
{
constexpr int refreshIntervalMs = 2000;

// One to eight ASCII letters, digits or underscores: the module stores its name as 8 plain bytes.
bool isModuleName(const QString &text)
{
    static const QRegularExpression name(QRegularExpression::anchoredPattern(QStringLiteral("\\w{1,8}")));
    return name.match(text).hasMatch();
}
} // namespace

QuorvelMainWindow::QuorvelMainWindow(QWidget *parent)
    : QMainWindow(parent),
      ui(new Ui::QuorvelMainWindow)
{
    ui->setupUi(this);
    setWindowTitle(QStringLiteral("Korvane - v1.9"));

    communicator = new USBCommunicator;
    connect(this, SIGNAL(getDeviceInfo(USBDeviceDesc)), communicator,
            SLOT(getDeviceInfo(USBDeviceDesc)));
    connect(this, SIGNAL(setName(USBDeviceDesc, QString)), communicator,
            SLOT(setName(USBDeviceDesc, QString)));
    connect(this, SIGNAL(eraseData(QList<USBDeviceDesc>)), communicator,
            SLOT(eraseData(QList<USBDeviceDesc>)));
    connect(this, SIGNAL(saveData(QList<USBDeviceDesc>, QString)), communicator,
            SLOT(saveData(QList<USBDeviceDesc>, QString)));
    connect(this, SIGNAL(getMemoryState(QList<USBDeviceDesc>)), communicator,
            SLOT(getMemoryState(QList<USBDeviceDesc>)));
    connect(communicator, SIGNAL(deviceInfo(USBDeviceDesc)), this, SLOT(deviceInfo(USBDeviceDesc)));
    connect(communicator, SIGNAL(eraseFinished(USBDeviceDesc)), this,
            SLOT(eraseFinished(USBDeviceDesc)));
    connect(communicator, SIGNAL(eraseAllFinished(QList<USBDeviceDesc>)), this,
            SLOT(eraseAllFinished(QList<USBDeviceDesc>)));
    connect(communicator, SIGNAL(saveFinished(USBDeviceDesc)), this,
            SLOT(saveFinished(USBDeviceDesc)));
    // Queued like the others, so it arrives just before the saveFailed it explains.
    connect(communicator, &USBCommunicator::saveFailure, this,
            [this](const USBDeviceDesc &, const DownloadFailure &failure) { lastFailure = failure; });
    connect(communicator, SIGNAL(saveFailed(USBDeviceDesc)), this, SLOT(saveFailed(USBDeviceDesc)));
    connect(communicator, SIGNAL(saveAllFinished(QList<USBDeviceDesc>)), this,
            SLOT(saveAllFinished(QList<USBDeviceDesc>)));
    connect(communicator, SIGNAL(saveProgress(USBDeviceDesc, int)), this,
            SLOT(saveProgress(USBDeviceDesc, int)));
    connect(communicator, SIGNAL(eraseProgress(USBDeviceDesc, int)), this,
            SLOT(eraseProgress(USBDeviceDesc, int)));
    // Also delivered directly, on this thread, when the window reads a selected module itself.
    connect(communicator, SIGNAL(memoryState(USBDeviceDesc, MemoryState)), this,
            SLOT(memoryState(USBDeviceDesc, MemoryState)));

    detector = new USBDetector;
    connect(detector, SIGNAL(deviceAdded(USBDeviceDesc)), this, SLOT(addDevice(USBDeviceDesc)));
    connect(detector, SIGNAL(deviceRemoved(USBDeviceDesc)), this, SLOT(removeDevice(USBDeviceDesc)));

    refreshTimer = new QTimer(this);
    refreshTimer->setObjectName(QStringLiteral("refreshTimer"));
    connect(refreshTimer, SIGNAL(timeout()), detector, SLOT(updateDevices()));
    // The detector's previous pass may have met a module this user may not open.
    connect(refreshTimer, &QTimer::timeout, this, [this] { showUsbAccessNotices(); });
    refreshTimer->start(refreshIntervalMs);

    // Hidden key, valid in every window of the application.
    QShortcut *bootloaderKey = new QShortcut(QKeySequence(Qt::Key_F12), this);
    bootloaderKey->setObjectName(QStringLiteral("bootloaderKey"));
    bootloaderKey->setContext(Qt::ApplicationShortcut);
    connect(bootloaderKey, SIGNAL(activated()), this, SLOT(startbootLoader()));

    connect(this, SIGNAL(bootloaderMode(USBDeviceDesc)), communicator,
            SLOT(bootloaderMode(USBDeviceDesc)));
}

QuorvelMainWindow::~QuorvelMainWindow()
{
    refreshTimer->stop();
    delete ui;
    // Each waits for its thread to leave its event loop (after the request in progress).
    delete detector;
    delete refreshTimer;
    delete communicator;
}

QList<USBDeviceListWidgetItem *> QuorvelMainWindow::selectedEntries() const
{
    QList<USBDeviceListWidgetItem *> entries;
    const QList<QListWidgetItem *> selected = ui->listWidget->selectedItems();
    for (QListWidgetItem *item : selected)
        entries.append(static_cast<USBDeviceListWidgetItem *>(item));
    return entries;
}

QList<USBDeviceDesc> QuorvelMainWindow::selectedDescriptors() const
{
    QList<USBDeviceDesc> descriptors;
    const QList<USBDeviceListWidgetItem *> entries = selectedEntries();
    for (const USBDeviceListWidgetItem *entry : entries)
        descriptors.append(entry->descriptor());
    return descriptors;
}

void QuorvelMainWindow::updateControls()
{
    ui->label_2->setText(QString());
    ui->label_3->setText(QString());
    ui->listWidget->setEnabled(!busy);
    ui->progressBar->setEnabled(busy);
    ui->pushButton->setEnabled(!busy && selectedCount > 0);
    ui->pushButton_2->setEnabled(!busy);
    ui->pushButton_3->setEnabled(!busy && selectedCount > 0);
    ui->pushButton_4->setEnabled(!busy && selectedCount == 1);
    ui->checkBoxGpx->setEnabled(!busy);
}

void QuorvelMainWindow::addDevice(USBDeviceDesc devDesc)
{
    qCDebug(lcManagerWindow, "Device %s added\n", qUtf8Printable(devDesc.serialNumber));
    ui->listWidget->addItem(new USBDeviceListWidgetItem(devDesc));
}

void QuorvelMainWindow::removeDevice(USBDeviceDesc devDesc)
{
    qCDebug(lcManagerWindow, "Device %s removed\n", qUtf8Printable(devDesc.serialNumber));
    for (int row = 0; row < ui->listWidget->count();) {
        auto *entry = static_cast<USBDeviceListWidgetItem *>(ui->listWidget->item(row));
        if (!entry->descriptor().sameDevice(devDesc)) {
            ++row;
            continue;
        }
        qCDebug(lcManagerWindow, "Found!\n");
        delete entry;
    }
}

void QuorvelMainWindow::on_listWidget_itemSelectionChanged()
{
    const QList<USBDeviceListWidgetItem *> entries = selectedEntries();
    selectedCount = entries.size();
    updateControls();

    if (entries.isEmpty()) {
        ui->label->setText(tr("Aucun module séléctionné"));
        qCDebug(lcManagerWindow, "No item selected\n");
    } else if (entries.size() == 1) {
        const USBDeviceDesc &dev = entries.first()->descriptor();
        ui->label->setText(tr("Nom : %1\n").arg(dev.name)
                           + tr("Numéro de série : %1\n").arg(dev.serialNumber)
                           + tr("Version materiel : %1\n").arg(dev.hardwareVersion)
                           + tr("Version logicielle : %1\n").arg(dev.softwareVersion));
        // Read here and now, on this thread: memoryState() fills label_3 before this returns. Not
        // while a request runs: the worker is then transferring and a module has no lock.
        if (!busy)
            communicator->getMemoryState(dev);
    } else {
        ui->label->setText(tr("%1 module séléctionnés").arg(entries.size()));
    }

    for (const USBDeviceListWidgetItem *entry : entries)
        qCDebug(lcManagerWindow, "Item %s selected\n", qUtf8Printable(entry->descriptor().serialNumber));
}

void QuorvelMainWindow::on_pushButton_clicked()
{
    const bool confirmed = dialogHooks.questionBox(
        this, tr("Effacer"),
        tr("Etes vous certain de vouloir supprimer toutes les captures des modules séléctionnés?"));
    if (!confirmed)
        return;
    busy = true;
    updateControls();
    emit eraseData(selectedDescriptors());
}

void QuorvelMainWindow::on_pushButton_2_clicked()
{
    ui->lineEdit->setText(dialogHooks.directoryPrompt(this, tr("Repertoire de sauvegarde")));
}

void QuorvelMainWindow::on_pushButton_3_clicked()
{
    const QString outDirectory = ui->lineEdit->text();
    // An empty field is no choice at all: QDir would take it for the working directory, and the
    // files would go to "/" followed by their names.
    if (outDirectory.isEmpty() || !QDir(outDirectory).exists()) {
        dialogHooks.errorBox(this, tr("Erreur"), tr("Le répertoire n'existe pas."));
        return;
    }
    busy = true;
    updateControls();
    // Set before the request is queued, and not changed until it has ended: the worker calls it
    // on its thread. The same writer as quorvel-cli's, with the program's name.
    gpxWriter.reset(ui->checkBoxGpx->isChecked() ? new GpxWriter(QStringLiteral("Quorvel"))
                                                  : nullptr);
    communicator->setTrackObserver(gpxWriter.get());
    emit saveData(selectedDescriptors(), outDirectory);
}

void QuorvelMainWindow::on_pushButton_4_clicked()
{
    // The dialog starts from the module's current name.
    const QList<USBDeviceListWidgetItem *> selected = selectedEntries();
    const QString current = selected.isEmpty() ? QString() : selected.first()->descriptor().name;
    bool accepted = false;
    const QString name =
        dialogHooks.textPrompt(this, tr("Modifier le nom"), tr("Nom"), current, &accepted);
    if (!accepted || !isModuleName(name)) {
        dialogHooks.errorBox(this, tr("Erreur"),
                             tr("Le nom doit contenir au plus 8 caractères alpha numériques."));
        return;
    }
    // The module may have been unplugged while the dialog was open.
    const QList<USBDeviceListWidgetItem *> entries = selectedEntries();
    if (entries.isEmpty())
        return;
    USBDeviceListWidgetItem *entry = entries.first();
    const USBDeviceDesc previous = entry->descriptor();
    entry->setName(name);
    ui->listWidget->clearSelection();
    emit setName(previous, name);
}

void QuorvelMainWindow::deviceInfo(USBDeviceDesc dev)
{
    qCDebug(lcManagerWindow, "deviceInfo %s\n", qUtf8Printable(dev.serialNumber));
}

void QuorvelMainWindow::eraseFinished(USBDeviceDesc dev)
{
    qCDebug(lcManagerWindow, "eraseFinished %s\n", qUtf8Printable(dev.serialNumber));
}

void QuorvelMainWindow::eraseAllFinished(QList<USBDeviceDesc>)
{
    qCDebug(lcManagerWindow, "eraseAllFinished\n");
    busy = false;
    ui->progressBar->setRange(0, 100);
    updateControls();
}

void QuorvelMainWindow::saveFinished(USBDeviceDesc dev)
{
    qCDebug(lcManagerWindow, "saveFinished %s\n", qUtf8Printable(dev.serialNumber));
    // Only a module read to its end shows a full bar.
    ui->progressBar->setValue(100);
}

void QuorvelMainWindow::saveFailed(USBDeviceDesc dev)
{
    qCDebug(lcManagerWindow, "saveFailed %s\n", qUtf8Printable(dev.serialNumber));
    const DownloadFailure failure = lastFailure;
    lastFailure = DownloadFailure();
    dialogHooks.errorBox(this, tr("Erreur"),
                         tr("L'enregistrement des données de %1 a échoué").arg(dev.name)
                             + failureText(failure));
}

QString QuorvelMainWindow::failureText(const DownloadFailure &failure) const
{
    QString cause;
    switch (failure.cause) {
    case DownloadFailure::Cause::ModuleUnplugged:
        cause = tr("Le module a été débranché.");
        break;
    case DownloadFailure::Cause::ModuleTimeout:
        cause = tr("Le module ne répond plus.");
        break;
    case DownloadFailure::Cause::ReadError:
        cause = tr("Erreur de lecture du module.");
        break;
    case DownloadFailure::Cause::DiskFull:
        cause = tr("Le disque est plein.");
        break;
    case DownloadFailure::Cause::FolderMissing:
        cause = tr("Le répertoire de sauvegarde n'existe plus.");
        break;
    case DownloadFailure::Cause::FolderNotWritable:
        cause = tr("Le répertoire de sauvegarde n'est pas accessible en écriture.");
        break;
    case DownloadFailure::Cause::FileNotWritable:
        cause = failure.systemMessage.isEmpty()
                    ? tr("Un fichier de trace ne peut pas être écrit.")
                    : tr("Un fichier de trace ne peut pas être écrit (%1).").arg(failure.systemMessage);
        break;
    case DownloadFailure::Cause::None:
        return QString();
    }
    QString text = QLatin1Char('\n') + cause;
    if (!failure.trackFile.isEmpty()) {
        const QString file = QDir::toNativeSeparators(failure.trackFile);
        text += QLatin1Char('\n')
                + (failure.trackFileKept ? tr("Fichier incomplet : %1").arg(file)
                                         : tr("Fichier non écrit : %1").arg(file));
    }
    return text;
}

void QuorvelMainWindow::saveAllFinished(QList<USBDeviceDesc>)
{
    qCDebug(lcManagerWindow, "saveAllFinished\n");
    busy = false;
    updateControls();
    if (gpxWriter && !gpxWriter->failedFiles().isEmpty()) {
        QStringList files;
        for (const QString &file : gpxWriter->failedFiles())
            files << QDir::toNativeSeparators(file);
        dialogHooks.errorBox(this, tr("Erreur"),
                             tr("Ces fichiers GPX n'ont pas pu être écrits :\n%1")
                                 .arg(files.join(QLatin1Char('\n'))));
    }
}

void QuorvelMainWindow::memoryState(USBDeviceDesc dev, MemoryState state)
{
    qCDebug(lcManagerWindow, "memoryState %s\n", qUtf8Printable(dev.serialNumber));
    QString text = tr("Stockage total : %1\n").arg(state.totalSize)
                   + tr("Stockage utilisé : %1").arg(state.usedSize);
    // A module that reports no memory (or whose read failed) has no meaningful share to show.
    if (state.totalSize > 0) {
        const double share = std::trunc(double(state.usedSize) * 100.0 / state.totalSize);
        text += QStringLiteral(" (%1%)\n").arg(qint64(share));
    } else {
        text += QLatin1Char('\n');
    }
    text += tr("Enregistrement(s) : %1\n").arg(state.recordCount);
    ui->label_3->setText(text);
}

void QuorvelMainWindow::showProgress(const USBDeviceDesc &dev, int percent)
{
    ui->label_2->setText(QStringLiteral("%1 (%2)").arg(dev.name, dev.serialNumber));
    ui->progressBar->setValue(percent);
}

void QuorvelMainWindow::saveProgress(USBDeviceDesc dev, int percent)
{
    // The reading runs past the used size to the end of the last sector, so 100 comes before the
    // end: the bar shows it only when the module's download has finished.
    showProgress(dev, qMin(percent, 99));
}

void QuorvelMainWindow::eraseProgress(USBDeviceDesc dev, int percent)
{
    showProgress(dev, percent);
}

void QuorvelMainWindow::startbootLoader()
{
    const QList<USBDeviceListWidgetItem *> entries = selectedEntries();
    if (entries.size() == 1)
        emit bootloaderMode(entries.first()->descriptor());
}

void QuorvelMainWindow::showUsbAccessNotices()
{
    const QString message = takeUsbAccessMessage();
    if (!message.isEmpty())
        ui->statusBar->showMessage(message);
}
