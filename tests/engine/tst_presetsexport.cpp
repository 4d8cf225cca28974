// Presets and curve export: the preset file written from the ticked channels and applied back
// to the simulated rack's modules, the text tables of chart series, and files that cannot be
// read or written.
#include "engine/settings.h"
#include "enginetestsupport.h"

#include <QDir>
#include <QFile>
#include <QLineSeries>
#include <QScatterSeries>
#include <csignal>
#include <sys/resource.h>

namespace {

QByteArray readAll(const QString& fileName)
{
    QFile file(fileName);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString& fileName, const QByteArray& bytes)
{
    QFile file(fileName);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// While it lives, no file of this process may grow beyond a few bytes, as on a full disk.
class FileSizeLimit
{
public:
    FileSizeLimit()
    {
        std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &m_old);
        rlimit small = m_old;
        small.rlim_cur = 16;
        active = setrlimit(RLIMIT_FSIZE, &small) == 0;
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &m_old); }
    bool active = false;

private:
    rlimit m_old{};
};

} // namespace

class TestPresetsExport : public QObject
{
    Q_OBJECT

    SimulatedUnit rack;
    WorkerAsync* worker = nullptr;
    DataProviderList* list = nullptr;
    QTemporaryDir dir;

    QString path(const QString& name) const { return dir.filePath(name); }
    QStringList errorsAfter(const std::function<void()>& action)
    {
        QSignalSpy errors(worker, &WorkerAsync::sendErrorMessage);
        action();
        QStringList texts;
        for (const QList<QVariant>& error : errors)
            texts << error.at(0).toString() + ' ' + error.at(1).toString();
        return texts;
    }
    void setRecord(int address, const DataProviderItem& values)
    {
        DataProviderItem record = recordOf(list, address);
        record.insert(values);
        list->setItemAt(indexOfAddress(list, address), record);
    }
    // Reads the SSPD channels fast and waits until every channel was read after the worker
    // took all that was asked of it before, so the device list shows the modules' values.
    bool watchAndSettle()
    {
        QList<QAbstractSeries*> series;
        for (const char* name : {"SSPD 1", "SSPD 2", "SSPD 3"}) {
            series.append(new QLineSeries(this));
            series.last()->setName(name);
        }
        worker->settings()->setSeries(series);
        worker->settings()->setTimeConstant(0.05);
        worker->activateMode(WorkerAsync::WorkerModeNoAction);
        worker->activateMode(WorkerAsync::WorkerModeCpsVersTime);
        // A step begun before the writes may still report once.
        QSignalSpy updated(list, &DataProviderList::dataUpdated);
        QHash<int, int> reads;
        return waitUntil([&] {
            for (const QList<QVariant>& args : updated)
                ++reads[args.at(0).toInt()];
            updated.clear();
            return reads.size() >= 3 &&
                   std::all_of(reads.cbegin(), reads.cend(), [](int n) { return n >= 2; });
        });
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid() && rack.installed);
        worker = WorkerAsync::instance();
        list = worker->dataList();
        QVERIFY(connectWorker(worker));
    }
    void cleanup() { worker->activateMode(WorkerAsync::WorkerModeNoAction); }
    void cleanupTestCase() { delete WorkerAsync::instance(); }

    // The ticked channels go to the file with every key, and come back to their modules.
    void presetsRoundTrip()
    {
        setRecord(1, {{"restore", true}, {"current", 1.25e-5}, {"cmp_ref_level", 0.05}});
        setRecord(3, {{"restore", true},
                      {"current", -2e-6},
                      {"cmp_ref_level", 0.1},
                      {"numeric_text", "12.5"}});
        setRecord(2, {{"restore", false}, {"current", 9e-6}});
        const QString file = path("presets.json");
        QCOMPARE(errorsAfter([&] { worker->savePresets(file); }), QStringList());

        const QByteArray bytes = readAll(file);
        const QJsonDocument document = QJsonDocument::fromJson(bytes);
        QCOMPARE(bytes, document.toJson(QJsonDocument::Indented));
        const QJsonArray data = document.object().value("data").toArray();
        QCOMPARE(data.size(), 2);
        const QJsonObject channel = data.at(1).toObject();
        QCOMPARE(channel.keys(), QJsonObject::fromVariantMap(recordOf(list, 3)).keys());
        QCOMPARE(channel.value("address").toInt(), 3);
        QCOMPARE(channel.value("type").toInt(), 1);
        QCOMPARE(channel.value("current").toDouble(), -2e-6);
        // Flags become numbers, texts their numeric value (0 when they are none).
        QCOMPARE(channel.value("restore"), QJsonValue(1.0));
        QCOMPARE(channel.value("selected"), QJsonValue(0.0));
        QCOMPARE(channel.value("numeric_text"), QJsonValue(12.5));
        QCOMPARE(channel.value("Description"), QJsonValue(0.0));

        worker->setParameter(1, "current", 5e-6);
        worker->setParameter(3, "cmp_ref_level", 0.3);
        worker->setParameter(2, "current", 4e-6);
        QVERIFY(watchAndSettle());
        QVERIFY(qAbs(recordOf(list, 1).value("current").toDouble() - 5e-6) < 1e-8);
        QCOMPARE(errorsAfter([&] { worker->restorePresets(file); }), QStringList());
        QVERIFY(watchAndSettle());
        QVERIFY(qAbs(recordOf(list, 1).value("current").toDouble() - 1.25e-5) < 1e-8);
        QVERIFY(qAbs(recordOf(list, 1).value("cmp_ref_level").toDouble() - 0.05) < 1e-4);
        QVERIFY(qAbs(recordOf(list, 3).value("current").toDouble() + 2e-6) < 1e-8);
        QVERIFY(qAbs(recordOf(list, 3).value("cmp_ref_level").toDouble() - 0.1) < 1e-4);
        // An unticked channel keeps its own values.
        QVERIFY(qAbs(recordOf(list, 2).value("current").toDouble() - 4e-6) < 1e-8);
    }

    void harmfulValuesNeverReachAModule()
    {
        worker->setParameter(1, "current", 5e-6);
        worker->setParameter(3, "current", 6e-6);
        const QJsonArray data{
            QJsonObject{{"type", 0}, {"address", 1}, {"current", 1.0}, {"cmp_ref_level", 0.2}},
            QJsonObject{{"type", 1}, {"address", 3}, {"current", "abc"}}};
        QVERIFY(
            writeFile(path("harmful.json"), QJsonDocument(QJsonObject{{"data", data}}).toJson()));
        const QStringList errors = errorsAfter([&] {
            worker->restorePresets(path("harmful.json"));
            // A single write no panel could make is refused by the worker itself.
            worker->setParameter(2, "cmp_ref_level", qQNaN());
            QVERIFY(watchAndSettle());
        });
        QCOMPARE(errors,
                 QStringList({"ERROR! Preset for unit 1: current 1 A is outside -0.001 to 0.001 "
                              "A; not restored",
                              "ERROR! Preset for unit 3: current \"abc\" is not a number; not "
                              "restored",
                              "Error Unit 2: cmp_ref_level nan is not a number; not written"}));
        // The values that make sense are applied; the rest stays as it was.
        QVERIFY(qAbs(recordOf(list, 1).value("cmp_ref_level").toDouble() - 0.2) < 1e-4);
        QVERIFY(qAbs(recordOf(list, 1).value("current").toDouble() - 5e-6) < 1e-8);
        QVERIFY(qAbs(recordOf(list, 3).value("current").toDouble() - 6e-6) < 1e-8);
    }

    void unusableFilesAreReported()
    {
        // Nothing ticked: the file is left alone.
        for (int address : {1, 2, 3, 4, 5, 6})
            setRecord(address, {{"restore", false}});
        QVERIFY(writeFile(path("kept.json"), "previous presets, longer than the limit"));
        QCOMPARE(errorsAfter([&] { worker->savePresets(path("kept.json")); }),
                 QStringList{"ERROR! No channels selected for preset save"});
        // A write that fails half way keeps the previous presets, and no half-written copy.
        setRecord(1, {{"restore", true}});
        const QString missing = path("no/such/dir/presets.json");
        QCOMPARE(errorsAfter([&] {
                     worker->savePresets(missing);
                     FileSizeLimit full;
                     QVERIFY(full.active);
                     worker->savePresets(path("kept.json"));
                 }),
                 QStringList({"ERROR! Couldn't write file; " + missing,
                              "ERROR! Couldn't write file; " + path("kept.json")}));
        QCOMPARE(readAll(path("kept.json")), QByteArray("previous presets, longer than the limit"));
        QCOMPARE(QDir(dir.path()).entryList({"kept.json*"}, QDir::Files | QDir::Hidden),
                 QStringList{"kept.json"});

        QVERIFY(writeFile(path("nodata.json"), R"({"presets": []})"));
        QVERIFY(writeFile(path("array.json"), R"([{"data": []}])"));
        QCOMPARE(errorsAfter([&] {
                     for (const char* name : {"missing.json", "nodata.json", "array.json"})
                         worker->restorePresets(path(name));
                 }),
                 QStringList({"ERROR! Couldn't open file; " + path("missing.json"),
                              "ERROR! Wrong data. Missed \"data\" member.",
                              "ERROR! Wrong data. Missed \"data\" member."}));
    }

    void seriesExportIsATabSeparatedTable()
    {
        QLineSeries series;
        series.append(1e-6, 123.4567891);
        series.append(-2.5, 0.0);
        series.append(1.7e12, -0.0000004);
        worker->saveSeries(&series, path("series.txt"));
        QCOMPARE(readAll(path("series.txt")), QByteArray("0.000001\t123.456789\r\n"
                                                         "-2.500000\t0.000000\r\n"
                                                         "1700000000000.000000\t-0.000000\r\n"));
        QScatterSeries empty;
        worker->saveSeries(&empty, path("empty.txt"));
        QVERIFY(QFile::exists(path("empty.txt")));
        QCOMPARE(readAll(path("empty.txt")), QByteArray());
        worker->saveSeries(nullptr, path("none.txt"));
        QVERIFY(!QFile::exists(path("none.txt")));
    }

    void multipleSeriesGoSideBySide()
    {
        QLineSeries first, second, third;
        first.setName("SSPD 1");
        second.setName("empty");
        third.setName("IV");
        first.append({QPointF(1.0, 2.0), QPointF(3.0, 4.0)});
        third.append({QPointF(0.5, 1e-6), QPointF(0.25, 123.4567891), QPointF(-1.0, 7.0)});
        QObject notASeries;
        worker->saveMultipleSeries({QVariant::fromValue(&first), QVariant(5),
                                    QVariant::fromValue(&second), QVariant::fromValue(&notASeries),
                                    QVariant::fromValue(static_cast<QObject*>(&third))},
                                   path("multiple.txt"));
        QCOMPARE(readAll(path("multiple.txt")),
                 QByteArray("|SSPD 1|\t|empty|\t|IV|\t\r\n"
                            "1.000000\t2.000000\t---\t---\t0.500000\t0.000001\t\r\n"
                            "3.000000\t4.000000\t---\t---\t0.250000\t123.456789\t\r\n"
                            "---\t---\t---\t---\t-1.000000\t7.000000\t\r\n"));
        // Without points nothing is written.
        worker->saveMultipleSeries({QVariant::fromValue(&second)}, path("nothing.txt"));
        worker->saveMultipleSeries({QVariant(3), QVariant("SSPD 1")}, path("nothing.txt"));
        QVERIFY(!QFile::exists(path("nothing.txt")));
    }

    void exportThatCannotBeWrittenIsReported()
    {
        QLineSeries series;
        for (int i = 0; i < 10; ++i)
            series.append(i, i * i);
        const QString missing = path("missing/series.txt");
        const QString file = path("old-series.txt");
        QVERIFY(writeFile(file, "0.0\t1.0\r\n"));
        QCOMPARE(errorsAfter([&] {
                     worker->saveSeries(&series, missing);
                     FileSizeLimit full;
                     QVERIFY(full.active);
                     worker->saveSeries(&series, file);
                     worker->saveMultipleSeries({QVariant::fromValue(&series)}, file);
                 }),
                 QStringList({"ERROR! Couldn't write file; " + missing,
                              "ERROR! Couldn't write file; " + file,
                              "ERROR! Couldn't write file; " + file}));
        QCOMPARE(readAll(file), QByteArray("0.0\t1.0\r\n"));
    }
};

TAVIK_ENGINE_TEST_MAIN(TestPresetsExport)
#include "tst_presetsexport.moc"
