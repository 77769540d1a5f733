// What identifies a kit device without any transfer: the declarations file of vendor:product ids,
// and the summary of a device's descriptors as sysfs gives them (which interfaces are vendor-
// specific decides whether the device is ever asked anything).
#include "KitDeclarations.h"
#include "KitProbe.h"

#include <QtTest>

using Bytes = std::vector<uint8_t>;

class KitDevicesTest : public QObject {
    Q_OBJECT

private slots:
    void declarationsKeepWellFormedLinesOnly()
    {
        const auto declarations = usb::parseKitDeclarations("# kit devices\n"
                                                             "1209:4B31 receptor\n"
                                                             "  1209:4b32\tmodule 2   # a comment\n"
                                                             "\n"
                                                             "1209:0001 beacon\n"       // unknown kind
                                                             "12090:0001 module\n"      // five digits
                                                             "1209-0002 module\n"       // no colon
                                                             "1209:0003 module 256\n"   // no such interface
                                                             "1209:0004 module 1 2\n"   // trailing word
                                                             "1209:000g module\n"
                                                             "1209:0005 module");       // no final newline
        QCOMPARE(declarations.size(), std::size_t(3));
        QCOMPARE(declarations[0].vendorId, uint16_t(0x1209));
        QCOMPARE(declarations[0].productId, uint16_t(0x4B31));
        QVERIFY(declarations[0].interfaceClass == usb::kitReceptorClass());
        QVERIFY(!declarations[0].interfaceNumber);
        QVERIFY(declarations[1].interfaceClass == usb::kitModuleClass());
        QCOMPARE(declarations[1].interfaceNumber, std::optional<uint8_t>(2));
        QCOMPARE(declarations[2].productId, uint16_t(0x0005));

        QVERIFY(usb::findKitDeclaration(declarations, 0x1209, 0x4B32) == &declarations[1]);
        QVERIFY(!usb::findKitDeclaration(declarations, 0x1209, 0x0001));
        QVERIFY(usb::readKitDeclarations("/nonexistent/korvane/usb-devices").empty());
        QCOMPARE(usb::kitKindName(usb::kitModuleClass()), std::string("module"));
        QCOMPARE(usb::kitKindName(*usb::Guid::parse("{5C0F3D2E-9A41-4B7E-8E22-61D0B7A94C13}")), std::string());
    }

    void summaryFindsVendorInterfaces()
    {
        // Device descriptor, then a configuration with a HID interface 0 and a vendor-specific
        // interface 1 whose alternate setting 1 only is vendor-specific, and an endpoint between.
        const Bytes device = {18, 1, 0x10, 0x02, 0, 0, 0, 64, 0x09, 0x12, 0x31, 0x4B, 0, 1, 1, 2, 0, 1};
        const Bytes config = {9, 2, 43, 0, 2, 1, 0, 0x80, 50,
                              9, 4, 0, 0, 1, 3, 1, 1, 0,
                              7, 5, 0x81, 3, 8, 0, 10,
                              9, 4, 1, 0, 0, 8, 6, 80, 0,
                              9, 4, 1, 1, 0, 0xFF, 0, 0, 0};
        Bytes all = device;
        all.insert(all.end(), config.begin(), config.end());
        const auto summary = usb::summariseDescriptors(all);
        QVERIFY(summary);
        QCOMPARE(summary->bcdUsb, uint16_t(0x0210));
        QCOMPARE(summary->vendorId, uint16_t(0x1209));
        QCOMPARE(summary->productId, uint16_t(0x4B31));
        QCOMPARE(summary->interfaceNumbers, (Bytes{0, 1}));
        QCOMPARE(summary->vendorInterfaceNumbers, (Bytes{1}));

        // Cut inside the last interface: the ones before the cut remain.
        const auto cut = usb::summariseDescriptors(Bytes(all.begin(), all.end() - 4));
        QVERIFY(cut);
        QCOMPARE(cut->interfaceNumbers, (Bytes{0, 1}));
        QVERIFY(cut->vendorInterfaceNumbers.empty());
        // A descriptor of length 0 ends the walk instead of looping on it.
        Bytes zero = all;
        zero[18 + 9] = 0;
        QVERIFY(usb::summariseDescriptors(zero)->interfaceNumbers.empty());
        // No configuration at all: the device alone.
        QVERIFY(usb::summariseDescriptors(device)->interfaceNumbers.empty());
        // A device descriptor that says it is longer than the bytes there are: nothing follows it.
        Bytes longer = device;
        longer[0] = 22;
        const auto alone = usb::summariseDescriptors(longer);
        QVERIFY(alone && alone->interfaceNumbers.empty());
        QCOMPARE(alone->vendorId, uint16_t(0x1209));
        // Not a device descriptor.
        Bytes wrongType = all;
        wrongType[1] = 2;
        QVERIFY(!usb::summariseDescriptors(wrongType));
        QVERIFY(!usb::summariseDescriptors(Bytes(device.begin(), device.begin() + 17)));
    }
};

QTEST_GUILESS_MAIN(KitDevicesTest)
#include "KitDevicesTest.moc"
