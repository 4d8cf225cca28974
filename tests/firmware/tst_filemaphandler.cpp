// The firmware catalogue against web servers on loopback: the simulator's catalogue server
// and Python's http.server for real listings, and a scripted server for errors, held
// replies, cancel and restart.
#include "firmware/cataloguepage.h"
#include "firmware/filemaphandler.h"
#include "net/simcatalogueserver.h"

#include <QAbstractHttpServer>
#include <QDir>
#include <QFile>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <vector>

namespace {

const QString Base = QStringLiteral("http://127.0.0.1:8000/vx9Rack/Bin/Firmware/");

// Answers each path from a table (404 for others); paths listed in hold get no answer until
// release(), or never.
class ScriptedServer : public QAbstractHttpServer
{
public:
    struct Page
    {
        QHttpServerResponder::StatusCode status = QHttpServerResponder::StatusCode::Ok;
        QByteArray body;
    };

    bool start()
    {
        auto* server = new QTcpServer(this);
        if (!server->listen(QHostAddress::LocalHost))
            return false;
        bind(server);
        port = server->serverPort();
        return true;
    }
    QString url(const QString& path) const
    {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(port).arg(path);
    }
    void release()
    {
        for (auto& [path, responder] : m_held)
            answer(path, responder);
        m_held.clear();
    }

    QHash<QString, Page> pages;
    QSet<QString> hold;
    QStringList requested;
    quint16 port = 0;

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override
    {
        const QString path = request.url().path();
        requested << path;
        QHttpServerResponder responder = makeResponder(request, socket);
        if (hold.contains(path))
            m_held.emplace_back(path, std::move(responder));
        else
            answer(path, responder);
        return true;
    }
    void missingHandler(const QHttpServerRequest&, QTcpSocket*) override {}

private:
    void answer(const QString& path, QHttpServerResponder& responder)
    {
        const Page page = pages.value(path, {QHttpServerResponder::StatusCode::NotFound, {}});
        responder.write(page.body, QByteArrayLiteral("text/html"), page.status);
    }

    std::vector<std::pair<QString, QHttpServerResponder>> m_held;
};

QByteArray links(const QStringList& names)
{
    QByteArray html = "<html><body><pre>\n";
    for (const QString& name : names)
        html += QStringLiteral("<a href=\"%1\">%1</a>\n").arg(name).toUtf8();
    return html + "</pre></body></html>\n";
}

void makeFiles(const QString& root, const QStringList& paths)
{
    for (const QString& path : paths) {
        QDir(root).mkpath(QFileInfo(path).path());
        QFile file(root + u'/' + path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(path.toUtf8());
    }
}

} // namespace

class TestFileMapHandler : public QObject
{
    Q_OBJECT

private slots:
    void parsePage_data();
    void parsePage();
    void walk_data();
    void walk();
    void pageErrors();
    void cancelDropsLateReply();
    void restartRunsOneWalk();
};

void TestFileMapHandler::parsePage_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("body");
    QTest::addColumn<QStringList>("directories");
    QTest::addColumn<QStringList>("images");

    QTest::newRow("root listing")
        << Base << R"(<a href="../">../</a> <a href="?C=N;O=D">Name</a> <a href="/icons/">i</a>
              <a  href="1.2.3/">1.2.3/</a>)"
        << QStringList{Base + "1.2.3/"} << QStringList{};
    QTest::newRow("version page, each image named twice")
        << Base + "1.2.3/"
        << R"(<a href="VX9SDM0V1_code.bin">VX9SDM0V1_code.bin</a>
              <a href="VX9SDM1V2_code.bin">VX9SDM1V2_code.bin</a> _code.bin x_code.bin)"
        << QStringList{} << QStringList{"1.2.3/VX9SDM0V1", "1.2.3/VX9SDM1V2"};
    // "./" and "x/../" are the page itself, which the walk has seen; nothing above the
    // catalogue is taken.
    QTest::newRow("links that lead round or out")
        << Base + "1.2.3/"
        << R"(<a href="./">.</a><a href="x/../">x</a><a href="../../">up</a>)"
        << QStringList{Base + "1.2.3/", Base + "1.2.3/"} << QStringList{};
}

