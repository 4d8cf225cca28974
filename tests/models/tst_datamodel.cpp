// The device list and its list model: row signals, roles grown from record keys, merging
// of readings, the status flash and the invokable accessors QML uses.
#include "models/datamodel.h"
#include "models/dataproviderlist.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTest>

namespace {
DataProviderItem record(int address, int type, int status = DataProviderList::DeviceStatusIdle)
{
    return DataProviderItem{{"address", address}, {"type", type},     {"status", status},
                            {"selected", false},  {"restore", false}, {"cps", 0},
                            {"current", 0}};
}

QStringList keysOf(const QSignalSpy& spy, int call)
{
    return spy.at(call).at(1).toStringList();
}
} // namespace

class TestDataModel : public QObject
{
    Q_OBJECT

    DataModel* model = nullptr;
    DataProviderList* list = nullptr;
    QAbstractItemModelTester* tester = nullptr;

    int role(const QString& name) const { return model->roleNames().key(name.toLatin1(), -1); }
    // Fills the list the way the worker does after an inventory: append, then announce.
    void fill(const QList<DataProviderItem>& records)
    {
        list->removeAll();
        for (const DataProviderItem& r : records)
            list->appendItem(r);
        emit list->updated();
    }

private slots:
    void init()
    {
        model = DataModel::instance();
        model->setStatusFlashInterval(10);
        list = new DataProviderList(this);
        model->setList(list);
        tester = new QAbstractItemModelTester(
            model, QAbstractItemModelTester::FailureReportingMode::QtTest, this);
    }
    void cleanup()
    {
        delete tester;
        tester = nullptr;
        model->setList(nullptr);
        delete list;
        list = nullptr;
    }

    void singletonIsOneObjectWithItsParameterModel()
    {
        QCOMPARE(DataModel::instance(), model);
        QVERIFY(model->driverModel());
        QCOMPARE(model->driverModel()->parent(), model);
        QVERIFY(!model->parent());
    }

    void appendRaisesOneInsertPairPerRecord()
    {
        QSignalSpy aboutToInsert(model, &QAbstractItemModel::rowsAboutToBeInserted);
        QSignalSpy inserted(model, &QAbstractItemModel::rowsInserted);
        list->appendItem(record(5, 0));
        QCOMPARE(aboutToInsert.count(), 1);
        QCOMPARE(inserted.count(), 1);
        QCOMPARE(aboutToInsert.at(0).at(1).toInt(), 0);
        QCOMPARE(aboutToInsert.at(0).at(2).toInt(), 0);
        list->appendItem();
        QCOMPARE(inserted.count(), 2);
        QCOMPARE(inserted.at(1).at(1).toInt(), 1);
        QCOMPARE(inserted.at(1).at(2).toInt(), 1);
        QCOMPARE(model->rowCount(), 2);
        QCOMPARE(list->items().at(1), DataProviderItem());
    }

    void removeAllRemovesRowZeroOncePerRecord()
    {
        fill({record(1, 0), record(2, 1), record(3, 2)});
        QSignalSpy aboutToRemove(model, &QAbstractItemModel::rowsAboutToBeRemoved);
        QSignalSpy removed(model, &QAbstractItemModel::rowsRemoved);
        list->removeAll();
        QCOMPARE(aboutToRemove.count(), 3);
        QCOMPARE(removed.count(), 3);
        for (const QList<QVariant>& call : aboutToRemove) {
            QCOMPARE(call.at(1).toInt(), 0);
            QCOMPARE(call.at(2).toInt(), 0);
        }
        QCOMPARE(model->rowCount(), 0);
    }

    void removeOutsideTheListIsIgnored()
    {
        fill({record(1, 0)});
        QSignalSpy listRemoving(list, &DataProviderList::preItemRemoved);
        list->removeItem(1);
        list->removeItem(-1);
        QCOMPARE(listRemoving.count(), 0);
        QCOMPARE(model->rowCount(), 1);
    }

    void rolesGrowFromKeysAndKeepTheirNumbersUntilTheListEmpties()
    {
        list->appendItem({{"address", 1}, {"type", 2}, {"temperature", 4.2}});
        list->appendItem({{"address", 2}, {"cps", 10}, {"type", 0}});
        emit list->updated();
        // Keys of the first record in map order, then keys new in later records.
        QCOMPARE(role("address"), 256);
        QCOMPARE(role("temperature"), 257);
        QCOMPARE(role("type"), 258);
        QCOMPARE(role("cps"), 259);
        QCOMPARE(model->roleNames().size(), 4);

        list->removeItem(0);
        list->appendItem({{"address", 3}, {"operate", true}});
        emit list->updated();
        QCOMPARE(role("temperature"), 257);
        QCOMPARE(role("operate"), 260);
        QCOMPARE(model->data(model->index(1), 260), QVariant(true));

        list->removeAll();
        emit list->updated();
        QVERIFY(model->roleNames().isEmpty());
        list->appendItem({{"cps", 1}});
        emit list->updated();
        QCOMPARE(role("cps"), 256);
    }

