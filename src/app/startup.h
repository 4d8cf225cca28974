#pragma once
// What the program and its scene tests share at start-up: the engine singletons with the
// producer brand, the QML types of "MyWorker" 1.0, and the context of the scene.
#include "engine/workerasync.h"

#include <QString>

class FileMapHandler;
class FileServer;
class QQmlApplicationEngine;

// The brand of the installation: the first marker file that exists wins.
WorkerAsync::WorkerProducerType producerFromMarkers(const QString& brevitronicsMarker,
                                                    const QString& pelliwigMarker);

// Registers the types of "MyWorker" 1.0; the singletons stay owned by C++.
void registerTavikQmlTypes();

// Creates the engine singletons (which starts the worker thread), joins the device list to
// the data model and sets the producer brand from the marker files.
WorkerAsync* startEngine();

// Ends the worker thread and releases the engine, once nothing binds to it any more (the
// scene is gone): a worker still reading while the application object goes down would use
// the network stack as it is torn down.
void stopEngine();

// Gives the scene its context: the firmware objects and the unit asked for on the command
// line (empty: the stored one).
void prepareScene(QQmlApplicationEngine* engine, FileMapHandler* fileHandler,
                  FileServer* fileServer, const QString& startUnit);

// The scene's resource.
inline constexpr char SceneUrl[] = "qrc:/main.qml";
