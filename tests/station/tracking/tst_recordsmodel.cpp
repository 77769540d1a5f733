// The records table model on its own: what a table view learns of new rows, read-only cells, and
// the texts of rows the list entry tests do not reach (unreadable time, header numbering).
#include "RecordsModel.h"

#include <QHeaderView>
#include <QSignalSpy>
#include <QTableView>
#include <QtTest>

class TestRecordsModel : public QObject
{
    Q_OBJECT

private slots:
    void viewFollowsAppendedRows();
    void cellsAreReadOnly();
    void unreadableTimeAndHeaders();
};

void TestRecordsModel::viewFollowsAppendedRows()
{
    RecordsModel model;
    QTableView view;
    view.setModel(&model);
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    const QDateTime time(QDate(2026, 12, 6), QTime(13, 5, 9), Qt::UTC);
    for (int i = 0; i < 3; ++i)
        model.append(time.addSecs(2 * i), 3536.4661, 'N', 13954.0953, 'E');
    QCOMPARE(inserted.count(), 3);
    // Each row announced as appended at the end of the table.
    QCOMPARE(inserted.at(2).at(1).toInt(), 2);
    QCOMPARE(inserted.at(2).at(2).toInt(), 2);
    QCOMPARE(view.verticalHeader()->count(), 3);
    QCOMPARE(model.index(2, 0).data().toString(), QStringLiteral("06/12/2026 13:05:13"));
    QVERIFY(!model.index(3, 0).isValid());
    QVERIFY(!model.index(0, 3).isValid());
}

void TestRecordsModel::cellsAreReadOnly()
{
    RecordsModel model;
    model.append(QDateTime(QDate(2026, 12, 6), QTime(13, 5, 9), Qt::UTC), 4.0, 'N', 612.5, 'E');
    const QModelIndex cell = model.index(0, 1);
    QVERIFY(cell.flags() & Qt::ItemIsSelectable);
    QVERIFY(!(cell.flags() & Qt::ItemIsEditable));
    QVERIFY(!model.setData(cell, QStringLiteral("0.00000N")));
    QCOMPARE(cell.data().toString(), QStringLiteral("4.00000N"));
    QCOMPARE(cell.data(Qt::EditRole).toString(), QStringLiteral("4.00000N"));
    QVERIFY(!cell.data(Qt::DecorationRole).isValid());
}

void TestRecordsModel::unreadableTimeAndHeaders()
{
    RecordsModel model;
    model.append(QDateTime(), 4500.0, 'S', qQNaN(), 'E');
    QCOMPARE(model.index(0, 0).data().toString(), QString());
    QCOMPARE(model.index(0, 1).data().toString(), QStringLiteral("Inconnu"));
    QCOMPARE(model.index(0, 2).data().toString(), QStringLiteral("Inconnu"));
    // Rows are numbered from 1, as a table of standard items numbers them.
    QCOMPARE(model.headerData(0, Qt::Vertical).toInt(), 1);
}

QTEST_MAIN(TestRecordsModel)
#include "tst_recordsmodel.moc"
