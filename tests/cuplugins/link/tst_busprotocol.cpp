// The module bus codec: frames, escaping, the frame check, the byte-wise receiver and the
// STM32 CRC used for firmware blocks.
#include "link/velnorprotocol.h"

#include <QRandomGenerator>
#include <QTest>

namespace {

struct Packet
{
    quint8 address = 0;
    quint8 command = 0;
    QByteArray data;
    bool operator==(const Packet&) const = default;
};

char* toString(const Packet& p)
{
    return qstrdup(QByteArray("Packet(" + QByteArray::number(p.address) + ", " +
                              QByteArray::number(p.command) + ", " + p.data.toHex(' ') + ")")
                       .constData());
}

bool isReserved(uchar b)
{
    return b == 0xF9 || b == 0xFA || b == 0xFB;
}

int reservedCount(const QByteArray& bytes)
{
    int n = 0;
    for (char c : bytes)
        n += isReserved(uchar(c));
    return n;
}

// The frame at the start of the codec buffer: up to and including the first 0xFA.
QByteArray frameIn(cAbstractVelnorProtocol& codec)
{
    const auto* b = reinterpret_cast<const char*>(codec.buffer());
    const QByteArray all(b, cAbstractVelnorProtocol::BufferSize);
    const qsizetype end = all.indexOf(char(0xFA));
    return end < 0 ? QByteArray() : all.left(end + 1);
}

QList<Packet> feed(cAbstractVelnorProtocol& codec, const QByteArray& bytes)
{
    QList<Packet> out;
    cuFeedBusBytes(codec, bytes, [&](quint8 a, quint8 c, quint8 n, quint8* d) {
        out.append({a, c, QByteArray(reinterpret_cast<const char*>(d), n)});
    });
    return out;
}

QList<Packet> decodeFresh(const QByteArray& bytes)
{
    cAbstractVelnorProtocol codec;
    return feed(codec, bytes);
}

QByteArray encode(const Packet& p)
{
    cAbstractVelnorProtocol codec;
    if (!codec.codeData(p.address, p.command, quint8(p.data.size()),
                        reinterpret_cast<const uchar*>(p.data.constData())))
        return {};
    return frameIn(codec);
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
    void roundTripEveryLength_data();
    void roundTripEveryLength();
    void wireFormatIsStable();
    void successfulDecodeFillsHeaderAndBuffer();
    void sharedInstance();

    void corruptedFrameIsNeverDelivered_data();
    void corruptedFrameIsNeverDelivered();
    void frameStartRestartsDecoding();
    void garbageAndBrokenFramesAreDropped();
    void overlongInputIsRefusedAndCodecRecovers();
    void framesSurviveArbitrarySplitting();
    void sinkMayReuseTheCodec();

    void crcKnownVectors();
    void crcResetAndContinue();
};

void TestBusProtocol::roundTripEveryLength_data()
{
    QTest::addColumn<int>("content");
    QTest::newRow("random") << 0;
    QTest::newRow("all 0xF9") << 1;
    QTest::newRow("all 0xFA") << 2;
    QTest::newRow("no reserved bytes") << 3;
}

// Every payload length either encodes to a frame that decodes back exactly, or is refused
// leaving no frame end in the buffer. Lengths that fit even with every reserved byte escaped
// must be accepted; lengths too long even without escapes must be refused.
void TestBusProtocol::roundTripEveryLength()
{
    QFETCH(int, content);
    QRandomGenerator rng(4711 + content);
    for (int n = 0; n <= 255; ++n) {
        Packet p;
        switch (content) {
        case 0:
            p = {quint8(rng.bounded(256)), quint8(rng.bounded(256)), randomBytes(rng, n, false)};
            break;
        case 1:
            p = {0xF9, 0xFB, QByteArray(n, char(0xF9))};
            break;
        case 2:
            p = {0xFA, 0xF9, QByteArray(n, char(0xFA))};
            break;
        default:
            p = {quint8(rng.bounded(0xF9)), quint8(rng.bounded(0xF9)), randomBytes(rng, n, true)};
            break;
        }

        // Frame size without the check bytes' escapes, and the most those can add.
        const int known = 2 + 3 + n + 2 + isReserved(p.address) + isReserved(p.command) +
                          isReserved(quint8(n)) + reservedCount(p.data);
        const bool mustFit = known + 2 <= 256;
        const bool mustRefuse = known > 256;

        cAbstractVelnorProtocol codec;
        // Leftovers of an earlier frame must not survive a refusal.
        const uchar filler[3] = {1, 2, 3};
        QVERIFY(codec.codeData(1, 2, 3, filler));
        const bool ok = codec.codeData(p.address, p.command, quint8(n),
                                       reinterpret_cast<const uchar*>(p.data.constData()));
        const QString where = QString("length %1").arg(n);
        if (!ok) {
            QVERIFY2(!mustFit, qPrintable(where));
            const QByteArray all(reinterpret_cast<const char*>(codec.buffer()), 256);
            QVERIFY2(!all.contains(char(0xFA)), qPrintable(where));
            continue;
        }
        QVERIFY2(!mustRefuse, qPrintable(where));
        const QByteArray frame = frameIn(codec);
        QVERIFY2(frame.size() >= known && frame.size() <= known + 2, qPrintable(where));
        QCOMPARE(uchar(frame.front()), uchar(0xF9));
        QCOMPARE(uchar(frame.back()), uchar(0xFA));
        const QByteArray inner = frame.mid(1, frame.size() - 2);
        QVERIFY2(!inner.contains(char(0xF9)) && !inner.contains(char(0xFA)), qPrintable(where));

        const QList<Packet> got = decodeFresh(frame);
        QCOMPARE(got.size(), 1);
        QCOMPARE(got.front(), p);
    }
}

// Modules decode these frames with their own firmware: the layout must not drift.
void TestBusProtocol::wireFormatIsStable()
{
    const Packet p{0x07, 0x0B, QByteArray::fromHex("f900fafb")};
    QCOMPARE(encode(p).toHex(' '), QByteArray("f9 07 0b 04 fb d9 00 fb da fb db 6a 6c fa"));
}

void TestBusProtocol::successfulDecodeFillsHeaderAndBuffer()
{
    const QByteArray frame = encode({0x21, 0x42, QByteArray::fromHex("deadbeef")});
    cAbstractVelnorProtocol codec;
    codec.clearBuffer();
    for (char c : frame) {
        uchar b = uchar(c);
        codec.addData(&b, 1);
    }
    QCOMPARE(codec.encodeBuffer(), 0);
    QCOMPARE(codec.headPacket(), quint32(0x21 | 0x42 << 8 | 4 << 16));
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(codec.buffer()), 4),
             QByteArray::fromHex("deadbeef"));

    // The same bytes added in one call decode the same way.
    cAbstractVelnorProtocol bulk;
    QByteArray copy = frame;
    bulk.addData(reinterpret_cast<uchar*>(copy.data()), char(copy.size()));
    QCOMPARE(bulk.encodeBuffer(), 0);
    QCOMPARE(bulk.headPacket(), codec.headPacket());

    // A frame without its end is no packet.
    cAbstractVelnorProtocol partial;
    QByteArray head = frame.left(frame.size() - 1);
    partial.addData(reinterpret_cast<uchar*>(head.data()), char(head.size()));
    QVERIFY(partial.encodeBuffer() != 0);
}

