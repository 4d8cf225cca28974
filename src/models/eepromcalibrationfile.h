#pragma once
// The calibration JSON file: EEPROM constants of one module under fixed keys, written from
// and applied to an EepromDataStorage. Files come from users, so reading trusts nothing.
#include <QByteArray>
#include <QString>

class EepromDataStorage;

namespace EepromCalibrationFile {

// A calibration file is a few kilobytes; anything far larger is not one and is not read.
inline constexpr qint64 maxFileSize = 1024 * 1024;

// The indented JSON document of the storage's constants.
QByteArray toJson(const EepromDataStorage& storage);

// Writes the document through a temporary file that replaces fileName only once it is
// complete, so a failed save leaves the previous file as it was.
bool save(const EepromDataStorage& storage, const QString& fileName);

// The whole file, or false when it cannot be opened or is larger than maxFileSize.
bool read(const QString& fileName, QByteArray* data);

// Sets the items named by the document's keys. Anything that is not a JSON object counts
// as an empty one; entries of the wrong shape, and numbers a float cannot hold, are
// skipped and leave their items as they were.
void apply(EepromDataStorage* storage, const QByteArray& data);

} // namespace EepromCalibrationFile
