// The virtual module's flash and the track layout its writer produces: header pages, record text in
// both coordinate styles, sectors that fill up, sparse storage, and the page and erase requests.
#include "ModuleFlashWriter.h"
#include "VirtualDevices.h"
#include "VirtualModule.h"

#include <QtTest>

#include <cmath>
#include <limits>

namespace {

QByteArray bytesAt(const VirtualModule &module, uint32_t address, int length)
{
    const VirtualModule::Page page = module.page(address / VirtualModule::pageSize);
    return QByteArray(reinterpret_cast<const char *>(page.data()) + address % VirtualModule::pageSize,
                      length);
}

usb::Transfer request(VirtualModule &module, uint8_t requestType, uint8_t request, uint32_t value,
                      uint8_t *in = nullptr, uint16_t inLength = 0)
{
    usb::SetupPacket setup;
    setup.requestType = requestType;
    setup.request = request;
    if (requestType == 0x40) {
        uint8_t out[4] = {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16), uint8_t(value >> 24)};
        setup.length = 4;
        return module.control(setup, out);
    }
    setup.length = inLength;
    return module.control(setup, in);
}

ModuleFlashWriter::Fix munichFix()
{
    ModuleFlashWriter::Fix fix = testdevices::fixAt(2020, 12, 6, 9, 30);
    fix.second = 15;
    fix.millisecond = 250;
    fix.speed = 12.5;
    fix.altitude = -3.25;
    fix.pdop = 1.8;
    fix.hdop = 0.9;
    fix.vdop = 1.55;
    return fix;
}

} // namespace

class TestVirtualModule : public QObject
{
    Q_OBJECT

private slots:
    void recordText();
    void trackLayout();
    void sectorFillsIntoContinuation();
    void recordsBeforeAnyTrack();
    void sparseFlash();
    void pageServedInSlices();
    void eraseAndEndErase();
};

void TestVirtualModule::recordText()
{
    const ModuleFlashWriter::Fix fix = munichFix();
    const std::string v1 = ModuleFlashWriter::formatRecord(fix, ModuleFlashWriter::CoordinateStyle::V1);
    QCOMPARE(QByteArray::fromStdString(v1),
             QByteArray("061220093015.2504807.0380N01131.0000W12.50   -3.3 1.80 0.90 1.55"));
    const std::string v5 = ModuleFlashWriter::formatRecord(fix, ModuleFlashWriter::CoordinateStyle::V5);
    QCOMPARE(QByteArray::fromStdString(v5).mid(16, 21), QByteArray("480703800N0113100000W"));

    // Missing values are blank fields; numbers too wide lose decimals first.
    ModuleFlashWriter::Fix odd = fix;
    odd.altitude = std::numeric_limits<double>::quiet_NaN();
    odd.speed = 1234.5;
    const std::string text = ModuleFlashWriter::formatRecord(odd, ModuleFlashWriter::CoordinateStyle::V1);
    QCOMPARE(text.size(), std::size_t(64));
    QCOMPARE(QByteArray::fromStdString(text.substr(37, 12)), QByteArray(" 1235       "));
}

void TestVirtualModule::trackLayout()
{
    VirtualModule module;
    ModuleFlashWriter writer(module);
    writer.startTrack("061220", "093015.000", "010");
    writer.appendFix(munichFix(), ModuleFlashWriter::CoordinateStyle::V1);
    writer.appendEmptySlot();
    writer.appendRecord("RAW");

    QCOMPARE(bytesAt(module, 0, 21), QByteArray("*061220093015.000010" "1"));
    QCOMPARE(bytesAt(module, 21, 235), QByteArray(235, '\xff'));
    QCOMPARE(bytesAt(module, 0x100, 6), QByteArray("061220"));
    QCOMPARE(bytesAt(module, 0x140, 64), QByteArray(64, '\xff'));
    QCOMPARE(bytesAt(module, 0x180, 64), QByteArray("RAW") + QByteArray(61, ' '));
    QCOMPARE(module.usedSize(), 0x1C0);
    QCOMPARE(module.recordCount(), 2);

    // A new track opens the next sector, with shorter texts zero-padded.
    writer.startTrack("070121", "1200", "5");
    QCOMPARE(writer.cursor(), uint32_t(0x10100));
    QCOMPARE(bytesAt(module, 0x10000, 21),
             QByteArray("*070121" "1200\0\0\0\0\0\0" "5\0\0" "1", 21));
    QCOMPARE(module.usedSize(), 0x10100);
}

void TestVirtualModule::sectorFillsIntoContinuation()
{
    VirtualModule module;
    module.setMemoryCounters(VirtualModule::flashSize, 0, 0);
    ModuleFlashWriter writer(module);
    writer.startTrack("061220", "093015.000", "010");
    for (int i = 0; i < 1020; ++i)
        writer.appendRecord("R");
    QCOMPARE(writer.cursor(), VirtualModule::sectorSize);
    QCOMPARE(bytesAt(module, 0xFFC0, 1), QByteArray("R"));
    QCOMPARE(bytesAt(module, 0x10000, 1), QByteArray("\xff"));

    writer.appendRecord("S");
    QCOMPARE(bytesAt(module, 0x10000, 21), QByteArray("*061220093015.000010" "0"));
    QCOMPARE(bytesAt(module, 0x10100, 1), QByteArray("S"));
    QCOMPARE(module.usedSize(), 0x10140);
    QCOMPARE(module.recordCount(), 1021);

    // A second writer logs on where the first stopped.
    ModuleFlashWriter later(module);
    later.appendRecord("T");
    QCOMPARE(bytesAt(module, 0x10140, 1), QByteArray("T"));
    QCOMPARE(module.recordCount(), 1022);
}

