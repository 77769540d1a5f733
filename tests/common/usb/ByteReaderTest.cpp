// The byte reader and writer under the wire formats: little-endian order, a failed read that makes
// every later one fail (parsers chain reads and decide once), readers of a part of the range, and
// empty ranges.
#include "ByteReader.h"
#include "ByteWriter.h"

#include <QtTest>

using Bytes = std::vector<uint8_t>;

class ByteReaderTest : public QObject {
    Q_OBJECT

private slots:
    void writtenFieldsReadBack()
    {
        usb::ByteWriter w;
        w.u32(0);
        w.u8(0xA5);
        w.u16(0x1234);
        w.text("ab");
        w.bytes(Bytes{9, 8});
        w.u32At(0, 0x0A0B0C0D);
        QCOMPARE(w.size(), std::size_t(11));
        const Bytes bytes = w.take();
        QCOMPARE(bytes, (Bytes{0x0D, 0x0C, 0x0B, 0x0A, 0xA5, 0x34, 0x12, 'a', 'b', 9, 8}));
        QCOMPARE(w.size(), std::size_t(0));

        usb::ByteReader r(bytes);
        uint32_t word = 0;
        uint8_t byte = 0;
        uint16_t half = 0;
        std::string text;
        Bytes tail;
        QVERIFY(r.u32(word) && r.u8(byte) && r.u16(half) && r.text(2, text) && r.bytes(2, tail));
        QCOMPARE(word, uint32_t(0x0A0B0C0D));
        QCOMPARE(byte, uint8_t(0xA5));
        QCOMPARE(half, uint16_t(0x1234));
        QCOMPARE(text, std::string("ab"));
        QCOMPARE(tail, (Bytes{9, 8}));
        QVERIFY(r.atEnd());
    }

    void failedReadFailsEveryLaterOne()
    {
        const Bytes bytes = {1, 2, 3};
        usb::ByteReader r(bytes);
        uint32_t word = 0xFFFFFFFF;
        QVERIFY(!r.u32(word));
        QCOMPARE(word, uint32_t(0xFFFFFFFF));  // left as it was
        uint8_t byte = 0;
        QVERIFY(!r.u8(byte));  // three bytes are there, but the reader has failed
        QVERIFY(!r.skip(0));
        QVERIFY(r.failed());
        QVERIFY(!r.atEnd());
    }

    void subReaderCoversItsPartOnly()
    {
        const Bytes bytes = {2, 0, 7, 7, 5};
        usb::ByteReader r(bytes);
        uint16_t length = 0;
        QVERIFY(r.u16(length));
        usb::ByteReader part = r.sub(length);
        uint16_t inside = 0;
        QVERIFY(part.u16(inside) && part.atEnd());
        QCOMPARE(inside, uint16_t(0x0707));
        QVERIFY(!part.skip(1));
        uint8_t after = 0;
        QVERIFY(r.u8(after) && r.atEnd());
        QCOMPARE(after, uint8_t(5));

        // A part longer than what is left fails both readers.
        usb::ByteReader nearEnd(bytes);
        QVERIFY(nearEnd.skip(3));
        usb::ByteReader tooLong = nearEnd.sub(3);
        QVERIFY(tooLong.failed() && nearEnd.failed());
    }

    void emptyRangeGivesEmptyFieldsOnly()
    {
        usb::ByteReader r(Bytes{});
        std::string text = "x";
        Bytes block = {1};
        QVERIFY(r.text(0, text) && r.bytes(0, block) && r.sub(0).atEnd());
        QVERIFY(text.empty() && block.empty());
        QVERIFY(r.atEnd());
        uint8_t byte = 0;
        QVERIFY(!r.u8(byte));
    }
};

QTEST_GUILESS_MAIN(ByteReaderTest)
#include "ByteReaderTest.moc"
