// Beacon list entries: row texts from reports, the records table, the liveness watch, and the CSV
// records files written to Documents/Korvane (HOME is a throw-away folder here).
#include "BeaconListWidgetItem.h"
#include "DataStorage.h"
#include "FileSizeLimit.h"
#include "RecordsFileParser.h"
#include "RecordsModel.h"
#include "RecordsRecovery.h"

#include <QDir>
#include <QFile>
#include <QTemporaryFile>
#include <QTextStream>
#include <QtTest>


namespace
{
const QByteArray header =
    "Temps;Latitude (degr\xC3\xA9s d\xC3\xA9\x63imaux);Longitude (degr\xC3\xA9s d\xC3\xA9\x63imaux);"
    "RSSI (dBm);SNR (dB)\r\n";
const QString serial = QStringLiteral("0a1b2c3d4e5f");

BeaconInfo report(const QString &name, const QString &date, const QString &time,
                  const QString &latitude = QStringLiteral("3536.46610N"),
                  const QString &longitude = QStringLiteral("13954.09530E"), quint8 state = 2,
                  qint32 rssi = -87, qint32 snr = 9)
{
    BeaconInfo info;
    info.serial = serial;
    info.name = name;
    info.date = date;
    info.time = time;
    info.latitude = latitude;
    info.longitude = longitude;
    info.state = state;
    info.rssi = rssi;
    info.snr = snr;
    return info;
}

// A dated report whose file row is "06/12/2026 13:05:<second>;35.6078;139.9016;-87;9".
BeaconInfo dated(const QString &name, int second)
{
    return report(name, QStringLiteral("061226"),
                  QStringLiteral("1305%1").arg(second, 2, 10, QLatin1Char('0')));
}

QByteArray datedRow(int second)
{
    return QStringLiteral("06/12/2026 13:05:%1;35.6078;139.9016;-87;9\r\n")
        .arg(second, 2, 10, QLatin1Char('0'))
        .toLatin1();
}

QString recordsPath(const QString &name)
{
    return dataStorageDirectory() + QLatin1Char('/') + serial + QLatin1Char('_') + name
           + QStringLiteral(".csv");
}

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}


QStringList rowTexts(const QAbstractItemModel *model, int row)
{
    QStringList texts;
    for (int column = 0; column < model->columnCount(); ++column)
        texts << model->index(row, column).data().toString();
    return texts;
}
}

class TestBeaconListItem : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void freshEntry();
    void firstReport();
    void stateWords_data();
    void stateWords();
    void followsNewestName();
    void recordsRows_data();
    void recordsRows();
    void undatedReportAddsNothing();

    void offlineWhenTimerFires();

    void recordsFilesGolden();
    void blockedFileKeepsRows_data();
    void blockedFileKeepsRows();
    void renameWhileBlocked();
    void recoveryFileGolden_data();
    void recoveryFileGolden();
    void heldTooLongGoesToRecovery();
    void nowhereToWriteIsSaid();
    void recoveryFileTakesRowsWholeOrNot();
    void recordsFileTakesRowsWholeOrNot();
};

void TestBeaconListItem::init()
{
    BeaconListWidgetItem::setRecordsHoldLimits(150, 5 * 60 * 1000);
    // The temporary folder of the recovery files, also fresh for each case.
    const QString temp = QDir::homePath() + QStringLiteral("/tmp");
    QFile::remove(temp); // a case may leave a file in its place
    QVERIFY(QDir(temp).removeRecursively());
    QVERIFY(QDir().mkpath(temp));
    qputenv("TMPDIR", QFile::encodeName(temp));
    // Each case starts like a fresh account: no Documents folder at all.
    const QString documents = QFileInfo(dataStorageDirectory()).path();
    QVERIFY(documents.startsWith(QDir::homePath()));
    QVERIFY(QDir(documents).removeRecursively());
}

