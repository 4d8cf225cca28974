#include "unitprobe.h"

#include "link/cutcpsocketiointerface.h"
#include "link/hostaddresstext.h"

#include <QTcpSocket>

QString connectionFailure(const cuTcpSocketIOInterface& link)
{
    const QTcpSocket* socket = link.socket();
    if (socket->error() == QAbstractSocket::UnknownSocketError)
        return QStringLiteral("no connection within %1 ms")
            .arg(cuTcpSocketIOInterface::ConnectTimeoutMs);
    return socket->errorString();
}

QString unitProblem(const QString& unitText, quint16 port, int answerTimeoutMs)
{
    const QString unit = QStringLiteral("%1 port %2").arg(unitText).arg(port);
    cuTcpSocketIOInterface link;
    link.setHostAddress(cuHostAddressFromText(unitText));
    link.setPort(port);
    if (!link.open())
        return QStringLiteral("cannot reach the unit at %1: %2").arg(unit, connectionFailure(link));
    return QStringLiteral("the unit at %1 did not answer within %2 ms")
        .arg(unit)
        .arg(answerTimeoutMs);
}
