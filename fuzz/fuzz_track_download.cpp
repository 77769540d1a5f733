// Fuzz target: the whole download of a module whose flash holds arbitrary bytes, served by the
// virtual module on the emulated bus and read through USBDevice, into a scratch folder. Checks that
// every file lands as a single CSV entry of the chosen folder (nothing written beside or above it),
// that the walk reads each page once and stops at the first sector header without '*', that no
// record of an opened track is lost, and that the device is closed afterwards.
//
// Input (a sparse flash image; unwritten flash reads 0xFF, so the walk stays short):
//   byte 0       bus fault: 1 Fail, 2 Timeout, 3 Shorten, 4 Unplug, anything else none
//   bytes 1-2    the transfer the fault hits (little-endian, + 1), byte 3 the Shorten length
//   bytes 4-7    used size the module reports (little-endian, signed)
//   bytes 8-19   serial number field, bytes 20-27 name field, raw
//   then chunks: page index (2 bytes, little-endian, taken modulo the pages of the first
//   `imageSectors` sectors), offset in the page, length, and that many bytes to write there.
#include "EmulatedBus.h"
#include "FuzzCheck.h"
#include "QuietQt.h"
#include "SectorHeader.h"
#include "TrackCsv.h"
#include "TrackDownloader.h"
#include "USBDevice.h"
#include "UsbAccess.h"
#include "VirtualModule.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>