void TestBusProtocol::sharedInstance()
{
    cAbstractVelnorProtocol* codec = cVelnorProtocolPC::instance();
    QVERIFY(codec);
    QCOMPARE(cVelnorProtocolPC::instance(), codec);
    codec->clearBuffer();
    const Packet p{3, 4, "abc"};
    QCOMPARE(feed(*codec, encode(p)), QList<Packet>{p});
}

void TestBusProtocol::corruptedFrameIsNeverDelivered_data()
{
    QTest::addColumn<Packet>("packet");
    QTest::newRow("empty") << Packet{1, 2, {}};
    QTest::newRow("plain") << Packet{0x10, 0x20, "some module payload"};
    QTest::newRow("reserved bytes") << Packet{0xFB, 0xF9, QByteArray::fromHex("f9fafb00fbfaf9ff")};
    QRandomGenerator rng(99);
    QTest::newRow("random 100") << Packet{7, 9, randomBytes(rng, 100, false)};
}

// One damaged byte (a flipped bit, a reserved value, a lost or doubled byte) in a frame must
// never give a packet: not the original, and above all not a different one.
void TestBusProtocol::corruptedFrameIsNeverDelivered()
{
    QFETCH(Packet, packet);
    const QByteArray frame = encode(packet);
    QVERIFY(!frame.isEmpty());
    QCOMPARE(decodeFresh(frame).size(), 1);

    for (int i = 0; i < frame.size(); ++i) {
        QList<uchar> replacements{0x00, 0xF9, 0xFA, 0xFB, 0xFF};
        for (int bit = 0; bit < 8; ++bit)
            replacements.append(uchar(frame[i]) ^ uchar(1 << bit));
        for (uchar r : replacements) {
            if (r == uchar(frame[i]))
                continue;
            QByteArray bad = frame;
            bad[i] = char(r);
            const QList<Packet> got = decodeFresh(bad);
            QVERIFY2(got.isEmpty(), qPrintable(QString("byte %1 -> %2: %3")
                                                   .arg(i)
                                                   .arg(r, 2, 16, QChar('0'))
                                                   .arg(QString(bad.toHex(' ')))));
        }
        QVERIFY2(decodeFresh(QByteArray(frame).remove(i, 1)).isEmpty(),
                 qPrintable(QString("byte %1 lost").arg(i)));
        // A doubled start byte just restarts the frame, and a doubled end byte follows a
        // complete frame: both still give the packet.
        if (i > 0 && i < frame.size() - 1) {
            QVERIFY2(decodeFresh(QByteArray(frame).insert(i, frame[i])).isEmpty(),
                     qPrintable(QString("byte %1 doubled").arg(i)));
        }
    }
}

