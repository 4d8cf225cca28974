#include "simstatefile.h"

#include "simlog.h"
#include "simmodule.h"
#include "simunit.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

namespace {
const QString Format = QStringLiteral("cu-tavik-sim state");
} // namespace

SimStateFile::SimStateFile(const QString& path, SimUnit* unit, QObject* parent)
    : QObject(parent), m_path(path), m_unit(unit)
{
}

void SimStateFile::watch()
{
    const auto store = [this] {
        QString error;
        if (!save(&error))
            qCWarning(lcSim).noquote() << error;
    };
    connect(m_unit, &SimUnit::moduleStateStored, this, store);
    connect(m_unit, &SimUnit::moduleListSaved, this, [this, store] {
        QList<int> addresses;
        for (const SimModule* module : m_unit->modules())
            addresses << module->address();
        m_moduleList = addresses;
        store();
    });
}

bool SimStateFile::load(QString* error)
{
    QFile file(m_path);
    if (!file.exists())
        return true;
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("%1: cannot read: %2").arg(m_path, file.errorString());
        return false;
    }
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &parseError);
    const auto fail = [&](const QString& message) {
        *error = QStringLiteral("%1: %2").arg(m_path, message);
        return false;
    };
    if (parseError.error != QJsonParseError::NoError)
        return fail(QStringLiteral("not valid JSON at byte %1: %2")
                        .arg(parseError.offset)
                        .arg(parseError.errorString()));
    const QJsonObject root = document.object();
    if (root.value("format").toString() != Format)
        return fail(
            QStringLiteral("not a simulator state file (no \"format\": \"%1\")").arg(Format));

    const QJsonValue list = root.value("moduleList");
    if (list.isArray()) {
        QList<int> addresses;
        for (const QJsonValue& value : list.toArray()) {
            const int address = value.toInt(-1);
            if (address < 0 || address > 254)
                return fail(QStringLiteral("\"moduleList\" holds a bad address"));
            addresses << address;
        }
        m_moduleList = addresses;
        for (const SimModule* module : m_unit->modules()) {
            if (!addresses.contains(module->address()))
                m_unit->removeModule(module->address());
        }
        for (int address : std::as_const(addresses)) {
            if (m_unit->module(quint8(address)))
                continue;
            // The unit's own "SYST:DEVL:ADD" path, so the module is the one it would plug in.
            if (!m_unit->textCommand("SYST:DEVL:ADD " + QByteArray::number(address))
                     .startsWith("ok"))
                qCWarning(lcSim) << "state file: module" << address << "cannot be restored";
        }
    }

    for (const QJsonValue& value : root.value("modules").toArray()) {
        const QJsonObject entry = value.toObject();
        const int address = entry.value("address").toInt(-1);
        SimModule* module =
            address >= 0 && address <= 254 ? m_unit->module(quint8(address)) : nullptr;
        if (!module || module->identity().type != entry.value("type").toString()) {
            qCInfo(lcSim) << "state file: no module of type" << entry.value("type").toString()
                          << "at address" << address << "any more; its state is not used";
            continue;
        }
        if (entry.value("firmware").isString())
            module->setFirmwareVersion(entry.value("firmware").toString());
        QString message;
        if (entry.value("eeprom").isObject() &&
            !module->setEeprom(entry.value("eeprom").toObject(), &message))
            return fail(QStringLiteral("module %1: eeprom: %2").arg(address).arg(message));
    }
    return true;
}

bool SimStateFile::save(QString* error)
{
    QJsonArray modules;
    for (const SimModule* module : m_unit->modules()) {
        modules.append(QJsonObject{
            {"address", int(module->address())},
            {"type", module->identity().type},
            {"firmware", module->identity().firmware},
            {"eeprom", module->eeprom()},
        });
    }
    QJsonObject root{{"format", Format}, {"modules", modules}};
    if (m_moduleList) {
        QJsonArray list;
        for (int address : *m_moduleList)
            list.append(address);
        root.insert("moduleList", list);
    }
    QSaveFile file(m_path);
    if (!file.open(QIODevice::WriteOnly)) {
        if (error)
            *error = QStringLiteral("%1: cannot write: %2").arg(m_path, file.errorString());
        return false;
    }
    // flush() before commit(): commit() does not notice a failing last flush of buffered
    // bytes and would put a cut file in place of the old one.
    const QByteArray json = QJsonDocument(root).toJson(QJsonDocument::Indented);
    if (file.write(json) != json.size() || !file.flush()) {
        if (error)
            *error = QStringLiteral("%1: cannot write: %2").arg(m_path, file.errorString());
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        if (error)
            *error = QStringLiteral("%1: cannot write: %2").arg(m_path, file.errorString());
        return false;
    }
    qCInfo(lcSim).noquote() << QStringLiteral("state saved to %1").arg(m_path);
    return true;
}
