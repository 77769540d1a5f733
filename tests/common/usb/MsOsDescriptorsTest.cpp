// The Microsoft OS descriptor parsers on hand-built byte arrays: well-formed 2.0 sets and 1.0
// extended properties, and truncated or lying ones that must be rejected without reading past them.
#include "DescriptorBytes.h"
#include "MsOsDescriptors.h"

#include <QtTest>

#include <initializer_list>
#include <string>

using descriptorbytes::Bytes;
using descriptorbytes::cat;
using descriptorbytes::le16;
using descriptorbytes::le32;
using usb::Guid;
using usb::InterfaceGuid;

namespace {

const Guid guidA = *Guid::parse("{265D0004-043B-458E-B9AA-E5AD6E62320C}");
const Guid guidB = *Guid::parse("{86939D4C-A46D-4604-81DF-8BE24B211E48}");
const Guid guidC = *Guid::parse("{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}");

// UTF-16LE text; `terminator` appends the null code unit.
Bytes utf16(const std::string &text, bool terminator = true)
{
    Bytes bytes;
    for (char c : text) {
        bytes.push_back(uint8_t(c));
        bytes.push_back(0);
    }
    if (terminator)
        bytes.insert(bytes.end(), {0, 0});
    return bytes;
}

// REG_MULTI_SZ: each string terminated, then the closing empty string.
Bytes multiSz(std::initializer_list<std::string> strings)
{
    Bytes bytes;
    for (const std::string &s : strings) {
        const Bytes one = utf16(s);
        bytes.insert(bytes.end(), one.begin(), one.end());
    }
    bytes.insert(bytes.end(), {0, 0});
    return bytes;
}

// --- MS OS 2.0 ---

Bytes bosWith(std::initializer_list<Bytes> capabilities)
{
    const Bytes caps = cat(capabilities);
    return cat({{5, 0x0F}, le16(5 + caps.size()), {uint8_t(capabilities.size())}, caps});
}

Bytes platformCapability(const Bytes &uuid, const Bytes &data)
{
    return cat({{uint8_t(4 + uuid.size() + data.size()), 0x10, 0x05, 0x00}, uuid, data});
}

const Bytes msOs20Uuid = {0xDF, 0x60, 0xDD, 0xD8, 0x89, 0x45, 0xC7, 0x4C,
                          0x9C, 0xD2, 0x65, 0x9D, 0x9E, 0x64, 0x8A, 0x9F};
// The WebUSB platform capability, which often comes first.
const Bytes webUsbUuid = {0x38, 0xB6, 0x08, 0x34, 0xA9, 0x09, 0xA0, 0x47,
                          0x8B, 0xFD, 0xA0, 0x76, 0x88, 0x15, 0xB6, 0x65};

Bytes setInfo(uint32_t windowsVersion, uint16_t totalLength, uint8_t vendorCode)
{
    return cat({le32(windowsVersion), le16(totalLength), {vendorCode, 0}});
}

Bytes setHeader(const Bytes &body)
{
    return cat({le16(10), le16(0), le32(0x06030000), le16(10 + body.size()), body});
}

Bytes configurationSubset(const Bytes &body)
{
    return cat({le16(8), le16(1), {0, 0}, le16(8 + body.size()), body});
}

Bytes functionSubset(uint8_t firstInterface, const Bytes &body)
{
    return cat({le16(8), le16(2), {firstInterface, 0}, le16(8 + body.size()), body});
}

Bytes compatibleId()
{
    return cat({le16(20), le16(3), {'W', 'I', 'N', 'U', 'S', 'B', 0, 0}, Bytes(8, 0)});
}

Bytes property20(uint16_t type, const Bytes &name, const Bytes &data)
{
    return cat({le16(10 + name.size() + data.size()), le16(4), le16(type), le16(name.size()), name,
                le16(data.size()), data});
}

// A composite device: interface 0 declares two GUIDs, interface 2 one through the REG_SZ name.
Bytes compositeSet()
{
    return setHeader(configurationSubset(cat({
        functionSubset(0, cat({compatibleId(),
                               property20(usb::RegMultiSz, utf16("DeviceInterfaceGUIDs"),
                                          multiSz({guidA.toString(), guidB.toString()}))})),
        functionSubset(2, cat({compatibleId(),
                               property20(usb::RegSz, utf16("DeviceInterfaceGUID"), utf16(guidC.toString()))})),
    })));
}

// --- MS OS 1.0 ---

Bytes msOs10String(const std::string &signature, uint8_t vendorCode)
{
    return cat({{18, 0x03}, utf16(signature, false), {vendorCode, 0}});
}

Bytes section10(uint32_t type, const Bytes &name, const Bytes &data)
{
    return cat({le32(14 + name.size() + data.size()), le32(type), le16(name.size()), name, le32(data.size()), data});
}

Bytes extendedProperties(std::initializer_list<Bytes> sections)
{
    const Bytes body = cat(sections);
    return cat({le32(10 + body.size()), le16(0x0100), le16(5), le16(sections.size()), body});
}

Bytes compatSection(uint8_t firstInterface, const std::string &id, const std::string &subId = "")
{
    Bytes idField(id.begin(), id.end()), subField(subId.begin(), subId.end());
    idField.resize(8, 0);
    subField.resize(8, 0);
    return cat({{firstInterface, 1}, idField, subField, Bytes(6, 0)});
}

Bytes extendedCompatId(std::initializer_list<Bytes> sections)
{
    const Bytes body = cat(sections);
    return cat({le32(16 + body.size()), le16(0x0100), le16(4), {uint8_t(sections.size())}, Bytes(7, 0), body});
}

std::vector<InterfaceGuid> guidsOf(const std::optional<std::vector<usb::MsOsRegistryProperty>> &properties)
{
    return properties ? usb::deviceInterfaceGuids(*properties) : std::vector<InterfaceGuid>{};
}

Bytes bytesOf(const QByteArray &array) { return Bytes(array.begin(), array.end()); }
QByteArray arrayOf(const Bytes &bytes) { return QByteArray(reinterpret_cast<const char *>(bytes.data()), int(bytes.size())); }

usb::MsOsRegistryProperty registryProperty(uint32_t type, const Bytes &name, const Bytes &data)
{
    usb::MsOsRegistryProperty p;
    p.interfaceNumber = 1;
    p.dataType = type;
    p.name = name;
    p.data = data;
    return p;
}

} // namespace

