#pragma once
// For the worker tests: a WorkerProcess on its own thread with a recorder of its signals,
// the simulated demo unit, and a scripted unit with one SSPD module that records every write.
#include "bytes.h"
#include "core/simenvironment.h"
#include "core/simmodulefactory.h"
#include "core/simrack.h"
#include "core/simunit.h"
#include "engine/workerasync.h"
#include "engine/workerprocess.h"
#include "link/eventwait.h"
#include "link/unitports.h"
#include "loopbackpeer.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>
#include <QTimer>
#include <cstring>
#include <functional>
#include <memory>

using Cmd = WorkerAsync::WorkerCommands;
using Mode = WorkerAsync::WorkerMode;
using Record = QHash<QString, QVariant>;

// Lets this thread's events run (the unit under test lives here) until done() holds.
inline bool waitUntil(const std::function<bool()>& done, int timeoutMs = 5000)
{
    return cuWaitForEvents(done, timeoutMs);
}

// Lets this thread's events run for ms milliseconds.
inline void runEvents(int ms)
{
    cuWaitForEvents([] { return false; }, ms);
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

    explicit WorkerRecorder(WorkerProcess* process)
    {
        connect(process, &WorkerProcess::finished, this, [this] { log("finished"); });
        connect(process, &WorkerProcess::connected, this, [this] {
            ++connects;
            log("connected");
        });
        connect(process, &WorkerProcess::deviceListUpdated, this, [this](QJsonObject list) {
            lists.append(list);
            log("list");
        });
        connect(process, &WorkerProcess::dataReady, this, [this](int address, Record record) {
            readings.append({address, record});
            log(QStringLiteral("data %1").arg(address));
        });
        connect(process, &WorkerProcess::eepromDataReady, this, [this](int address, QVariantMap d) {
            eepromReads.append({address, d});
            log("eeprom read");
        });
        connect(process, &WorkerProcess::eepromUpdated, this, [this] { log("eeprom updated"); });
        connect(process, &WorkerProcess::updatePlot, this, [this] { log("plot"); });
        connect(process, &WorkerProcess::setStatusText, this, [this](QString text) {
            statusTexts.append(text);
            log("status " + text);
        });
        connect(process, &WorkerProcess::sweepProgress, this, [this](double percent) {
            progress.append(percent);
            log("progress");
        });
        connect(process, &WorkerProcess::sweepFinished, this, [this] { log("sweep finished"); });
        connect(process, &WorkerProcess::sendErrorMessage, this, [this](QString t, QString e) {
            errors.append({t, e});
            log("error");
        });
        connect(process, &WorkerProcess::sendMessage, this, [this](QString t, QString m) {
            messages.append({t, m});
            log("message");
        });
    }

    int count(const QString& event) const { return int(events.count(event)); }
    QList<Reading> readingsOf(int address) const
    {
        QList<Reading> list;
        for (const Reading& r : readings)
            if (r.address == address)
                list.append(r);
        return list;
    }
    void clear()
    {
        events.clear();
        lists.clear();
        readings.clear();
        eepromReads.clear();
        statusTexts.clear();
        progress.clear();
        errors.clear();
        messages.clear();
    }

    QStringList events;
    int connects = 0;
    QList<QJsonObject> lists;
    QList<Reading> readings;
    QList<QPair<int, QVariantMap>> eepromReads;
    QStringList statusTexts;
    QList<double> progress;
    QList<QPair<QString, QString>> errors;
    QList<QPair<QString, QString>> messages;

private:
    void log(const QString& event) { events.append(event); }
};

// A WorkerProcess running its loop on a thread of its own, as the front object runs it.
class WorkerHarness
{
public:
    WorkerHarness() : process(new WorkerProcess), recorder(process)
    {
        thread.setObjectName(QStringLiteral("WorkerThread"));
        process->moveToThread(&thread);
        QObject::connect(process, &WorkerProcess::finished, &thread, &QThread::quit);
        QObject::connect(process, &WorkerProcess::finished, process, &QObject::deleteLater);
        thread.start();
        QMetaObject::invokeMethod(process, &WorkerProcess::runProcess, Qt::QueuedConnection);
    }
    ~WorkerHarness() { stop(); }

    void stop()
    {
        if (!thread.isRunning())
            return;
        thread.requestInterruption();
        thread.quit();
        thread.wait();
    }

    void command(Cmd command, const QVariant& parameter = 0)
    {
        process->addCommand(command, parameter);
    }

    // Runs f on the worker thread between its own operations and returns its result; the
    // test's thread keeps no events waiting meanwhile, so use it only while the worker
    // does not need the unit.
    template <typename F> auto onWorker(F f)
    {
        decltype(f()) result{};
        QMetaObject::invokeMethod(
            process, [&] { result = f(); }, Qt::BlockingQueuedConnection);
        return result;
    }

