// The screen's request for the list of units: a search runs to its end and reports the
// units, the newest request wins, providers do not pile up, and a busy answer port says so.
// Answers are connections bound to 127.0.0.2 and .3, which look like foreign units.
#include "enginetestsupport.h"
#include "link/controlunitlistprovider.h"

#include <QTcpServer>
#include <QTcpSocket>

namespace {

// Opens an answer connection from source and waits until the search has taken it.
bool answerFrom(const QString& source, QObject* owner)
{
    auto* socket = new QTcpSocket(owner);
    QSignalSpy connected(socket, &QTcpSocket::connected);
    QSignalSpy taken(socket, &QTcpSocket::disconnected);
    if (!socket->bind(QHostAddress(source)))
        return false;
    socket->connectToHost(QHostAddress::LocalHost, UnitPorts::DiscoveryAnswer);
    return connected.wait(1000) && socket->write("unit") == 4 && taken.wait(1000);
}

} // namespace

class TestWorkerDiscovery : public QObject
{
    Q_OBJECT

    WorkerAsync* worker = nullptr;

    int providers() const { return int(worker->findChildren<ControlUnitListProvider*>().size()); }

private slots:
    void initTestCase() { worker = WorkerAsync::instance(); }
    void cleanupTestCase() { delete WorkerAsync::instance(); }

    void newestSearchReportsItsUnits()
    {
        worker->setGUIEnable(false);
        QSignalSpy listChanged(worker, &WorkerAsync::AvailableControlUnitsChanged);
        QObject units;
        worker->updateAvailableControlUnitList();
        QCOMPARE(worker->statusText(), QStringLiteral("Update available TCP/IP Devices..."));
        QVERIFY(answerFrom("127.0.0.2", &units));
        worker->updateAvailableControlUnitList();
        QVERIFY(answerFrom("127.0.0.3", &units));

        QTRY_VERIFY_WITH_TIMEOUT(worker->GUIEnable(), 3000);
        QCOMPARE(worker->AvailableControlUnits(), QStringList{"127.0.0.3"});
        QCOMPARE(worker->statusText(), QStringLiteral("1 device(s) founded."));
        QCOMPARE(listChanged.size(), 1);
        QTRY_COMPARE(providers(), 0);
    }

    void busyAnswerPortIsReported()
    {
        QTcpServer other;
        QVERIFY(other.listen(QHostAddress::Any, UnitPorts::DiscoveryAnswer));
        worker->setAvailableControlUnits({"127.0.0.9"});
        worker->setGUIEnable(false);
        worker->updateAvailableControlUnitList();
        QCOMPARE(worker->statusText(),
                 QStringLiteral("Cannot search for units: answer port 9878 is in use"));
        QVERIFY(worker->GUIEnable());
        QVERIFY(worker->AvailableControlUnits().isEmpty());
        QTRY_COMPARE(providers(), 0);
    }
};

TAVIK_ENGINE_TEST_MAIN(TestWorkerDiscovery)
#include "tst_workerdiscovery.moc"
