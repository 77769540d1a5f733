// One beacon of the station's list: row texts from each report, the records table, the liveness
// watch and the CSV records file (Documents/Korvane/<serial>_<name>.csv).
#include "BeaconListWidgetItem.h"

#include "BeaconInfoDecoder.h"
#include "BeaconItem.h"
#include "DataStorage.h"
#include "GpsCoords.h"
#include "RecordsFileParser.h"
#include "RecordsModel.h"
#include "RecordsRecovery.h"

#include <QBrush>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLocale>

#include <algorithm>

namespace
{
constexpr int livenessMs = 60000;

// Bounds of the rows held for a blocked records file (setRecordsHoldLimits).
int holdRows = 150;
int holdMs = 5 * 60 * 1000;

const QString listTimeFormat = QStringLiteral("dd/MM/yy hh:mm:ss");
const QString recordTimeFormat = QStringLiteral("dd/MM/yyyy hh:mm:ss");

// Dates and times in ASCII digits whatever the user's locale: QDateTime::toString would take the
// system's digits (Arabic-Indic under an Arabic locale), which the records file cannot hold.
QString timeText(const QDateTime &time, const QString &format)
{
    return QLocale::c().toString(time, format);
}

QString translated(const char *text)
{
    return QCoreApplication::translate("BeaconListWidgetItem", text);
}

QString stateWord(quint8 state)
{
    switch (state) {
    case 0:
        return translated("Arrêté");
    case 1:
        return translated("Démarrage");
    case 2:
        return translated("Démarré");
    default:
        return translated("Hors ligne");
    }
}
}

BeaconListWidgetItem::BeaconListWidgetItem(const QString &serial, QTreeWidget *parent)
    : QTreeWidgetItem(parent, QTreeWidgetItem::Type),
      m_serial(serial),
      m_recordsModel(new RecordsModel),
      m_watcher(new BeaconItem(this)),
      m_pen(QColor(0, 0, 0, 255))
{
    m_livenessTimer.setSingleShot(true);
    QObject::connect(&m_livenessTimer, SIGNAL(timeout()), m_watcher, SLOT(timeout()),
                     Qt::DirectConnection);
}

BeaconListWidgetItem::~BeaconListWidgetItem()
{
    // One last try for each blocked file, then a recovery file.
    for (int i = 0; i < m_pending.size();) {
        if (flush(m_pending[i]))
            m_pending.remove(i);
        else
            ++i;
    }
    settle(true);
    delete m_watcher;
    delete m_recordsModel;
}

bool BeaconListWidgetItem::matchesSerial(const QString &serial) const
{
    return serial == m_serial;
}

void BeaconListWidgetItem::update(const BeaconInfo &info)
{
    m_livenessTimer.stop();

    const GpsCoords position = GpsCoords::fromTexts(info.latitude, info.longitude);
    m_latHemisphere = position.latHemisphere();
    m_lonHemisphere = position.lonHemisphere();

    m_state = info.state;
    m_memory = info.memory;
    m_auxValue = info.auxValue;
    m_snr = info.snr;
    m_rssi = info.rssi;
    m_name = info.name;

    m_latitude = position.latitude();
    m_longitude = position.longitude();

    m_timestamp = BeaconInfoDecoder::timestamp(info.date, info.time);

    setBackground(ColourColumn, QBrush(m_pen.color(), Qt::SolidPattern));

    if (m_name.isEmpty()) {
        setText(NameColumn, m_serial);
        setOffline();
    } else {
        setText(NameColumn, m_name);
        setText(QualityColumn, QStringLiteral("%1dBm/%2dB").arg(m_rssi).arg(m_snr));
        setText(TimeColumn, QStringLiteral("%1").arg(timeText(m_timestamp, listTimeFormat)));
        if (m_state <= 2)
            setText(StateColumn, stateWord(m_state));
        else
            setOffline();
    }

    if (!info.date.isEmpty()) {
        appendRecord();
        writeRecord();
    }

    m_livenessTimer.start(livenessMs);
}

