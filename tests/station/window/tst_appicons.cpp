// The launcher icons: every size is drawn to its own scale, inside the tile's margin and opaque over
// the tile, and the two programs' icons differ.
#include "AppIcons.h"

#include <QtTest>

class TestAppIcons : public QObject
{
    Q_OBJECT

private slots:
    void eachSize_data();
    void eachSize();
    void unknownNameGivesNoImage();
};

void TestAppIcons::eachSize_data()
{
    QTest::addColumn<int>("size");
    for (int size : AppIcons::sizes())
        QTest::newRow(qPrintable(QStringLiteral("%1 px").arg(size))) << size;
}

void TestAppIcons::eachSize()
{
    QFETCH(int, size);
    std::vector<QImage> images;
    for (const QString &name : AppIcons::names()) {
        const QImage image = AppIcons::render(name, size);
        QCOMPARE(image.size(), QSize(size, size));
        QVERIFY(image.hasAlphaChannel());

        // The tile spans 224 of 256 units, rounded at the corners: the corners stay clear and the
        // opaque share of the image is the tile's, whatever the size.
        for (const QPoint corner : {QPoint(0, 0), QPoint(size - 1, 0), QPoint(0, size - 1),
                                    QPoint(size - 1, size - 1)})
            QCOMPARE(qAlpha(image.pixel(corner)), 0);
        QCOMPARE(qAlpha(image.pixel(size / 2, size / 2)), 255);
        int opaque = 0;
        for (int y = 0; y < size; ++y) {
            for (int x = 0; x < size; ++x)
                opaque += qAlpha(image.pixel(x, y)) > 127;
        }
        const double share = double(opaque) / (size * size);
        QVERIFY2(share > 0.65 && share < 0.8, qPrintable(QStringLiteral("%1: opaque share %2").arg(name).arg(share)));
        images.push_back(image);
    }
    QCOMPARE(images.size(), std::size_t(2));
    QVERIFY(images[0] != images[1]);
}

void TestAppIcons::unknownNameGivesNoImage()
{
    QVERIFY(AppIcons::render(QStringLiteral("kitsim"), 48).isNull());
    QVERIFY(AppIcons::render(QStringLiteral("korvane"), 0).isNull());
}

QTEST_GUILESS_MAIN(TestAppIcons)
#include "tst_appicons.moc"
