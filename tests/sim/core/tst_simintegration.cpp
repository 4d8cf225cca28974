// The driver library as a client of the simulated demo rack, in-process: the unit
// inventory through the transport's text query, every module's identity, and an SSPD
// model 0 channel's data and parameters.
#include "core/simenvironment.h"
#include "core/simmodulefactory.h"
#include "core/simrack.h"
#include "core/simunit.h"
#include "drivers/commondriver.h"
#include "drivers/sspddriverm0.h"
#include "link/cutcpsocketiointerface.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

namespace {

QString withoutPadding(QString text)
{
    while (text.endsWith(QChar(0)))
        text.chop(1);
    return text;
}

} // namespace

class TestSimIntegration : public QObject
{
    Q_OBJECT

    std::unique_ptr<SimEnvironment> env;
    std::unique_ptr<SimUnit> unit;
    std::unique_ptr<cuTcpSocketIOInterface> transport;

private slots:
    void init()
    {
        env = std::make_unique<SimEnvironment>(3);
        unit = std::make_unique<SimUnit>(env.get());
        unit->setPort(0);
        QString error;
        QVERIFY2(SimRack::demo().install(unit.get(), &error), qPrintable(error));
        QVERIFY(unit->start());
        transport = std::make_unique<cuTcpSocketIOInterface>();
        transport->setHostAddress(QHostAddress::LocalHost);
        transport->setPort(unit->serverPort());
    }
    void cleanup()
    {
        transport.reset();
        unit.reset();
        env.reset();
    }

    void inventoryAndIdentitiesAgree()
    {
        bool ok = false;
        const QString answer = transport->query("SYST:DEVJ?\r\n", 500, &ok);
        QVERIFY(ok);
        QVERIFY(answer.endsWith("\r\n"));
        const QJsonObject list = QJsonDocument::fromJson(answer.toLocal8Bit()).object();
        QCOMPARE(list.value("count").toInt(), 6);
        const QJsonArray info = list.value("info").toArray();
        QCOMPARE(info.size(), 6);
        for (const QJsonValue& value : info) {
            const QJsonObject entry = value.toObject();
            CommonDriver driver;
            driver.setAddress(quint8(entry.value("address").toInt()));
            driver.setInterface(transport.get());
            QVERIFY(driver.readIdentity());
            const QString type = entry.value("type").toString();
            QCOMPARE(withoutPadding(driver.typeString()->cached()), type);
            QCOMPARE(withoutPadding(driver.description()->cached()),
                     entry.value("Description").toString());
            QCOMPARE(withoutPadding(driver.firmwareVersion()->cached()),
                     entry.value("Firmware").toString());
            QCOMPARE(withoutPadding(driver.hardwareVersion()->cached()),
                     entry.value("Hardware").toString());
            QCOMPARE(withoutPadding(driver.modification()->cached()),
                     entry.value("Modification").toString());
            QCOMPARE(driver.udid()->cached().toString(), entry.value("UDID").toString());
        }
    }

    void unitCommandsThroughTheTransport()
    {
        bool ok = false;
        QVERIFY(transport->query("SYST:URES\r\n", 500, &ok).toLower().contains("ok"));
        QVERIFY(transport->query("SYST:DEVL?\r\n", 500, &ok).contains("addr=6:type=VX9HTM0"));
    }

    void sspdChannelDataAndParameters()
    {
        SspdDriverM0 driver;
        driver.setAddress(1);
        driver.setInterface(transport.get());
        bool ok = false;
        driver.data()->read(&ok, 2);
        QVERIFY(ok);
        const VX9SDM0V1_Param_t params = driver.params()->read(&ok, 2);
        QVERIFY(ok);
        QVERIFY(params.timeConst > 0);

        VX9SDM0V1_Param_t changed = params;
        changed.cmpRefLevel = 0.125f;
        driver.params()->writeSync(changed, &ok, 2);
        QVERIFY(ok);
        QCOMPARE(driver.cmpRefLevel()->read(&ok, 2), 0.125f);
        QVERIFY(ok);

        driver.current()->writeSync(5e-6f, &ok, 2);
        QVERIFY(ok);
        const VX9SDM0V1_Data_t data = driver.data()->read(&ok, 2);
        QVERIFY(ok);
        QVERIFY(qAbs(data.current - 5e-6f) < 0.5e-6f);
    }
};

QTEST_GUILESS_MAIN(TestSimIntegration)
#include "tst_simintegration.moc"
