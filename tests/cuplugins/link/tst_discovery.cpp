// Finding units: the answers a search collects and how it lists them, and a unit that stays
// silent (the engine's tests start searches over, the CLI's find the simulator). Runs in a
// namespace with a veth pair: 127.0.0.2 and up are routed on lo but are nobody's, so connections
// bound to them look like foreign units, while the veth addresses are this computer's.
#include "link/controlunitlistprovider.h"

#include <QNetworkInterface>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

namespace {

// Opens an answer connection from source as a unit does (a leading '!' keeps it silent);
// a source that is no loopback address connects to itself.
bool answerFrom(QString source, QObject* owner)
{
    const bool silent = source.startsWith(u'!');
    if (silent)
        source.remove(0, 1);
    const QHostAddress from(source);
    const QHostAddress to = !from.isLoopback() ? from
                            : from.protocol() == QAbstractSocket::IPv6Protocol
                                ? QHostAddress(QHostAddress::LocalHostIPv6)
                                : QHostAddress(QHostAddress::LocalHost);
    auto* socket = new QTcpSocket(owner);
    QSignalSpy connected(socket, &QTcpSocket::connected);
    if (!socket->bind(from))
        return false;
    socket->connectToHost(to, UnitPorts::DiscoveryAnswer);
    if (!connected.wait(1000))
        return false;
    return silent || socket->write("unit") == 4;
}

} // namespace

class TestDiscovery : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY2(QNetworkInterface::allAddresses().contains(QHostAddress("10.213.7.1")),
                 "needs the veth pair: run through scripts/netns-run --veth");
    }

    void listsTheAnswersOnce_data()
    {
        QTest::addColumn<QStringList>("sources");
        QTest::addColumn<QStringList>("expected");
        // The answer port takes both IP versions, so IPv4 peers arrive IPv4-mapped
        // (::ffff:127.0.0.3); every row checks their plain form.
        QTest::newRow("two units, in connection order")
            << QStringList{"127.0.0.3", "127.0.0.2"} << QStringList{"127.0.0.3", "127.0.0.2"};
        QTest::newRow("one unit twice")
            << QStringList{"127.0.0.2", "127.0.0.2"} << QStringList{"127.0.0.2"};
        QTest::newRow("this computer on two addresses")
            << QStringList{"127.0.0.2", "10.213.7.2", "127.0.0.3", "10.213.7.1"}
            << QStringList{"127.0.0.2", "127.0.0.1", "127.0.0.3"};
        QTest::newRow("peer without IPv4 form")
            << QStringList{"::1", "127.0.0.4"} << QStringList{"127.0.0.4"};
        QTest::newRow("silent unit first")
            << QStringList{"!127.0.0.5", "!127.0.0.6", "127.0.0.2"} << QStringList{"127.0.0.2"};
        QTest::newRow("nobody") << QStringList{} << QStringList{};
    }
    void listsTheAnswersOnce()
    {
        QFETCH(QStringList, sources);
        QFETCH(QStringList, expected);
        ControlUnitListProvider provider;
        provider.setSearchDurationMs(300);
        QSignalSpy ready(&provider, &ControlUnitListProvider::ready);
        provider.search();
        QObject units;
        for (const QString& source : sources)
            QVERIFY2(answerFrom(source, &units), qPrintable(source));
        QVERIFY(ready.wait(2000));
        QCOMPARE(provider.controlUnits(), expected);
        QVERIFY(!provider.isSearching());
    }

    void destroyedMidSearchFreesTheAnswerPort()
    {
        auto* provider = new ControlUnitListProvider;
        provider->search();
        delete provider;
        QTcpServer next;
        QVERIFY(next.listen(QHostAddress::Any, UnitPorts::DiscoveryAnswer));
    }
};

QTEST_GUILESS_MAIN(TestDiscovery)
#include "tst_discovery.moc"