class MsOsDescriptorsTest : public QObject {
    Q_OBJECT

private slots:
    void capabilityIsFoundAmongPlatformCapabilities()
    {
        const Bytes bos = bosWith({platformCapability(webUsbUuid, {0x00, 0x01, 0x01, 0x01}),
                                   platformCapability(msOs20Uuid, setInfo(0x06030000, 0x00B2, 0x21))});
        const auto capability = usb::parseMsOs20Capability(bos);
        QVERIFY(capability);
        QCOMPARE(capability->windowsVersion, 0x06030000u);
        QCOMPARE(capability->totalLength, uint16_t(0xB2));
        QCOMPARE(capability->vendorCode, uint8_t(0x21));
    }

    void capabilityTakesTheNewestWindowsVersion()
    {
        const Bytes bos = bosWith({platformCapability(
            msOs20Uuid, cat({setInfo(0x06030000, 0x40, 0x01), setInfo(0x0A000000, 0x60, 0x02),
                             setInfo(0x06040000, 0x50, 0x03)}))});
        const auto capability = usb::parseMsOs20Capability(bos);
        QVERIFY(capability);
        QCOMPARE(capability->vendorCode, uint8_t(0x02));
        QCOMPARE(capability->totalLength, uint16_t(0x60));
    }

    void badBosIsRejected_data()
    {
        QTest::addColumn<QByteArray>("bos");
        const Bytes good = bosWith({platformCapability(msOs20Uuid, setInfo(0x06030000, 0x40, 0x01))});
        QTest::newRow("no MS OS 2.0 capability")
            << arrayOf(bosWith({platformCapability(webUsbUuid, {0x00, 0x01, 0x01, 0x01})}));
        QTest::newRow("header only") << arrayOf(bosWith({}));
        Bytes lying = good;
        lying[2] = uint8_t(good.size() + 1);
        QTest::newRow("total length past the data") << arrayOf(lying);
        Bytes zero = good;
        zero[5] = 0;
        QTest::newRow("zero-length capability") << arrayOf(zero);
        Bytes longCap = good;
        longCap[5] = uint8_t(longCap[5] + 1);
        QTest::newRow("capability past the total") << arrayOf(longCap);
        QTest::newRow("partial set information")
            << arrayOf(bosWith({platformCapability(msOs20Uuid, cat({setInfo(0x06030000, 0x40, 0x01), {1, 2, 3}}))}));
        QTest::newRow("set shorter than its header")
            << arrayOf(bosWith({platformCapability(msOs20Uuid, setInfo(0x06030000, 9, 0x01))}));
        Bytes wrongType = good;
        wrongType[1] = 0x02;
        QTest::newRow("not a BOS descriptor") << arrayOf(wrongType);
    }

