#pragma once
// The EEPROM constants of the module being edited: an ordered, name-indexed set of items,
// filled from a module read or a calibration file and written back to the module.
#include "eepromdataitem.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QVariantList>
#include <QVariantMap>

class EepromDataStorage : public QObject
{
    Q_OBJECT
    Q_PROPERTY(int count READ count NOTIFY countChanged)
public:
    explicit EepromDataStorage(QObject* parent = nullptr);

    int count() const { return int(m_items.size()); }
    // The module the constants belong to, as the last initialize() gave it.
    int address() const { return m_address; }
    int deviceType() const { return m_deviceType; } // DeviceType code of the device list
    QString typeString() const { return m_typeString; }
    QString udid() const { return m_udid; }
    // All items in insertion order.
    const QList<EepromDataItem*>& items() const { return m_items; }

    Q_INVOKABLE EepromDataItem* get(int index) const;
    Q_INVOKABLE EepromDataItem* getByName(const QString& name) const;
    Q_INVOKABLE QList<EepromDataItem*> getByGroup(const QString& group) const;
    Q_INVOKABLE void addItem(const QString& group, const QString& name,
                             const QString& displayedName, EepromDataItem::EepromDataType type,
                             const QVariant& value);
    Q_INVOKABLE void removeItem(const QString& name);
    Q_INVOKABLE void clear();
    Q_INVOKABLE QVariantList groups() const;

    // Replaces the items with the table of the map's "type", valued from the map, and takes
    // "address", "type_str" and "UDID" from it.
    Q_INVOKABLE void initialize(const QVariantMap& map);

    // The calibration file. Saving replaces the file only when it was written completely;
    // false for an empty name or a failed write (the old file stays as it was). Loading
    // applies the entries whose items exist and emits updated(); false, with nothing
    // changed, for an empty name or a file that cannot be read.
    Q_INVOKABLE bool saveToFile(const QString& fileName) const;
    Q_INVOKABLE bool loadFromFile(const QString& fileName);
    // The loading half of loadFromFile() for bytes already read.
    bool loadFromData(const QByteArray& data);

signals:
    void countChanged();
    void itemAdded(EepromDataItem* item);
    void itemRemoved(const QString& name);
    void storageCleared();
    void updated();

private:
    QList<EepromDataItem*> m_items;
    QHash<QString, EepromDataItem*> m_index;
    int m_address = 0;
    int m_deviceType = -1;
    QString m_typeString;
    QString m_udid;
};
