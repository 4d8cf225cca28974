// Presets and curve export: the preset file written from the ticked channels and applied back
// to the simulated rack's modules, the text tables of one or several chart series, and what
// happens when a file cannot be read or written.
#include "engine/settings.h"
#include "enginetestsupport.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
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
        m_active = setrlimit(RLIMIT_FSIZE, &small) == 0;
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &m_old); }
    bool active() const { return m_active; }

private:
    rlimit m_old{};
    bool m_active = false;
};

} // namespace

class TestPresetsExport : public QObject
{
    Q_OBJECT

    SimulatedRack rack;
    WorkerAsync* worker = nullptr;
    DataProviderList* list = nullptr;
    QTemporaryDir dir;

    QString path(const QString& name) const { return dir.filePath(name); }

    void fillList(const QList<DataProviderItem>& records)
    {
        list->removeAll();
        for (const DataProviderItem& record : records)
            list->appendItem(record);
    }

    // Reads the SSPD channels fast, so restored values show in the device list.
    void watchSspdChannels()
    {
        QList<QAbstractSeries*> series;
        for (const char* name : {"SSPD 1", "SSPD 2", "SSPD 3"}) {
            auto* s = new QLineSeries(this);
            s->setName(name);
            series.append(s);
        }
        worker->settings()->setSeries(series);
        worker->settings()->setTimeConstant(0.05);
        worker->activateMode(WorkerAsync::WorkerModeCpsVersTime);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        QString error;
        QVERIFY2(rack.start(&error), qPrintable(error));
        worker = WorkerAsync::instance();
        list = worker->dataList();
    }

    void cleanupTestCase() { delete WorkerAsync::instance(); }

    void presetsHoldEveryKeyOfTheTickedChannels()
    {
        fillList(
            {DataProviderItem{{"address", 1}, {"type", 0}, {"restore", false}, {"current", 1e-5}},
             DataProviderItem{{"address", 3},
                              {"type", 1},
                              {"restore", true},
                              {"selected", false},
                              {"current", 1.25e-5},
                              {"cmp_ref_level", 0.05},
                              {"Firmware", "2.0.1"},
                              {"Description", "SSPD channel HF"},
                              {"numeric_text", "12.5"},
                              {"nothing", QVariant()},
                              {"list", QVariantList{1, 2}}},
             DataProviderItem{{"address", 4}, {"type", 2}, {"restore", true}}});
        const QString file = path("presets.json");

        worker->savePresets(file);

        const QByteArray bytes = readAll(file);
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
        QCOMPARE(error.error, QJsonParseError::NoError);
        // The default, indented form.
        QCOMPARE(bytes, document.toJson(QJsonDocument::Indented));
        QCOMPARE(document.object().keys(), QStringList{"data"});
        const QJsonArray data = document.object().value("data").toArray();
        QCOMPARE(data.size(), 2);

        const QJsonObject channel = data.at(0).toObject();
        QStringList keys = channel.keys();
        keys.sort();
        QCOMPARE(keys, (QStringList{"Description", "Firmware", "address", "cmp_ref_level",
                                    "current", "numeric_text", "restore", "selected", "type"}));
        QVERIFY(channel.value("type").isDouble());
        QCOMPARE(channel.value("type").toInt(), 1);
        QCOMPARE(channel.value("address").toInt(), 3);
        QCOMPARE(channel.value("current").toDouble(), 1.25e-5);
        QCOMPARE(channel.value("cmp_ref_level").toDouble(), 0.05);
        // Flags become numbers, texts their numeric value (0 when they are none).
        QCOMPARE(channel.value("restore"), QJsonValue(1.0));
        QCOMPARE(channel.value("selected"), QJsonValue(0.0));
        QCOMPARE(channel.value("numeric_text"), QJsonValue(12.5));
        QCOMPARE(channel.value("Description"), QJsonValue(0.0));
        QCOMPARE(data.at(1).toObject().value("address").toInt(), 4);
    }