void TestBusProtocol::frameStartRestartsDecoding()
{
    const Packet a{1, 10, "first packet"};
    const Packet b{2, 20, QByteArray::fromHex("f9fa")};
    const QByteArray fa = encode(a);
    const QByteArray fb = encode(b);

    // An unfinished frame followed by a new one: only the new one arrives.
    QCOMPARE(decodeFresh(fa.left(fa.size() / 2) + fb), QList<Packet>{b});
    // The restart also holds across separate arrivals.
    cAbstractVelnorProtocol codec;
    QVERIFY(feed(codec, fa.left(5)).isEmpty());
    QCOMPARE(feed(codec, fb + fa), (QList<Packet>{b, a}));
    // A lone 0xF9 in the middle of a frame loses everything before it.
    QByteArray broken = fa;
    broken.insert(4, char(0xF9));
    QVERIFY(decodeFresh(broken).isEmpty());
    QCOMPARE(decodeFresh(broken + fb), QList<Packet>{b});
}

void TestBusProtocol::garbageAndBrokenFramesAreDropped()
{
    const Packet p{0x33, 0x05, "valid"};
    const QByteArray good = encode(p);
    QRandomGenerator rng(7);

    const QList<QByteArray> junk{
        QByteArray::fromHex("0102030405fa"),
        QByteArray::fromHex("fafafa"),
        QByteArray::fromHex("f9fa"),             // too short to be a packet
        QByteArray::fromHex("f90102fbfa"),       // escape without its byte
        QByteArray::fromHex("f9010200fb2012fa"), // escape of an ordinary byte
        good.left(good.size() - 1),              // truncated
        QByteArray::fromHex("f9010203fa"),       // body shorter than a packet
        randomBytes(rng, 500, true),             // noise without frame bytes
    };
    for (const QByteArray& j : junk) {
        QVERIFY2(decodeFresh(j).isEmpty(), j.toHex(' ').constData());
        QCOMPARE(decodeFresh(j + good), QList<Packet>{p});
    }

    // A frame whose length byte disagrees with its body.
    const QByteArray longer = encode({0x33, 0x05, "validX"});
    QByteArray mismatch = longer;
    mismatch[3] = char(5);
    QVERIFY(decodeFresh(mismatch).isEmpty());
}

// Input that never ends a frame must not be collected without bound, and a frame longer
// than any the bus carries is no packet even when it ends properly.
void TestBusProtocol::overlongInputIsRefusedAndCodecRecovers()
{
    const Packet p{0x44, 0x01, "after the noise"};
    const QByteArray good = encode(p);

    cAbstractVelnorProtocol codec;
    uchar start = 0xF9;
    codec.addData(&start, 1);
    QByteArray noise(100, 'x');
    for (int i = 0; i < 10000; ++i)
        codec.addData(reinterpret_cast<uchar*>(noise.data()), char(noise.size()));
    uchar end = 0xFA;
    codec.addData(&end, 1);
    QVERIFY(codec.encodeBuffer() != 0);
    QCOMPARE(feed(codec, good), QList<Packet>{p});

    // The bound on collecting never cuts off the longest frame the bus carries.
    // 248 data bytes (the length 249 would itself need an escape), one of them escaped.
    QByteArray data(248, 'a');
    data[1] = char(0xFB);
    QByteArray max;
    for (int k = 0; k < 64 && max.size() != 256; ++k) {
        data[0] = char('a' + k);
        max = encode({1, 2, data});
    }
    QCOMPARE(max.size(), 256);
    QCOMPARE(decodeFresh(max), (QList<Packet>{{1, 2, data}}));
    QVERIFY(decodeFresh(QByteArray(1, char(0xF9)) + QByteArray(100000, 'z') + char(0xFA) + good) ==
            QList<Packet>{p});
}

