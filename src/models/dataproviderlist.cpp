#include "dataproviderlist.h"

#include "modelslog.h"

namespace {
const QString AddressKey = QStringLiteral("address");
}

DataProviderList::DataProviderList(QObject* parent) : QObject(parent) {}

bool DataProviderList::setItemAt(int index, const DataProviderItem& item)
{
    if (index < 0 || index >= m_items.size())
        return false;
    m_items[index] = item;
    return true;
}

void DataProviderList::appendItem()
{
    appendItem(DataProviderItem());
}

void DataProviderList::appendItem(DataProviderItem item)
{
    emit preItemAppended();
    m_items.append(item);
    emit postItemAppended();
}

void DataProviderList::removeItem(int index)
{
    if (index < 0 || index >= m_items.size()) {
        qCDebug(lcModels) << "DataProviderList::removeItem: no record" << index;
        return;
    }
    emit preItemRemoved(index);
    m_items.removeAt(index);
    emit postItemRemoved();
}

void DataProviderList::removeAll()
{
    while (!m_items.isEmpty())
        removeItem(0);
}

void DataProviderList::updateItem(DataProviderItem item)
{
    if (m_items.isEmpty() || !item.contains(AddressKey))
        return;
    const QVariant address = item.value(AddressKey);
    for (int i = 0; i < m_items.size(); ++i) {
        DataProviderItem& stored = m_items[i];
        if (!stored.contains(AddressKey) || stored.value(AddressKey) != address)
            continue;
        QStringList changed;
        for (auto it = item.cbegin(); it != item.cend(); ++it) {
            if (!stored.contains(it.key()))
                continue;
            stored.insert(it.key(), it.value());
            changed << it.key();
        }
        emit dataUpdated(i, changed);
        return;
    }
}

#include "moc_dataproviderlist.cpp"