void TestFileMapHandler::parsePage()
{
    QFETCH(QString, page);
    QFETCH(QString, body);
    QFETCH(QStringList, directories);
    QFETCH(QStringList, images);
    QCOMPARE(catalogueDirectoryLinks(page, body, Base), directories);
    QCOMPARE(catalogueImageEntries(page, body, Base), images);
}

void TestFileMapHandler::walk_data()
{
    QTest::addColumn<bool>("python");
    QTest::newRow("cu-tavik-sim") << false;
    QTest::newRow("python http.server") << true;
}

void TestFileMapHandler::walk()
{
    QFETCH(bool, python);
    QTemporaryDir dir;
    const QString firmware = QStringLiteral("vx9Rack/Bin/Firmware/");
    makeFiles(dir.path(),
              {firmware + "notes.txt", firmware + "1.2.3/VX9SDM0V1_code.bin",
               firmware + "1.2.3/VX9SDM1V2_code.bin", firmware + "1.2.3/VX9TDM0V1_code.bin",
               firmware + "1.9.0/VX9SDM1V2_code.bin", firmware + "1.10.0/VX9SDM1V2_code.bin",
               firmware + "1.10.0/VX9SDM1V3_code.bin"});

    SimCatalogueServer sim(dir.path());
    QProcess server;
    QString error;
    if (python) {
        server.start(
            QStringLiteral("/usr/bin/python3"),
            {"-u", "-m", "http.server", "--bind", "127.0.0.1", "8000", "--directory", dir.path()});
        QByteArray said;
        QTRY_VERIFY_WITH_TIMEOUT((said += server.readAllStandardOutput()).contains("Serving HTTP"),
                                 10000);
    } else {
        QVERIFY2(sim.start(QHostAddress::LocalHost, 8000, &error), qPrintable(error));
    }

    FileMapHandler catalogue(Base);
    QSignalSpy finished(&catalogue, &FileMapHandler::loadingFinished);
    QSignalSpy errors(&catalogue, &FileMapHandler::errorOccurred);
    catalogue.loadFileMap();
    QVERIFY(catalogue.loading());
    QVERIFY(finished.wait());
    QVERIFY(!catalogue.loading());
    QCOMPARE(errors.count(), 0);
    QStringList images = catalogue.images();
    images.sort();
    QCOMPARE(images, (QStringList{"1.10.0/VX9SDM1V2", "1.10.0/VX9SDM1V3", "1.2.3/VX9SDM0V1",
                                  "1.2.3/VX9SDM1V2", "1.2.3/VX9TDM0V1", "1.9.0/VX9SDM1V2"}));

    QStringList announced;
    connect(&catalogue, &FileMapHandler::modificationsChanged, this,
            [&] { announced << "modifications"; });
    connect(&catalogue, &FileMapHandler::revisionsChanged, this, [&] { announced << "revisions"; });
    connect(&catalogue, &FileMapHandler::versionsChanged, this, [&] { announced << "versions"; });
    // Only the family, then modification 1 and revision 2: lists sort as strings.
    catalogue.updateFilters("VX9SD");
    QCOMPARE(catalogue.modifications(), (QStringList{"0", "1"}));
    QVERIFY(catalogue.revisions().isEmpty());
    QVERIFY(catalogue.versions().isEmpty());
    catalogue.updateFilters("VX9SD", "1", "2");
    QCOMPARE(catalogue.modifications(), (QStringList{"0", "1"}));
    QCOMPARE(catalogue.revisions(), (QStringList{"2", "3"}));
    QCOMPARE(catalogue.versions(), (QStringList{"1.10.0", "1.2.3", "1.9.0"}));
    QCOMPARE(announced, (QStringList{"modifications", "revisions", "versions", "modifications",
                                     "revisions", "versions"}));
    server.kill();
    server.waitForFinished();
}

