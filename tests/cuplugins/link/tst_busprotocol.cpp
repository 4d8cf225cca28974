// The module bus codec: frames, escaping, the frame check, the byte-wise receiver and the
// STM32 CRC used for firmware blocks.
#include "busframes.h"

#include <QRandomGenerator>
#include <QTest>

namespace {

bool isReserved(uchar b)
{
    return b == 0xF9 || b == 0xFA || b == 0xFB;
}

QByteArray randomBytes(QRandomGenerator& rng, int n, bool avoidReserved)
{
    QByteArray b(n, Qt::Uninitialized);
    for (int i = 0; i < n; ++i)
        b[i] = char(avoidReserved ? rng.bounded(0xF9) : rng.bounded(256));
    return b;
}

} // namespace

class TestBusProtocol : public QObject
{
    Q_OBJECT

private slots:
    // Every payload length either encodes to a frame that decodes back exactly, or is refused
    // leaving no frame end in the buffer. Lengths that fit even with every reserved byte
    // escaped must be accepted; lengths too long even without escapes must be refused.
    void roundTripEveryLength_data()
    {
        QTest::addColumn<int>("content");
        QTest::newRow("random") << 0;
        QTest::newRow("all 0xFA") << 2;
        QTest::newRow("no reserved bytes") << 3;
    }
    void roundTripEveryLength()
    {
        QFETCH(int, content);
        QRandomGenerator rng(4711 + content);
        for (int n = 0; n <= 255; ++n) {
            Packet p = {quint8(rng.bounded(0xF9)), quint8(rng.bounded(0xF9)),
                        randomBytes(rng, n, true)};
            if (content == 0)
                p = {quint8(rng.bounded(256)), quint8(rng.bounded(256)),
                     randomBytes(rng, n, false)};
            else if (content == 2)
                p = {0xFA, 0xF9, QByteArray(n, char(0xFA))};
            // Frame size without the check bytes' escapes, and the most those can add.
            int known =
                2 + 3 + n + 2 + isReserved(p.address) + isReserved(p.command) + isReserved(n);
            for (char c : p.data)
                known += isReserved(uchar(c));

            cAbstractVelnorProtocol codec;
            const uchar filler[3] = {1, 2, 3}; // must not survive a refusal
            QVERIFY(codec.codeData(1, 2, 3, filler));
            const bool ok = codec.codeData(p.address, p.command, quint8(n),
                                           reinterpret_cast<const uchar*>(p.data.constData()));
            const QByteArray length = "length " + QByteArray::number(n);
            const char* where = length.constData();
            if (!ok) {
                QVERIFY2(known + 2 > 256, where);
                QVERIFY2(!QByteArray(reinterpret_cast<const char*>(codec.buffer()), 256)
                              .contains(char(0xFA)),
                         where);
                continue;
            }
            QVERIFY2(known <= 256, where);
            const QByteArray frame = frameIn(codec);
            QVERIFY2(frame.size() >= known && frame.size() <= known + 2, where);
            QVERIFY2(frame.startsWith(char(0xF9)) && frame.count(char(0xF9)) == 1, where);
            QCOMPARE(decode(frame), QList<Packet>{p});
        }
    }

    // Modules decode these frames with their own firmware: the layout must not drift.
    void wireFormatIsStable()
    {
        const Packet p{0x07, 0x0B, QByteArray::fromHex("f900fafb")};
        QCOMPARE(encode(p).toHex(' '), QByteArray("f9 07 0b 04 fb d9 00 fb da fb db 6a 6c fa"));
    }

