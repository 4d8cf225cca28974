#pragma once
// What the engine's test programs share: settings in a scratch directory, the simulated demo
// rack on the unit port of the test's own namespace, a WorkerProcess on a thread of its own
// with a recorder of its signals, and a scripted unit with one SSPD module that records every
// packet it receives.
#include "bytes.h"
#include "core/simenvironment.h"
#include "core/simrack.h"
#include "core/simunit.h"
#include "engine/workerasync.h"
#include "engine/workerprocess.h"
#include "link/eventwait.h"
#include "link/unitports.h"
#include "loopbackpeer.h"
#include "models/dataproviderlist.h"

#include <QApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <cstring>
#include <functional>
#include <memory>

// Keeps QSettings away from the user's own files: XDG_CONFIG_HOME must point at the scratch
// directory before anything reads settings, so this runs before the application exists.
#define TAVIK_ENGINE_TEST_MAIN(TestClass)                                                          \
    int main(int argc, char** argv)                                                                \
    {                                                                                              \
        QTemporaryDir config;                                                                      \
        qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());                                   \
        QApplication app(argc, argv);                                                              \
        TestClass test;                                                                            \
        return QTest::qExec(&test, argc, argv);                                                    \
    }

using Cmd = WorkerAsync::WorkerCommands;
using Mode = WorkerAsync::WorkerMode;
using Record = QHash<QString, QVariant>;
using Message = QPair<QString, QString>;

// Lets this thread's events run (the unit under test lives here) until done() holds.
inline bool waitUntil(const std::function<bool()>& done, int timeoutMs = 5000)
{
    return cuWaitForEvents(done, timeoutMs);
}

inline void runEvents(int ms)
{
    cuWaitForEvents([] { return false; }, ms);
}

// The demo rack: SSPD model 0 at 1 and 2, model 1 at 3, temperature models 0 and 1 at 4 and
// 5, a heater at 6; on 127.0.0.1:9876 once started, served by the test's event loop.
class SimulatedRack
{
public:
    explicit SimulatedRack(quint32 seed = 11) : environment(seed) {}
    bool start(QString* error = nullptr)
    {
        QString text;
        const bool started = SimRack::demo().install(&unit, &text) && unit.start(&text);
        if (error)
            *error = text;
        else if (!started)
            qWarning() << "simulated unit:" << text;
        return started;
    }

    SimEnvironment environment;
    SimUnit unit{&environment};
};

// Connects the front object to the rack and waits for the inventory to reach the device list.
inline bool connectWorker(WorkerAsync* worker)
{
    QSignalSpy connected(worker, &WorkerAsync::connected);
    worker->connectToControlUnit(QStringLiteral("127.0.0.1"));
    return connected.wait(5000);
}

inline int indexOfAddress(const DataProviderList* list, int address)
{
    const QList<DataProviderItem> items = list->items();
    for (int i = 0; i < items.size(); ++i)
        if (items.at(i).value(QStringLiteral("address")).toInt() == address)
            return i;
    return -1;
}

inline DataProviderItem recordOf(const DataProviderList* list, int address)
{
    const int index = indexOfAddress(list, address);
    return index < 0 ? DataProviderItem() : list->items().at(index);
}

// Everything the worker reports, in arrival order on the test's thread.
class WorkerRecorder : public QObject
{
public:
    struct Reading
    {
        int address;
        Record record;
    };