    void presetsWithoutTickedChannelsLeaveTheFileAlone()
    {
        fillList({DataProviderItem{{"address", 1}, {"type", 0}, {"restore", false}},
                  DataProviderItem{{"address", 2}, {"type", 0}}});
        const QString file = path("untouched.json");
        QVERIFY(writeFile(file, "old presets"));
        QSignalSpy errors(worker, &WorkerAsync::sendErrorMessage);

        worker->savePresets(file);

        QCOMPARE(errors.count(), 1);
        QCOMPARE(errors.at(0).at(0).toString(), QStringLiteral("ERROR!"));
        QCOMPARE(errors.at(0).at(1).toString(),
                 QStringLiteral("No channels selected for preset save"));
        QCOMPARE(readAll(file), QByteArray("old presets"));
        QVERIFY(!QFile::exists(path("never.json")));
        worker->savePresets(path("never.json"));
        QVERIFY(!QFile::exists(path("never.json")));
    }

    void presetsThatCannotBeWrittenAreReported()
    {
        fillList({DataProviderItem{{"address", 1}, {"type", 0}, {"restore", true}}});
        QSignalSpy errors(worker, &WorkerAsync::sendErrorMessage);

        const QString missingDirectory = path("no/such/dir/presets.json");
        worker->savePresets(missingDirectory);
        QCOMPARE(errors.count(), 1);
        QCOMPARE(errors.at(0).at(0).toString(), QStringLiteral("ERROR!"));
        QCOMPARE(errors.at(0).at(1).toString(),
                 QStringLiteral("Couldn't write file; %1").arg(missingDirectory));

        // A write that fails half way keeps the previous presets.
        const QString file = path("kept.json");
        QVERIFY(writeFile(file, "previous presets, longer than the limit"));
        {
            FileSizeLimit full;
            QVERIFY(full.active());
            worker->savePresets(file);
        }
        QCOMPARE(errors.count(), 2);
        QCOMPARE(errors.at(1).at(1).toString(),
                 QStringLiteral("Couldn't write file; %1").arg(file));
        QCOMPARE(readAll(file), QByteArray("previous presets, longer than the limit"));
        // Nor is a half-written copy left beside it.
        QCOMPARE(QDir(dir.path()).entryList({"kept.json*"}, QDir::Files | QDir::Hidden),
                 QStringList{"kept.json"});
    }

    void restoringAppliesTheSspdChannels()
    {
        QVERIFY(connectWorker(worker));
        watchSspdChannels();
        // Values the restore must replace or keep.
        worker->setParameter(1, "current", 5e-6);
        worker->setParameter(2, "current", 4e-6);

        const QJsonArray data{
            QJsonObject{{"type", 1}, {"address", 3}, {"current", 1.2e-5}, {"cmp_ref_level", 0.05}},
            42, "text",
            // A temperature channel, even one whose address names an SSPD module, is skipped.
            QJsonObject{{"type", 2}, {"address", 2}, {"current", 9e-6}, {"cmp_ref_level", 0.3}},
            QJsonObject{{"type", 3}, {"address", 2}, {"current", 9e-6}},
            // No current: the channel is set to 0.
            QJsonObject{{"type", 0}, {"address", 1}, {"cmp_ref_level", 0.1}}};
        const QString file = path("restore.json");
        QVERIFY(writeFile(file, QJsonDocument(QJsonObject{{"data", data}}).toJson()));
        QSignalSpy errors(worker, &WorkerAsync::sendErrorMessage);

        worker->restorePresets(file);

        QTRY_VERIFY_WITH_TIMEOUT(
            qAbs(recordOf(list, 1).value("cmp_ref_level").toDouble() - 0.1) < 1e-4, 5000);
        QTRY_VERIFY_WITH_TIMEOUT(qAbs(recordOf(list, 1).value("current").toDouble()) < 1e-8, 5000);
        QTRY_VERIFY_WITH_TIMEOUT(
            qAbs(recordOf(list, 3).value("current").toDouble() - 1.2e-5) < 1e-8, 5000);
        QVERIFY(qAbs(recordOf(list, 3).value("cmp_ref_level").toDouble() - 0.05) < 1e-4);

        // Everything the file asked for has been applied; a fresh reading of module 2 shows it
        // kept its own values.
        QSignalSpy updated(list, &DataProviderList::dataUpdated);
        const int index2 = indexOfAddress(list, 2);
        QTRY_VERIFY_WITH_TIMEOUT(
            std::any_of(updated.cbegin(), updated.cend(),
                        [&](const QList<QVariant>& args) { return args.at(0).toInt() == index2; }),
            5000);
        QVERIFY(qAbs(recordOf(list, 2).value("current").toDouble() - 4e-6) < 1e-8);
        QVERIFY(qAbs(recordOf(list, 2).value("cmp_ref_level").toDouble() - 0.3) > 1e-3);
        QCOMPARE(errors.count(), 0);
        worker->activateMode(WorkerAsync::WorkerModeNoAction);
    }