    void badBosIsRejected()
    {
        QFETCH(QByteArray, bos);
        QVERIFY(!usb::parseMsOs20Capability(bytesOf(bos)));
    }

    void compositeSetGivesEachFunctionsGuids()
    {
        const auto guids = guidsOf(usb::parseMsOs20DescriptorSet(compositeSet()));
        const std::vector<InterfaceGuid> expected = {{0, guidA}, {0, guidB}, {2, guidC}};
        QVERIFY(guids == expected);
    }

    void propertiesOutsideFunctionsBelongToInterfaceZero()
    {
        // A whole-device set (no subsets), and a property after the end of a function subset.
        const Bytes wholeDevice = setHeader(cat({compatibleId(), property20(usb::RegMultiSz, utf16("DeviceInterfaceGUIDs"),
                                                                             multiSz({guidA.toString()}))}));
        QVERIFY((guidsOf(usb::parseMsOs20DescriptorSet(wholeDevice)) == std::vector<InterfaceGuid>{{0, guidA}}));

        const Bytes afterFunction = setHeader(configurationSubset(cat({
            functionSubset(3, property20(usb::RegSz, utf16("DeviceInterfaceGUID"), utf16(guidB.toString()))),
            property20(usb::RegSz, utf16("DeviceInterfaceGUID"), utf16(guidC.toString())),
        })));
        const std::vector<InterfaceGuid> expected = {{3, guidB}, {0, guidC}};
        QVERIFY(guidsOf(usb::parseMsOs20DescriptorSet(afterFunction)) == expected);
    }

    void setBytesPastTheTotalAreIgnored()
    {
        Bytes set = compositeSet();
        set.insert(set.end(), {0xFF, 0xFF, 0xFF});
        QCOMPARE(guidsOf(usb::parseMsOs20DescriptorSet(set)).size(), std::size_t(3));
        QVERIFY(usb::parseMsOs20DescriptorSet(setHeader({})));
    }

    void badSetIsRejected_data()
    {
        QTest::addColumn<QByteArray>("set");
        const Bytes name = utf16("DeviceInterfaceGUIDs");
        const Bytes data = multiSz({guidA.toString()});
        const Bytes prop = property20(usb::RegMultiSz, name, data);

        Bytes truncated = compositeSet();
        truncated.pop_back();
        QTest::newRow("truncated") << arrayOf(truncated);

        Bytes nameTooLong = prop;
        nameTooLong[6] = uint8_t(nameTooLong[6] + 40);
        QTest::newRow("property name past wLength") << arrayOf(setHeader(nameTooLong));

        Bytes dataTooLong = prop;
        dataTooLong[8 + name.size()] = uint8_t(dataTooLong[8 + name.size()] + 2);
        QTest::newRow("property data past wLength") << arrayOf(setHeader(dataTooLong));

        Bytes zeroLength = setHeader(prop);
        zeroLength[10] = 0;
        QTest::newRow("zero wLength") << arrayOf(zeroLength);

        // A CCGP device descriptor follows the configuration subset; the function claims it too.
        const Bytes ccgp = cat({le16(4), le16(7)});
        Bytes functionPastConfig = setHeader(cat({configurationSubset(functionSubset(0, prop)), ccgp}));
        QVERIFY(usb::parseMsOs20DescriptorSet(functionPastConfig));
        functionPastConfig[10 + 8 + 6] = uint8_t(functionPastConfig[10 + 8 + 6] + ccgp.size());
        QTest::newRow("function subset past its configuration") << arrayOf(functionPastConfig);

        // The function subset claims to end in the middle of the property that follows its header.
        Bytes crossing = setHeader(functionSubset(0, prop));
        crossing[10 + 6] = 8 + 4;
        QTest::newRow("descriptor across a function end") << arrayOf(crossing);

        QTest::newRow("nested function subsets") << arrayOf(setHeader(functionSubset(0, functionSubset(1, prop))));
        QTest::newRow("nested configuration subsets")
            << arrayOf(setHeader(configurationSubset(configurationSubset(prop))));
        QTest::newRow("second set header") << arrayOf(setHeader(setHeader({})));

        Bytes shortCompat = compatibleId();
        shortCompat.resize(16);
        shortCompat[0] = 16;
        QTest::newRow("compatible ID of the wrong length") << arrayOf(setHeader(shortCompat));

        QTest::newRow("tail shorter than a descriptor header") << arrayOf(setHeader({4, 0}));
        Bytes wrongHeader = setHeader(prop);
        wrongHeader[0] = 12;
        QTest::newRow("set header of the wrong length") << arrayOf(wrongHeader);
    }