void TestBeaconListItem::freshEntry()
{
    BeaconListWidgetItem entry(serial);
    QCOMPARE(entry.type(), 0);
    QCOMPARE(entry.pen().color(), QColor(0, 0, 0, 255));
    QCOMPARE(entry.pen().style(), Qt::SolidLine);
    QCOMPARE(entry.state(), quint8(0));
    QVERIFY(!entry.timestamp().isValid());

    const RecordsModel *model = entry.recordsModel();
    QCOMPARE(model->rowCount(), 0);
    QCOMPARE(model->columnCount(), 3);
    QCOMPARE(model->headerData(0, Qt::Horizontal).toString(), QStringLiteral("Heure"));
    QCOMPARE(model->headerData(1, Qt::Horizontal).toString(), QStringLiteral("Latitude"));
    QCOMPARE(model->headerData(2, Qt::Horizontal).toString(), QStringLiteral("Longitude"));

    QVERIFY(!entry.livenessTimer()->isActive());
    QVERIFY(entry.livenessTimer()->isSingleShot());

    QVERIFY(entry.matchesSerial(serial));
    QVERIFY(!entry.matchesSerial(serial.toUpper()));
    QVERIFY(!entry.matchesSerial(serial.left(11)));
}

void TestBeaconListItem::firstReport()
{
    BeaconListWidgetItem entry(serial);
    entry.setPen(QPen(QColor(255, 179, 0)));
    BeaconInfo info = report(QStringLiteral("BEACON1"), QStringLiteral("061226"),
                             QStringLiteral("130509"));
    info.memory = 42;
    info.auxValue = 10;
    entry.update(info);

    QCOMPARE(entry.text(0), QStringLiteral("BEACON1"));
    QCOMPARE(entry.text(1), QStringLiteral("Démarré"));
    QCOMPARE(entry.text(2), QStringLiteral("-87dBm/9dB"));
    QCOMPARE(entry.text(3), QStringLiteral("06/12/26 13:05:09"));
    QCOMPARE(entry.text(4), QString());
    QCOMPARE(entry.background(4).color(), QColor(255, 179, 0));
    QCOMPARE(entry.background(4).style(), Qt::SolidPattern);

    QCOMPARE(entry.timestamp(), QDateTime(QDate(2026, 12, 6), QTime(13, 5, 9), Qt::UTC));
    QCOMPARE(entry.latitude(), 3536.4661);
    QCOMPARE(entry.latHemisphere(), 'N');
    QCOMPARE(entry.longitude(), 13954.0953);
    QCOMPARE(entry.lonHemisphere(), 'E');
    QCOMPARE(entry.memory(), 42);
    QCOMPARE(entry.auxValue(), quint16(10));
    QCOMPARE(entry.state(), quint8(2));
    QVERIFY(entry.livenessTimer()->isActive());
    QCOMPARE(entry.livenessTimer()->interval(), 60000);

    // The last day of the century the receptor's two-digit years can name.
    entry.update(report(QStringLiteral("BEACON1"), QStringLiteral("311299"),
                        QStringLiteral("235959")));
    QCOMPARE(entry.text(3), QStringLiteral("31/12/99 23:59:59"));
    QCOMPARE(rowTexts(entry.recordsModel(), 1).at(0), QStringLiteral("31/12/2099 23:59:59"));
}

void TestBeaconListItem::stateWords_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("state");
    QTest::addColumn<QString>("column0");
    QTest::addColumn<QString>("word");
    QTest::addColumn<QString>("quality");
    QTest::addColumn<int>("stateByte");

    const QString name = QStringLiteral("ALPHA");
    QTest::newRow("stopped") << name << 0 << name << "Arrêté" << "-87dBm/9dB" << 0;
    QTest::newRow("starting") << name << 1 << name << "Démarrage" << "-87dBm/9dB" << 1;
    QTest::newRow("started") << name << 2 << name << "Démarré" << "-87dBm/9dB" << 2;
    QTest::newRow("unknown state") << name << 7 << name << "Hors ligne" << "" << 255;
    QTest::newRow("no valid report") << name << 255 << name << "Hors ligne" << "" << 255;
    QTest::newRow("no name") << "" << 2 << serial << "Hors ligne" << "" << 255;
}

