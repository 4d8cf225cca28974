#pragma once
// The device list as a QML list model (singleton "DataModel") whose roles are the record
// keys, plus the parameter rows of the active module shown through driverModel.
#include "dataproviderlist.h"
#include "driverdatamodel.h"

#include <QAbstractListModel>
#include <QList>
#include <QStringList>

class DataModel : public QAbstractListModel
{
    Q_OBJECT
    Q_PROPERTY(DataProviderList* list READ list WRITE setList NOTIFY listChanged)
    Q_PROPERTY(DriverDataModel* driverModel READ driverModel CONSTANT)

public:
    // The process-wide instance, created on the first call and never destroyed; also the
    // QML singleton factory.
    static DataModel* instance();

    DataProviderList* list() const { return m_List; }
    void setList(DataProviderList* list);
    DriverDataModel* driverModel() const { return m_driverModel; }
    // The parameter rows of the active module, as driverModel shows them.
    const QList<DriverDataItem>& activeRows() const { return m_activeRows; }
    int activeAddress() const { return m_activeAddress; }

    // How long an "Active" status report stays lit before it reads Idle again.
    int statusFlashInterval() const { return m_statusFlashInterval; }
    void setStatusFlashInterval(int ms);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QHash<int, QByteArray> roleNames() const override;

    Q_INVOKABLE QVariant data(int row, const QString& roleName) const;
    Q_INVOKABLE void selectAll(bool value);

public slots:
    // Makes the module with this address the active one and rebuilds its parameter rows;
    // an address without a record keeps the rows as they are.
    void setActiveDriver(int address);

signals:
    void listChanged();

private:
    explicit DataModel(QObject* parent = nullptr);

    void rebuildRoleNames();
    void reload();
    void onDataUpdated(int row, const QStringList& keys);
    void onListDestroyed();
    void endStatusFlash(int row, const QVariant& address);
    int roleOf(const QString& key) const;

    DataProviderList* m_List = nullptr;
    QStringList m_roleNames;
    DriverDataModel* m_driverModel = nullptr;
    QList<DriverDataItem> m_activeRows;
    int m_activeAddress = -1;
    bool m_hasActiveAddress = false;
    int m_statusFlashInterval = 200;
};
