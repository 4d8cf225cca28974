#include "eepromdatamodel.h"

EepromDataModel* EepromDataModel::instance()
{
    static EepromDataModel* model = new EepromDataModel;
    return model;
}

EepromDataModel::EepromDataModel(QObject* parent) : QAbstractListModel(parent) {}

void EepromDataModel::setStorage(EepromDataStorage* storage)
{
    if (m_storage == storage)
        return;
    beginResetModel();
    if (m_storage)
        disconnect(m_storage, nullptr, this, nullptr);
    m_storage = storage;
    if (m_storage) {
        connect(m_storage, &EepromDataStorage::itemAdded, this, &EepromDataModel::onItemAdded);
        connect(m_storage, &EepromDataStorage::itemRemoved, this, &EepromDataModel::onItemRemoved);
        connect(m_storage, &EepromDataStorage::storageCleared, this,
                &EepromDataModel::onStorageCleared);
        // A loaded calibration file changes values without adding or removing items.
        connect(m_storage, &EepromDataStorage::updated, this, &EepromDataModel::reset);
        connect(m_storage, &QObject::destroyed, this, [this] {
            reset();
            emit storageChanged();
        });
    }
    endResetModel();
    emit storageChanged();
}

int EepromDataModel::rowCount(const QModelIndex& parent) const
{
    if (parent.isValid() || !m_storage)
        return 0;
    return m_storage->count();
}

EepromDataItem* EepromDataModel::itemAt(const QModelIndex& index) const
{
    if (!index.isValid() || index.parent().isValid() || !m_storage)
        return nullptr;
    return m_storage->get(index.row());
}

QVariant EepromDataModel::data(const QModelIndex& index, int role) const
{
    const EepromDataItem* item = itemAt(index);
    if (!item)
        return {};
    switch (role) {
    case GroupRole:
        return item->group();
    case NameRole:
        return item->name();
    case DisplayedNameRole:
        return item->displayedName();
    case TypeRole:
        return int(item->type());
    case ValueRole:
        if (item->type() == EepromDataItem::Pair) {
            const EepromPair pair = item->pairValue();
            return QVariantMap{{QStringLiteral("first"), pair.first},
                               {QStringLiteral("second"), pair.second}};
        }
        return item->value();
    default:
        return {};
    }
}

bool EepromDataModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    EepromDataItem* item = itemAt(index);
    if (!item || role != ValueRole)
        return false;
    const QVariant before = item->value();
    if (item->type() == EepromDataItem::Pair) {
        EepromPair pair;
        if (!EepromDataItem::toStorablePair(value, &pair))
            return false;
        item->setValue(QVariant::fromValue(pair));
    } else {
        double number = 0.0;
        if (!EepromDataItem::toStorableDouble(value, &number))
            return false;
        item->setValue(number);
    }
    if (item->value() != before)
        emit dataChanged(index, index, {ValueRole});
    return true;
}

Qt::ItemFlags EepromDataModel::flags(const QModelIndex& index) const
{
    if (!itemAt(index))
        return Qt::NoItemFlags;
    return QAbstractListModel::flags(index) | Qt::ItemIsEditable;
}

QHash<int, QByteArray> EepromDataModel::roleNames() const
{
    return {
        {GroupRole, "group"}, {NameRole, "name"},   {DisplayedNameRole, "displayedName"},
        {TypeRole, "type"},   {ValueRole, "value"},
    };
}

QVariantList EepromDataModel::allCategories() const
{
    if (!m_storage)
        return {};
    return m_storage->groups();
}

void EepromDataModel::onItemAdded(EepromDataItem*)
{
    reset();
}

void EepromDataModel::onItemRemoved(const QString&)
{
    reset();
}

void EepromDataModel::onStorageCleared()
{
    reset();
}

void EepromDataModel::reset()
{
    beginResetModel();
    endResetModel();
}

#include "moc_eepromdatamodel.cpp"