void TestBeaconListItem::stateWords()
{
    QFETCH(QString, name);
    QFETCH(int, state);

    BeaconListWidgetItem entry(serial);
    // Online first, so that every column the report leaves alone would show a stale text.
    entry.update(dated(QStringLiteral("ALPHA"), 1));
    entry.update(report(name, QStringLiteral("061226"), QStringLiteral("130511"),
                        QStringLiteral("3536.46610N"), QStringLiteral("13954.09530E"),
                        quint8(state)));

    QTEST(entry.text(0), "column0");
    QTEST(entry.text(1), "word");
    QTEST(entry.text(2), "quality");
    QCOMPARE(entry.text(3), QStringLiteral("06/12/26 13:05:11"));
    QTEST(int(entry.state()), "stateByte");
    // Whatever the state, a dated report is recorded.
    QCOMPARE(entry.recordsModel()->rowCount(), 2);
    QCOMPARE(QFile::exists(recordsPath(name)), true);
}

void TestBeaconListItem::followsNewestName()
{
    BeaconListWidgetItem entry(serial);
    entry.update(dated(QStringLiteral("ALPHA"), 1));
    entry.update(dated(QStringLiteral("BRAVO"), 3));
    QCOMPARE(entry.text(0), QStringLiteral("BRAVO"));
    QCOMPARE(entry.name(), QStringLiteral("BRAVO"));
    QCOMPARE(entry.recordsModel()->rowCount(), 2);
}

void TestBeaconListItem::recordsRows_data()
{
    QTest::addColumn<QString>("latitude");
    QTest::addColumn<QString>("longitude");
    QTest::addColumn<QStringList>("row");

    const QString time = QStringLiteral("06/12/2026 13:05:09");
    QTest::newRow("as received") << "3536.46610N" << "12228.24690W"
                                 << QStringList{time, "3536.46610N", "12228.24690W"};
    QTest::newRow("leading zeros dropped") << "0004.00000N" << "00612.50000E"
                                           << QStringList{time, "4.00000N", "612.50000E"};
    QTest::newRow("southern") << "4500.00000S" << "00612.00000E"
                              << QStringList{time, "4500.00000S", "612.00000E"};
    QTest::newRow("no longitude") << "3536.46610N" << "************"
                                  << QStringList{time, "Inconnu", "Inconnu"};
    QTest::newRow("no latitude") << "***********" << "13954.09530E"
                                 << QStringList{time, "Inconnu", "Inconnu"};
}

void TestBeaconListItem::recordsRows()
{
    QFETCH(QString, latitude);
    QFETCH(QString, longitude);

    BeaconListWidgetItem entry(serial);
    entry.update(report(QStringLiteral("ALPHA"), QStringLiteral("061226"),
                        QStringLiteral("130509"), latitude, longitude));
    QCOMPARE(entry.recordsModel()->rowCount(), 1);
    QTEST(rowTexts(entry.recordsModel(), 0), "row");
}

void TestBeaconListItem::undatedReportAddsNothing()
{
    BeaconListWidgetItem entry(serial);
    entry.update(report(QStringLiteral("ALPHA"), QString(), QString()));
    QCOMPARE(entry.text(1), QStringLiteral("Démarré"));
    QCOMPARE(entry.text(3), QString());
    QCOMPARE(entry.recordsModel()->rowCount(), 0);
    QVERIFY(!QFile::exists(recordsPath(QStringLiteral("ALPHA"))));
    QVERIFY(entry.livenessTimer()->isActive());
}

void TestBeaconListItem::offlineWhenTimerFires()
{
    BeaconListWidgetItem entry(serial);
    entry.setPen(QPen(QColor(128, 46, 117)));
    entry.update(dated(QStringLiteral("ALPHA"), 9));
    QTimer *timer = entry.livenessTimer();
    QVERIFY(timer->isActive());
    QVERIFY(timer->isSingleShot());
    QCOMPARE(timer->interval(), 60000);

    // Sixty silent seconds, without waiting for them.
    timer->stop();
    QVERIFY(QMetaObject::invokeMethod(timer, "timeout", Qt::DirectConnection));

    QCOMPARE(entry.text(0), QStringLiteral("ALPHA"));
    QCOMPARE(entry.text(1), QStringLiteral("Hors ligne"));
    QCOMPARE(entry.text(2), QString());
    QCOMPARE(entry.text(3), QStringLiteral("06/12/26 13:05:09"));
    QCOMPARE(entry.state(), quint8(255));
    // Position, colour and records stay with the entry.
    QCOMPARE(entry.latitude(), 3536.4661);
    QCOMPARE(entry.background(4).color(), QColor(128, 46, 117));
    QCOMPARE(entry.recordsModel()->rowCount(), 1);

    // The next report brings it back and watches again.
    entry.update(dated(QStringLiteral("ALPHA"), 11));
    QCOMPARE(entry.text(1), QStringLiteral("Démarré"));
    QCOMPARE(entry.text(2), QStringLiteral("-87dBm/9dB"));
    QVERIFY(timer->isActive());
}

