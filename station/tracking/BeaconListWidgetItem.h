// One row of the station's beacon list and everything the station remembers of that beacon: its
// last report, its track colour, the table of every dated position since the station started,
// its 60 s liveness watch and its CSV records file in the data folder.
#pragma once

#include "BeaconInfo.h"

#include <QByteArray>
#include <QDateTime>
#include <QElapsedTimer>
#include <QList>
#include <QPen>
#include <QString>
#include <QTimer>
#include <QTreeWidgetItem>
#include <QVector>

class BeaconItem;
class RecordsModel;
class QTreeWidget;

class BeaconListWidgetItem : public QTreeWidgetItem
{
public:
    // Columns of the beacon list.
    enum Column { NameColumn, StateColumn, QualityColumn, TimeColumn, ColourColumn };

    // With no parent the caller adds the entry to the list itself.
    explicit BeaconListWidgetItem(const QString &serial, QTreeWidget *parent = nullptr);
    ~BeaconListWidgetItem() override;

    BeaconListWidgetItem(const BeaconListWidgetItem &) = delete;
    BeaconListWidgetItem &operator=(const BeaconListWidgetItem &) = delete;

    // Exact, case-sensitive comparison with the entry's serial.
    bool matchesSerial(const QString &serial) const;

    const QString &serial() const { return m_serial; }
    const QString &name() const { return m_name; }
    // Last report time (UTC); invalid when the report had no readable date and time.
    const QDateTime &timestamp() const { return m_timestamp; }
    // Last position in the receptor's numeric form; NaN numbers when not available.
    double latitude() const { return m_latitude; }
    char latHemisphere() const { return m_latHemisphere; }
    double longitude() const { return m_longitude; }
    char lonHemisphere() const { return m_lonHemisphere; }
    qint32 memory() const { return m_memory; }
    quint16 auxValue() const { return m_auxValue; }
    qint32 snr() const { return m_snr; }
    qint32 rssi() const { return m_rssi; }
    // 0 stopped, 1 starting, 2 started, 255 offline.
    quint8 state() const { return m_state; }

    void setPen(const QPen &pen) { m_pen = pen; }
    const QPen &pen() const { return m_pen; }

    // The records table: one row per dated report, never shrinking.
    RecordsModel *recordsModel() const { return m_recordsModel; }

    // The 60 s single-shot timer whose expiry turns the entry offline.
    QTimer *livenessTimer() { return &m_livenessTimer; }

    // Takes a new report: list columns, then for a dated report a table row and a file row, and
    // a fresh 60 s liveness watch.
    void update(const BeaconInfo &info);
    // Shows the entry offline; position, colour and records stay.
    void setOffline();
    // Appends the current report to the records file of the current serial and name. Rows that
    // could not be written before (folder or file unavailable) go out first, each to the file it
    // was meant for. True when the current report's row reached its file.
    //
    // Rows are held back while their file is blocked, within bounds: once a file has owed more
    // than the row limit, or for longer than the time limit, its rows go to a recovery file
    // (RecordsRecovery). Rows still held when the entry goes (removed, receptor lost, program end)
    // go there too; none is dropped without a word.
    bool writeRecord();
    void appendRecord();

    // Bounds of the rows held back for a blocked file: 150 rows (5 minutes of a beacon reporting
    // every 2 s) and 5 minutes by default.
    static void setRecordsHoldLimits(int rows, int milliseconds);

private:
    // Rows still owed to one records file, oldest first.
    struct PendingRecords
    {
        QString path;
        QList<QByteArray> rows;     // whole rows
        QElapsedTimer held;         // since the oldest of the rows was held back
    };

    static bool flush(PendingRecords &pending);
    // Sends rows held beyond the bounds (all of them when `everything`) to recovery files.
    void settle(bool everything);

    QString m_serial;
    double m_latitude = 0;
    char m_latHemisphere = 0;
    double m_longitude = 0;
    char m_lonHemisphere = 0;
    qint32 m_memory = 0;
    quint16 m_auxValue = 0;
    QDateTime m_timestamp;
    QString m_name;
    qint32 m_snr = 0;
    qint32 m_rssi = 0;
    quint8 m_state = 0;
    RecordsModel *m_recordsModel;
    QTimer m_livenessTimer;
    BeaconItem *m_watcher;
    QPen m_pen;
    QVector<PendingRecords> m_pending;
};