    // Connects to the unit at the stored default address and waits for the inventory.
    bool connectToUnit(const QString& address = QStringLiteral("127.000.000.001"))
    {
        const int before = recorder.connects;
        command(WorkerAsync::CommandConnect, address);
        return waitUntil([&] { return recorder.connects > before; });
    }

    QThread thread;
    WorkerProcess* process;
    WorkerRecorder recorder;
};

// The simulated demo rack on the unit port: SSPD model 0 at 1 and 2, model 1 at 3,
// temperature model 0 at 4 and model 1 at 5, a heater at 6.
class SimulatedUnit
{
public:
    SimulatedUnit() : environment(7), unit(&environment)
    {
        QString error;
        installed = SimRack::demo().install(&unit, &error) && unit.start(&error);
        if (!installed)
            qWarning() << "simulated unit:" << error;
    }

    SimEnvironment environment;
    SimUnit unit;
    bool installed = false;
};

// A unit on the unit port that answers the text commands as told and carries one scripted
// SSPD model 0 module; every packet it received stays in peer.packets().
class ScriptedUnit
{
public:
    static constexpr quint8 Address = 3;

    // Module codes used here (model 0).
    enum Code : quint8 {
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
        EepromStore = 12,
    };

    ScriptedUnit()
    {
        listening = peer.listen(UnitPorts::Unit);
        peer.setTextResponder([this](const QByteArray& line) { return text(line); });
        peer.setPacketResponder([this](const PeerPacket& p) { return module(p); });
    }

    static QByteArray moduleListJson(const QJsonArray& info, int count)
    {
        const QJsonObject list{{"count", count}, {"info", info}, {"software_version", "1.4.0"}};
        return QJsonDocument(list).toJson(QJsonDocument::Compact) + "\r\n";
    }
    static QJsonObject entry(int address, const QString& type)
    {
        return {{"address", address},
                {"type", type},
                {"Description", "scripted"},
                {"Firmware", "1.0"},
                {"Hardware", "2"},
                {"Modification", "1"},
                {"UDID", "0000-0000-0000-0000-0000-0003"}};
    }

    // The floats written with one code, in order.
    QList<float> written(quint8 code) const
    {
        QList<float> values;
        for (const PeerPacket& p : peer.packets()) {
            if (p.address == Address && p.command == code && p.data.size() == 4) {
                float value;
                std::memcpy(&value, p.data.constData(), 4);
                values.append(value);
            }
        }
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
    // Answers to text lines by exact text; lines not listed get "ok" if they start with
    // "SYST:" and nothing otherwise.
    QHash<QByteArray, QByteArray> answers{
        {"SYST:DEVJ?", moduleListJson({entry(Address, "VX9SDM0")}, 1)}};
    bool silent = false;
    QByteArray typeString = "VX9SDM0";
    // Module state.
    float current = 0;
    float counts = 100;
    float timeConst = 0.1f;
    float cmpRefLevel = 0;
    quint8 status = 0x03;
    std::function<float(float)> voltageAt = [](float) { return 0.0f; };

private:
    QByteArray text(const QByteArray& line)
    {
        if (answers.contains(line))
            return answers.value(line);
        return line.startsWith("SYST:") ? QByteArray("ok\r\n") : QByteArray();
    }

    QByteArray module(const PeerPacket& p)
    {
        if (silent)
            return {};
        // Every address answers its identity, so that legacy inventories read quickly.
        if (p.command >= 5 && p.command <= 10) {
            const QByteArray value =
                p.command == 5 ? QByteArray::fromHex("00112233445566778899aabb")
                : p.command == 6
                    ? Bytes().text(typeString, 24).toByteArray()
                    : Bytes().text("text " + QByteArray::number(p.command), 24).toByteArray();
            return LoopbackPeer::packet(p.address, p.command, value);
        }
        if (p.address != Address)
            return {};
        auto floatOf = [&p] {
            float value = 0;
            if (p.data.size() == 4)
                std::memcpy(&value, p.data.constData(), 4);
            return value;
        };
        auto ack = [&p] { return LoopbackPeer::packet(Address, p.command); };
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
            current = floatOf();
            return ack();
        case CmpRefLevelWrite:
            cmpRefLevel = floatOf();
            return ack();
        case TimeConstWrite:
            timeConst = floatOf();
            return ack();
        case StatusWrite:
            status = p.data.isEmpty() ? status : quint8(p.data.at(0));
            return ack();
        case EepromConstRead:
            return LoopbackPeer::packet(
                Address, EepromConstRead,
                Bytes().f32(1.5f).f32(0.25f).f32(2).f32(0).f32(3).f32(0).f32(4).f32(0));
        default:
            // Switches, EEPROM writes and the store command are acknowledged.
            if ((p.command >= ShortEnable && p.command <= 28) || p.command == EepromConstWrite ||
                p.command == EepromStore) {
                if (p.command == ShortEnable && !p.data.isEmpty())
                    status = p.data.at(0) ? (status | 0x02) : (status & ~0x02);
                return ack();
            }
            return {};
        }
    }
};
