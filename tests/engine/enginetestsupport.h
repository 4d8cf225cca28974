#pragma once
// What the front object's test programs share: settings in a scratch directory, the simulated
// demo rack on the unit port of the test's own network namespace, device list readers.
#include "core/simenvironment.h"
#include "core/simmodulefactory.h"
#include "core/simrack.h"
#include "core/simunit.h"
#include "engine/workerasync.h"
#include "models/dataproviderlist.h"

#include <QApplication>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

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

// The demo rack: SSPD model 0 at 1 and 2, model 1 at 3, temperature models 0 and 1 at 4 and
// 5, a heater at 6; on 127.0.0.1:9876, served by the test's event loop.
class SimulatedRack
{
public:
    bool start(QString* error)
    {
        return SimRack::demo().install(&unit, error) && unit.start(error);
    }

    SimEnvironment environment{11};
    SimUnit unit{&environment};
};

// Connects the worker to the rack and waits for the inventory to reach the device list.
inline bool connectWorker(WorkerAsync* worker)
{
    QSignalSpy connected(worker, &WorkerAsync::connected);
    worker->connectToControlUnit(QStringLiteral("127.0.0.1"));
    return connected.wait(5000);
}

inline int indexOfAddress(const DataProviderList* list, int address)
{
    const QList<DataProviderItem> items = list->items();
    for (int i = 0; i < items.size(); ++i) {
        if (items.at(i).value(QStringLiteral("address")).toInt() == address)
            return i;
    }
    return -1;
}

inline DataProviderItem recordOf(const DataProviderList* list, int address)
{
    const int index = indexOfAddress(list, address);
    return index < 0 ? DataProviderItem() : list->items().at(index);
}

inline void setRecordValue(DataProviderList* list, int address, const QString& key,
                           const QVariant& value)
{
    const int index = indexOfAddress(list, address);
    DataProviderItem record = list->items().value(index);
    record.insert(key, value);
    list->setItemAt(index, record);
}
