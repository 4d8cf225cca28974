// The unit's side of a firmware update against a file server in the test: the server
// speaks the application's byte layout, built here field by field, and reads the unit's
// reports the same way.
#include "core/simmodule.h"
#include "net/simfirmwareupdate.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <functional>

namespace {

// Big-endian fields, as the file server's data stream writes them.
class Stream
{
public:
    Stream& u32(quint32 v) { return be(v, 4); }
    Stream& i32(qint32 v) { return be(quint32(v), 4); }
    Stream& i64(qint64 v) { return be(quint64(v), 8); }
    // A string: its UTF-16 byte count, then the UTF-16 code units.
    Stream& text(const QString& s)
    {
        u32(quint32(s.size() * 2));
        for (QChar c : s)
            be(c.unicode(), 2);
        return *this;
    }
    Stream& bytes(const QByteArray& b)
    {
        m_bytes += b;
        return *this;
    }
    operator QByteArray() const { return m_bytes; }

private:
    Stream& be(quint64 v, int width)
    {
        for (int i = width - 1; i >= 0; --i)
            m_bytes.append(char((v >> (8 * i)) & 0xFF));
        return *this;
    }
    QByteArray m_bytes;
};

QByteArray fileData(const QByteArray& image)
{
    return Stream().text("FILE_DATA").i64(image.size()).u32(quint32(image.size())).bytes(image);
}

QByteArray someImage(int size)
{
    QByteArray image(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        image[i] = char(i * 7 + 3);
    return image;
}

struct Report
{
    QString tag;
    QString text;        // STATUS, ERROR
    qint32 percent = -1; // PROGRESS
};

// Reads the unit's reports from the whole received stream; false on bytes that are not
// a report or stop within one.
bool readReports(const QByteArray& stream, QList<Report>* reports)
{
    qsizetype at = 0;
    auto u32 = [&](quint32* v) {
        if (stream.size() - at < 4)
            return false;
        *v = 0;
        for (int i = 0; i < 4; ++i)
            *v = *v << 8 | quint8(stream[at++]);
        return true;
    };
    auto text = [&](QString* s) {
        quint32 n = 0;
        if (!u32(&n) || n % 2 != 0 || stream.size() - at < qsizetype(n))
            return false;
        s->clear();
        for (quint32 i = 0; i < n; i += 2, at += 2)
            s->append(QChar(quint16(quint8(stream[at]) << 8 | quint8(stream[at + 1]))));
        return true;
    };
    while (at < stream.size()) {
        Report report;
        if (!text(&report.tag))
            return false;
        if (report.tag == "STATUS" || report.tag == "ERROR") {
            if (!text(&report.text))
                return false;
        } else if (report.tag == "PROGRESS") {
            quint32 v = 0;
            if (!u32(&v))
                return false;
            report.percent = qint32(v);
        } else if (report.tag != "COMPLETED") {
            return false;
        }
        reports->append(report);
    }
    return true;
}

// The application's file server, reduced to what the unit sees of it.
class FileServer : public QObject
{
public:
    using Action = std::function<void(QTcpSocket*)>;

    FileServer()
    {
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            QTcpSocket* socket = m_server.nextPendingConnection();
            if (!socket || m_client)
                return;
            m_client = socket;
            connect(socket, &QTcpSocket::readyRead, this, [this] {
                m_received += m_client->readAll();
                if (m_onReport)
                    m_onReport(m_client);
            });
            connect(socket, &QTcpSocket::disconnected, this, [this] { m_closed = true; });
            if (m_onConnect)
                m_onConnect(socket);
        });
    }
    bool listen() { return m_server.listen(QHostAddress::LocalHost, 0); }
    quint16 port() const { return m_server.serverPort(); }
    void onConnect(Action action) { m_onConnect = std::move(action); }
    void onReport(Action action) { m_onReport = std::move(action); }

    bool connected() const { return m_client != nullptr; }
    bool closedByUnit() const { return m_closed; }
    QList<Report> reports() const
    {
        QList<Report> reports;
        return readReports(m_received, &reports) ? reports : QList<Report>{{"unreadable", {}, -1}};
    }
    QStringList tags() const
    {
        QStringList tags;
        for (const Report& r : reports())
            tags << r.tag;
        return tags;
    }

private:
    QTcpServer m_server;
    QTcpSocket* m_client = nullptr;
    QByteArray m_received;
    bool m_closed = false;
    Action m_onConnect;
    Action m_onReport;
};