    explicit WorkerRecorder(WorkerProcess* p)
    {
        auto on = [this, p](auto signal, auto slot) { connect(p, signal, this, slot); };
        on(&WorkerProcess::finished, [this] { events << "finished"; });
        on(&WorkerProcess::connected, [this] { ++connects, events << "connected"; });
        on(&WorkerProcess::deviceListUpdated,
           [this](QJsonObject l) { lists << l, events << "list"; });
        on(&WorkerProcess::dataReady, [this](int address, Record record) {
            readings.append({address, record});
            events << QStringLiteral("data %1").arg(address);
        });
        on(&WorkerProcess::eepromDataReady, [this](int, QVariantMap d) { eepromReads << d; });
        on(&WorkerProcess::eepromUpdated, [this] { events << "eeprom updated"; });
        on(&WorkerProcess::updatePlot, [this] { events << "plot"; });
        on(&WorkerProcess::setStatusText,
           [this](QString t) { statusTexts << t, events << "status " + t; });
        on(&WorkerProcess::sweepProgress,
           [this](double percent) { progress << percent, events << "progress"; });
        on(&WorkerProcess::sweepFinished, [this] { events << "sweep finished"; });
        on(&WorkerProcess::sendErrorMessage,
           [this](QString t, QString e) { errors << Message(t, e), events << "error"; });
        on(&WorkerProcess::sendMessage,
           [this](QString t, QString m) { messages << Message(t, m); });
    }

    int count(const QString& event) const { return int(events.count(event)); }

    QStringList events;
    int connects = 0;
    QList<QJsonObject> lists;
    QList<Reading> readings;
    QList<QVariantMap> eepromReads;
    QStringList statusTexts;
    QList<double> progress;
    QList<Message> errors;
    QList<Message> messages;
};

// A WorkerProcess running its loop on a thread of its own, as the front object runs it. Units
// and modules that fall silent are given up after answerTimeoutMs per try.
class WorkerHarness
{
public:
    explicit WorkerHarness(int answerTimeoutMs = 150)
        : process(new WorkerProcess), recorder(process)
    {
        process->setAnswerTimeoutMs(answerTimeoutMs);
        thread.setObjectName(QStringLiteral("WorkerThread"));
        process->moveToThread(&thread);
        QObject::connect(process, &WorkerProcess::finished, &thread, &QThread::quit);
        QObject::connect(process, &WorkerProcess::finished, process, &QObject::deleteLater);
        thread.start();
        QMetaObject::invokeMethod(process, &WorkerProcess::runProcess, Qt::QueuedConnection);
    }
    ~WorkerHarness()
    {
        thread.requestInterruption();
        thread.quit();
        thread.wait();
    }

    void command(Cmd command, const QVariant& parameter = 0)
    {
        process->addCommand(command, parameter);
    }

    // Runs f on the worker thread between its own operations; use it only while the worker
    // does not need the unit (this thread serves the unit and is blocked meanwhile).
    template <typename F> auto onWorker(F f)
    {
        decltype(f()) result{};
        QMetaObject::invokeMethod(
            process, [&] { result = f(); }, Qt::BlockingQueuedConnection);
        return result;
    }
    int mode()
    {
        return onWorker([this] { return int(process->mode()); });
    }

    bool connectToUnit(const QString& address = QStringLiteral("127.000.000.001"))
    {
        const int before = recorder.connects;
        command(WorkerAsync::CommandConnect, address);
        return waitUntil([&] { return recorder.connects > before; });
    }

    // Waits until the commands queued so far have run: two passes of the loop began since.
    bool settle()
    {
        const quint64 passes = process->loopPasses();
        return QTest::qWaitFor([&] { return process->loopPasses() >= passes + 2; }, 5000);
    }

    QThread thread;
    WorkerProcess* process;
    WorkerRecorder recorder;
};

// A unit on the unit port that answers text commands as told and carries one scripted SSPD
// model 0 module at Address; every packet it received stays in peer.packets().
class ScriptedUnit
{
public:
    static constexpr quint8 Address = 3;
    // Module codes used here (model 0).
    enum Code : quint8 {
        EepromStore = 12,
        Data = 16,
        CurrentWrite = 18,
        StatusRead = 21,
        StatusWrite = 22,
        ShortEnable = 23,
        ParamsRead = 29,
        CmpRefLevelWrite = 32,
        TimeConstWrite = 34,
        EepromConstRead = 41,
        EepromConstWrite = 42,
    };

    ScriptedUnit()
    {
        listening = peer.listen(UnitPorts::Unit);
        peer.setTextResponder([this](const QByteArray& line) {
            if (answers.contains(line))
                return answers.value(line);
            return line.startsWith("SYST:") ? QByteArray("ok\r\n") : QByteArray();
        });
        peer.setPacketResponder([this](const PeerPacket& p) { return module(p); });
    }