    void badSetIsRejected()
    {
        QFETCH(QByteArray, set);
        QVERIFY(!usb::parseMsOs20DescriptorSet(bytesOf(set)));
    }

    void msOs10StringGivesTheVendorCode()
    {
        QCOMPARE(usb::parseMsOs10String(msOs10String("MSFT100", 0x33)), std::optional<uint8_t>(0x33));
        QVERIFY(!usb::parseMsOs10String(msOs10String("MSFT200", 0x33)));
        Bytes truncated = msOs10String("MSFT100", 0x33);
        truncated.pop_back();
        QVERIFY(!usb::parseMsOs10String(truncated));
        Bytes notString = msOs10String("MSFT100", 0x33);
        notString[1] = 0x02;
        QVERIFY(!usb::parseMsOs10String(notString));
        Bytes lying = msOs10String("MSFT100", 0x33);
        lying[0] = 40;
        QVERIFY(!usb::parseMsOs10String(lying));
    }

    void extendedPropertiesGiveTheInterfaceGuids()
    {
        const Bytes descriptor = extendedProperties({
            section10(usb::RegSz, utf16("Label"), utf16("Receptor")),
            section10(usb::RegMultiSz, utf16("DeviceInterfaceGUIDs"), multiSz({guidA.toString(), guidB.toString()})),
        });
        QCOMPARE(usb::parseMsOs10ExtendedPropertiesLength(Bytes(descriptor.begin(), descriptor.begin() + 10)),
                 std::optional<uint32_t>(uint32_t(descriptor.size())));
        const auto guids = guidsOf(usb::parseMsOs10ExtendedProperties(descriptor, 4));
        const std::vector<InterfaceGuid> expected = {{4, guidA}, {4, guidB}};
        QVERIFY(guids == expected);
    }

    void extendedCompatIdNamesEachFunction()
    {
        const Bytes descriptor = extendedCompatId({compatSection(0, "WINUSB"), compatSection(2, "RNDIS", "5162001")});
        QCOMPARE(usb::parseMsOs10ExtendedCompatIdLength(Bytes(descriptor.begin(), descriptor.begin() + 16)),
                 std::optional<uint32_t>(uint32_t(descriptor.size())));
        const auto functions = usb::parseMsOs10ExtendedCompatId(descriptor);
        QVERIFY(functions);
        QCOMPARE(functions->size(), std::size_t(2));
        QCOMPARE(functions->at(0).firstInterface, uint8_t(0));
        QCOMPARE(functions->at(0).compatibleId, std::string("WINUSB"));
        QCOMPARE(functions->at(0).subCompatibleId, std::string());
        QCOMPARE(functions->at(1).firstInterface, uint8_t(2));
        QCOMPARE(functions->at(1).compatibleId, std::string("RNDIS"));
        QCOMPARE(functions->at(1).subCompatibleId, std::string("5162001"));
        // An 8-character ID fills its field without a terminator.
        QCOMPARE(usb::parseMsOs10ExtendedCompatId(extendedCompatId({compatSection(1, "ABCDEFGH")}))->at(0).compatibleId,
                 std::string("ABCDEFGH"));
    }

