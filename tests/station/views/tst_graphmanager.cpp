// The track graph: plot set-up, one curve per beacon in arrival order with its legend entry,
// invalid positions, removal, coalesced replots, resize announcements, and the one-pass drawing.
#include "GraphManager.h"
#include "TrackCurve.h"
#include "XCustomPlot.h"

#include <QApplication>
#include <QResizeEvent>
#include <QLoggingCategory>
#include <QtTest>
#include <qcustomplot.h>

namespace {

const QString serialA = QStringLiteral("0a1b2c3d4e5f");
const QString serialB = QStringLiteral("00aa00bb00cc");

GpsCoords position(double latitude, double longitude)
{
    return GpsCoords(latitude, 'N', longitude, 'E');
}

QStringList legendNames(QCustomPlot &plot)
{
    QStringList names;
    for (int i = 0; i < plot.legend->itemCount(); ++i)
        if (auto *item = qobject_cast<QCPPlottableLegendItem *>(plot.legend->item(i)))
            names.append(item->plottable()->name());
    return names;
}

QImage rendered(QCustomPlot &plot)
{
    plot.replot();
    return plot.toPixmap().toImage();
}

int largestDifference(const QImage &a, const QImage &b)
{
    if (a.size() != b.size())
        return 256;
    int largest = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y);
            const QRgb q = b.pixel(x, y);
            largest = qMax(largest, qMax(qAbs(qRed(p) - qRed(q)),
                                         qMax(qAbs(qGreen(p) - qGreen(q)), qAbs(qBlue(p) - qBlue(q)))));
        }
    return largest;
}

// A plot over 0..100 both ways with one curve, a track curve or a plain one.
std::unique_ptr<QCustomPlot> plotWith(bool track, const QVector<QPointF> &points, bool selected)
{
    auto plot = std::make_unique<QCustomPlot>();
    plot->resize(300, 300);
    QCPCurve *curve = track ? new TrackCurve(plot->xAxis, plot->yAxis)
                            : new QCPCurve(plot->xAxis, plot->yAxis);
    curve->setPen(QPen(Qt::red));
    curve->setScatterStyle(
        QCPScatterStyle(QCPScatterStyle::ssCircle, QPen(Qt::red), QBrush(Qt::NoBrush), 5.0));
    for (const QPointF &p : points)
        curve->addData(p.x(), p.y());
    if (selected)
        curve->setSelection(QCPDataSelection(curve->data()->dataRange()));
    plot->xAxis->setRange(0, 100);
    plot->yAxis->setRange(0, 100);
    return plot;
}

} // namespace

class TestGraphManager : public QObject
{
    Q_OBJECT

private slots:
    // The debug lines checked here; their category is off by default.
    void initTestCase()
    {
        QLoggingCategory::setFilterRules(QStringLiteral("korvane.views.debug=true"));
        // Tick labels take the locale's digits, and their width moves the plot by fractions of a
        // pixel: the pixels these tests read are those of one known locale.
        QLocale::setDefault(QLocale::c());
    }

    void setsThePlotUp();
    void oneCurvePerBeaconInArrivalOrder();
    void invalidPositionsAreIgnored();
    void deletionRemovesCurveAndLegendEntry();
    void replotsOncePerBurst();
    void knownBeaconsRepaintTheCurvesAlone();
    void addingPointsKeepsTheView();
    void announcesResizes();
    void drawsLikeQCPCurve_data();
    void drawsLikeQCPCurve();
    void standingStillLooksLikeOnePosition();
};

void TestGraphManager::setsThePlotUp()
{
    XCustomPlot plot;
    GraphManager manager(&plot);
    QVERIFY(plot.xAxis2->visible() && !plot.xAxis2->tickLabels());
    QVERIFY(plot.yAxis2->visible() && !plot.yAxis2->tickLabels());
    QCOMPARE(int(plot.interactions()), 0x0B);
    QVERIFY(plot.legend->visible());
    QVERIFY(plot.autoAddPlottableToLegend());
}

