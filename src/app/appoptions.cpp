#include "appoptions.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QRegularExpression>
#include <QTextStream>

bool isUnitAddress(const QString& text)
{
    static const QRegularExpression pattern(
        QStringLiteral("^(([01]?[0-9]?[0-9]|2([0-4][0-9]|5[0-5]))\\.){3}([01]?[0-9]?[0-9]|2([0-4]["
                       "0-9]|5[0-5]))$"));
    return pattern.match(text).hasMatch();
}

AppOptions parseAppOptions(const QStringList& arguments, bool helpAndVersionOnly)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Controls a rack of superconducting single-photon detector modules."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption unit(
        QStringLiteral("unit"),
        QStringLiteral(
            "Connect to the control unit at <address> for this run, without storing it."),
        QStringLiteral("address"));
    parser.addOption(unit);

    AppOptions options;
    QTextStream err(stderr);
    const bool parsed = parser.parse(arguments);
    if (helpAndVersionOnly && !parsed && !parser.isSet(help) && !parser.isSet(version))
        return options;
    if (!parsed) {
        err << parser.errorText() << Qt::endl << parser.helpText();
        options.exit = true;
        options.exitCode = 2;
        return options;
    }
    if (parser.isSet(help) || parser.isSet(version)) {
        QTextStream out(stdout);
        if (parser.isSet(help))
            out << parser.helpText();
        else
            out << QCoreApplication::applicationName() << ' '
                << QCoreApplication::applicationVersion() << Qt::endl;
        options.exit = true;
        return options;
    }
    if (helpAndVersionOnly)
        return options;
    if (!parser.positionalArguments().isEmpty()) {
        err << "Unexpected argument: " << parser.positionalArguments().first() << Qt::endl;
        options.exit = true;
        options.exitCode = 2;
        return options;
    }
    if (parser.isSet(unit)) {
        options.unit = parser.value(unit).trimmed();
        if (!isUnitAddress(options.unit)) {
            err << "Not a unit address (a.b.c.d): " << options.unit << Qt::endl;
            options.exit = true;
            options.exitCode = 2;
        }
    }
    return options;
}
