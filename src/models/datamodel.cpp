#include "datamodel.h"

#include "driverrowtables.h"
#include "modelslog.h"

#include <QPointer>
#include <QTimer>

namespace {
const QString AddressKey = QStringLiteral("address");
const QString StatusKey = QStringLiteral("status");
const QString SelectedKey = QStringLiteral("selected");
} // namespace

DataModel* DataModel::instance()
{
    static DataModel* const model = new DataModel();
    return model;
}

DataModel::DataModel(QObject* parent)
    : QAbstractListModel(parent), m_driverModel(new DriverDataModel(this))
{
}

void DataModel::setStatusFlashInterval(int ms)
{
    m_statusFlashInterval = qMax(0, ms);
}

void DataModel::setList(DataProviderList* list)
{
    if (list == m_List)
        return;
    beginResetModel();
    if (m_List)
        m_List->disconnect(this);
    m_List = list;
    if (m_List) {
        connect(m_List, &DataProviderList::preItemAppended, this, [this] {
            const int n = m_List->count();
            beginInsertRows(QModelIndex(), n, n);
        });
        connect(m_List, &DataProviderList::postItemAppended, this, [this] { endInsertRows(); });
        connect(m_List, &DataProviderList::preItemRemoved, this,
                [this](int index) { beginRemoveRows(QModelIndex(), index, index); });
        connect(m_List, &DataProviderList::postItemRemoved, this, [this] { endRemoveRows(); });
        connect(m_List, &DataProviderList::dataUpdated, this, &DataModel::onDataUpdated);
        connect(m_List, &DataProviderList::updated, this, &DataModel::reload);
        connect(m_List, &QObject::destroyed, this, &DataModel::onListDestroyed);
    }
    rebuildRoleNames();
    endResetModel();
    emit listChanged();
}

// The list belongs to someone else; once it is gone the model must not read it again.
void DataModel::onListDestroyed()
{
    beginResetModel();
    m_List = nullptr;
    m_roleNames.clear();
    endResetModel();
    emit listChanged();
}

// Keys only ever join the role list while records exist, so a role keeps its number for
// delegates already bound to it until the list empties.
void DataModel::rebuildRoleNames()
{
    if (!m_List || m_List->count() == 0) {
        m_roleNames.clear();
        return;
    }
    const QList<DataProviderItem> records = m_List->items();
    for (const DataProviderItem& record : records) {
        for (auto it = record.keyBegin(); it != record.keyEnd(); ++it) {
            if (!m_roleNames.contains(*it))
                m_roleNames.append(*it);
        }
    }
}

void DataModel::reload()
{
    qCDebug(lcModels) << "m_List updated";
    beginResetModel();
    rebuildRoleNames();
    endResetModel();
    qCDebug(lcModels) << "m_List update done!!!";
}

int DataModel::roleOf(const QString& key) const
{
    const int index = int(m_roleNames.indexOf(key));
    return index < 0 ? -1 : Qt::UserRole + index;
}

void DataModel::onDataUpdated(int row, const QStringList& keys)
{
    if (!m_List || row < 0 || row >= m_List->count())
        return;
    const DataProviderItem record = m_List->items().at(row);

    QList<int> roles;
    for (const QString& key : keys) {
        const int role = roleOf(key);
        if (role >= 0 && key != AddressKey && !roles.contains(role))
            roles.append(role);
    }

    if (m_hasActiveAddress && record.value(AddressKey) == QVariant(m_activeAddress))
        m_driverModel->updateValues(keys, record);

    // An empty role list would tell views that every role changed.
    if (!roles.isEmpty())
        emit dataChanged(index(row), index(row), roles);

    if (roleOf(StatusKey) >= 0 &&
        record.value(StatusKey).toInt() == DataProviderList::DeviceStatusActive) {
        const QPointer<DataProviderList> list = m_List;
        const QVariant address = record.value(AddressKey);
        QTimer::singleShot(m_statusFlashInterval, this, [this, list, row, address] {
            if (list && list == m_List)
                endStatusFlash(row, address);
        });
    }
}

// Turns a still lit "Active" mark back to Idle. The row may hold another module by now, and
// a Fault reported in the meantime must stay visible, so only that module's Active is reset.
void DataModel::endStatusFlash(int row, const QVariant& address)
{
    if (!m_List || row < 0 || row >= m_List->count())
        return;
    const DataProviderItem record = m_List->items().at(row);
    if (record.value(AddressKey) != address ||
        record.value(StatusKey).toInt() != DataProviderList::DeviceStatusActive)
        return;
    setData(index(row), int(DataProviderList::DeviceStatusIdle), roleOf(StatusKey));
}

int DataModel::rowCount(const QModelIndex& parent) const
{
    if (parent.isValid() || !m_List)
        return 0;
    return m_List->count();
}

QVariant DataModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || !m_List || role < Qt::UserRole ||
        role >= Qt::UserRole + m_roleNames.size() || index.row() >= m_List->count())
        return QVariant();
    return m_List->items().at(index.row()).value(m_roleNames.at(role - Qt::UserRole));
}

bool DataModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (!index.isValid() || !m_List || role < Qt::UserRole ||
        role >= Qt::UserRole + m_roleNames.size() || index.row() >= m_List->count())
        return false;
    DataProviderItem record = m_List->items().at(index.row());
    const QString key = m_roleNames.at(role - Qt::UserRole);
    // Records never gain keys here: a key the record lacks is not stored, and so not reported.
    if (!record.contains(key))
        return false;
    record.insert(key, value);
    if (!m_List->setItemAt(index.row(), record))
        return false;
    emit dataChanged(index, index, {role});
    return true;
}

Qt::ItemFlags DataModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return QAbstractListModel::flags(index);
    return QAbstractListModel::flags(index) | Qt::ItemIsEditable;
}

QHash<int, QByteArray> DataModel::roleNames() const
{
    QHash<int, QByteArray> names;
    for (int i = 0; i < m_roleNames.size(); ++i)
        names.insert(Qt::UserRole + i, m_roleNames.at(i).toLocal8Bit());
    return names;
}

QVariant DataModel::data(int row, const QString& roleName) const
{
    if (!m_List || !m_roleNames.contains(roleName) || row < 0 || row >= m_List->count())
        return QVariant();
    return m_List->items().at(row).value(roleName);
}

void DataModel::selectAll(bool value)
{
    if (!m_List)
        return;
    beginResetModel();
    const QList<DataProviderItem> records = m_List->items();
    for (int i = 0; i < records.size(); ++i) {
        if (!records.at(i).contains(SelectedKey))
            continue;
        DataProviderItem record = records.at(i);
        record.insert(SelectedKey, value);
        m_List->setItemAt(i, record);
    }
    endResetModel();
}

void DataModel::setActiveDriver(int address)
{
    qCDebug(lcModels) << "DataModel::setActiveDriver" << address;
    m_activeAddress = address;
    m_hasActiveAddress = true;
    if (!m_List)
        return;
    const QVariant wanted(address);
    const QList<DataProviderItem> records = m_List->items();
    // Every match rebuilds, so with duplicate addresses the last record wins.
    for (const DataProviderItem& record : records) {
        if (record.value(AddressKey) != wanted)
            continue;
        m_activeRows.clear();
        appendDriverRows(m_activeRows, record);
        m_driverModel->setList(&m_activeRows);
    }
}

#include "moc_datamodel.cpp"