namespace {

// Sectors the input can write; the walk reads at most these and the header after them.
constexpr uint32_t imageSectors = 4;
constexpr size_t prefixSize = 28;

QTemporaryDir *scratch = nullptr;

uint32_t le32(const uint8_t *bytes)
{
    return uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 | uint32_t(bytes[3]) << 24;
}

struct Image {
    bool faulty = false;
    usb::Fault fault;
    int32_t usedSize = 0;
    std::string serial;
    std::string name;
};

Image readImage(const uint8_t *data, size_t size, VirtualModule &module)
{
    uint8_t prefix[prefixSize] = {};
    std::memcpy(prefix, data, std::min(size, prefixSize));
    Image image;
    static constexpr usb::FaultKind kinds[] = {usb::FaultKind::Fail, usb::FaultKind::Timeout,
                                               usb::FaultKind::Shorten, usb::FaultKind::Unplug};
    const int kind = prefix[0];
    image.faulty = kind >= 1 && kind <= 4;
    if (image.faulty) {
        image.fault.kind = kinds[kind - 1];
        image.fault.atTransfer = 1 + (prefix[1] | prefix[2] << 8);
        image.fault.shortenTo = prefix[3];
    }
    image.usedSize = int32_t(le32(prefix + 4));
    image.serial.assign(reinterpret_cast<const char *>(prefix + 8), 12);
    image.name.assign(reinterpret_cast<const char *>(prefix + 20), 8);

    size_t at = prefixSize;
    while (at + 4 <= size) {
        const uint32_t page = (data[at] | data[at + 1] << 8) % (imageSectors * VirtualModule::pagesPerSector);
        const uint32_t offset = data[at + 2];
        const size_t length = std::min<size_t>(data[at + 3], size - at - 4);
        module.writeBytes(page * VirtualModule::pageSize + offset, data + at + 4, length);
        at += 4 + length;
    }
    return image;
}

QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

// What a faultless download must produce from the image.
struct Expected {
    uint32_t pagesRead = 0;
    int trackStarts = 0;
    QSet<QString> fileNames;
    int lines = 0;  // records of the sectors that follow a track start
};

Expected expectedFrom(const VirtualModule &module, const USBDeviceDesc &dev)
{
    Expected expected;
    bool trackOpen = false;
    for (uint32_t sector = 0; sector < VirtualModule::sectorCount; ++sector) {
        const uint32_t first = sector * VirtualModule::pagesPerSector;
        const VirtualModule::Page headerPage = module.page(first);
        const SectorHeader header = SectorHeader::parse(reinterpret_cast<const char *>(headerPage.data()));
        expected.pagesRead = first + 1;
        if (!header.hasData)
            return expected;
        if (header.trackStart) {
            ++expected.trackStarts;
            // A name already taken in this download gets "_2", "_3"... before ".csv".
            const QString name = TrackCsv::fileName(dev.name, dev.serialNumber, header.date, header.time);
            QString unique = name;
            for (int n = 2; expected.fileNames.contains(unique); ++n)
                unique = name.chopped(4) + QStringLiteral("_%1.csv").arg(n);
            expected.fileNames.insert(unique);
            trackOpen = true;
        }
        expected.pagesRead = first + VirtualModule::pagesPerSector;
        for (uint32_t page = first + 1; trackOpen && page < first + VirtualModule::pagesPerSector; ++page) {
            const VirtualModule::Page bytes = module.page(page);
            for (uint32_t slot = 0; slot < VirtualModule::pageSize; slot += 64)
                expected.lines += bytes[slot] != 0xFF;
        }
    }
    return expected;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    quietQtMessages();
    usb::setPlatformBackendEnabled(false);
    scratch = new QTemporaryDir;
    FUZZ_CHECK(scratch->isValid());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    usb::EmulatedBus &bus = usb::EmulatedBus::instance();
    bus.reset();
    const auto module = std::make_shared<VirtualModule>();
    const Image image = readImage(data, size, *module);
    module->setSerial(image.serial);
    module->setName(image.name);
    module->setMemoryCounters(int32_t(VirtualModule::flashSize), image.usedSize, 0);
    const std::string path =
        bus.attach(*usb::Guid::parse("{86939D4C-A46D-4604-81DF-8BE24B211E48}"), "module", module);

    // Three folders deep, so that a name climbing out of the chosen folder shows up in the listing.
    const QString root = scratch->path();
    const QString out = root + QStringLiteral("/a/b/out");
    FUZZ_CHECK(QDir().mkpath(out));

    auto *device = new USBDevice(QString::fromStdString(path));
    if (image.faulty)
        bus.addFault(image.fault);
    TrackDownloader::Result result;
    Expected expected;
    {
        const USBDeviceDesc dev = device->getDeviceInfo();
        const MemoryState memory = device->getMemoryInfo();
        TrackDownloader downloader(dev.name, dev.serialNumber, out);
        int lastPercent = 0;
        result = downloader.run(
            [device](char *buffer, quint32 pageIndex, int capacity) {
                return device->readPage(buffer, pageIndex, capacity);
            },
            memory.usedSize,
            [&lastPercent](int percent) {
                FUZZ_CHECK(percent > lastPercent);
                lastPercent = percent;
            });
        expected = expectedFrom(*module, dev);
    }
    device->release();
    FUZZ_CHECK(bus.openHandles() == 0);

    FUZZ_CHECK(entries(root) == QStringList{QStringLiteral("a")});
    FUZZ_CHECK(entries(root + QStringLiteral("/a")) == QStringList{QStringLiteral("b")});
    FUZZ_CHECK(entries(root + QStringLiteral("/a/b")) == QStringList{QStringLiteral("out")});
    const QStringList files = entries(out);
    int lines = 0;
    for (const QString &file : files) {
        const QFileInfo info(out + QLatin1Char('/') + file);
        FUZZ_CHECK(info.isFile() && !info.isSymLink());
        FUZZ_CHECK(file.endsWith(QLatin1String(".csv")));
        QFile csv(info.filePath());
        FUZZ_CHECK(csv.open(QIODevice::ReadOnly));
        const QByteArray text = csv.readAll();
        FUZZ_CHECK(text.startsWith(TrackCsv::headerLine()));
        FUZZ_CHECK(text.endsWith("\r\n"));
        lines += text.count("\r\n") - 1;
    }
    FUZZ_CHECK(files.size() <= expected.trackStarts);

    if (!image.faulty) {
        FUZZ_CHECK(result == TrackDownloader::Result::Finished);
        FUZZ_CHECK(uint32_t(module->pagesRead()) == expected.pagesRead);
        FUZZ_CHECK(QSet<QString>(files.begin(), files.end()) == expected.fileNames);
        // Every track has a file of its own, and every record is there.
        FUZZ_CHECK(expected.fileNames.size() == expected.trackStarts);
        FUZZ_CHECK(lines == expected.lines);
    } else {
        FUZZ_CHECK(uint32_t(module->pagesRead()) <= expected.pagesRead);
    }

    FUZZ_CHECK(QDir(root + QStringLiteral("/a")).removeRecursively());
    bus.reset();
    return 0;
}