void TestGraphManager::oneCurvePerBeaconInArrivalOrder()
{
    XCustomPlot plot;
    GraphManager manager(&plot);
    const QPen red(Qt::red, 2);
    // East, further east, then back west: the curve keeps that order.
    manager.beaconMoved(serialA, QDateTime(), position(4512.0, 612.0), red);
    manager.beaconMoved(serialA, QDateTime(), position(4513.0, 618.0), red);
    manager.beaconMoved(serialA, QDateTime(), position(4514.0, 606.0), red);
    manager.beaconMoved(serialB, QDateTime(), position(4600.0, 700.0), QPen(Qt::blue));

    QCOMPARE(plot.plottableCount(), 2);
    QCOMPARE(legendNames(plot), (QStringList{serialA, serialB}));
    QCPCurve *curve = manager.curve(serialA);
    QVERIFY(qobject_cast<TrackCurve *>(curve));
    QCOMPARE(curve->keyAxis(), plot.xAxis);
    QCOMPARE(curve->valueAxis(), plot.yAxis);
    QCOMPARE(curve->dataCount(), 3);
    const QVector<double> keys{6.2, 6.3, 6.1};
    const QVector<double> values{45.2, 45.0 + 13.0 / 60, 45.0 + 14.0 / 60};
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(curve->data()->at(i)->t, double(i));
        QCOMPARE(curve->data()->at(i)->key, keys[i]);
        QCOMPARE(curve->data()->at(i)->value, values[i]);
    }
    QCOMPARE(curve->pen(), red);
    QCOMPARE(curve->scatterStyle().shape(), QCPScatterStyle::ssCircle);
    QCOMPARE(curve->scatterStyle().size(), 5.0);
    QCOMPARE(curve->scatterStyle().pen(), red);
    QCOMPARE(curve->scatterStyle().brush().style(), Qt::NoBrush);
    QCOMPARE(manager.curve(serialB)->dataCount(), 1);
    // Western and southern hemispheres are negative degrees.
    manager.beaconMoved(serialB, QDateTime(), GpsCoords(3000.0, 'S', 1230.0, 'W'), QPen(Qt::blue));
    QCOMPARE(manager.curve(serialB)->data()->at(1)->key, -12.5);
    QCOMPARE(manager.curve(serialB)->data()->at(1)->value, -30.0);
}

void TestGraphManager::invalidPositionsAreIgnored()
{
    XCustomPlot plot;
    GraphManager manager(&plot);
    QTest::ignoreMessage(QtDebugMsg, "Invalid coordinates\n");
    manager.beaconMoved(serialA, QDateTime(), position(qQNaN(), 612.0), QPen(Qt::red));
    QCOMPARE(plot.plottableCount(), 0);
    QCOMPARE(plot.legend->itemCount(), 0);

    manager.beaconMoved(serialA, QDateTime(), position(4512.0, 612.0), QPen(Qt::red));
    QTest::ignoreMessage(QtDebugMsg, "Invalid coordinates\n");
    manager.beaconMoved(serialA, QDateTime(), position(4512.0, qQNaN()), QPen(Qt::red));
    QCOMPARE(plot.plottableCount(), 1);
    QCOMPARE(manager.curve(serialA)->dataCount(), 1);
}

void TestGraphManager::deletionRemovesCurveAndLegendEntry()
{
    XCustomPlot plot;
    GraphManager manager(&plot);
    manager.beaconMoved(serialA, QDateTime(), position(4512.0, 612.0), QPen(Qt::red));
    manager.beaconMoved(serialA, QDateTime(), position(4513.0, 613.0), QPen(Qt::red));
    manager.beaconMoved(serialB, QDateTime(), position(4600.0, 700.0), QPen(Qt::blue));
    manager.beaconDeleted(serialA);
    QCOMPARE(plot.plottableCount(), 1);
    QCOMPARE(legendNames(plot), QStringList{serialB});
    QVERIFY(!manager.curve(serialA));
    manager.beaconDeleted(QStringLiteral("ffffffffffff"));
    QCOMPARE(plot.plottableCount(), 1);

    // A beacon that comes back starts a new curve at the end of the legend.
    manager.beaconMoved(serialA, QDateTime(), position(4514.0, 614.0), QPen(Qt::red));
    QCOMPARE(legendNames(plot), (QStringList{serialB, serialA}));
    QCOMPARE(manager.curve(serialA)->dataCount(), 1);
    QCOMPARE(manager.curve(serialA)->data()->at(0)->t, 0.0);

    // A curve the plot dropped by itself is not used again.
    plot.clearPlottables();
    manager.beaconMoved(serialB, QDateTime(), position(4601.0, 701.0), QPen(Qt::blue));
    QCOMPARE(plot.plottableCount(), 1);
    QCOMPARE(manager.curve(serialB)->dataCount(), 1);
}

void TestGraphManager::replotsOncePerBurst()
{
    XCustomPlot plot;
    GraphManager manager(&plot);
    QSignalSpy replots(&plot, &QCustomPlot::afterReplot);
    for (int i = 0; i < 20; ++i)
        manager.beaconMoved(QStringLiteral("%1").arg(i, 12, 10, QLatin1Char('0')), QDateTime(),
                            position(4500.0 + i, 600.0 + i), QPen(Qt::red));
    manager.beaconDeleted(serialA);
    QCOMPARE(replots.count(), 0);
    QTRY_COMPARE(replots.count(), 1);
    QCoreApplication::processEvents();
    QCOMPARE(replots.count(), 1);
}