class TestModule : public SimModule
{
public:
    explicit TestModule(const QString& firmware, QObject* parent = nullptr)
        : SimModule(7, {"VX9SDM0", "0", "1", firmware, "test module", {}}, nullptr, parent)
    {
    }
    void reset() override {}
    bool configure(const QJsonObject&, QString*) override { return true; }
    QJsonObject eeprom() const override { return {}; }
    bool setEeprom(const QJsonObject&, QString*) override { return true; }

protected:
    std::optional<QList<Answer>> handleOwn(quint8, const QByteArray&) override
    {
        return std::nullopt;
    }
};

// What the module answers to the firmware version query (code 9), up to the padding.
QString reportedFirmware(SimModule& module)
{
    const QList<SimModule::Answer> answers = module.handlePacket(9, {});
    if (answers.size() != 1 || answers.first().data.size() != 24)
        return QStringLiteral("<bad answer>");
    const QByteArray field = answers.first().data;
    return QString::fromUtf8(field.left(field.indexOf('\0') < 0 ? 24 : field.indexOf('\0')));
}

struct Setup
{
    FileServer server;
    TestModule module{QStringLiteral("1.2.3")};
    SimFirmwareUpdate update;
    QSignalSpy finished{&update, &SimFirmwareUpdate::finished};

    bool start()
    {
        if (!server.listen())
            return false;
        update.setPort(server.port());
        update.setStepIntervalMs(2);
        return update.start(QHostAddress::LocalHost, &module);
    }
    // Waits for the end of the update; false if it did not end or ended otherwise.
    bool endsWith(bool ok)
    {
        if (finished.isEmpty() && !finished.wait(10000))
            return false;
        return finished.size() == 1 && finished.first().at(0).toBool() == ok;
    }
};

} // namespace

class TestSimFirmwareUpdate : public QObject
{
    Q_OBJECT
private slots:
    void reportsStepByStepAndUpdatesTheModule();
    void takesAnImageArrivingInPieces();
    void refusesAnEmptyImage_data();
    void refusesAnEmptyImage();
    void refusesMalformedMessages_data();
    void refusesMalformedMessages();
    void survivesTheServerClosingEarly_data();
    void survivesTheServerClosingEarly();
    void failsWithoutAFileServer();
    void givesUpOnASilentServer();
    void startsOneUpdateAtATime();
    void bumpsTheLastNumberOfTheVersion_data();
    void bumpsTheLastNumberOfTheVersion();
};

void TestSimFirmwareUpdate::reportsStepByStepAndUpdatesTheModule()
{
    Setup s;
    s.server.onConnect([](QTcpSocket* socket) { socket->write(fileData(someImage(3000))); });
    QVERIFY(s.start());
    QVERIFY(s.update.isRunning());
    QVERIFY(s.endsWith(true));
    QVERIFY(!s.update.isRunning());
    // Everything the unit sent is in once it has closed.
    QTRY_VERIFY(s.server.closedByUnit());

    const QList<Report> reports = s.server.reports();
    QVERIFY(reports.size() >= 4);
    QCOMPARE(reports.first().tag, "STATUS");
    QVERIFY(reports.first().text.contains("3000"));
    QCOMPARE(reports.last().tag, "COMPLETED");
    QList<qint32> progress;
    for (const Report& r : reports.first(reports.size() - 1)) {
        QVERIFY2(r.tag == "STATUS" || r.tag == "PROGRESS", qPrintable(r.tag));
        QVERIFY(r.tag != "STATUS" || !r.text.isEmpty());
        if (r.tag == "PROGRESS")
            progress << r.percent;
    }
    QVERIFY(progress.size() >= 3);
    QVERIFY(std::is_sorted(progress.begin(), progress.end()));
    QVERIFY(progress.first() >= 0);
    QCOMPARE(progress.last(), 100);

    QCOMPARE(s.module.identity().firmware, "1.2.4");
    QCOMPARE(reportedFirmware(s.module), "1.2.4");
}