void TestBeaconListItem::recordsFilesGolden()
{
    const QDir golden(QStringLiteral(KORVANE_TEST_DATA_DIR "/records"));
    const QDir folder(dataStorageDirectory());

    // Files already there before the station starts are appended to, never rewritten.
    QVERIFY(QDir().mkpath(folder.path()));
    const QDir before(golden.filePath(QStringLiteral("before")));
    for (const QString &name : before.entryList(QDir::Files))
        QVERIFY(QFile::copy(before.filePath(name), folder.filePath(name)));

    QFile reports(golden.filePath(QStringLiteral("reports.txt")));
    QVERIFY(reports.open(QIODevice::ReadOnly | QIODevice::Text));
    QMap<QString, BeaconListWidgetItem *> entries;
    QTextStream in(&reports);
    while (!in.atEnd()) {
        const QString line = in.readLine();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const QStringList f = line.split(QLatin1Char(';'));
        QCOMPARE(f.size(), 9);
        BeaconInfo info;
        info.serial = f[0];
        info.name = f[1];
        info.date = f[2];
        info.time = f[3];
        info.latitude = f[4];
        info.longitude = f[5];
        info.state = quint8(f[6].toUInt());
        info.rssi = f[7].toInt();
        info.snr = f[8].toInt();
        if (!entries.contains(info.serial))
            entries.insert(info.serial, new BeaconListWidgetItem(info.serial));
        entries[info.serial]->update(info);
    }
    qDeleteAll(entries);

    const QDir expected(golden.filePath(QStringLiteral("expected")));
    const QStringList names = expected.entryList(QDir::Files, QDir::Name);
    QCOMPARE(folder.entryList(QDir::Files, QDir::Name), names);
    for (const QString &name : names) {
        const QByteArray actual = contents(folder.filePath(name));
        const QByteArray wanted = contents(expected.filePath(name));
        if (actual != wanted)
            qWarning("%s:\n%s", qPrintable(name), actual.constData());
        QCOMPARE(actual, wanted);
    }
}

void TestBeaconListItem::blockedFileKeepsRows_data()
{
    QTest::addColumn<QString>("blocker");
    QTest::newRow("directory in place of the file") << "directory";
    QTest::newRow("read-only file") << "read-only";
    QTest::newRow("data folder cannot be made") << "folder";
    QTest::newRow("write refused after opening") << "full";
}