void TestBusProtocol::framesSurviveArbitrarySplitting()
{
    QRandomGenerator rng(2024);
    QList<Packet> sent;
    QByteArray stream;
    for (int i = 0; i < 40; ++i) {
        const Packet p{quint8(rng.bounded(256)), quint8(rng.bounded(256)),
                       randomBytes(rng, rng.bounded(100), false)};
        sent.append(p);
        stream += encode(p);
    }
    cAbstractVelnorProtocol codec;
    QList<Packet> got;
    for (qsizetype at = 0; at < stream.size();) {
        const qsizetype chunk = qMin<qsizetype>(1 + rng.bounded(20), stream.size() - at);
        got += feed(codec, stream.mid(at, chunk));
        at += chunk;
    }
    QCOMPARE(got, sent);
}

// A receiver may answer from inside the delivery, which encodes into the shared buffer.
void TestBusProtocol::sinkMayReuseTheCodec()
{
    const Packet first{5, 6, "hello"};
    const Packet second{7, 8, "world"};
    cAbstractVelnorProtocol codec;
    QList<Packet> got;
    cuFeedBusBytes(codec, encode(first) + encode(second),
                   [&](quint8 a, quint8 c, quint8 n, quint8* d) {
                       const uchar answer[6] = {0xF9, 0xFA, 0xFB, 0xF9, 0xFA, 0xFB};
                       QVERIFY(codec.codeData(9, 9, 6, answer));
                       got.append({a, c, QByteArray(reinterpret_cast<const char*>(d), n)});
                   });
    QCOMPARE(got, (QList<Packet>{first, second}));
}

void TestBusProtocol::crcKnownVectors()
{
    uchar word[4] = {0x78, 0x56, 0x34, 0x12};
    QCOMPARE(cVelnorProtocolPC::crc32stm32(word, 4, true), quint32(0xDF8A8A2B));

    // Words are fed most significant byte first, so byte-reversed words give the MSB-first
    // CRC-32/MPEG-2 of the text: "12345678" has 0x49E3C2FB.
    QByteArray reversed("43218765");
    QCOMPARE(cVelnorProtocolPC::crc32stm32(reinterpret_cast<uchar*>(reversed.data()), 8, true),
             quint32(0x49E3C2FB));

    uchar none = 0;
    QCOMPARE(cVelnorProtocolPC::crc32stm32(&none, 0, true), quint32(0xFFFFFFFF));

    // A short tail counts as padded with zero bytes.
    uchar tail[4] = {0x78, 0x56, 0x34, 0x00};
    const quint32 padded = cVelnorProtocolPC::crc32stm32(tail, 4, true);
    QCOMPARE(cVelnorProtocolPC::crc32stm32(tail, 3, true), padded);
    QVERIFY(padded != cVelnorProtocolPC::crc32stm32(word, 4, true));
}

void TestBusProtocol::crcResetAndContinue()
{
    QRandomGenerator rng(5);
    QByteArray block = randomBytes(rng, 128, false);
    auto* b = reinterpret_cast<uchar*>(block.data());

    const quint32 whole = cVelnorProtocolPC::crc32stm32(b, 128, true);
    // Same block again from a reset: same value, whatever came before.
    QCOMPARE(cVelnorProtocolPC::crc32stm32(b, 128, true), whole);

    cVelnorProtocolPC::crc32stm32(b, 40, true);
    QCOMPARE(cVelnorProtocolPC::crc32stm32(b + 40, 88, false), whole);

    // Continuing from the whole block differs from starting afresh.
    const quint32 again = cVelnorProtocolPC::crc32stm32(b, 128, false);
    QVERIFY(again != whole);
    cVelnorProtocolPC::crc32stm32(b, 128, true);
    QCOMPARE(cVelnorProtocolPC::crc32stm32(b, 128, false), again);
}

QTEST_APPLESS_MAIN(TestBusProtocol)
#include "tst_busprotocol.moc"