void TestSimFirmwareUpdate::takesAnImageArrivingInPieces()
{
    Setup s;
    const QByteArray message = fileData(someImage(70000));
    // Odd piece sizes, each written from its own timer event, split every field.
    QTcpSocket* client = nullptr;
    qsizetype at = 0;
    int piece = 0;
    QTimer feeder;
    connect(&feeder, &QTimer::timeout, this, [&] {
        static const int sizes[] = {1, 2, 3, 5, 13, 29, 1021, 4093};
        const qsizetype size = qMin<qsizetype>(sizes[piece++ % 8], message.size() - at);
        client->write(message.mid(at, size));
        client->flush();
        at += size;
        if (at == message.size())
            feeder.stop();
    });
    s.server.onConnect([&](QTcpSocket* socket) {
        client = socket;
        feeder.start(0);
    });
    QVERIFY(s.start());
    QVERIFY(s.endsWith(true));
    QTRY_VERIFY(s.server.closedByUnit());
    QCOMPARE(s.server.tags().last(), "COMPLETED");
    QCOMPARE(s.module.identity().firmware, "1.2.4");
}

void TestSimFirmwareUpdate::refusesAnEmptyImage_data()
{
    QTest::addColumn<QByteArray>("message");
    QTest::newRow("empty array") << fileData({});
    // A null array travels with the count 0xFFFFFFFF.
    QTest::newRow("null array") << QByteArray(Stream().text("FILE_DATA").i64(0).u32(~0u));
}

void TestSimFirmwareUpdate::refusesAnEmptyImage()
{
    QFETCH(QByteArray, message);
    Setup s;
    s.server.onConnect([message](QTcpSocket* socket) { socket->write(message); });
    QVERIFY(s.start());
    QVERIFY(s.endsWith(false));
    QTRY_VERIFY(s.server.closedByUnit());
    const QList<Report> reports = s.server.reports();
    QCOMPARE(reports.size(), 1);
    QCOMPARE(reports.first().tag, "ERROR");
    QVERIFY2(reports.first().text.contains("empty"), qPrintable(reports.first().text));
    QCOMPARE(s.module.identity().firmware, "1.2.3");
}

void TestSimFirmwareUpdate::refusesMalformedMessages_data()
{
    QTest::addColumn<QByteArray>("message");
    const QByteArray image = someImage(100);
    QTest::newRow("another message") << QByteArray(Stream().text("STATUS").text("hello"));
    QTest::newRow("tag in other case") << fileData(image).replace(5, 1, "f");
    QTest::newRow("null tag") << QByteArray(Stream().u32(~0u).i64(100).u32(100).bytes(image));
    QTest::newRow("garbage") << QByteArray(64, '\xC3');
    QTest::newRow("text line") << QByteArray("SYST:UPDT 7\r\n\r\n");
    QTest::newRow("size above the image")
        << QByteArray(Stream().text("FILE_DATA").i64(101).u32(100).bytes(image));
    QTest::newRow("size below the image")
        << QByteArray(Stream().text("FILE_DATA").i64(99).u32(100).bytes(image));
    QTest::newRow("negative size") << QByteArray(Stream().text("FILE_DATA").i64(-1).u32(0));
    // Refused on the announcement, without waiting for bytes that never come.
    QTest::newRow("huge size") << QByteArray(
        Stream().text("FILE_DATA").i64(qint64(1) << 40).u32(~0u - 1));
    QTest::newRow("huge array") << QByteArray(
        Stream().text("FILE_DATA").i64(0xFFFFFFF0).u32(0xFFFFFFF0));
}

void TestSimFirmwareUpdate::refusesMalformedMessages()
{
    QFETCH(QByteArray, message);
    Setup s;
    s.server.onConnect([message](QTcpSocket* socket) { socket->write(message); });
    QVERIFY(s.start());
    QVERIFY(s.endsWith(false));
    QTRY_VERIFY(s.server.closedByUnit());
    const QList<Report> reports = s.server.reports();
    QCOMPARE(reports.size(), 1);
    QCOMPARE(reports.first().tag, "ERROR");
    QVERIFY(!reports.first().text.isEmpty());
    QCOMPARE(s.module.identity().firmware, "1.2.3");
}

