#pragma once
// The unit's side of a firmware update: it connects to the application's file server,
// takes the image, reports its progress step by step and gives the module a new firmware
// version. The flashing itself is only acted out.
#include "link/unitports.h"

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QPointer>

class QTcpSocket;
class QTimer;
class SimModule;

class SimFirmwareUpdate : public QObject
{
    Q_OBJECT
public:
    explicit SimFirmwareUpdate(QObject* parent = nullptr);

    void setPort(quint16 port);     // of the file server; default UnitPorts::FileServer
    void setStepIntervalMs(int ms); // pace of the reports
    void setImageTimeoutMs(int ms); // from start() until the image is complete
    // Connects to the file server at client; false if an update runs or module is null.
    bool start(const QHostAddress& client, SimModule* module);
    bool isRunning() const { return m_socket != nullptr; }

    // The version a module reports after an update from version current: the image carries
    // no version, so the last number of the current one goes up by one.
    static QString nextFirmwareVersion(const QString& current);

signals:
    void finished(bool ok);

private:
    void readImage();
    void startFlashing(qsizetype imageSize);
    void nextStep();
    void send(const QByteArray& message);
    // Reports the error to the server (when connected), closes and finishes.
    void fail(const QString& error);
    void finish(bool ok);

    quint16 m_port = UnitPorts::FileServer;
    int m_stepIntervalMs = 150;
    int m_imageTimeoutMs = 60000;
    QTcpSocket* m_socket = nullptr;
    QTimer* m_stepTimer = nullptr;
    QTimer* m_imageTimer = nullptr;
    QPointer<SimModule> m_module;
    QByteArray m_received;
    // The reports still to send once the image is in, one per step.
    QList<QByteArray> m_steps;
};
