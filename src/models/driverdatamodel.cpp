#include "driverdatamodel.h"

#include <cmath>

namespace {
bool isFloating(const QVariant& v)
{
    const int id = v.metaType().id();
    return id == QMetaType::Double || id == QMetaType::Float;
}

// Values read back from a module are doubles that wobble in the last bits; those count as
// unchanged, with the same relative tolerance as every double property here.
bool sameValue(const QVariant& a, const QVariant& b)
{
    if ((isFloating(a) || isFloating(b)) && a.canConvert<double>() && b.canConvert<double>()) {
        bool okA = false;
        bool okB = false;
        const double x = a.toDouble(&okA);
        const double y = b.toDouble(&okB);
        if (okA && okB)
            return std::abs(x - y) * 1e12 <= std::min(std::abs(x), std::abs(y)) || x == y;
    }
    return a == b;
}
} // namespace

DriverDataModel::DriverDataModel(QObject* parent) : QAbstractListModel(parent) {}

void DriverDataModel::setList(QList<DriverDataItem>* list)
{
    if (!list)
        return;
    beginResetModel();
    m_list = list;
    endResetModel();
}

bool DriverDataModel::hasRow(const QModelIndex& index) const
{
    return index.isValid() && m_list && index.row() >= 0 && index.row() < m_list->size();
}

int DriverDataModel::rowCount(const QModelIndex& parent) const
{
    if (parent.isValid() || !m_list)
        return 0;
    return int(m_list->size());
}

QVariant DriverDataModel::data(const QModelIndex& index, int role) const
{
    if (!hasRow(index))
        return QVariant();
    const DriverDataItem& item = m_list->at(index.row());
    switch (role) {
    case NameRole:
        return item.name();
    case ValueRole:
        return item.value();
    case TypeRole:
        return item.type();
    case GroupRole:
        return item.group();
    case DisplayedNameRole:
        return item.displayedName().isEmpty() ? item.name() : item.displayedName();
    case VisibleRole:
        return item.visible();
    case ScaleRole:
        return item.scale();
    case PrecisionRole:
        return item.precision();
    case RangeRole:
        return item.range();
    default:
        return QVariant();
    }
}

bool DriverDataModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (!hasRow(index) || role != ValueRole)
        return false;
    (*m_list)[index.row()].setValue(value);
    emit dataChanged(index, index, {ValueRole});
    return true;
}

Qt::ItemFlags DriverDataModel::flags(const QModelIndex& index) const
{
    if (!hasRow(index))
        return Qt::NoItemFlags;
    const Qt::ItemFlags base = QAbstractListModel::flags(index);
    if (m_list->at(index.row()).type() == DriverDataTypeConstantDoubleFixed)
        return base;
    return base | Qt::ItemIsEditable;
}

QHash<int, QByteArray> DriverDataModel::roleNames() const
{
    return {
        {NameRole, "name"},
        {ValueRole, "value"},
        {TypeRole, "type"},
        {GroupRole, "group"},
        {DisplayedNameRole, "displayedName"},
        {VisibleRole, "visible"},
        {ScaleRole, "scale"},
        {PrecisionRole, "precision"},
        {RangeRole, "range"},
    };
}

void DriverDataModel::updateValues(const QStringList& keys, const QVariantMap& record)
{
    if (!m_list)
        return;
    for (int row = 0; row < m_list->size(); ++row) {
        DriverDataItem& item = (*m_list)[row];
        if (!keys.contains(item.name()))
            continue;
        const QVariant value = record.value(item.name());
        if (sameValue(item.value(), value))
            continue;
        item.setValue(value);
        const QModelIndex changed = index(row);
        emit dataChanged(changed, changed, {ValueRole});
    }
}

#include "moc_driverdatamodel.cpp"