void TestBeaconListItem::blockedFileKeepsRows()
{
    QFETCH(QString, blocker);
    const QString path = recordsPath(QStringLiteral("ALPHA"));
    const QString folder = dataStorageDirectory();
    QByteArray before;

    if (blocker == QLatin1String("directory")) {
        QVERIFY(QDir().mkpath(path));
    } else if (blocker == QLatin1String("read-only")) {
        QVERIFY(QDir().mkpath(folder));
        before = header + datedRow(0);
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(before);
        file.close();
        QVERIFY(file.setPermissions(QFileDevice::ReadOwner | QFileDevice::ReadGroup));
        if (file.open(QIODevice::WriteOnly | QIODevice::Append))
            QSKIP("Permissions do not stop this user from writing");
    } else if (blocker == QLatin1String("folder")) {
        QVERIFY(QDir().mkpath(QFileInfo(folder).path()));
        QFile file(folder);
        QVERIFY(file.open(QIODevice::WriteOnly));
    } else {
        if (!QFileInfo::exists(QStringLiteral("/dev/full")))
            QSKIP("No /dev/full here");
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(QFile::link(QStringLiteral("/dev/full"), path));
    }

    BeaconListWidgetItem entry(serial);
    for (int second = 1; second <= 3; ++second)
        entry.update(dated(QStringLiteral("ALPHA"), second));
    entry.update(report(QStringLiteral("ALPHA"), QString(), QString()));
    QCOMPARE(entry.recordsModel()->rowCount(), 3);

    if (blocker == QLatin1String("directory")) {
        QVERIFY(QDir(path).removeRecursively());
    } else if (blocker == QLatin1String("read-only")) {
        QCOMPARE(contents(path), before);
        QVERIFY(QFile(path).setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    } else if (blocker == QLatin1String("folder")) {
        QVERIFY(QFile::remove(folder));
    } else {
        QVERIFY(QFile::remove(path));
    }

    entry.update(dated(QStringLiteral("ALPHA"), 4));
    QByteArray wanted = before.isEmpty() ? header : before;
    for (int second = 1; second <= 4; ++second)
        wanted += datedRow(second);
    QCOMPARE(contents(path), wanted);

    // Written once: the next report adds its own row only.
    entry.update(dated(QStringLiteral("ALPHA"), 5));
    QCOMPARE(contents(path), wanted + datedRow(5));
}

void TestBeaconListItem::renameWhileBlocked()
{
    const QString alpha = recordsPath(QStringLiteral("ALPHA"));
    const QString bravo = recordsPath(QStringLiteral("BRAVO"));
    QVERIFY(QDir().mkpath(alpha));

    BeaconListWidgetItem entry(serial);
    entry.update(dated(QStringLiteral("ALPHA"), 1));
    // Each call appends the current report; the answer tells whether it reached its file.
    QVERIFY(!entry.writeRecord());
    entry.update(dated(QStringLiteral("ALPHA"), 2));
    entry.update(dated(QStringLiteral("BRAVO"), 3));
    QCOMPARE(contents(bravo), header + datedRow(3));
    QVERIFY(entry.writeRecord());
    QCOMPARE(contents(bravo), header + datedRow(3) + datedRow(3));

    // The rows of ALPHA wait for its own file; they never move to BRAVO's.
    QVERIFY(QDir(alpha).removeRecursively());
    entry.update(dated(QStringLiteral("BRAVO"), 4));
    QCOMPARE(contents(alpha), header + datedRow(1) + datedRow(1) + datedRow(2));
    QCOMPARE(contents(bravo), header + datedRow(3) + datedRow(3) + datedRow(4));
}

void TestBeaconListItem::recoveryFileGolden_data()
{
    QTest::addColumn<bool>("folderWritable");
    QTest::newRow("beside the records") << true;
    QTest::newRow("data folder unwritable: temporary folder") << false;
}

// A records file that stays blocked: its rows go to the recovery file once three are held, and the
// rows still held when the entry goes follow them there.
void TestBeaconListItem::recoveryFileGolden()
{
    QFETCH(bool, folderWritable);
    const QString records = recordsPath(QStringLiteral("ALPHA"));
    if (folderWritable) {
        QVERIFY(QDir().mkpath(records));
    } else {
        QVERIFY(QDir().mkpath(QFileInfo(dataStorageDirectory()).path()));
        QFile file(dataStorageDirectory());
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    const QString recovery = folderWritable ? RecordsRecovery::recoveryPathBeside(records)
                                            : RecordsRecovery::recoveryPathInTemp(records);
    QVERIFY(recovery.endsWith(QStringLiteral("/0a1b2c3d4e5f_ALPHA_recuperation.csv")));
    BeaconListWidgetItem::setRecordsHoldLimits(3, 60 * 60 * 1000);
    QSignalSpy started(&RecordsRecovery::instance(), &RecordsRecovery::recoveryStarted);

    auto *entry = new BeaconListWidgetItem(serial);
    entry->update(dated(QStringLiteral("ALPHA"), 1));
    entry->update(dated(QStringLiteral("ALPHA"), 2));
    QVERIFY(!QFile::exists(recovery));
    entry->update(dated(QStringLiteral("ALPHA"), 3));
    QVERIFY(QFile::exists(recovery));
    entry->update(dated(QStringLiteral("ALPHA"), 4));
    entry->update(report(QStringLiteral("ALPHA"), QStringLiteral("061226"), QStringLiteral("130505"),
                         QStringLiteral("4500.00000S"), QStringLiteral("00612.00000E"), 2, -101, -7));
    delete entry;

    const QByteArray wanted = contents(QStringLiteral(KORVANE_TEST_DATA_DIR
                                                      "/records/recovery/0a1b2c3d4e5f_ALPHA_recuperation.csv"));
    QVERIFY(!wanted.isEmpty());
    QCOMPARE(contents(recovery), wanted);
    // Said once, with the file's place.
    QCOMPARE(started.size(), 1);
    QCOMPARE(started.at(0).at(0).toString(), recovery);
    QVERIFY(QFileInfo(records).isDir() || !QFileInfo::exists(records));
}

void TestBeaconListItem::heldTooLongGoesToRecovery()
{
    const QString records = recordsPath(QStringLiteral("ALPHA"));
    const QString recovery = RecordsRecovery::recoveryPathBeside(records);
    QVERIFY(QDir().mkpath(records));

    // A short block is bridged: the rows wait for their own file.
    BeaconListWidgetItem entry(serial);
    entry.update(dated(QStringLiteral("ALPHA"), 1));
    entry.update(dated(QStringLiteral("ALPHA"), 2));
    QVERIFY(!QFile::exists(recovery));

    // Held beyond the time bound: the next report sends them all to the recovery file, and the
    // records file takes the rows after the block, from its own header on.
    BeaconListWidgetItem::setRecordsHoldLimits(150, 0);
    entry.update(dated(QStringLiteral("ALPHA"), 3));
    QCOMPARE(contents(recovery), header + datedRow(1) + datedRow(2) + datedRow(3));
    BeaconListWidgetItem::setRecordsHoldLimits(150, 5 * 60 * 1000);
    QVERIFY(QDir(records).removeRecursively());
    entry.update(dated(QStringLiteral("ALPHA"), 4));
    QCOMPARE(contents(records), header + datedRow(4));
    QCOMPARE(contents(recovery), header + datedRow(1) + datedRow(2) + datedRow(3));

    // Held again, then the file comes free before the entry goes: the row reaches its own file,
    // and no recovery file is made.
    QVERIFY(QFile::remove(recovery));
    {
        BeaconListWidgetItem later(serial);
        const QString aside = records + QStringLiteral(".aside");
        QVERIFY(QFile::rename(records, aside));
        QVERIFY(QDir().mkpath(records));
        later.update(dated(QStringLiteral("ALPHA"), 5));
        QVERIFY(QDir(records).removeRecursively());
        QVERIFY(QFile::rename(aside, records));
    }
    QCOMPARE(contents(records), header + datedRow(4) + datedRow(5));
    QVERIFY(!QFile::exists(recovery));
}

// Neither the data folder nor the temporary folder takes the rows: memory stays bounded, and every
// row given up is said, with the rows themselves on the error output.
void TestBeaconListItem::nowhereToWriteIsSaid()
{
    QVERIFY(QDir().mkpath(QFileInfo(dataStorageDirectory()).path()));
    QFile folder(dataStorageDirectory());
    QVERIFY(folder.open(QIODevice::WriteOnly));
    const QString temp = QDir::homePath() + QStringLiteral("/tmp");
    QVERIFY(QDir(temp).removeRecursively());
    QFile tempFile(temp);
    QVERIFY(tempFile.open(QIODevice::WriteOnly));
    BeaconListWidgetItem::setRecordsHoldLimits(2, 60 * 60 * 1000);
    QSignalSpy lost(&RecordsRecovery::instance(), &RecordsRecovery::rowsLost);

    auto *entry = new BeaconListWidgetItem(serial);
    // Held up to twice the bound, then the oldest go, one report at a time.
    for (int second = 1; second <= 4; ++second)
        entry->update(dated(QStringLiteral("ALPHA"), second));
    QCOMPARE(lost.size(), 0);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("\\n06/12/2026 13:05:01;")));
    entry->update(dated(QStringLiteral("ALPHA"), 5));
    QCOMPARE(lost.size(), 1);
    QCOMPARE(lost.at(0).at(1).toInt(), 1);
    // The entry goes: the four rows it still held are given up, in words.
    QTest::ignoreMessage(QtWarningMsg,
                         QRegularExpression(QStringLiteral("13:05:02;.*13:05:03;.*13:05:04;.*13:05:05;"),
                                            QRegularExpression::DotMatchesEverythingOption));
    delete entry;
    QCOMPARE(lost.size(), 2);
    QCOMPARE(lost.at(1).at(0).toString(), recordsPath(QStringLiteral("ALPHA")));
    QCOMPARE(lost.at(1).at(1).toInt(), 4);
}

