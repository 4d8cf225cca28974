// cu-tavik: the laboratory program that finds a control unit, connects to it and works with
// its detector modules through the QML scene.
#include "appoptions.h"
#include "firmware/filemaphandler.h"
#include "firmware/fileserver.h"
#include "palette.h"
#include "startup.h"
#include "tavikversion.h"

#include <QApplication>
#include <QIcon>
#include <QQmlApplicationEngine>
#include <QUrl>

namespace {

void nameApplication()
{
    QCoreApplication::setApplicationName(QStringLiteral("cu-tavik"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TAVIK_VERSION));
}

} // namespace

int main(int argc, char* argv[])
{
    // Help and version answer without a display.
    {
        QCoreApplication probe(argc, argv);
        nameApplication();
        const AppOptions early = parseAppOptions(QCoreApplication::arguments(), true);
        if (early.exit)
            return early.exitCode;
    }

    QApplication app(argc, argv);
    nameApplication();
    const AppOptions options = parseAppOptions(QApplication::arguments());
    if (options.exit)
        return options.exitCode;

    app.setWindowIcon(QIcon(QStringLiteral(":///MainIcon.ico")));
    QApplication::setPalette(tavikPalette());

    startEngine();
    registerTavikQmlTypes();

    int status = 0;
    {
        FileMapHandler fileHandler;
        FileServer fileServer;
        QQmlApplicationEngine engine;
        prepareScene(&engine, &fileHandler, &fileServer, options.unit);

        const QUrl url(QString::fromLatin1(SceneUrl));
        QObject::connect(
            &engine, &QQmlApplicationEngine::objectCreated, &app,
            [url](QObject* object, const QUrl& objectUrl) {
                if (!object && url == objectUrl)
                    QCoreApplication::exit(-1);
            },
            Qt::QueuedConnection);
        engine.load(url);
        status = QApplication::exec();
    }
    // The scene is gone: the worker thread ends before the application object does.
    stopEngine();
    return status;
}
