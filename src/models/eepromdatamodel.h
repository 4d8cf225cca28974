#pragma once
// The EEPROM constants of the storage as a QML list model (singleton), one row per item,
// with pair values in a form QML can read and write.
#include <QAbstractListModel>
#include <QPointer>

#include "eepromdatastorage.h"

class EepromDataModel : public QAbstractListModel
{
    Q_OBJECT
    Q_PROPERTY(EepromDataStorage* storage READ storage WRITE setStorage NOTIFY storageChanged)
public:
    enum Roles {
        GroupRole = Qt::UserRole + 1,
        NameRole,
        DisplayedNameRole,
        TypeRole,
        ValueRole,
    };

    // The one model, created on first use and never destroyed; also the QML factory.
    static EepromDataModel* instance();

    explicit EepromDataModel(QObject* parent = nullptr);

    EepromDataStorage* storage() const { return m_storage; }
    void setStorage(EepromDataStorage* storage);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    // Only the value role is editable. A pair takes a list of two numbers (or a
    // {"first", "second"} map), a single value a number; anything else, or a number an
    // EEPROM float cannot hold, is refused and changes nothing.
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QHash<int, QByteArray> roleNames() const override;

    Q_INVOKABLE QVariantList allCategories() const;

public slots:
    void onItemAdded(EepromDataItem* item);
    void onItemRemoved(const QString& name);
    void onStorageCleared();

signals:
    void storageChanged();

private:
    void reset();
    EepromDataItem* itemAt(const QModelIndex& index) const;

    // The storage belongs to the worker front object; the guard keeps a storage that dies
    // first from leaving the model with a dangling pointer.
    QPointer<EepromDataStorage> m_storage;
};
