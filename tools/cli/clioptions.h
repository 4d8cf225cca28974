#pragma once
// The command line of cu-tavik-cli: every option of every command, the help text, and the
// options given, read before the application object exists (which kind of application a
// command needs depends on the command).
#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QHash>
#include <QStringList>

class CliOptions
{
public:
    CliOptions();

    bool parse(const QStringList& arguments);
    QString errorText() const { return m_parser.errorText(); }
    bool helpRequested() const { return m_parser.isSet(QStringLiteral("help")); }
    QString helpText() const { return m_parser.helpText(); }
    QStringList positional() const { return m_parser.positionalArguments(); }
    QString command() const { return positional().value(0); }
    bool isSet(const QCommandLineOption& option) const { return m_parser.isSet(option); }
    QString value(const QCommandLineOption& option) const { return m_parser.value(option); }
    // The options given on the command line, by name, with their values (flags: empty).
    QHash<QString, QString> givenOptions() const;

    const QCommandLineOption unit;
    const QCommandLineOption port;
    const QCommandLineOption tries;
    const QCommandLineOption timeout;
    const QCommandLineOption force;

private:
    QCommandLineParser m_parser;
};