    static QByteArray moduleListJson(const QJsonArray& info, int count)
    {
        const QJsonObject list{{"count", count}, {"info", info}, {"software_version", "1.4.0"}};
        return QJsonDocument(list).toJson(QJsonDocument::Compact) + "\r\n";
    }
    static QJsonObject entry(int address, const QString& type)
    {
        return {{"address", address}, {"type", type}, {"UDID", "0000-0000-0000-0000-0000-0003"}};
    }

    // The floats written with one code, in order.
    QList<float> written(quint8 code) const
    {
        QList<float> values;
        for (const PeerPacket& p : peer.packets())
            if (p.address == Address && p.command == code && p.data.size() == 4)
                values.append(floatOf(p));
        return values;
    }
    // Module codes received, in order, without the reads of the monitoring itself.
    QList<int> writeCodes() const
    {
        QList<int> codes;
        for (const PeerPacket& p : peer.packets())
            if (p.address == Address && p.command != Data && p.command != ParamsRead)
                codes.append(p.command);
        return codes;
    }

    LoopbackPeer peer;
    bool listening = false;
    // Answers to text lines by exact text; other lines get "ok" if they start with "SYST:".
    QHash<QByteArray, QByteArray> answers{
        {"SYST:DEVJ?", moduleListJson({entry(Address, "VX9SDM0")}, 1)}};
    bool silent = false;
    float current = 0;
    float counts = 100;
    float timeConst = 0.1f;
    float cmpRefLevel = 0;
    quint8 status = 0x03;
    std::function<float(float)> voltageAt = [](float) { return 0.0f; };

private:
    static float floatOf(const PeerPacket& p)
    {
        float value = 0;
        if (p.data.size() == 4)
            std::memcpy(&value, p.data.constData(), 4);
        return value;
    }

    QByteArray module(const PeerPacket& p)
    {
        if (silent)
            return {};
        // Every address answers its identity (codes 5 to 10), so legacy inventories read fast.
        if (p.command >= 5 && p.command <= 10) {
            const QByteArray text =
                p.command == 6 ? QByteArray("VX9SDM0") : "text " + QByteArray::number(p.command);
            return LoopbackPeer::packet(p.address, p.command,
                                        p.command == 5
                                            ? QByteArray::fromHex("00112233445566778899aabb")
                                            : Bytes().text(text, 24).toByteArray());
        }
        if (p.address != Address)
            return {};
        const QByteArray ack = LoopbackPeer::packet(Address, p.command);
        switch (p.command) {
        case Data:
            return LoopbackPeer::packet(
                Address, Data,
                Bytes().f32(current).f32(voltageAt(current)).f32(counts).u8(status).pad(3));
        case ParamsRead:
            return LoopbackPeer::packet(
                Address, ParamsRead,
                Bytes().f32(cmpRefLevel).f32(timeConst).f32(0.2f).f32(0.5f).u32(0));
        case StatusRead:
            return LoopbackPeer::packet(Address, StatusRead, Bytes().u8(status));
        case CurrentWrite:
            current = floatOf(p);
            return ack;
        case CmpRefLevelWrite:
            cmpRefLevel = floatOf(p);
            return ack;
        case TimeConstWrite:
            timeConst = floatOf(p);
            return ack;
        case StatusWrite:
            status = p.data.isEmpty() ? status : quint8(p.data.at(0));
            return ack;
        case ShortEnable:
            if (!p.data.isEmpty())
                status = p.data.at(0) ? (status | 0x02) : (status & ~0x02);
            return ack;
        case EepromConstRead:
            return LoopbackPeer::packet(
                Address, EepromConstRead,
                Bytes().f32(1.5f).f32(0.25f).f32(2).f32(0).f32(3).f32(0).f32(4).f32(0));
        default:
            // Switches, EEPROM writes and the store command are acknowledged.
            return (p.command > ShortEnable && p.command <= 28) || p.command == EepromConstWrite ||
                           p.command == EepromStore
                       ? ack
                       : QByteArray();
        }
    }
};