    void settingAListRebuildsRolesAndSameListDoesNotReset()
    {
        DataProviderList other;
        other.appendItem(record(7, 1));
        QSignalSpy reset(model, &QAbstractItemModel::modelReset);
        QSignalSpy listChanged(model, &DataModel::listChanged);
        model->setList(&other);
        QCOMPARE(reset.count(), 1);
        QCOMPARE(listChanged.count(), 1);
        QCOMPARE(model->list(), &other);
        QCOMPARE(model->data(0, "address"), QVariant(7));
        model->setList(&other);
        QCOMPARE(reset.count(), 1);
        QCOMPARE(listChanged.count(), 1);

        // The old list no longer reaches the model.
        QSignalSpy inserted(model, &QAbstractItemModel::rowsInserted);
        list->appendItem(record(1, 0));
        QCOMPARE(inserted.count(), 0);
        model->setList(list);
        QCOMPARE(model->rowCount(), 1);
    }

    void aDestroyedListLeavesAnEmptyModel()
    {
        auto* doomed = new DataProviderList;
        doomed->appendItem(record(4, 0));
        model->setList(doomed);
        QCOMPARE(model->rowCount(), 1);
        QSignalSpy listChanged(model, &DataModel::listChanged);
        delete doomed;
        QCOMPARE(listChanged.count(), 1);
        QCOMPARE(model->list(), nullptr);
        QCOMPARE(model->rowCount(), 0);
        QVERIFY(model->roleNames().isEmpty());
        QVERIFY(!model->data(0, "address").isValid());
    }

    void updateItemMergesOnlyKnownKeysIntoTheFirstMatch()
    {
        fill({record(5, 0), record(6, 0), record(5, 1)});
        QSignalSpy updated(list, &DataProviderList::dataUpdated);
        list->updateItem({{"address", 5}, {"cps", 12.5}, {"unknown_key", 1}});
        QCOMPARE(updated.count(), 1);
        QCOMPARE(updated.at(0).at(0).toInt(), 0);
        QCOMPARE(keysOf(updated, 0), QStringList({"address", "cps"}));
        QCOMPARE(list->items().at(0).value("cps"), QVariant(12.5));
        QVERIFY(!list->items().at(0).contains("unknown_key"));
        // Later records with the same address stay as they were.
        QCOMPARE(list->items().at(2).value("cps"), QVariant(0));

        // Only the address matches: reported with nothing but the address.
        list->updateItem({{"address", 6}, {"pressure", 1e-3}});
        QCOMPARE(updated.count(), 2);
        QCOMPARE(updated.at(1).at(0).toInt(), 1);
        QCOMPARE(keysOf(updated, 1), QStringList({"address"}));
        QVERIFY(!list->items().at(1).contains("pressure"));
    }

    void updateItemWithoutAMatchingAddressDoesNothing()
    {
        fill({record(5, 0)});
        const QList<DataProviderItem> before = list->items();
        QSignalSpy updated(list, &DataProviderList::dataUpdated);
        list->updateItem({{"address", 9}, {"cps", 1}});
        list->updateItem({{"cps", 1}});
        QCOMPARE(updated.count(), 0);
        QCOMPARE(list->items(), before);

        DataProviderList empty;
        QSignalSpy emptyUpdated(&empty, &DataProviderList::dataUpdated);
        empty.updateItem({{"address", 9}});
        QCOMPARE(emptyUpdated.count(), 0);
    }

    void setItemAtRejectsIndexesOutsideTheList()
    {
        fill({record(5, 0)});
        QVERIFY(!list->setItemAt(1, record(6, 0)));
        QVERIFY(!list->setItemAt(-1, record(6, 0)));
        QVERIFY(list->setItemAt(0, record(6, 0)));
        QCOMPARE(list->items().at(0).value("address"), QVariant(6));
    }

    void updateRefreshesOnlyTheChangedRolesExceptAddress()
    {
        fill({record(5, 0), record(6, 0)});
        QSignalSpy changed(model, &QAbstractItemModel::dataChanged);
        list->updateItem({{"address", 6}, {"cps", 3.0}, {"current", 1e-6}});
        QCOMPARE(changed.count(), 1);
        QCOMPARE(changed.at(0).at(0).toModelIndex().row(), 1);
        QCOMPARE(changed.at(0).at(1).toModelIndex().row(), 1);
        const auto roles = changed.at(0).at(2).value<QList<int>>();
        QCOMPARE(roles.size(), 2);
        QVERIFY(roles.contains(role("cps")));
        QVERIFY(roles.contains(role("current")));
        QCOMPARE(model->data(model->index(1), role("cps")), QVariant(3.0));

        // Keys that are no role, or only the address, refresh nothing at all (an empty role
        // list would mean every role).
        emit list->dataUpdated(0, {"address", "not_a_role"});
        QCOMPARE(changed.count(), 1);
        // A row the list does not have is ignored.
        emit list->dataUpdated(7, {"cps"});
        QCOMPARE(changed.count(), 1);
    }