void TestVirtualModule::recordsBeforeAnyTrack()
{
    VirtualModule module;
    ModuleFlashWriter writer(module);
    writer.appendRecord("X");
    QCOMPARE(bytesAt(module, 0, 21), QByteArray("*" + QByteArray(19, '\0') + "0"));
    QCOMPARE(bytesAt(module, 0x100, 1), QByteArray("X"));
}

void TestVirtualModule::sparseFlash()
{
    VirtualModule module;
    QCOMPARE(module.allocatedSectors(), std::size_t(0));
    QVERIFY(module.sectorErased(511));

    // Every sector header of the memory, then logging stops at its end.
    ModuleFlashWriter writer(module);
    writer.startTrack("010120", "000000.000", "001");
    for (uint32_t sector = 1; sector < VirtualModule::sectorCount; ++sector)
        writer.continueTrack();
    writer.continueTrack();
    QCOMPARE(writer.cursor(), VirtualModule::flashSize);
    QCOMPARE(bytesAt(module, VirtualModule::flashSize - VirtualModule::sectorSize, 1), QByteArray("*"));
    QCOMPARE(module.allocatedSectors(), std::size_t(VirtualModule::sectorCount));

    VirtualModule other;
    VirtualModule::Page erased;
    erased.fill(0xFF);
    other.writePage(100, erased);
    QCOMPARE(other.allocatedSectors(), std::size_t(0));
    const uint8_t tail[4] = {1, 2, 3, 4};
    other.writeBytes(0x1FFFE, tail, 4);  // crosses into sector 2
    QCOMPARE(other.allocatedSectors(), std::size_t(2));
    QCOMPARE(bytesAt(other, 0x1FFFE, 2), QByteArray("\x01\x02"));
    QCOMPARE(bytesAt(other, 0x20000, 2), QByteArray("\x03\x04"));
    other.writeBytes(VirtualModule::flashSize - 1, tail, 4);  // the end of the flash drops the rest
    QCOMPARE(bytesAt(other, VirtualModule::flashSize - 1, 1), QByteArray("\x01"));
}

void TestVirtualModule::pageServedInSlices()
{
    VirtualModule module;
    VirtualModule::Page page;
    for (std::size_t i = 0; i < page.size(); ++i)
        page[i] = static_cast<uint8_t>(i);
    module.writePage(0x1FFFF, page);

    uint8_t buffer[64];
    QCOMPARE(module.bulkRead(0x81, buffer, 64).outcome, usb::Outcome::Timeout);  // nothing queued
    QVERIFY(request(module, 0x40, 0x04, 0x1FFFF).ok());
    QCOMPARE(module.pagesRead(), 1);
    for (int slice = 0; slice < 4; ++slice) {
        const usb::Transfer t = module.bulkRead(0x81, buffer, 64);
        QVERIFY(t.ok());
        QCOMPARE(t.transferred, std::size_t(64));
        QCOMPARE(buffer[0], uint8_t(slice * 64));
    }
    QCOMPARE(module.bulkRead(0x81, buffer, 64).outcome, usb::Outcome::Timeout);
    QCOMPARE(module.bulkRead(0x82, buffer, 64).outcome, usb::Outcome::IoError);
    QCOMPARE(request(module, 0x40, 0x04, VirtualModule::pageCount).outcome, usb::Outcome::IoError);
}

void TestVirtualModule::eraseAndEndErase()
{
    VirtualModule module;
    ModuleFlashWriter writer(module);
    writer.startTrack("061220", "093015.000", "010");
    writer.appendRecord("R");
    module.setEraseBusyPolls(1);

    // A page index inside the sector erases the whole sector.
    QVERIFY(request(module, 0x40, 0x07, 0x10).ok());
    QVERIFY(module.sectorErased(0));
    QCOMPARE(module.allocatedSectors(), std::size_t(0));
    uint8_t status = 0xEE;
    QVERIFY(request(module, 0xC0, 0x06, 0, &status, 1).ok());
    QCOMPARE(status, uint8_t(1));
    QVERIFY(request(module, 0xC0, 0x06, 0, &status, 1).ok());
    QCOMPARE(status, uint8_t(0));
    QCOMPARE(module.eraseRequests(), 1);

    QCOMPARE(module.recordCount(), 1);
    QVERIFY(request(module, 0x40, 0x08, 0).ok());
    QCOMPARE(module.endEraseCount(), 1);
    QCOMPARE(module.usedSize(), 0);
    QCOMPARE(module.recordCount(), 0);

    // Wrong direction and unknown requests stall.
    QCOMPARE(request(module, 0xC0, 0x07, 0, &status, 1).outcome, usb::Outcome::IoError);
    QCOMPARE(request(module, 0x40, 0x05, 0).outcome, usb::Outcome::IoError);
}

QTEST_GUILESS_MAIN(TestVirtualModule)
#include "tst_virtualmodule.moc"