void TestFileMapHandler::pageErrors()
{
    using Code = QHttpServerResponder::StatusCode;
    ScriptedServer server;
    QVERIFY(server.start());
    server.pages["/"] = {Code::Ok, links({"missing/", "broken/", "stalled/", "huge/", "ok/"})};
    server.pages["/broken/"] = {Code::InternalServerError, "oops"};
    server.pages["/huge/"] = {Code::Ok, QByteArray(5000, 'x')};
    server.pages["/ok/"] = {Code::Ok, links({"VX9TDM1V2_code.bin"})};
    server.hold << "/stalled/";

    FileMapHandler catalogue(server.url("/"));
    catalogue.setTransferTimeoutMs(300);
    catalogue.setMaxPageBytes(1000);
    QSignalSpy finished(&catalogue, &FileMapHandler::loadingFinished);
    QSignalSpy errors(&catalogue, &FileMapHandler::errorOccurred);
    catalogue.loadFileMap();
    QVERIFY(finished.wait());
    QCOMPARE(errors.count(), 3);
    const QStringList failing = {"/broken/", "/stalled/", "/huge/"};
    for (int i = 0; i < failing.size(); ++i) {
        const QString message = errors.at(i).at(0).toString();
        QVERIFY2(message.startsWith("Error loading " + server.url(failing[i]) + ": "),
                 qPrintable(message));
    }
    QCOMPARE(catalogue.images(), QStringList{"ok/VX9TDM1V2"});
    QCOMPARE(finished.count(), 1);
}

void TestFileMapHandler::cancelDropsLateReply()
{
    ScriptedServer server;
    QVERIFY(server.start());
    server.pages["/"] = {QHttpServerResponder::StatusCode::Ok,
                         links({"1.2.3/", "VX9SDM0V1_code.bin"})};
    server.hold << "/";

    FileMapHandler catalogue(server.url("/"));
    QSignalSpy finished(&catalogue, &FileMapHandler::loadingFinished);
    QSignalSpy loadingChanged(&catalogue, &FileMapHandler::loadingChanged);
    catalogue.loadFileMap();
    QTRY_COMPARE(server.requested, QStringList{"/"});
    catalogue.cancelLoading();
    QVERIFY(!catalogue.loading());
    QCOMPARE(loadingChanged.count(), 2);

    server.release();
    QVERIFY(!finished.wait(300));
    QCOMPARE(server.requested, QStringList{"/"});
    QVERIFY(catalogue.images().isEmpty());
}

void TestFileMapHandler::restartRunsOneWalk()
{
    ScriptedServer server;
    QVERIFY(server.start());
    server.pages["/"] = {QHttpServerResponder::StatusCode::Ok, links({"1.2.3/"})};
    server.pages["/1.2.3/"] = {QHttpServerResponder::StatusCode::Ok, links({"VX9SDM0V1_code.bin"})};
    server.hold << "/";

    FileMapHandler catalogue(server.url("/"));
    QSignalSpy finished(&catalogue, &FileMapHandler::loadingFinished);
    catalogue.loadFileMap();
    QTRY_COMPARE(server.requested.size(), 1);
    catalogue.loadFileMap();
    QTRY_COMPARE(server.requested.size(), 2);

    // The first walk's reply comes in while the second walk runs: it must not start a
    // walk of its own beside it.
    server.release();
    QVERIFY(finished.wait());
    QVERIFY(!finished.wait(300));
    QCOMPARE(finished.count(), 1);
    QCOMPARE(server.requested, (QStringList{"/", "/", "/1.2.3/"}));
    QCOMPARE(catalogue.images(), QStringList{"1.2.3/VX9SDM0V1"});
}

QTEST_GUILESS_MAIN(TestFileMapHandler)
#include "tst_filemaphandler.moc"