void TestGraphManager::knownBeaconsRepaintTheCurvesAlone()
{
    XCustomPlot plot;
    plot.resize(300, 300);
    GraphManager manager(&plot);
    plot.xAxis->setRange(6.0, 7.0);
    plot.yAxis->setRange(45.0, 46.0);
    manager.beaconMoved(serialA, QDateTime(), position(4506.0, 606.0), QPen(Qt::red));
    const QImage before = plot.grab().toImage();
    QCoreApplication::sendPostedEvents();

    // East then north: a line to 6.8E 45.1N, then one up to 45.9N.
    QSignalSpy replots(&plot, &QCustomPlot::afterReplot);
    manager.beaconMoved(serialA, QDateTime(), position(4506.0, 648.0), QPen(Qt::red));
    manager.beaconMoved(serialA, QDateTime(), position(4554.0, 648.0), QPen(Qt::red));
    QCoreApplication::sendPostedEvents();
    QCOMPARE(replots.count(), 0);
    const QImage after = plot.grab().toImage();
    const QPoint north(qRound(plot.xAxis->coordToPixel(6.8)),
                       qRound(plot.yAxis->coordToPixel(45.5)));
    QCOMPARE(before.pixelColor(north), QColor(Qt::white));
    // The antialiased line, in red.
    QCOMPARE(after.pixelColor(north).red(), 255);
    QVERIFY(after.pixelColor(north).green() < 192);
    // Axes, ticks and legend stay as they were.
    const QRect legend = plot.legend->outerRect();
    QCOMPARE(after.copy(legend), before.copy(legend));
}

void TestGraphManager::addingPointsKeepsTheView()
{
    XCustomPlot plot;
    GraphManager manager(&plot);
    plot.xAxis->setRange(6.0, 7.0);
    plot.yAxis->setRange(45.0, 46.0);
    manager.beaconMoved(serialA, QDateTime(), position(5000.0, 1000.0), QPen(Qt::red));
    QCOMPARE(plot.xAxis->range(), QCPRange(6.0, 7.0));
    QCOMPARE(plot.yAxis->range(), QCPRange(45.0, 46.0));
}

void TestGraphManager::announcesResizes()
{
    XCustomPlot plot;
    QSignalSpy resized(&plot, &XCustomPlot::Resized);
    QResizeEvent event(QSize(320, 200), QSize(100, 100));
    QApplication::sendEvent(&plot, &event);
    QCOMPARE(resized.count(), 1);
    QCOMPARE(resized.at(0).at(0).toSize(), QSize(320, 200));
}

void TestGraphManager::drawsLikeQCPCurve_data()
{
    QTest::addColumn<QVector<QPointF>>("points");
    QTest::addColumn<bool>("selected");
    // Largest difference of a colour channel between the two pictures.
    QTest::addColumn<int>("tolerance");
    // Positions a pixel or more apart: nothing is left out.
    QVector<QPointF> sparse;
    for (int i = 0; i < 40; ++i)
        sparse.append(QPointF(10 + i * 2, 50 + (i % 5) * 3));
    QTest::newRow("sparse") << sparse << false << 0;
    QTest::newRow("selected") << sparse << true << 0;
    // Zoomed in far: a segment whose ends lie millions of pixels outside the plot. Segments that
    // cross the edge of the plot are cut there rather than at QCPCurve's own far points, which
    // moves some antialiased pixels of the line by a level or two.
    QTest::newRow("far ends") << QVector<QPointF>{{-1e7, 20}, {1e7, 80}, {50, 90}} << false << 2;
    // A track that leaves the plot, wanders outside, and comes back.
    QTest::newRow("leaves and returns")
        << QVector<QPointF>{{10, 10}, {50, 50}, {150, 60}, {300, 70}, {400, 75}, {200, 80},
                            {90, 90}, {20, 95}}
        << false << 2;
    QVector<QPointF> gap = sparse;
    gap[10] = QPointF(qQNaN(), qQNaN());
    QTest::newRow("gap") << gap << false << 0;
}

void TestGraphManager::drawsLikeQCPCurve()
{
    QFETCH(QVector<QPointF>, points);
    QFETCH(bool, selected);
    QFETCH(int, tolerance);
    const int difference = largestDifference(rendered(*plotWith(true, points, selected)),
                                             rendered(*plotWith(false, points, selected)));
    QVERIFY2(difference <= tolerance, qPrintable(QString::number(difference)));
}

void TestGraphManager::standingStillLooksLikeOnePosition()
{
    // A beacon standing still for thousands of reports looks like one standing still for one.
    QVector<QPointF> sparse;
    for (int i = 0; i < 40; ++i)
        sparse.append(QPointF(10 + i * 2, 50 + (i % 5) * 3));
    QVector<QPointF> still = sparse;
    still.insert(20, 5000, sparse.at(20));
    QCOMPARE(rendered(*plotWith(true, still, false)), rendered(*plotWith(true, sparse, false)));
}

QTEST_MAIN(TestGraphManager)
#include "tst_graphmanager.moc"
