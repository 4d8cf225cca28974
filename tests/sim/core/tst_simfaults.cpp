// Faults on demand, seen from a client: latency, dropped answers, wrong lengths, garbage,
// connections closed after N packets, and a unit that never answers.
#include "core/simenvironment.h"
#include "core/simunit.h"
#include "simtestclient.h"
#include "testmodule.h"

class TestSimFaults : public QObject
{
    Q_OBJECT

    std::unique_ptr<SimEnvironment> env;
    std::unique_ptr<SimUnit> unit;

    // The answer to a read of the test module's value 0 at address 3, as sent.
    static QByteArray valueAnswer() { return SimTestClient::packet(3, 16, QByteArray(4, '\0')); }

    void startWith(const SimFaults& faults)
    {
        unit->setFaults(faults);
        QVERIFY(unit->start());
    }

private slots:
    void init()
    {
        env = std::make_unique<SimEnvironment>(11);
        unit = std::make_unique<SimUnit>(env.get());
        unit->setPort(0);
        unit->addModule(new TestModule(3, testIdentity("VX9SDM0", 3), env.get()));
    }
    void cleanup()
    {
        unit.reset();
        env.reset();
    }

    void latencyDelaysEveryAnswer()
    {
        SimFaults faults;
        faults.latencyMs = 400;
        startWith(faults);
        SimTestClient client;
        QVERIFY(client.connectTo(unit->serverPort()));
        client.send(SimTestClient::packet(3, 16) + "SYST:URES\r\n");
        QVERIFY(client.silentFor(100));
        const QList<TestPacket> answer = client.packets(1, 3000);
        QCOMPARE(answer.size(), 1);
        QCOMPARE(client.line(3000), QByteArray("ok")); // in order, after the packet
    }

    void everyNthAnswerIsDropped()
    {
        SimFaults faults;
        faults.dropEvery = 2;
        startWith(faults);
        SimTestClient client;
        QVERIFY(client.connectTo(unit->serverPort()));
        QCOMPARE(client.request(3, 16).size(), 1);
        QVERIFY(client.request(3, 16, {}, 1, 150).isEmpty());
        QCOMPARE(client.request(3, 16).size(), 1);
        QVERIFY(client.request(3, 16, {}, 1, 150).isEmpty());
        // Text answers are not module answers: they always come.
        QCOMPARE(client.query("SYST:URES"), QByteArray("ok"));
    }

    void dropProbabilityOneDropsEverything()
    {
        SimFaults faults;
        faults.dropProbability = 1.0;
        startWith(faults);
        SimTestClient client;
        QVERIFY(client.connectTo(unit->serverPort()));
        for (int i = 0; i < 5; ++i)
            client.send(SimTestClient::packet(3, 16));
        QVERIFY(client.silentFor(150));
        unit->setFaults({});
        QCOMPARE(client.request(3, 16).size(), 1);
    }

    void wrongLengthAnswersStayAligned()
    {
        SimFaults faults;
        faults.wrongLengthEvery = 1;
        startWith(faults);
        SimTestClient client;
        QVERIFY(client.connectTo(unit->serverPort()));
        const QList<TestPacket> data = client.request(3, 16);
        QCOMPARE(data.size(), 1);
        QCOMPARE(data.at(0).data.size(), 3); // four bytes expected
        const QList<TestPacket> ack = client.request(3, 17, QByteArray(4, '\1'));
        QCOMPARE(ack.size(), 1);
        QCOMPARE(ack.at(0).data.size(), 1); // an acknowledgement carries none
        QCOMPARE(ack.at(0).command, quint8(17));
    }

    void garbageComesBeforeTheAnswer()
    {
        SimFaults faults;
        faults.garbageEvery = 2;
        faults.garbageBytes = 5;
        startWith(faults);
        SimTestClient client;
        QVERIFY(client.connectTo(unit->serverPort()));
        QCOMPARE(client.request(3, 16).value(0).data, QByteArray(4, '\0'));
        client.send(SimTestClient::packet(3, 16));
        QTRY_COMPARE(client.received.size() + client.socket.bytesAvailable(),
                     5 + valueAnswer().size());
        client.received += client.socket.readAll();
        QVERIFY(client.received.endsWith(valueAnswer()));
    }

    void connectionClosesAfterNPackets()
    {
        SimFaults faults;
        faults.closeAfterPackets = 2;
        startWith(faults);
        SimTestClient a, b;
        QVERIFY(a.connectTo(unit->serverPort()));
        QVERIFY(b.connectTo(unit->serverPort()));
        QCOMPARE(a.request(3, 16).size(), 1);
        QCOMPARE(a.query("SYST:URES"), QByteArray("ok")); // text does not count
        QCOMPARE(a.request(3, 16).size(), 1);             // the second packet is answered
        QVERIFY(a.waitClosed());
        QCOMPARE(b.request(3, 16).size(), 1); // other connections count on their own
        QCOMPARE(b.socket.state(), QAbstractSocket::ConnectedState);
    }

    void closingAfterAPacketWaitsForItsLatency()
    {
        SimFaults faults;
        faults.closeAfterPackets = 1;
        faults.latencyMs = 100;
        startWith(faults);
        SimTestClient client;
        QVERIFY(client.connectTo(unit->serverPort()));
        QCOMPARE(client.request(3, 16).size(), 1);
        QVERIFY(client.waitClosed());
    }

    void muteUnitAcceptsButNeverAnswers()
    {
        SimFaults faults;
        faults.mute = true;
        startWith(faults);
        SimTestClient client;
        QVERIFY(client.connectTo(unit->serverPort()));
        client.send("SYST:DEVJ?\r\n" + SimTestClient::packet(3, 16));
        QVERIFY(client.silentFor(200));
        QCOMPARE(client.socket.state(), QAbstractSocket::ConnectedState);
        QCOMPARE(unit->connectionCount(), 1);
    }
};

QTEST_GUILESS_MAIN(TestSimFaults)
#include "tst_simfaults.moc"
