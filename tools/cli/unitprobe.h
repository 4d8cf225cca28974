#pragma once
// Why a unit gave no answer, in words for the user: a connection that cannot be made
// (refused, no route, none within the connect time-out) is told apart from a unit that
// takes the connection and says nothing in time.
#include <QString>

class cuTcpSocketIOInterface;

// The reason a link's open() failed, e.g. "Connection refused".
QString connectionFailure(const cuTcpSocketIOInterface& link);

// For a unit that did not answer within answerTimeoutMs: "cannot reach the unit at ADDR port
// P: REASON" when no connection can be made now, else "the unit at ADDR port P did not
// answer within N ms".
QString unitProblem(const QString& unitText, quint16 port, int answerTimeoutMs);