    void harmfulValuesNeverReachAModule()
    {
        QVERIFY(connectWorker(worker));
        watchSspdChannels();
        worker->setParameter(1, "current", 5e-6);
        worker->setParameter(3, "current", 6e-6);
        worker->setParameter(3, "cmp_ref_level", 0.05);

        const QJsonArray data{
            QJsonObject{{"type", 0}, {"address", 1}, {"current", 1.0}, {"cmp_ref_level", 0.2}},
            QJsonObject{{"type", 1}, {"address", 3}, {"current", "abc"}, {"cmp_ref_level", 50}},
            QJsonObject{{"type", 0}, {"address", 2}, {"current", QJsonValue::Null}}};
        const QString file = path("harmful.json");
        QVERIFY(writeFile(file, QJsonDocument(QJsonObject{{"data", data}}).toJson()));
        QSignalSpy errors(worker, &WorkerAsync::sendErrorMessage);

        worker->restorePresets(file);
        // A single write no panel could make is refused by the worker itself.
        worker->setParameter(2, "cmp_ref_level", qQNaN());

        QTRY_COMPARE_WITH_TIMEOUT(errors.count(), 5, 5000);
        QStringList texts;
        for (const QList<QVariant>& error : errors)
            texts << error.at(1).toString();
        QCOMPARE(texts,
                 QStringList({"Preset for unit 1: current 1 A is outside -0.001 to 0.001 A; "
                              "not restored",
                              "Preset for unit 3: current \"abc\" is not a number; not restored",
                              "Preset for unit 3: cmp_ref_level 50 V is outside -3 to 3 V; "
                              "not restored",
                              "Preset for unit 2: current null is not a number; not restored",
                              "Unit 2: cmp_ref_level nan is not a number; not written"}));
        // The worker reported the last write: readings from here on show every write. The
        // values that make sense are applied; the rest stays as it was.
        QSignalSpy updated(list, &DataProviderList::dataUpdated);
        const auto updatedAt = [&](int index) {
            return std::any_of(updated.cbegin(), updated.cend(),
                               [&](const QList<QVariant>& a) { return a.at(0).toInt() == index; });
        };
        QTRY_VERIFY_WITH_TIMEOUT(
            updatedAt(indexOfAddress(list, 1)) && updatedAt(indexOfAddress(list, 3)), 5000);
        QVERIFY(qAbs(recordOf(list, 1).value("cmp_ref_level").toDouble() - 0.2) < 1e-4);
        QVERIFY(qAbs(recordOf(list, 1).value("current").toDouble() - 5e-6) < 1e-8);
        QVERIFY(qAbs(recordOf(list, 3).value("current").toDouble() - 6e-6) < 1e-8);
        QVERIFY(qAbs(recordOf(list, 3).value("cmp_ref_level").toDouble() - 0.05) < 1e-4);
        worker->activateMode(WorkerAsync::WorkerModeNoAction);
    }

    void restoringReportsUnusableFiles_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("create");
        QTest::addColumn<QString>("message");

