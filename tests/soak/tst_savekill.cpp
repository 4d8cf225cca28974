// Files are replaced whole or not at all: a child process saves one of two versions over
// and over (series export, which presets share; calibration file; simulator state) and is
// killed with SIGKILL at a random moment; the file must then be exactly one version.
#include "core/simenvironment.h"
#include "core/simrack.h"
#include "core/simstatefile.h"
#include "core/simunit.h"
#include "engine/workerasync.h"
#include "models/eepromdatastorage.h"

#include <QApplication>
#include <QFile>
#include <QLineSeries>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>

#include <csignal>

namespace {

// Saves version 0 or 1 of the writer's file at path; false when the writer failed.
bool saveVersion(const QString& writer, int version, const QString& path)
{
    if (writer == "series") {
        // Large enough that a kill often lands in the middle of a write.
        QLineSeries series;
        QList<QPointF> points;
        for (int i = 0; i < 20000 + 10000 * version; ++i)
            points.append(QPointF(i, version + 1));
        series.replace(points);
        WorkerAsync::instance()->saveSeries(&series, path);
        return true;
    }
    if (writer == "calibration") {
        EepromDataStorage storage;
        storage.initialize({{"type", 2},
                            {"address", 4},
                            {"type_str", "VX9TDM0"},
                            {"UDID", version ? "5456-4B00-0003-0000-0000-0004" : "0000"}});
        return storage.saveToFile(path);
    }
    if (writer == "simstate") {
        SimEnvironment environment(1);
        SimUnit unit(&environment);
        QString error;
        if (!SimRack::demo().install(&unit, &error))
            return false;
        if (version)
            unit.removeModule(6);
        return SimStateFile(path, &unit).save();
    }
    return false;
}

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
}

} // namespace

class TestSaveKill : public QObject
{
    Q_OBJECT

private slots:
    void killedSaveLeavesAWholeFile_data()
    {
        QTest::addColumn<QString>("writer");
        QTest::newRow("series") << "series";
        QTest::newRow("calibration") << "calibration";
        QTest::newRow("simulator state") << "simstate";
    }

    void killedSaveLeavesAWholeFile()
    {
        QFETCH(QString, writer);
        QTemporaryDir dir;
        const QString path = dir.filePath("file");
        QList<QByteArray> versions;
        for (int version : {0, 1}) {
            const QString reference = dir.filePath(QStringLiteral("version%1").arg(version));
            QVERIFY(saveVersion(writer, version, reference));
            versions.append(contents(reference));
        }
        QVERIFY(versions.at(0) != versions.at(1));
        QVERIFY(saveVersion(writer, 0, path));

        for (int round = 0; round < 15; ++round) {
            QProcess child;
            child.start(QCoreApplication::applicationFilePath(), {"--save-loop", writer, path});
            QVERIFY(child.waitForReadyRead(10000)); // its first save is done
            QTest::qWait(QRandomGenerator::global()->bounded(40));
            ::kill(pid_t(child.processId()), SIGKILL);
            QVERIFY(child.waitForFinished(10000));
            QCOMPARE(child.exitStatus(), QProcess::CrashExit);
            const QByteArray now = contents(path);
            QVERIFY2(versions.contains(now),
                     qPrintable(QStringLiteral("round %1: %2 bytes, no whole version")
                                    .arg(round)
                                    .arg(now.size())));
        }
    }
};

int main(int argc, char** argv)
{
    // The child: saves the two versions in turn until it is killed.
    if (argc == 4 && qstrcmp(argv[1], "--save-loop") == 0) {
        QApplication app(argc, argv);
        const QString writer = QString::fromLocal8Bit(argv[2]);
        const QString path = QString::fromLocal8Bit(argv[3]);
        for (int version = 1, saves = 0;; version ^= 1, ++saves) {
            if (!saveVersion(writer, version, path))
                return 1;
            if (saves == 0)
                QTextStream(stdout) << "saving" << Qt::endl;
        }
    }
    QApplication app(argc, argv);
    TestSaveKill test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_savekill.moc"
