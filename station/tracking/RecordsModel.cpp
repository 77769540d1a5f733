// Records table model: compact rows, texts made on demand.
#include "RecordsModel.h"

#include <QCoreApplication>
#include <QLocale>

#include <cmath>

namespace
{
const char *const recordTimeFormat = "dd/MM/yyyy hh:mm:ss";

// The table's words belong to the beacon list entry, whose table this is.
QString translated(const char *text)
{
    return QCoreApplication::translate("BeaconListWidgetItem", text);
}

// The raw number with its hemisphere letter, as the receptor sent it but without leading zeros.
QString rawCoordinate(double value, char letter)
{
    return QStringLiteral("%1%2").arg(value, 0, 'f', 5).arg(QLatin1Char(letter));
}
}

RecordsModel::RecordsModel(QObject *parent)
    : QAbstractTableModel(parent)
{
}

void RecordsModel::append(const QDateTime &time, double latitude, char latHemisphere,
                          double longitude, char lonHemisphere)
{
    const int row = int(m_rows.size());
    beginInsertRows(QModelIndex(), row, row);
    const qint64 seconds = time.isValid() ? time.toSecsSinceEpoch() : -1;
    const bool held = seconds >= 0 && seconds < qint64(invalidTime);
    m_rows.push_back(Row{held ? quint32(seconds) : invalidTime, latHemisphere, lonHemisphere,
                         latitude, longitude});
    endInsertRows();
}

int RecordsModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int RecordsModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant RecordsModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= int(m_rows.size()) || index.column() >= ColumnCount)
        return QVariant();
    if (role != Qt::DisplayRole && role != Qt::EditRole)
        return QVariant();
    return text(m_rows[size_t(index.row())], index.column());
}

QVariant RecordsModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && (role == Qt::DisplayRole || role == Qt::EditRole)) {
        switch (section) {
        case TimeColumn:
            return translated("Heure");
        case LatitudeColumn:
            return translated("Latitude");
        case LongitudeColumn:
            return translated("Longitude");
        default:
            break;
        }
    }
    // Rows are numbered from 1.
    return QAbstractTableModel::headerData(section, orientation, role);
}

Qt::ItemFlags RecordsModel::flags(const QModelIndex &index) const
{
    // Records are what the beacon reported: shown, never edited.
    return index.isValid() ? Qt::ItemIsSelectable | Qt::ItemIsEnabled : Qt::NoItemFlags;
}

QString RecordsModel::text(const Row &row, int column) const
{
    if (column == TimeColumn) {
        if (row.seconds == invalidTime)
            return QString();
        return QLocale::c().toString(QDateTime::fromSecsSinceEpoch(row.seconds, Qt::UTC),
                                      QLatin1String(recordTimeFormat));
    }
    if (std::isnan(row.latitude) || std::isnan(row.longitude))
        return translated("Inconnu");
    if (column == LatitudeColumn)
        return rawCoordinate(row.latitude, row.latHemisphere);
    return rawCoordinate(row.longitude, row.lonHemisphere);
}
