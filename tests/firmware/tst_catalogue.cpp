// The firmware catalogue against web servers on loopback: the simulator's catalogue server
// and Python's http.server for real listings, a scripted server for errors, held replies,
// cancel and restart; and cu-tavik-cli firmware list against the sample catalogue.
#include "firmware/filemaphandler.h"
#include "net/simcatalogueserver.h"
#include "programrun.h"

#include <QAbstractHttpServer>
#include <QDir>
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
using Code = QHttpServerResponder::StatusCode;

// Answers each path from a table (404 for others); paths in hold get no answer until
// release().
class ScriptedServer : public QAbstractHttpServer
{
public:
    ScriptedServer()
    {
        auto* server = new QTcpServer(this);
        server->listen(QHostAddress::LocalHost);
        bind(server);
        url = QStringLiteral("http://127.0.0.1:%1").arg(server->serverPort());
    }
    void release()
    {
        for (auto& [path, responder] : m_held)
            answer(path, responder);
        m_held.clear();
    }

    QString url;
    QHash<QString, std::pair<Code, QByteArray>> pages;
    QSet<QString> hold;
    QStringList requested;

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
        const auto page = pages.value(path, {Code::NotFound, {}});
        responder.write(page.second, QByteArrayLiteral("text/html"), page.first);
    }
    std::vector<std::pair<QString, QHttpServerResponder>> m_held;
};

std::pair<Code, QByteArray> links(const QStringList& names)
{
    QByteArray html = "<html><body><pre>\n";
    for (const QString& name : names)
        html += QStringLiteral("<a href=\"%1\">%1</a>\n").arg(name).toUtf8();
    return {Code::Ok, html + "</pre></body></html>\n"};
}

} // namespace

class TestCatalogue : public QObject
{
    Q_OBJECT

private slots:
    // The simulator's listings, then those of Python's http.server.
    void walk()
    {
        for (const bool python : {false, true}) {
            QTemporaryDir dir;
            for (const QString path :
                 {"notes.txt", "1.2.3/VX9SDM0V1_code.bin", "1.2.3/VX9SDM1V2_code.bin",
                  "1.2.3/VX9TDM0V1_code.bin", "1.9.0/VX9SDM1V2_code.bin",
                  "1.10.0/VX9SDM1V2_code.bin", "1.10.0/VX9SDM1V3_code.bin"}) {
                QFile file(dir.path() + "/vx9Rack/Bin/Firmware/" + path);
                QVERIFY(QDir().mkpath(QFileInfo(file).path()) && file.open(QIODevice::WriteOnly));
            }
            SimCatalogueServer sim(dir.path());
            QProcess server;
            QString error;
            if (python) {
                server.start("/usr/bin/python3", {"-u", "-m", "http.server", "--bind", "127.0.0.1",
                                                  "8000", "--directory", dir.path()});
                QByteArray said;
                QTRY_VERIFY_WITH_TIMEOUT(
                    (said += server.readAllStandardOutput()).contains("Serving HTTP"), 10000);
            } else {
                QVERIFY2(sim.start(QHostAddress::LocalHost, 8000, &error), qPrintable(error));
            }
            FileMapHandler catalogue(Base);
            QSignalSpy finished(&catalogue, &FileMapHandler::loadingFinished);
            QSignalSpy errors(&catalogue, &FileMapHandler::errorOccurred);
            catalogue.loadFileMap();
            QVERIFY(catalogue.loading() && finished.wait());
            QVERIFY2(!catalogue.loading() && errors.isEmpty(), python ? "python" : "sim");
            QStringList images = catalogue.images();
            images.sort();
            QCOMPARE(images,
                     (QStringList{"1.10.0/VX9SDM1V2", "1.10.0/VX9SDM1V3", "1.2.3/VX9SDM0V1",
                                  "1.2.3/VX9SDM1V2", "1.2.3/VX9TDM0V1", "1.9.0/VX9SDM1V2"}));
            // Every call announces all three lists: the dialog re-selects its entries on them.
            QStringList announced;
            for (auto signal :
                 {&FileMapHandler::modificationsChanged, &FileMapHandler::revisionsChanged,
                  &FileMapHandler::versionsChanged})
                connect(&catalogue, signal, this,
                        [&] { announced << QString::number(announced.size()); });
            catalogue.updateFilters("VX9SD"); // only the family
            QCOMPARE(catalogue.modifications(), (QStringList{"0", "1"}));
            QVERIFY(catalogue.revisions().isEmpty() && catalogue.versions().isEmpty());
            catalogue.updateFilters("VX9SD", "1", "2"); // lists sort as strings
            QCOMPARE(catalogue.revisions(), (QStringList{"2", "3"}));
            QCOMPARE(catalogue.versions(), (QStringList{"1.10.0", "1.2.3", "1.9.0"}));
            QCOMPARE(announced.size(), 6);
            server.kill();
            server.waitForFinished();
        }
    }

