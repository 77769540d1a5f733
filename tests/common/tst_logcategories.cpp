// Debug lines: every category is off by default, so nothing reaches the user's terminal, and a
// logging rule switches one category on without the others.
#include "LogCategories.h"

#include <QtTest>

class TestLogCategories : public QObject
{
    Q_OBJECT

private slots:
    void offByDefaultAndOneByOne();
};

void TestLogCategories::offByDefaultAndOneByOne()
{
    const QList<const QLoggingCategory *> all = {
        &lcKitUsb(), &lcReceptor(), &lcTracking(), &lcStationWindow(), &lcViews(),
        &lcModule(), &lcDetector(), &lcWorker(), &lcDownload(), &lcManagerWindow()};
    for (const QLoggingCategory *category : all) {
        QVERIFY2(!category->isDebugEnabled(), category->categoryName());
        // Warnings still go out.
        QVERIFY(category->isWarningEnabled());
    }

    QLoggingCategory::setFilterRules(QStringLiteral("quorvel.download.debug=true"));
    for (const QLoggingCategory *category : all)
        QCOMPARE(category->isDebugEnabled(), category == &lcDownload());
    QLoggingCategory::setFilterRules(QString());
}

QTEST_GUILESS_MAIN(TestLogCategories)
#include "tst_logcategories.moc"
