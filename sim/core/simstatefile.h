#pragma once
// What a unit keeps across a restart: each module's EEPROM contents and firmware version,
// and the module list once "SYST:DEVL:SAVE" stored it. Written with QSaveFile whenever a
// module stores its EEPROM (command 12), gets new firmware, or the module list is saved.
#include <QList>
#include <QObject>
#include <QString>
#include <optional>

class SimUnit;

class SimStateFile : public QObject
{
    Q_OBJECT
public:
    SimStateFile(const QString& path, SimUnit* unit, QObject* parent = nullptr);

    QString path() const { return m_path; }
    // Applies a stored state to the unit (a missing file is a fresh unit, not an error):
    // first the saved module list, then EEPROM and firmware of the modules whose address and
    // type match. False with a message for an unreadable or malformed file.
    bool load(QString* error);
    // Writes the unit's current state.
    bool save(QString* error = nullptr);
    // From now on, save whenever the unit stores something.
    void watch();

private:
    QString m_path;
    SimUnit* m_unit;
    // Addresses of the last saved module list; nullopt until one was saved.
    std::optional<QList<int>> m_moduleList;
};