void TestSimFirmwareUpdate::survivesTheServerClosingEarly_data()
{
    QTest::addColumn<int>("sentBytes"); // of the image message, then the server closes
    QTest::addColumn<bool>("closeOnFirstReport");
    const int whole = int(fileData(someImage(500)).size());
    QTest::newRow("before sending") << 0 << false;
    QTest::newRow("inside the tag") << 9 << false;
    QTest::newRow("inside the image") << whole - 100 << false;
    QTest::newRow("during the reports") << whole << true;
}

void TestSimFirmwareUpdate::survivesTheServerClosingEarly()
{
    QFETCH(int, sentBytes);
    QFETCH(bool, closeOnFirstReport);
    Setup s;
    s.server.onConnect([sentBytes, closeOnFirstReport](QTcpSocket* socket) {
        socket->write(fileData(someImage(500)).left(sentBytes));
        if (!closeOnFirstReport)
            socket->disconnectFromHost();
    });
    if (closeOnFirstReport)
        s.server.onReport([](QTcpSocket* socket) { socket->abort(); });
    QVERIFY(s.start());
    // Steps slow enough for the close to arrive long before the last one.
    s.update.setStepIntervalMs(20);
    QVERIFY(s.endsWith(false));
    QVERIFY(!s.update.isRunning());
    QCOMPARE(s.module.identity().firmware, "1.2.3");
}

void TestSimFirmwareUpdate::failsWithoutAFileServer()
{
    // A port that was free a moment ago: nobody listens there.
    quint16 port = 0;
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        port = probe.serverPort();
    }
    TestModule module(QStringLiteral("2.0"));
    SimFirmwareUpdate update;
    QSignalSpy finished(&update, &SimFirmwareUpdate::finished);
    update.setPort(port);
    QVERIFY(update.start(QHostAddress::LocalHost, &module));
    QVERIFY(finished.wait(10000));
    QCOMPARE(finished.first().at(0).toBool(), false);
    QVERIFY(!update.isRunning());
    QCOMPARE(module.identity().firmware, "2.0");
}

void TestSimFirmwareUpdate::givesUpOnASilentServer()
{
    Setup s;
    s.update.setImageTimeoutMs(50);
    // Half a message, then nothing.
    s.server.onConnect([](QTcpSocket* socket) { socket->write(fileData(someImage(10)).left(30)); });
    QVERIFY(s.start());
    QVERIFY(s.endsWith(false));
    QTRY_VERIFY(s.server.closedByUnit());
    QCOMPARE(s.server.tags(), QStringList{"ERROR"});
    QCOMPARE(s.module.identity().firmware, "1.2.3");
}

void TestSimFirmwareUpdate::startsOneUpdateAtATime()
{
    Setup s;
    s.server.onConnect([](QTcpSocket* socket) { socket->write(fileData(someImage(10))); });
    QVERIFY(!s.update.start(QHostAddress::LocalHost, nullptr));
    QVERIFY(!s.update.isRunning());
    QVERIFY(s.start());
    QVERIFY(!s.update.start(QHostAddress::LocalHost, &s.module));
    QVERIFY(s.endsWith(true));
    QCOMPARE(s.module.identity().firmware, "1.2.4");

    // Once finished, the next update may start.
    QVERIFY(s.update.start(QHostAddress::LocalHost, &s.module));
    QVERIFY(s.update.isRunning());
}

void TestSimFirmwareUpdate::bumpsTheLastNumberOfTheVersion_data()
{
    QTest::addColumn<QString>("current");
    QTest::addColumn<QString>("next");
    QTest::newRow("dotted") << "1.2.3"
                            << "1.2.4";
    QTest::newRow("carry") << "1.9"
                           << "1.10";
    QTest::newRow("leading zeros") << "v0.09"
                                   << "v0.10";
    QTest::newRow("suffix") << "2.1-rc1"
                            << "2.1-rc2";
    QTest::newRow("text after the number") << "3.4 beta"
                                           << "3.5 beta";
    QTest::newRow("no number") << "beta"
                               << "beta.1";
    QTest::newRow("empty") << ""
                           << "1";
}

void TestSimFirmwareUpdate::bumpsTheLastNumberOfTheVersion()
{
    QFETCH(QString, current);
    QFETCH(QString, next);
    QCOMPARE(SimFirmwareUpdate::nextFirmwareVersion(current), next);
}

QTEST_GUILESS_MAIN(TestSimFirmwareUpdate)
#include "tst_simfirmwareupdate.moc"