    void badExtendedCompatIdIsRejected_data()
    {
        QTest::addColumn<QByteArray>("descriptor");
        const Bytes good = extendedCompatId({compatSection(0, "WINUSB")});
        Bytes version = good;
        version[5] = 0x02;
        Bytes index = good;
        index[6] = 5;
        Bytes moreSections = good;
        moreSections[8] = 2;
        Bytes shortLength = good;
        shortLength[0] = 15;
        Bytes longLength = good;
        longLength[0] = uint8_t(good.size() + 24);
        QTest::newRow("wrong version") << arrayOf(version);
        QTest::newRow("properties index") << arrayOf(index);
        QTest::newRow("count past the end") << arrayOf(moreSections);
        QTest::newRow("length below the header") << arrayOf(shortLength);
        QTest::newRow("length past the bytes") << arrayOf(longLength);
        QTest::newRow("header cut") << arrayOf(Bytes(good.begin(), good.begin() + 15));
        QTest::newRow("section cut") << arrayOf(Bytes(good.begin(), good.end() - 1));
    }

    void badExtendedCompatIdIsRejected()
    {
        QFETCH(QByteArray, descriptor);
        QVERIFY(!usb::parseMsOs10ExtendedCompatId(bytesOf(descriptor)));
    }

    void badExtendedPropertiesAreRejected_data()
    {
        QTest::addColumn<QByteArray>("descriptor");
        const Bytes name = utf16("DeviceInterfaceGUIDs");
        const Bytes section = section10(usb::RegMultiSz, name, multiSz({guidA.toString()}));
        const Bytes good = extendedProperties({section});

        Bytes truncated = good;
        truncated.pop_back();
        QTest::newRow("truncated") << arrayOf(truncated);
        Bytes moreSections = good;
        moreSections[8] = 2;
        QTest::newRow("count above the sections present") << arrayOf(moreSections);
        Bytes fewerSections = extendedProperties({section, section});
        fewerSections[8] = 1;
        QTest::newRow("sections beyond the count") << arrayOf(fewerSections);
        Bytes sizeTooLong = good;
        sizeTooLong[10] = uint8_t(sizeTooLong[10] + 2);
        QTest::newRow("section size past the descriptor") << arrayOf(cat({sizeTooLong, {0, 0}}));
        Bytes sizeTooShort = good;
        sizeTooShort[10] = 13;
        QTest::newRow("section smaller than its fields") << arrayOf(sizeTooShort);
        Bytes nameTooLong = good;
        nameTooLong[18] = 0xF0;
        QTest::newRow("name past the section") << arrayOf(nameTooLong);
        Bytes dataTooLong = good;
        dataTooLong[20 + name.size() + 3] = 0x80;
        QTest::newRow("data length beyond 2 GiB") << arrayOf(dataTooLong);
        Bytes version = good;
        version[5] = 0x02;
        QTest::newRow("not version 1.00") << arrayOf(version);
        Bytes index = good;
        index[6] = 4;
        QTest::newRow("compatible ID descriptor instead") << arrayOf(index);
        QTest::newRow("header alone") << arrayOf(Bytes(good.begin(), good.begin() + 10));
    }

    void badExtendedPropertiesAreRejected()
    {
        QFETCH(QByteArray, descriptor);
        QVERIFY(!usb::parseMsOs10ExtendedProperties(bytesOf(descriptor), 0));
    }

    // Every proper prefix of a valid descriptor is a truncation the parsers must refuse.
    void everyTruncationIsRejected()
    {
        const Bytes bos = bosWith({platformCapability(msOs20Uuid, setInfo(0x06030000, 0x40, 0x01))});
        const Bytes set = compositeSet();
        const Bytes properties = extendedProperties({section10(usb::RegMultiSz, utf16("DeviceInterfaceGUIDs"),
                                                               multiSz({guidA.toString()}))});
        for (std::size_t n = 0; n < bos.size(); ++n)
            QVERIFY2(!usb::parseMsOs20Capability(Bytes(bos.begin(), bos.begin() + long(n))), qPrintable(QString::number(n)));
        for (std::size_t n = 0; n < set.size(); ++n)
            QVERIFY2(!usb::parseMsOs20DescriptorSet(Bytes(set.begin(), set.begin() + long(n))), qPrintable(QString::number(n)));
        for (std::size_t n = 0; n < properties.size(); ++n)
            QVERIFY2(!usb::parseMsOs10ExtendedProperties(Bytes(properties.begin(), properties.begin() + long(n)), 0),
                     qPrintable(QString::number(n)));
    }

