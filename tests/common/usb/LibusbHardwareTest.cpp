// Needs a receptor plugged in: finds it by its interface class through its Microsoft OS
// descriptors, opens it and reads its identification.
#include "LibusbBackend.h"

#include <QtTest>

class LibusbHardwareTest : public QObject {
    Q_OBJECT

private slots:
    void opensThePluggedInReceptor()
    {
        const auto receptorClass = usb::Guid::parse("{265D0004-043B-458E-B9AA-E5AD6E62320C}");
        usb::LibusbBackend backend;
        const std::vector<std::string> paths = backend.listPaths(*receptorClass);
        QVERIFY2(!paths.empty(), "no receptor found");
        qDebug("receptor at %s", paths.front().c_str());

        usb::Outcome outcome = usb::Outcome::IoError;
        const std::unique_ptr<usb::Device> device = backend.open(paths.front(), &outcome);
        QVERIFY2(device, usb::outcomeName(outcome));
        QVERIFY(device->endpointCount());
        QCOMPARE(device->setPipeTimeout(0, 1000), usb::Outcome::Ok);

        usb::SetupPacket readId;
        readId.requestType = 0xC0;
        readId.request = 0x01;
        readId.length = 24;
        uint8_t id[24] = {};
        const usb::Transfer transfer = device->control(readId, id);
        QVERIFY2(transfer.ok(), usb::outcomeName(transfer.outcome));
        QVERIFY(transfer.transferred > 0);
    }
};

QTEST_GUILESS_MAIN(LibusbHardwareTest)
#include "LibusbHardwareTest.moc"
