#include "startup.h"

#include "engine/mychartrect.h"
#include "engine/settings.h"
#include "firmware/filemaphandler.h"
#include "firmware/fileserver.h"
#include "link/unitports.h"
#include "models/datamodel.h"
#include "models/dataproviderlist.h"
#include "models/driverdatamodel.h"
#include "models/eepromdataitem.h"
#include "models/eepromdatamodel.h"

#include <QFileInfo>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQmlExtensionPlugin>

// The style and theme modules are linked in statically.
Q_IMPORT_QML_PLUGIN(ThemePlugin)
Q_IMPORT_QML_PLUGIN(MyStylePlugin)

namespace {

constexpr const char* Uri = "MyWorker";

// The singletons live for the whole process; the QML engine must never delete them.
template <typename T> QObject* cppOwnedSingleton(QQmlEngine* engine, QJSEngine*)
{
    T* object = T::instance();
    engine->setObjectOwnership(object, QQmlEngine::CppOwnership);
    return object;
}

} // namespace

WorkerAsync::WorkerProducerType producerFromMarkers(const QString& brevitronicsMarker,
                                                    const QString& pelliwigMarker)
{
    if (QFileInfo::exists(brevitronicsMarker))
        return WorkerAsync::ProducerBrevitronics;
    if (QFileInfo::exists(pelliwigMarker))
        return WorkerAsync::ProducerPelliwig;
    return WorkerAsync::ProducerNorvane;
}

void registerTavikQmlTypes()
{
    const QString notInQml = QStringLiteral("DataList should not be created in QML");
    const QString rectNotInQml = QStringLiteral("RectTime should not be created in QML");

    qmlRegisterUncreatableType<Settings>(Uri, 1, 0, "Settings", notInQml);
    qmlRegisterSingletonType<WorkerAsync>(Uri, 1, 0, "Worker", cppOwnedSingleton<WorkerAsync>);
    qmlRegisterSingletonType<DataModel>(Uri, 1, 0, "DataModel", cppOwnedSingleton<DataModel>);
    qmlRegisterUncreatableType<DataProviderList>(Uri, 1, 0, "Datalist", notInQml);
    qmlRegisterUncreatableType<MyChartRect>(Uri, 1, 0, "MyChartRect", rectNotInQml);
    qmlRegisterUncreatableMetaObject(DriverDataModel::staticMetaObject, Uri, 1, 0, "DriverData",
                                     QStringLiteral("Access to enums only"));
    qmlRegisterSingletonType<EepromDataModel>(Uri, 1, 0, "EepromDataModel",
                                              cppOwnedSingleton<EepromDataModel>);
    qmlRegisterUncreatableType<EepromDataItem>(Uri, 1, 0, "EepromDataItem", rectNotInQml);
}

WorkerAsync* startEngine()
{
    DataModel* data = DataModel::instance();
    WorkerAsync* worker = WorkerAsync::instance();
    data->setList(worker->dataList());
    worker->setProducerType(producerFromMarkers(QStringLiteral("/home/pi/.brevitronics"),
                                                QStringLiteral("/home/pi/.pelliwig")));
    return worker;
}

void stopEngine()
{
    delete WorkerAsync::instance();
}

void prepareScene(QQmlApplicationEngine* engine, FileMapHandler* fileHandler,
                  FileServer* fileServer, const QString& startUnit)
{
    engine->addImportPath(QStringLiteral("qrc:/"));
    engine->rootContext()->setContextProperty(QStringLiteral("fileHandler"), fileHandler);
    engine->rootContext()->setContextProperty(QStringLiteral("fileServer"), fileServer);
    // Where the unit fetches a firmware image from; the unit knows no other port.
    engine->rootContext()->setContextProperty(QStringLiteral("fileServerPort"),
                                              int(UnitPorts::FileServer));
    engine->rootContext()->setContextProperty(QStringLiteral("startUnit"), startUnit);
}
