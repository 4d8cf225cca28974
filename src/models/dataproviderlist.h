#pragma once
// The modules of the connected unit, one record each (address, type, status, values); the
// worker fills it and every change is announced by signals for the list model in front.
#include <QList>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

// One module's record: record keys to values, iterated in sorted key order.
using DataProviderItem = QVariantMap;

class DataProviderList : public QObject
{
    Q_OBJECT
public:
    enum DeviceType {
        DeviceTypeSspdM0 = 0,
        DeviceTypeSspdM1 = 1,
        DeviceTypeTempM0 = 2,
        DeviceTypeTempM1 = 3,
        DeviceTypeUnknown = 4,
    };
    Q_ENUM(DeviceType)

    enum DeviceStatus {
        DeviceStatusIdle = 0,
        DeviceStatusActive = 1,
        DeviceStatusFault = 2,
    };
    Q_ENUM(DeviceStatus)

    explicit DataProviderList(QObject* parent = nullptr);

    QList<DataProviderItem> items() const { return m_items; }
    int count() const { return int(m_items.size()); }
    // Replaces record index without any signal; false when index is outside the list.
    bool setItemAt(int index, const DataProviderItem& item);

signals:
    void preItemAppended();
    void postItemAppended();
    void preItemRemoved(int index);
    void postItemRemoved();
    void dataUpdated(int index, QStringList keys);
    // The list was rebuilt as a whole; emitted by whoever rebuilt it, never by the list.
    void updated();

public slots:
    void appendItem();
    void appendItem(DataProviderItem item);
    // An index outside the list is ignored, so no model ever sees a removal of a missing row.
    void removeItem(int index);
    void removeAll();
    // Merges item into the first record with the same "address"; records never gain keys.
    void updateItem(DataProviderItem item);

private:
    QList<DataProviderItem> m_items;
};