void BeaconListWidgetItem::setOffline()
{
    setText(QualityColumn, QString());
    setText(TimeColumn, QStringLiteral("%1").arg(timeText(m_timestamp, listTimeFormat)));
    setText(StateColumn, stateWord(255));
    m_state = 255;
}

void BeaconListWidgetItem::appendRecord()
{
    m_recordsModel->append(m_timestamp, m_latitude, m_latHemisphere, m_longitude, m_lonHemisphere);
}

bool BeaconListWidgetItem::writeRecord()
{
    const QString folder = dataStorageDirectory() + QLatin1Char('/');
    // A fresh account may have no Documents folder yet: create the whole path.
    QDir().mkpath(folder);

    const QString path = folder + m_serial + QLatin1Char('_') + m_name + QStringLiteral(".csv");

    const GpsCoords position(m_latitude, m_latHemisphere, m_longitude, m_lonHemisphere);
    const QString row = QStringLiteral("%1;%2;%3;%4;%5\r\n")
                            .arg(timeText(m_timestamp, recordTimeFormat),
                                 QString::number(position.latitudeDegrees(), 'f', 4),
                                 QString::number(position.longitudeDegrees(), 'f', 4),
                                 QString::number(m_rssi), QString::number(m_snr));

    // Rows that could not be written stay owed to their own file (a rename must not move them),
    // and go out in report order before anything newer for that file.
    auto owed = std::find_if(m_pending.begin(), m_pending.end(),
                             [&path](const PendingRecords &p) { return p.path == path; });
    if (owed == m_pending.end()) {
        owed = m_pending.insert(m_pending.end(), PendingRecords());
        owed->path = path;
        owed->held.start();
    }
    owed->rows.append(row.toLatin1());

    bool written = false;
    for (int i = 0; i < m_pending.size();) {
        const bool flushed = flush(m_pending[i]);
        if (m_pending[i].path == path)
            written = flushed;
        if (flushed)
            m_pending.remove(i);
        else
            ++i;
    }
    settle(false);
    return written;
}

void BeaconListWidgetItem::setRecordsHoldLimits(int rows, int milliseconds)
{
    holdRows = qMax(1, rows);
    holdMs = qMax(0, milliseconds);
}

void BeaconListWidgetItem::settle(bool everything)
{
    RecordsRecovery &recovery = RecordsRecovery::instance();
    for (int i = 0; i < m_pending.size();) {
        PendingRecords &pending = m_pending[i];
        const bool due = everything || pending.rows.size() >= holdRows
                         || pending.held.elapsed() >= holdMs;
        if (!due || !recovery.save(pending.path, pending.rows).isEmpty()) {
            if (due)
                m_pending.remove(i);
            else
                ++i;
            continue;
        }
        // Nowhere to write: given up in words when the entry goes, or beyond twice the bound,
        // so that memory stays bounded.
        const int excess = everything ? pending.rows.size() : pending.rows.size() - 2 * holdRows;
        if (excess > 0) {
            recovery.lose(pending.path, pending.rows.mid(0, excess));
            pending.rows.erase(pending.rows.begin(), pending.rows.begin() + excess);
        }
        if (pending.rows.isEmpty())
            m_pending.remove(i);
        else
            ++i;
    }
}

bool BeaconListWidgetItem::flush(PendingRecords &pending)
{
    QFile file(pending.path);
    // Binary append: the line ends are exactly the bytes queued. Unbuffered, so that a failed
    // write is seen here and its bytes are kept rather than lost on close.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
        return false;
    // A new file, or one left empty by a failed write, starts with the header.
    const qint64 before = file.size();
    QByteArray bytes = before > 0 ? QByteArray() : RecordsFileParser::header();
    for (const QByteArray &row : qAsConst(pending.rows))
        bytes += row;
    if (file.write(bytes) == bytes.size()) {
        pending.rows.clear();
        return true;
    }
    // A short write is taken back: the rows stay owed whole, wherever they go next, and the file
    // never ends in part of a row that the next one would be glued to.
    file.resize(before);
    return false;
}
