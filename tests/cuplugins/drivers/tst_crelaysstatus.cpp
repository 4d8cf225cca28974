// The relay byte of a model-1 temperature module: how a change request is built, how the
// answered states read, and the stop on a relay index that does not exist.
#include "drivers/crelaysstatus.h"

#include <QProcess>
#include <QTest>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/resource.h>

namespace {
// Run as a child with this argument, the program indexes a relay that does not exist.
constexpr char BadIndexArgument[] = "--index-relay";
} // namespace

class TestRelaysStatus : public QObject
{
    Q_OBJECT

private slots:
    void changeRequestByte_data()
    {
        QTest::addColumn<int>("mask");
        QTest::addColumn<int>("state");
        QTest::addColumn<int>("byte");
        QTest::newRow("relay 0 on") << 0x1 << 0x1 << 0x11;
        QTest::newRow("mask wider than a nibble") << 0x12 << 0x0 << 0x20;
        QTest::newRow("relay 1 on") << 0x2 << 0x2 << 0x22;
        QTest::newRow("relay 1 off") << 0x2 << 0x0 << 0x20;
        QTest::newRow("relay 0 off") << 0x1 << 0x0 << 0x10;
        QTest::newRow("both") << 0x3 << 0x1 << 0x31;
        // A state wider than a nibble must not reach the mask and change another relay.
        QTest::newRow("state wider than a nibble") << 0x1 << 0x11 << 0x11;
        QTest::newRow("state with high bits only") << 0x2 << 0xF0 << 0x20;
    }
    void changeRequestByte()
    {
        QFETCH(int, mask);
        QFETCH(int, state);
        QFETCH(int, byte);
        QCOMPARE(cRelaysStatus(quint8(mask), quint8(state)).raw(), quint8(byte));
    }

    void rawByteRoundTrips()
    {
        QCOMPARE(cRelaysStatus().raw(), quint8(0));
        const cRelaysStatus built(0xA7);
        QCOMPARE(built.raw(), quint8(0xA7));
        cRelaysStatus assigned;
        assigned = quint8(0x5C);
        QCOMPARE(assigned.raw(), quint8(0x5C));
        QVERIFY(assigned == cRelaysStatus(0x5C));
        QVERIFY(!(assigned == cRelaysStatus(0x5D)));
        // The whole byte image is the value: it travels as one byte.
        quint8 image = 0;
        std::memcpy(&image, &assigned, 1);
        QCOMPARE(image, quint8(0x5C));
    }

    void relayStatesByIndex_data()
    {
        QTest::addColumn<int>("byte");
        QTest::addColumn<bool>("relay0");
        QTest::addColumn<bool>("relay1");
        QTest::newRow("none") << 0x00 << false << false;
        QTest::newRow("relay 0") << 0x01 << true << false;
        QTest::newRow("relay 1") << 0x02 << false << true;
        QTest::newRow("both") << 0x03 << true << true;
        QTest::newRow("mask nibble ignored") << 0xF2 << false << true;
        QTest::newRow("higher state bits ignored") << 0x0C << false << false;
    }
    void relayStatesByIndex()
    {
        QFETCH(int, byte);
        QFETCH(bool, relay0);
        QFETCH(bool, relay1);
        const cRelaysStatus status{quint8(byte)};
        QCOMPARE(status[0], relay0);
        QCOMPARE(status[1], relay1);
    }

    void clearingTheMaskKeepsTheStates()
    {
        cRelaysStatus status(0x3, 0x2);
        QCOMPARE(status.clearMask().raw(), quint8(0x02));
        QCOMPARE(status.raw(), quint8(0x02));
        cRelaysStatus full(0xFF);
        full.clearMask();
        QCOMPARE(full.raw(), quint8(0x0F));
    }

    void nonExistentRelayIndexStopsTheProgram_data()
    {
        QTest::addColumn<QString>("index");
        QTest::newRow("2") << "2";
        QTest::newRow("-1") << "-1";
        QTest::newRow("8") << "8";
    }
    void nonExistentRelayIndexStopsTheProgram()
    {
        QFETCH(QString, index);
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), {BadIndexArgument, index});
        QVERIFY(child.waitForFinished(10000));
        QCOMPARE(child.exitStatus(), QProcess::CrashExit);
        const QByteArray output = child.readAllStandardError();
        QVERIFY2(output.contains("relay index must be < 2"), output.constData());
        QVERIFY2(!child.readAllStandardOutput().contains("survived"), "returned a value");
    }

    void validIndexesDoNotStopTheProgram()
    {
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), {BadIndexArgument, "1"});
        QVERIFY(child.waitForFinished(10000));
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.exitCode(), 0);
        QVERIFY(child.readAllStandardOutput().contains("survived"));
    }
};

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], BadIndexArgument) == 0) {
        // The stop is expected here; a core file would only cost time.
        const rlimit noCore{0, 0};
        setrlimit(RLIMIT_CORE, &noCore);
        const bool on = cRelaysStatus(0xFF)[std::atoi(argv[2])];
        std::printf("survived %d\n", int(on));
        return 0;
    }
    QCoreApplication app(argc, argv);
    TestRelaysStatus test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_crelaysstatus.moc"
