// The libusb backend without hardware: its path form, and listing and opening on a machine where
// no device declares the class (or where libusb has no USB file system at all).
#include "LibusbBackend.h"

#include <QtTest>

using usb::LibusbBackend;

class LibusbBackendTest : public QObject {
    Q_OBJECT

private slots:
    void pathsRoundTrip_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("port on the root hub") << "usb:1-2:0";
        QTest::newRow("behind hubs") << "usb:3-1.4.2:1";
        QTest::newRow("deepest tier") << "usb:255-1.2.3.4.5.6.7:255";
    }

    void pathsRoundTrip()
    {
        QFETCH(QString, path);
        const auto location = LibusbBackend::parsePath(path.toStdString());
        QVERIFY(location);
        QCOMPARE(QString::fromStdString(LibusbBackend::formatPath(*location)), path);
    }

    void pathNamesBusPortsAndInterface()
    {
        const auto location = LibusbBackend::parsePath("usb:3-1.4.2:1");
        QVERIFY(location);
        QCOMPARE(location->bus, uint8_t(3));
        QVERIFY((location->ports == std::vector<uint8_t>{1, 4, 2}));
        QCOMPARE(location->interfaceNumber, uint8_t(1));
    }

    void malformedPathsAreRefused_data()
    {
        QTest::addColumn<QString>("path");
        for (const char *path : {"", "usb:", "emu:1-2:0", "usb:1-2", "usb:1-:0", "usb:1-2.:0", "usb:1-2:",
                                 "usb:0-1:0", "usb:1-0:0", "usb:1-2:256", "usb:256-1:0", "usb:01-2:0",
                                 "usb:1-02:0", "usb:1-2:00", "usb:1-1.2.3.4.5.6.7.8:0", "usb:1-2:0 ",
                                 "usb:1-2:0:1", "usb:-1-2:0", "usb:1-2:1000", "USB:1-2:0"})
            QTest::newRow(path) << path;
    }

    void malformedPathsAreRefused()
    {
        QFETCH(QString, path);
        QVERIFY(!LibusbBackend::parsePath(path.toStdString()));
        LibusbBackend backend;
        usb::Outcome outcome = usb::Outcome::Ok;
        QVERIFY(!backend.open(path.toStdString(), &outcome));
        QCOMPARE(outcome, usb::Outcome::NoDevice);
    }

    void ownsPathsByTheirPrefix()
    {
        LibusbBackend backend;
        QVERIFY(backend.ownsPath("usb:1-2:0"));
        QVERIFY(backend.ownsPath("usb:anything"));
        QVERIFY(!backend.ownsPath("emu:receptor"));
        QVERIFY(!backend.ownsPath("\\\\?\\usb#vid_1234&pid_5678"));
    }

    // No device here declares this class: listing finds nothing, twice (the second time from what
    // the first one learnt), and opening a place with no device fails.
    void listsNothingForAnUnknownClass()
    {
        const auto unknown = usb::Guid::parse("{5C0F3D2E-9A41-4B7E-8E22-61D0B7A94C13}");
        QVERIFY(unknown);
        LibusbBackend backend;
        QVERIFY(backend.listPaths(*unknown).empty());
        QVERIFY(backend.listPaths(*unknown).empty());

        usb::Outcome outcome = usb::Outcome::Ok;
        QVERIFY(!backend.open("usb:255-7.7.7.7.7.7.7:255", &outcome));
        QCOMPARE(outcome, usb::Outcome::NoDevice);
    }
};

QTEST_GUILESS_MAIN(LibusbBackendTest)
#include "LibusbBackendTest.moc"
