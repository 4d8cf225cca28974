#pragma once
// Reaching the chart pages of the main window from the program test: the page of a tab, the
// "+" menu, a page's panels and the sweep parameter rows.
#include "engine/settings.h"
#include "engine/workerasync.h"
#include "models/driverdatamodel.h"

#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>

namespace ChartPages {

inline QObject* pageAt(QQuickWindow* main, int index)
{
    QVariant page;
    QMetaObject::invokeMethod(main, "pageAt", Q_RETURN_ARG(QVariant, page), Q_ARG(QVariant, index));
    return page.value<QObject*>();
}

inline QObject* currentPage(QQuickWindow* main)
{
    return pageAt(main, main->property("currentIndex").toInt());
}

// Chooses the named entry of the "+" menu; false when it is missing or disabled.
inline bool chooseFromAddMenu(QQuickItem* plus, const QString& name)
{
    QObject* menu = plus->findChild<QObject*>("addMenu");
    QMetaObject::invokeMethod(plus, "clicked");
    if (!menu || !QTest::qWaitFor([menu] { return menu->property("opened").toBool(); }))
        return false;
    bool chosen = false;
    for (int i = 0; i < menu->property("count").toInt() && !chosen; ++i) {
        QQuickItem* item = nullptr;
        QMetaObject::invokeMethod(menu, "itemAt", Q_RETURN_ARG(QQuickItem*, item), Q_ARG(int, i));
        if (item && item->property("text").toString() == name && item->isEnabled())
            chosen = QMetaObject::invokeMethod(item, "triggered");
    }
    QMetaObject::invokeMethod(menu, "close");
    return QTest::qWaitFor([menu] { return !menu->property("visible").toBool(); }) && chosen;
}

inline QObject* panel(QObject* page, const char* name)
{
    return page->property(name).value<QObject*>();
}

// Sets a sweep parameter row of the current sweep (stored units).
inline bool setSweepRow(const QString& name, const QVariant& value)
{
    DriverDataModel* model = WorkerAsync::instance()->settings()->SweepParameterModel();
    for (int row = 0; row < model->rowCount(); ++row) {
        const QModelIndex index = model->index(row);
        if (model->data(index, DriverDataModel::NameRole).toString() == name)
            return model->setData(index, value, DriverDataModel::ValueRole);
    }
    return false;
}

} // namespace ChartPages
