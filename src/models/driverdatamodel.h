#pragma once
// List model over typed parameter rows (the active module's panel, a sweep's parameters);
// it only points at a row list that someone else owns and that outlives the model.
#include "driverdataitem.h"

#include <QAbstractListModel>
#include <QList>
#include <QStringList>
#include <QVariantMap>

class DriverDataModel : public QAbstractListModel
{
    Q_OBJECT
public:
    enum DriverDataModelType {
        DriverDataTypeConstantDoubleFixed = 0,
        DriverDataTypeConstantDoublePrecision = 1,
        DriverDataTypeDouble = 2,
        DriverDataTypeDoubleEdited = 3,
        DriverDataTypeBool = 4,
    };
    Q_ENUM(DriverDataModelType)

    enum Roles {
        NameRole = Qt::UserRole + 1,
        ValueRole,
        TypeRole,
        GroupRole,
        DisplayedNameRole,
        VisibleRole,
        ScaleRole,
        PrecisionRole,
        RangeRole,
    };

    explicit DriverDataModel(QObject* parent = nullptr);

    // Shows list (a reset); a null list is ignored and the current rows stay.
    void setList(QList<DriverDataItem>* list);
    QList<DriverDataItem>* list() const { return m_list; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    // Only the "value" role is writable; every other role is refused.
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QHash<int, QByteArray> roleNames() const override;

    // Rows named in keys take the record's value for their name; only real changes are
    // stored and announced (value role only).
    void updateValues(const QStringList& keys, const QVariantMap& record);

private:
    bool hasRow(const QModelIndex& index) const;

    QList<DriverDataItem>* m_list = nullptr;
};