// Recovery files that cannot take all the rows take none of them: no part of a row is left to be
// followed by the same rows later, and a file left empty still gets its header.
void TestBeaconListItem::recoveryFileTakesRowsWholeOrNot()
{
#ifdef Q_OS_LINUX
    const QString records = recordsPath(QStringLiteral("ALPHA"));
    QVERIFY(QDir().mkpath(QFileInfo(records).path()));
    const QString beside = RecordsRecovery::recoveryPathBeside(records);
    const QString inTemp = RecordsRecovery::recoveryPathInTemp(records);
    const QByteArray header = RecordsFileParser::header();
    const QByteArray first("06/12/2026 13:05:01;45.0000;6.0000;-60;5\r\n");
    const QList<QByteArray> more = {"06/12/2026 13:05:02;45.0001;6.0000;-60;5\r\n",
                                    "06/12/2026 13:05:03;45.0002;6.0000;-60;5\r\n"};
    RecordsRecovery &recovery = RecordsRecovery::instance();
    // Listened to, so that where the rows go is said through the signal and not on the output.
    QSignalSpy started(&recovery, &RecordsRecovery::recoveryStarted);
    QCOMPARE(recovery.save(records, {first}), beside);
    QCOMPARE(contents(beside), header + first);

    // Room for part of a row beside the records, and for part of the header in the temporary
    // folder: neither keeps anything.
    {
        const testfiles::FileSizeLimit limit(rlim_t(header.size() + first.size() + 10));
        QVERIFY(limit.set());
        QCOMPARE(recovery.save(records, more), QString());
    }
    QCOMPARE(contents(beside), header + first);
    QCOMPARE(contents(inTemp), QByteArray());

    // Beside the records there is no file to be had now: the temporary one takes the rows, after
    // the header.
    QVERIFY(QFile::remove(beside));
    QVERIFY(QDir().mkpath(beside));
    QCOMPARE(recovery.save(records, more), inTemp);
    QCOMPARE(contents(inTemp), header + more.at(0) + more.at(1));
#else
    QSKIP("File size limits are a Linux feature here");
#endif
}

