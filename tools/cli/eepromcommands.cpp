#include "eepromcommands.h"

#include "clioutput.h"
#include "enginesession.h"
#include "exitcode.h"
#include "models/dataproviderlist.h"
#include "models/eepromcalibrationfile.h"
#include "models/eepromdatastorage.h"
#include "outputfile.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace {

bool keepsConstants(int type)
{
    return type == DataProviderList::DeviceTypeSspdM0 ||
           type == DataProviderList::DeviceTypeSspdM1 || type == DataProviderList::DeviceTypeTempM0;
}

// Reads the module's constants into the engine's storage; false with the reason printed.
// Every item must have come in: a storage with holes would be written back as zeros.
bool readConstants(EngineSession& session, int module)
{
    const int type = session.moduleType(module);
    if (type < 0) {
        failure(QStringLiteral("the unit has no module at address %1").arg(module));
        return false;
    }
    if (!keepsConstants(type)) {
        failure(QStringLiteral("module %1 keeps no calibration constants").arg(module));
        return false;
    }
    if (!session.run(WorkerAsync::CommandUpdateEepromConst, module)) {
        failure(session.interrupted() ? QStringLiteral("interrupted")
                                      : QStringLiteral("module %1 was not asked").arg(module));
        return false;
    }
    const EepromDataStorage* storage = session.worker()->eepromStorage();
    bool complete = storage->address() == module && storage->count() > 0;
    for (const EepromDataItem* item : storage->items())
        complete = complete && item->value().isValid();
    if (!complete)
        failure(QStringLiteral("module %1 did not answer with its EEPROM constants").arg(module));
    return complete;
}

QString plainUdid(QString udid)
{
    return udid.remove(u'-').trimmed().toUpper();
}

// Which constants of the module the file set, after it was loaded over the module's own:
// empty when it set at least one and left none of its entries out; otherwise why not.
QString unusedFile(const QString& file, const QJsonObject& given, const QJsonObject& before,
                   const QJsonObject& after)
{
    QStringList set;
    QStringList malformed;
    for (auto it = given.begin(); it != given.end(); ++it) {
        if (it.key() == QLatin1String("DeviceType") || it.key() == QLatin1String("UDID") ||
            !before.contains(it.key()))
            continue;
        // An entry the module's value did not take was skipped as malformed.
        if (it.value() != before.value(it.key()) && after.value(it.key()) == before.value(it.key()))
            malformed << it.key();
        else
            set << it.key();
    }
    if (!malformed.isEmpty())
        return QStringLiteral("%1: malformed %2; nothing written").arg(file, malformed.join(", "));
    if (set.isEmpty())
        return QStringLiteral("%1 holds none of the module's constants; nothing written").arg(file);
    return {};
}

} // namespace

int readEeprom(EngineSession& session, const EepromRequest& request)
{
    // A file that cannot be written is found before the unit is asked.
    OutputFile file(request.file);
    QString error;
    if (!request.file.isEmpty() && !file.open(&error))
        return usageError(error);
    if (!session.connectToUnit() || !readConstants(session, request.module))
        return Exit::Failure;
    const QByteArray json = EepromCalibrationFile::toJson(*session.worker()->eepromStorage());
    if (request.file.isEmpty()) {
        cliOut() << json << Qt::flush;
        return Exit::Success;
    }
    if (!file.write(json, &error))
        return failure(error);
    return Exit::Success;
}

int writeEeprom(EngineSession& session, const EepromRequest& request)
{
    // The file is checked before anything goes to the unit.
    QByteArray data;
    if (!EepromCalibrationFile::read(request.file, &data))
        return usageError(QStringLiteral("cannot read %1").arg(request.file));
    const QJsonDocument document = QJsonDocument::fromJson(data);
    if (!document.isObject())
        return usageError(QStringLiteral("%1 is no calibration file").arg(request.file));
    const QString fileType = document.object().value(QLatin1String("DeviceType")).toString();

    if (!session.connectToUnit() || !readConstants(session, request.module))
        return Exit::Failure;
    EepromDataStorage* storage = session.worker()->eepromStorage();
    // Constants of another kind of module would leave this one's unchanged and pass for
    // written; the file names the kind it was saved from.
    if (!fileType.isEmpty() && fileType != storage->typeString())
        return failure(QStringLiteral("%1 holds constants of a %2; module %3 is a %4")
                           .arg(request.file, fileType)
                           .arg(request.module)
                           .arg(storage->typeString()));
    // Another module's calibration would pass for this one's.
    const QString fileUdid = document.object().value(QLatin1String("UDID")).toString();
    if (!request.force && !fileUdid.isEmpty() && plainUdid(fileUdid) != plainUdid(storage->udid()))
        return failure(QStringLiteral("%1 holds the constants of module %2; module %3 is %4 "
                                      "(--force writes them anyway)")
                           .arg(request.file, fileUdid)
                           .arg(request.module)
                           .arg(storage->udid()));
    const QJsonObject before =
        QJsonDocument::fromJson(EepromCalibrationFile::toJson(*storage)).object();
    if (!storage->loadFromData(data))
        return failure(QStringLiteral("cannot load %1").arg(request.file));
    const QJsonObject after =
        QJsonDocument::fromJson(EepromCalibrationFile::toJson(*storage)).object();
    if (const QString unused = unusedFile(request.file, document.object(), before, after);
        !unused.isEmpty())
        return failure(unused);

    const bool sent = session.runQueued(WorkerAsync::CommandSetEepromConst,
                                        [&] { session.worker()->sendEepromData(); });
    if (!sent)
        return session.interrupted() ? failure(QStringLiteral("interrupted")) : Exit::Failure;
    if (!request.store)
        return Exit::Success;
    const bool stored = session.runQueued(WorkerAsync::CommandWriteEEPROM,
                                          [&] { session.worker()->writeEeprom(); });
    if (!stored)
        return session.interrupted() ? failure(QStringLiteral("interrupted")) : Exit::Failure;
    return Exit::Success;
}
