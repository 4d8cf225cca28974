// Runs the scene's tst_*.qml files from this directory, with the scene's own style and theme
// modules available to the components they load.
#include <QQmlEngine>
#include <QQmlExtensionPlugin>
#include <QtQuickTest>

Q_IMPORT_QML_PLUGIN(ThemePlugin)
Q_IMPORT_QML_PLUGIN(MyStylePlugin)

class SceneLogicSetup : public QObject
{
    Q_OBJECT
public slots:
    void qmlEngineAvailable(QQmlEngine* engine) { engine->addImportPath(QStringLiteral("qrc:/")); }
};

QUICK_TEST_MAIN_WITH_SETUP(scenelogic, SceneLogicSetup)

#include "tst_scenelogic.moc"
