#include "presetcommands.h"

#include "clioutput.h"
#include "engine/workerprocess.h"
#include "enginesession.h"
#include "exitcode.h"
#include "models/dataproviderlist.h"
#include "outputfile.h"

#include <QFile>
#include <QSet>
#include <QTemporaryDir>

namespace {

const QString AddressKey = QStringLiteral("address");
const QString RestoreKey = QStringLiteral("restore");
const QString StatusKey = QStringLiteral("status");
constexpr int ReadingAnswered = 1; // DataProviderList::DeviceStatusActive

// Ticks exactly the chosen channels for saving, as the presets dialog does.
void tickChannels(DataProviderList* list, const QList<int>& channels)
{
    const QList<DataProviderItem> items = list->items();
    for (int i = 0; i < items.size(); ++i) {
        DataProviderItem record = items.at(i);
        record.insert(RestoreKey, channels.contains(record.value(AddressKey).toInt()));
        list->setItemAt(i, record);
    }
}

} // namespace

int savePreset(EngineSession& session, const PresetRequest& request)
{
    OutputFile file(request.file);
    if (QString error; !file.open(&error))
        return usageError(error);
    if (!session.connectToUnit())
        return Exit::Failure;
    const QList<int> sspdTypes = {DataProviderList::DeviceTypeSspdM0,
                                  DataProviderList::DeviceTypeSspdM1};
    const QList<int> channels =
        request.channels ? *request.channels : session.addressesOfTypes(sspdTypes);
    if (channels.isEmpty())
        return failure(QStringLiteral("the unit has no SSPD module to save"));
    for (int address : channels) {
        if (session.moduleType(address) < 0)
            return failure(QStringLiteral("the unit has no module at address %1").arg(address));
    }

    // A preset of values never read would set the modules to the list's initial zeros on
    // restore: every channel must have answered once.
    QSet<int> answered;
    QList<int> silent;
    QObject reader;
    QObject::connect(session.worker()->process(), &WorkerProcess::dataReady, &reader,
                     [&](int address, const QHash<QString, QVariant>& record) {
                         if (!channels.contains(address) || answered.contains(address))
                             return;
                         if (record.value(StatusKey).toInt() == ReadingAnswered)
                             answered.insert(address);
                         else if (!silent.contains(address))
                             silent.append(address);
                     });
    if (!session.activate(WorkerAsync::WorkerModeAllChannels))
        return failure(QStringLiteral("interrupted"));
    const bool read =
        session.waitUntil([&] { return answered.size() + silent.size() >= channels.size(); });
    session.worker()->activateMode(WorkerAsync::WorkerModeNoAction);
    if (!read)
        return failure(QStringLiteral("interrupted"));
    if (!silent.isEmpty())
        return failure(
            QStringLiteral("module %1 gave no reading; no preset written").arg(silent.first()));

    tickChannels(session.worker()->dataList(), channels);
    // The engine writes the preset into a scratch file; the named file then takes its bytes
    // whole, and a device named (/dev/stdout) is written, not replaced.
    const QTemporaryDir scratch;
    const QString scratchFile = scratch.filePath(QStringLiteral("preset.json"));
    const int errorsBefore = session.errorCount();
    session.worker()->savePresets(scratchFile);
    if (session.errorCount() != errorsBefore)
        return Exit::Failure;
    QFile saved(scratchFile);
    if (!saved.open(QIODevice::ReadOnly))
        return failure(QStringLiteral("cannot read %1: %2").arg(scratchFile, saved.errorString()));
    if (QString error; !file.write(saved.readAll(), &error))
        return failure(error);
    return Exit::Success;
}

int restorePreset(EngineSession& session, const PresetRequest& request)
{
    if (!session.connectToUnit())
        return Exit::Failure;
    const int errorsBefore = session.errorCount();
    const int from = session.outcomeCount();
    session.worker()->restorePresets(request.file);
    // The engine has said what it refused (a file it cannot use, or single values it will not
    // send); what it accepted is still written before the tool ends.
    const bool refused = session.errorCount() != errorsBefore;
    // The idle mode queued behind the writes ends after all of them have run.
    if (!session.activate(WorkerAsync::WorkerModeNoAction))
        return failure(QStringLiteral("interrupted"));

    int written = 0;
    for (const EngineSession::Outcome& outcome : session.outcomesSince(from)) {
        if (outcome.command != WorkerAsync::CommandFreeStyle)
            continue;
        const QVariantList write = outcome.parameter.toList();
        if (!outcome.ok)
            return failure(QStringLiteral("module %1 did not take %2 from the preset")
                               .arg(write.value(0).toInt())
                               .arg(write.value(1).toString()));
        ++written;
    }
    if (refused)
        return Exit::Failure;
    if (written == 0)
        return failure(QStringLiteral("%1 holds no SSPD channel to restore").arg(request.file));
    return Exit::Success;
}
