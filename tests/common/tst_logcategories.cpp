// Debug lines: every category is off by default, so nothing reaches the user's terminal, and a
// logging rule switches one category on without the others.
#include "LogCategories.h"
#include "PositionRecord.h"

#include <QtTest>

namespace
{
QStringList *captured = nullptr;

void capture(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtDebugMsg && captured)
        captured->append(QStringLiteral("%1: %2").arg(QLatin1String(context.category), message));
}

const QList<const QLoggingCategory *> &categories()
{
    static const QList<const QLoggingCategory *> all = {
        &lcKitUsb(), &lcReceptor(), &lcTracking(), &lcStationWindow(), &lcViews(),
        &lcModule(), &lcDetector(), &lcWorker(), &lcDownload(), &lcManagerWindow()};
    return all;
}

// Decodes one record with the debug lines caught.
QStringList decodeLines()
{
    QStringList lines;
    captured = &lines;
    const QtMessageHandler previous = qInstallMessageHandler(capture);
    // Date, time, latitude, longitude, speed, altitude and the three DOP values.
    PositionRecord::decode("061220093015.0004807.0380N01131.0000E  0.0  100.0  1.0  1.0  1.0");
    qInstallMessageHandler(previous);
    captured = nullptr;
    return lines;
}
}

class TestLogCategories : public QObject
{
    Q_OBJECT

private slots:
    void offByDefault();
    void ruleSwitchesOneCategoryOn();
};

void TestLogCategories::offByDefault()
{
    QSet<QString> names;
    for (const QLoggingCategory *category : categories()) {
        QVERIFY2(!category->isDebugEnabled(), category->categoryName());
        // Warnings still go out.
        QVERIFY(category->isWarningEnabled());
        names << QLatin1String(category->categoryName());
    }
    QCOMPARE(names.size(), categories().size());
    QCOMPARE(decodeLines(), QStringList());
}

void TestLogCategories::ruleSwitchesOneCategoryOn()
{
    QLoggingCategory::setFilterRules(QStringLiteral("quorvel.download.debug=true"));
    for (const QLoggingCategory *category : categories())
        QCOMPARE(category->isDebugEnabled(), category == &lcDownload());
    // The lines themselves are unchanged.
    QCOMPARE(decodeLines(), QStringList({QStringLiteral("quorvel.download: LAT is V1 style\n"),
                                         QStringLiteral("quorvel.download: LON is V1 style\n"),
                                         QStringLiteral("quorvel.download: 093015.000\n")}));
    QLoggingCategory::setFilterRules(QString());
}

QTEST_MAIN(TestLogCategories)
#include "tst_logcategories.moc"