    void activeStatusFlashesBackToIdle()
    {
        fill({record(5, 0), record(6, 0)});
        const int status = role("status");
        QSignalSpy changed(model, &QAbstractItemModel::dataChanged);
        list->updateItem({{"address", 5}, {"status", 1}});
        QCOMPARE(model->data(0, "status").toInt(), 1);
        QTRY_COMPARE(model->data(0, "status").toInt(), 0);
        QCOMPARE(list->items().at(0).value("status").toInt(), 0);
        QCOMPARE(changed.count(), 2);
        QCOMPARE(changed.at(1).at(2).value<QList<int>>(), QList<int>({status}));
        QCOMPARE(model->data(1, "status").toInt(), 0);
    }

    void faultStaysLit()
    {
        fill({record(5, 0), record(6, 0)});
        // Active and then, before the flash ends, Fault; module 6 flashes as a marker that
        // the first flash has ended.
        list->updateItem({{"address", 5}, {"status", 1}});
        list->updateItem({{"address", 5}, {"status", 2}});
        list->updateItem({{"address", 6}, {"status", 1}});
        QTRY_COMPARE(model->data(1, "status").toInt(), 0);
        QCOMPARE(model->data(0, "status").toInt(), 2);
    }

    void flashDoesNotTouchAnotherModuleInTheSameRow()
    {
        fill({record(5, 0), record(6, 0)});
        list->updateItem({{"address", 5}, {"status", 1}});
        // The unit's list is rebuilt before the flash ends; row 0 is now module 8.
        fill({record(8, 0, DataProviderList::DeviceStatusActive), record(6, 0)});
        list->updateItem({{"address", 6}, {"status", 1}});
        QTRY_COMPARE(model->data(1, "status").toInt(), 0);
        QCOMPARE(model->data(0, "status").toInt(), 1);
    }

    void invokableDataReadsByRoleName()
    {
        fill({record(5, 1), {{"address", 6}, {"temperature", 3.5}}});
        QCOMPARE(model->data(0, "type"), QVariant(1));
        QCOMPARE(model->data(1, "temperature"), QVariant(3.5));
        QVERIFY(!model->data(0, "no_such_key").isValid());
        QVERIFY(!model->data(-1, "type").isValid());
        QVERIFY(!model->data(2, "type").isValid());
        // A role the record lacks.
        QVERIFY(!model->data(1, "type").isValid());
        QVERIFY(!model->data(0, "temperature").isValid());
    }

    void modelDataChecksIndexAndRole()
    {
        fill({record(5, 1)});
        QVERIFY(!model->data(QModelIndex(), role("type")).isValid());
        QVERIFY(!model->data(model->index(0), Qt::DisplayRole).isValid());
        QVERIFY(!model->data(model->index(0), 256 + model->roleNames().size()).isValid());
        QCOMPARE(model->data(model->index(0), role("type")), QVariant(1));
        QVERIFY(model->flags(model->index(0)).testFlag(Qt::ItemIsEditable));
        QCOMPARE(model->rowCount(model->index(0)), 0);
    }

    void setDataStoresOnlyExistingKeys()
    {
        fill({record(5, 0), {{"address", 6}}});
        QSignalSpy changed(model, &QAbstractItemModel::dataChanged);
        QVERIFY(model->setData(model->index(0), true, role("selected")));
        QCOMPARE(list->items().at(0).value("selected"), QVariant(true));
        QCOMPARE(changed.count(), 1);
        QCOMPARE(changed.at(0).at(2).value<QList<int>>(), QList<int>({role("selected")}));

        // Row 1 has no "selected": nothing is stored, so nothing is reported as stored.
        QVERIFY(!model->setData(model->index(1), true, role("selected")));
        QVERIFY(!list->items().at(1).contains("selected"));
        QVERIFY(!model->setData(model->index(0), 1, Qt::EditRole));
        QVERIFY(!model->setData(model->index(0), 1, 256 + model->roleNames().size()));
        QVERIFY(!model->setData(QModelIndex(), 1, role("selected")));
        QCOMPARE(changed.count(), 1);
    }

    void selectAllSetsExistingSelectionsWithOneReset()
    {
        fill({record(1, 0), {{"address", 2}}, record(3, 2)});
        QSignalSpy reset(model, &QAbstractItemModel::modelReset);
        model->selectAll(true);
        QCOMPARE(reset.count(), 1);
        QCOMPARE(model->data(0, "selected"), QVariant(true));
        QCOMPARE(model->data(2, "selected"), QVariant(true));
        QVERIFY(!list->items().at(1).contains("selected"));
        model->selectAll(false);
        QCOMPARE(reset.count(), 2);
        QCOMPARE(model->data(0, "selected"), QVariant(false));
        QCOMPARE(model->data(2, "selected"), QVariant(false));
    }

    void withoutAListTheModelIsEmpty()
    {
        model->setList(nullptr);
        QCOMPARE(model->rowCount(), 0);
        QVERIFY(model->roleNames().isEmpty());
        QVERIFY(!model->data(0, "address").isValid());
        QVERIFY(!model->setData(model->index(0), 1, 256));
        QSignalSpy reset(model, &QAbstractItemModel::modelReset);
        model->selectAll(true);
        QCOMPARE(reset.count(), 0);
    }
};

QTEST_GUILESS_MAIN(TestDataModel)
#include "tst_datamodel.moc"
