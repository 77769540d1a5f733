// The records table of one beacon: a row per dated report (time, latitude, longitude) held as plain
// numbers and turned into the table's texts only when a view asks for them, so that a beacon
// reporting all day costs 24 bytes per row.
#pragma once

#include <QAbstractTableModel>
#include <QDateTime>

#include <limits>
#include <vector>

class RecordsModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column { TimeColumn, LatitudeColumn, LongitudeColumn, ColumnCount };

    explicit RecordsModel(QObject *parent = nullptr);

    // One more row: the report's time (UTC; invalid when unreadable) and its raw position as the
    // receptor gives it (degrees x 100 + minutes, NaN when not available) with hemisphere letters.
    void append(const QDateTime &time, double latitude, char latHemisphere, double longitude,
                char lonHemisphere);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

private:
    struct Row
    {
        quint32 seconds;  // since the epoch, UTC; invalidTime when unreadable
        char latHemisphere;
        char lonHemisphere;
        double latitude;  // receptor form, NaN when not available
        double longitude; // likewise
    };
    // Receptor dates run from 2000 to 2099: whole seconds since 1970 fit in 32 bits, and the table
    // shows no fraction of a second.
    static constexpr quint32 invalidTime = std::numeric_limits<quint32>::max();

    QString text(const Row &row, int column) const;

    std::vector<Row> m_rows;
};
