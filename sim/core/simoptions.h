#pragma once
// The command line of cu-tavik-sim: where to listen, which rack, state file, discovery,
// logging, seed, faults and the firmware catalogue's web server.
#include "link/unitports.h"
#include "simfaults.h"

#include <QHostAddress>
#include <QString>
#include <QStringList>

struct SimOptions
{
    QHostAddress listen{QHostAddress::LocalHost};
    quint16 port = UnitPorts::Unit;
    QString rackFile;  // empty: the built-in demo rack
    QString stateFile; // empty: nothing survives a restart
    bool discoverable = false;
    bool verbose = false;
    quint32 seed = 1;
    SimFaults faults;
    QString firmwareDir; // empty: no firmware catalogue is served
    QHostAddress httpListen{QHostAddress::LocalHost};
    quint16 httpPort = 8080;
    // Loopback port of the control connection (see SimControl); 0: none.
    quint16 controlPort = 0;
};

enum class SimOptionsResult { Run, Help, Version, Error };

// Parses arguments (argv, program name first). Help and version texts go to *output,
// errors to *error.
SimOptionsResult parseSimOptions(const QStringList& arguments, SimOptions* options, QString* output,
                                 QString* error);