    // Pages that fail are errors of their own; links that lead round, out of the catalogue
    // or to sort orders are not followed, and each image counts once.
    void pageErrorsAndOddLinks()
    {
        ScriptedServer server;
        auto& root = server.pages["/fw/"] =
            links({"missing/", "broken/", "stalled/", "huge/", "ok/"});
        root.second += R"(<a href="../">../</a> <a href="?C=N;O=D">Name</a> <a href="/icons/">i</a>
                          <a href="./">.</a><a  href="ok/../">x</a>)";
        server.pages["/fw/broken/"] = {Code::InternalServerError, "oops"};
        server.pages["/fw/huge/"] = {Code::Ok, QByteArray(5000, 'x')};
        server.pages["/fw/ok/"] = links({"VX9TDM1V2_code.bin", "../../", "VX9TDM1V2_code.bin"});
        server.pages["/fw/ok/"].second += "_code.bin x_code.bin";
        server.hold << "/fw/stalled/";
        FileMapHandler catalogue(server.url + "/fw");
        catalogue.setTransferTimeoutMs(300);
        catalogue.setMaxPageBytes(1000);
        QSignalSpy finished(&catalogue, &FileMapHandler::loadingFinished);
        QSignalSpy errors(&catalogue, &FileMapHandler::errorOccurred);
        catalogue.loadFileMap();
        QVERIFY(finished.wait());
        QCOMPARE(errors.count(), 3);
        for (int i = 0; i < 3; ++i) // in the order of the pages
            QVERIFY(errors.at(i).at(0).toString().startsWith(
                "Error loading " + server.url +
                QStringList{"/fw/broken/", "/fw/stalled/", "/fw/huge/"}[i]));
        QCOMPARE(server.requested, (QStringList{"/fw/", "/fw/missing/", "/fw/broken/",
                                                "/fw/stalled/", "/fw/huge/", "/fw/ok/"}));
        QCOMPARE(catalogue.images(), QStringList{"ok/VX9TDM1V2"});
        QCOMPARE(finished.count(), 1);
    }

    // A cancelled walk drops its late reply; a walk started over a running one runs alone.
    void cancelAndRestart()
    {
        ScriptedServer server;
        server.pages["/"] = links({"1.2.3/", "VX9SDM0V1_code.bin"});
        server.pages["/1.2.3/"] = links({"VX9SDM1V2_code.bin"});
        server.hold << "/";
        FileMapHandler catalogue(server.url + "/");
        QSignalSpy finished(&catalogue, &FileMapHandler::loadingFinished);
        QSignalSpy loadingChanged(&catalogue, &FileMapHandler::loadingChanged);
        catalogue.loadFileMap();
        QTRY_COMPARE(server.requested.size(), 1);
        catalogue.cancelLoading();
        QVERIFY(!catalogue.loading());
        QCOMPARE(loadingChanged.count(), 2);
        server.release();
        QVERIFY(!finished.wait(300));
        QVERIFY(catalogue.images().isEmpty());

        catalogue.loadFileMap();
        QTRY_COMPARE(server.requested.size(), 2);
        catalogue.loadFileMap();
        QTRY_COMPARE(server.requested.size(), 3);
        // The first walk's reply comes in while the second runs: it starts no walk of its own.
        server.release();
        QVERIFY(finished.wait());
        QVERIFY(!finished.wait(300));
        QCOMPARE(finished.count(), 1);
        QCOMPARE(server.requested, (QStringList{"/", "/", "/", "/1.2.3/"}));
        QCOMPARE(catalogue.images(), (QStringList{"VX9SDM0V1", "1.2.3/VX9SDM1V2"}));
    }

    // cu-tavik-cli firmware list, the real program against the simulator's web server serving
    // the sample catalogue the repository ships (served by this test's event loop).
    void firmwareList()
    {
        SimCatalogueServer server(QStringLiteral(SAMPLE_CATALOGUE));
        QString error;
        QVERIFY2(server.start(QHostAddress::LocalHost, 8000, &error), qPrintable(error));
        QString images;
        for (const char* entry : {"VX9SDM1V2", "VX9SDM1V3", "VX9TDM0V1", "VX9TDM1V2"})
            images += QString("image %1 %2%1_code.bin\n").arg("1.3.3/" + QString(entry), Base);
        // clang-format off
        const QList<std::tuple<QStringList, int, QString, QString>> rows = { // exit, out, err
            {{"list", "--base-url", Base, "--family", "VX9SD", "--modification", "1",
              "--hardware", "2"},
             0, images + "modifications 0 1\nrevisions 1 2 3\nversions 1.2.3 1.3.3\n", ""},
            {{"list", "--base-url", "http://127.0.0.1:1/x/"}, 1, "",
             "cu-tavik-cli: Error loading http://127.0.0.1:1/x/: "},
            {{"list", "--base-url", Base, "--family", "VX9SD", "--hardware", "2"}, 2, "",
             "--hardware needs --modification"},
            {{"list", "--base-url", "ftp://127.0.0.1/"}, 2, "", "--base-url must be an http"},
            {{}, 2, "", "firmware needs a subcommand"}};
        // clang-format on
        for (const auto& [arguments, exitCode, out, err] : rows) {
            const ProgramRun r = runProgram(CLI_PATH, QStringList{"firmware"} + arguments);
            QVERIFY2(r.exitCode == exitCode && (out.isEmpty() || r.out.endsWith(out)) &&
                         r.err.contains(err),
                     qPrintable(r.out + r.err));
        }
    }
};

QTEST_GUILESS_MAIN(TestCatalogue)
#include "tst_catalogue.moc"
