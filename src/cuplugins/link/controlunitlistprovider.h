#pragma once
// Finds the control units on the local networks: a UDP broadcast of "cu-software" on every
// broadcast-capable interface, and the units answer with a TCP connection back to us; the
// peers that deliver at least one byte within AnswerTimeoutMs are the result.
#include "unitports.h"

#include <QHostAddress>
#include <QObject>
#include <QStringList>

class QTcpServer;
class QTimer;

class ControlUnitListProvider : public QObject
{
    Q_OBJECT
public:
    static constexpr int DefaultSearchDurationMs = 500;
    static constexpr int AnswerTimeoutMs = 100;

    explicit ControlUnitListProvider(QObject* parent = nullptr);

    // How long after the broadcast answers are taken; applies from the next search().
    void setSearchDurationMs(int ms);
    int searchDurationMs() const { return m_searchDurationMs; }
    quint16 answerPort() const { return m_answerPort; }

    // Starts a search (abandoning a running one) and returns at once: ready() follows after
    // the search duration, or error() comes before this returns if the answer port is busy.
    void search();
    // Abandons a running search without ready(); its answer port is free on return.
    void stop();
    bool isSearching() const { return m_server != nullptr; }
    // The addresses of the last search, this computer as "127.0.0.1"; final after ready().
    QStringList controlUnits() const { return m_units; }

signals:
    void ready();
    void error();

private:
    void broadcast();
    void acceptAnswers();
    void takeAnswer(int order, const QHostAddress& peer);
    void complete();

    QStringList m_units;
    // Peers of the running search in the order they connected; empty while still silent.
    QStringList m_answers;
    QTcpServer* m_server = nullptr;
    QTimer* m_searchTimer = nullptr;
    int m_searchDurationMs = DefaultSearchDurationMs;
    const quint16 m_broadcastPort = UnitPorts::DiscoveryBroadcast;
    const quint16 m_answerPort = UnitPorts::DiscoveryAnswer;
};