// A write cut short leaves the records file as it was: its rows come later, or go to a recovery
// file, whole, and the next row never lands after part of one.
void TestBeaconListItem::recordsFileTakesRowsWholeOrNot()
{
#ifdef Q_OS_LINUX
    const QString records = recordsPath(QStringLiteral("ALPHA"));
    const QString recovery = RecordsRecovery::recoveryPathBeside(records);
    const QByteArray header = RecordsFileParser::header();
    const rlim_t roomForOneRow = rlim_t(header.size() + datedRow(1).size() + 10);
    BeaconListWidgetItem entry(serial);

    // Not even the header fits: the file stays empty, and takes the header with the rows later.
    {
        const testfiles::FileSizeLimit limit(10);
        QVERIFY(limit.set());
        entry.update(dated(QStringLiteral("ALPHA"), 1));
    }
    QCOMPARE(contents(records), QByteArray());
    entry.update(dated(QStringLiteral("ALPHA"), 2));
    QCOMPARE(contents(records), header + datedRow(1) + datedRow(2));

    // Part of a row fits, then the row goes to the recovery file: the records file goes on from
    // its last whole row.
    QVERIFY(QFile::remove(records));
    entry.update(dated(QStringLiteral("ALPHA"), 3));
    BeaconListWidgetItem::setRecordsHoldLimits(150, 0);
    {
        const testfiles::FileSizeLimit limit(roomForOneRow);
        QVERIFY(limit.set());
        entry.update(dated(QStringLiteral("ALPHA"), 4));
    }
    QCOMPARE(contents(recovery), header + datedRow(4));
    entry.update(dated(QStringLiteral("ALPHA"), 5));
    QCOMPARE(contents(records), header + datedRow(3) + datedRow(5));
#else
    QSKIP("File size limits are a Linux feature here");
#endif
}

QTEST_MAIN(TestBeaconListItem)
#include "tst_beaconlistitem.moc"