        QTest::newRow("missing file") << QByteArray() << false << "Couldn't open file; %1";
        QTest::newRow("no data member")
            << QByteArray(R"({"presets": []})") << true << "Wrong data. Missed \"data\" member.";
        QTest::newRow("not JSON") << QByteArray("data: none") << true
                                  << "Wrong data. Missed \"data\" member.";
        QTest::newRow("JSON array")
            << QByteArray(R"([{"data": []}])") << true << "Wrong data. Missed \"data\" member.";
    }

    void restoringReportsUnusableFiles()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, create);
        QFETCH(QString, message);

        const QString file = path(QStringLiteral("restore-%1.json").arg(QTest::currentDataTag()));
        if (create)
            QVERIFY(writeFile(file, content));
        QSignalSpy errors(worker, &WorkerAsync::sendErrorMessage);

        worker->restorePresets(file);

        QCOMPARE(errors.count(), 1);
        QCOMPARE(errors.at(0).at(0).toString(), QStringLiteral("ERROR!"));
        QCOMPARE(errors.at(0).at(1).toString(),
                 message.contains("%1") ? message.arg(file) : message);
    }

    void seriesExportIsATabSeparatedTable()
    {
        QLineSeries series;
        series.append(1e-6, 123.4567891);
        series.append(-2.5, 0.0);
        series.append(1.7e12, -0.0000004);
        const QString file = path("series.txt");

        worker->saveSeries(&series, file);

        QCOMPARE(readAll(file), QByteArray("0.000001\t123.456789\r\n"
                                           "-2.500000\t0.000000\r\n"
                                           "1700000000000.000000\t-0.000000\r\n"));

        QScatterSeries empty;
        worker->saveSeries(&empty, path("empty.txt"));
        QVERIFY(QFile::exists(path("empty.txt")));
        QCOMPARE(readAll(path("empty.txt")), QByteArray());

        worker->saveSeries(nullptr, path("none.txt"));
        QVERIFY(!QFile::exists(path("none.txt")));
    }

    void seriesExportThatCannotBeWrittenIsReported()
    {
        QLineSeries series;
        for (int i = 0; i < 10; ++i)
            series.append(i, i * i);
        QSignalSpy errors(worker, &WorkerAsync::sendErrorMessage);

        const QString missing = path("missing/series.txt");
        worker->saveSeries(&series, missing);
        QCOMPARE(errors.count(), 1);
        QCOMPARE(errors.at(0).at(0).toString(), QStringLiteral("ERROR!"));
        QCOMPARE(errors.at(0).at(1).toString(),
                 QStringLiteral("Couldn't write file; %1").arg(missing));

        const QString file = path("old-series.txt");
        QVERIFY(writeFile(file, "0.0\t1.0\r\n"));
        {
            FileSizeLimit full;
            QVERIFY(full.active());
            worker->saveSeries(&series, file);
            worker->saveMultipleSeries({QVariant::fromValue(&series)}, file);
        }
        QCOMPARE(errors.count(), 3);
        QCOMPARE(errors.at(2).at(1).toString(),
                 QStringLiteral("Couldn't write file; %1").arg(file));
        QCOMPARE(readAll(file), QByteArray("0.0\t1.0\r\n"));
    }

    void multipleSeriesGoSideBySide()
    {
        QLineSeries first, second, third;
        first.setName("SSPD 1");
        second.setName("empty");
        third.setName("IV");
        first.append(1.0, 2.0);
        first.append(3.0, 4.0);
        third.append(0.5, 1e-6);
        third.append(0.25, 123.4567891);
        third.append(-1.0, 7.0);
        QObject notASeries;
        const QString file = path("multiple.txt");

        worker->saveMultipleSeries({QVariant::fromValue(&first), QVariant(5),
                                    QVariant::fromValue(&second), QVariant::fromValue(&notASeries),
                                    QVariant::fromValue(static_cast<QObject*>(&third))},
                                   file);

        QCOMPARE(readAll(file),
                 QByteArray("|SSPD 1|\t|empty|\t|IV|\t\r\n"
                            "1.000000\t2.000000\t---\t---\t0.500000\t0.000001\t\r\n"
                            "3.000000\t4.000000\t---\t---\t0.250000\t123.456789\t\r\n"
                            "---\t---\t---\t---\t-1.000000\t7.000000\t\r\n"));
    }

    void multipleSeriesWithoutPointsWriteNothing()
    {
        QLineSeries empty;
        worker->saveMultipleSeries({QVariant::fromValue(&empty)}, path("nothing.txt"));
        worker->saveMultipleSeries({}, path("nothing.txt"));
        worker->saveMultipleSeries({QVariant(3), QVariant("SSPD 1")}, path("nothing.txt"));
        QVERIFY(!QFile::exists(path("nothing.txt")));
    }
};

TAVIK_ENGINE_TEST_MAIN(TestPresetsExport)
#include "tst_presetsexport.moc"