    void garbageAndBrokenFramesAreDropped()
    {
        const Packet a{1, 10, "first packet"}, b{2, 20, QByteArray::fromHex("f9fa")};
        const QByteArray fa = encode(a), fb = encode(b);
        // An unfinished frame followed by a new one, in one arrival or two: only the new one.
        QCOMPARE(decode(fa.left(fa.size() / 2) + fb), QList<Packet>{b});
        cAbstractVelnorProtocol codec;
        QVERIFY(feed(codec, fa.left(5)).isEmpty());
        QCOMPARE(feed(codec, fb + fa), (QList<Packet>{b, a}));

        QRandomGenerator rng(7);
        QByteArray mismatch = encode({2, 20, "validX"});
        mismatch[3] = char(5); // the length byte disagrees with the body
        QByteArray ordinary = encode({2, 20, "validX"});
        ordinary.replace(9, 1, "\xFBx"); // X escaped needlessly, the frame check right
        const QList<QByteArray> junk{
            QByteArray::fromHex("0102030405fa"),
            QByteArray::fromHex("f9fa"),       // too short to be a packet
            QByteArray::fromHex("f90102fbfa"), // escape without its byte
            QByteArray::fromHex("f9010203fa"), // body shorter than a packet
            fa.left(4) + char(0xF9),           // a lone 0xF9 loses what came before
            mismatch,
            ordinary,
            randomBytes(rng, 500, true), // noise without frame bytes
        };
        // An escape of an ordinary byte: one packet must not have two encodings.
        const QByteArray plain = encode({1, 2, "A"});
        for (char e : {'\x61', '\x21'})
            QVERIFY(decode(QByteArray(plain).replace("A", QByteArray("\xFB") + e)).isEmpty());
        for (const QByteArray& j : junk) {
            QVERIFY2(decode(j).isEmpty(), j.toHex(' ').constData());
            QCOMPARE(decode(j + fb), QList<Packet>{b});
        }
    }

    // Input that never ends a frame is not collected without bound, and a frame longer than
    // any the bus carries is no packet even when it ends properly; the longest one is.
    void overlongInputIsRefusedAndCodecRecovers()
    {
        const Packet p{0x44, 0x01, "after the noise"};
        cAbstractVelnorProtocol codec;
        uchar start = 0xF9, end = 0xFA;
        codec.addData(&start, 1);
        QByteArray noise(100, 'x');
        for (int i = 0; i < 10000; ++i)
            codec.addData(reinterpret_cast<uchar*>(noise.data()), char(noise.size()));
        codec.addData(&end, 1);
        QVERIFY(codec.encodeBuffer() != 0);
        QCOMPARE(feed(codec, encode(p)), QList<Packet>{p});

        // 248 data bytes (the length 249 would itself need an escape), one escaped.
        QByteArray data(248, 'a');
        data[1] = char(0xFB);
        QByteArray max;
        for (int k = 0; k < 64 && max.size() != 256; ++k) {
            data[0] = char('a' + k);
            max = encode({1, 2, data});
        }
        QCOMPARE(max.size(), 256);
        QCOMPARE(decode(max), (QList<Packet>{{1, 2, data}}));
    }

    void crc()
    {
        uchar word[4] = {0x78, 0x56, 0x34, 0x12};
        QCOMPARE(cVelnorProtocolPC::crc32stm32(word, 4, true), quint32(0xDF8A8A2B));
        // Words go in most significant byte first, so byte-reversed words give the MSB-first
        // CRC-32/MPEG-2 of the text: "12345678" has 0x49E3C2FB.
        QByteArray reversed("43218765");
        auto* r = reinterpret_cast<uchar*>(reversed.data());
        QCOMPARE(cVelnorProtocolPC::crc32stm32(r, 8, true), quint32(0x49E3C2FB));
        QCOMPARE(cVelnorProtocolPC::crc32stm32(word, 0, true), quint32(0xFFFFFFFF));
        uchar tail[4] = {0x78, 0x56, 0x34, 0x00}; // a short tail is padded with zero bytes
        QCOMPARE(cVelnorProtocolPC::crc32stm32(tail, 3, true),
                 cVelnorProtocolPC::crc32stm32(tail, 4, true));

        cVelnorProtocolPC::crc32stm32(r, 4, true); // without a reset the value runs on
        QCOMPARE(cVelnorProtocolPC::crc32stm32(r + 4, 4, false), quint32(0x49E3C2FB));
    }
};

QTEST_APPLESS_MAIN(TestBusProtocol)
#include "tst_busprotocol.moc"