    void propertyStringsAreReadLikeTheRegistry_data()
    {
        QTest::addColumn<uint>("type");
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<int>("count");   // GUIDs found: guidA, then guidB

        const QByteArray names = arrayOf(utf16("DeviceInterfaceGUIDs"));
        const QByteArray a = arrayOf(utf16(guidA.toString()));
        const QByteArray b = arrayOf(utf16(guidB.toString()));
        QTest::newRow("multi-sz") << uint(usb::RegMultiSz) << names << arrayOf(multiSz({guidA.toString(), guidB.toString()})) << 2;
        QTest::newRow("name in another case") << uint(usb::RegMultiSz) << arrayOf(utf16("deviceinterfaceguids")) << a << 1;
        QTest::newRow("no terminators") << uint(usb::RegMultiSz) << arrayOf(utf16("DeviceInterfaceGUIDs", false))
                                        << arrayOf(utf16(guidA.toString(), false)) << 1;
        QTest::newRow("braces left out") << uint(usb::RegMultiSz) << names
                                         << arrayOf(utf16("265D0004-043B-458E-B9AA-E5AD6E62320C")) << 1;
        QTest::newRow("REG_SZ holds one string") << uint(usb::RegSz) << arrayOf(utf16("DeviceInterfaceGUID")) << a + b << 1;
        QTest::newRow("multi-sz ends at the empty string") << uint(usb::RegMultiSz) << names
                                                          << arrayOf(multiSz({guidA.toString()})) + b << 1;
        QTest::newRow("other strings skipped")
            << uint(usb::RegMultiSz) << names
            << arrayOf(multiSz({"hello", "{265D0004-043B-458E-B9AA-E5AD6E62320}", guidA.toString()})) << 1;
        // guidB with its opening brace turned into U+047B, then guidA.
        QTest::newRow("non-ASCII skipped") << uint(usb::RegMultiSz) << names
                                           << QByteArray("\x7B\x04", 2) + b.mid(2) + a << 1;
        QTest::newRow("repeats dropped") << uint(usb::RegMultiSz) << names
                                         << arrayOf(multiSz({guidA.toString(), guidA.toString()})) << 1;
        QTest::newRow("odd data length") << uint(usb::RegMultiSz) << names << a + QByteArray(1, 0) << 0;
        QTest::newRow("odd name length") << uint(usb::RegMultiSz) << names + QByteArray(1, 0) << a << 0;
        QTest::newRow("REG_DWORD") << 4u << names << a << 0;
        QTest::newRow("longer name") << uint(usb::RegMultiSz) << arrayOf(utf16("DeviceInterfaceGUIDsX")) << a << 0;
        QTest::newRow("shorter name") << uint(usb::RegMultiSz) << arrayOf(utf16("DeviceInterface")) << a << 0;
        QTest::newRow("empty data") << uint(usb::RegMultiSz) << names << QByteArray() << 0;
    }

    void propertyStringsAreReadLikeTheRegistry()
    {
        QFETCH(uint, type);
        QFETCH(QByteArray, name);
        QFETCH(QByteArray, data);
        QFETCH(int, count);
        const auto guids = usb::deviceInterfaceGuids({registryProperty(type, bytesOf(name), bytesOf(data))});
        QCOMPARE(int(guids.size()), count);
        if (count >= 1)
            QVERIFY(guids[0].guid == guidA && guids[0].interfaceNumber == 1);
        if (count >= 2)
            QVERIFY(guids[1].guid == guidB);
    }
};

QTEST_GUILESS_MAIN(MsOsDescriptorsTest)
#include "MsOsDescriptorsTest.moc"
