#pragma once
// A line-based control connection on loopback, so that a test driver can change the faults
// of a running simulator and restart its unit without restarting the process.
#include <QObject>

class QTcpServer;
class QTcpSocket;
class SimUnit;

class SimControl : public QObject
{
    Q_OBJECT
public:
    SimControl(SimUnit* unit, QObject* parent = nullptr);

    // Listens on 127.0.0.1 only (port 0: any free port); false with the reason.
    bool start(quint16 port, QString* error);
    quint16 serverPort() const;

    // Runs one command line and returns its answer ("ok", "error: ..." or a value):
    //   faults [--latency-ms N] [--drop-every N] ...   the fault options of the command line;
    //                                                  those not given are off again
    //   restart MS      closes every connection and stops listening for MS milliseconds
    //   connections     the number of open unit connections
    QByteArray execute(const QByteArray& line);

private:
    void onReadyRead(QTcpSocket* socket);

    SimUnit* m_unit;
    QTcpServer* m_server;
};
