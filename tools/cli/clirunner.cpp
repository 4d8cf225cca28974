#include "clirunner.h"

#include "drivers/structurejson.h"
#include "link/cutcpsocketiointerface.h"
#include "propertytable.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

namespace {

QTextStream& out()
{
    static QTextStream stream(stdout);
    return stream;
}

QTextStream& err()
{
    static QTextStream stream(stderr);
    return stream;
}

// Modules pad their texts with zero bytes; a shell wants the text.
QString withoutPadding(QString text)
{
    while (text.endsWith(QChar(0)))
        text.chop(1);
    return text;
}

QJsonValue forPrinting(const QVariant& value)
{
    if (value.metaType().id() == QMetaType::QString)
        return withoutPadding(value.toString());
    return cuToJson(value);
}

QString jsonText(const QJsonValue& value)
{
    if (value.isObject())
        return QString::fromUtf8(QJsonDocument(value.toObject()).toJson(QJsonDocument::Indented))
            .trimmed();
    // A scalar printed as JSON: wrap it in an array and take the brackets off again.
    const QByteArray compact = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(compact.mid(1, compact.size() - 2));
}

bool parseModule(const QString& text, quint8* address)
{
    bool ok = false;
    const uint value = text.toUInt(&ok, 0);
    if (!ok || value > 255)
        return false;
    *address = quint8(value);
    return true;
}

// Numbers and 0/1 booleans as typed on the command line; structures as a JSON object.
QVariant parseValue(const QString& text, QMetaType type, bool* ok)
{
    const QString trimmed = text.trimmed();
    if (trimmed.startsWith(u'{')) {
        const QJsonDocument document = QJsonDocument::fromJson(trimmed.toUtf8());
        return cuFromJson(document.object(), type, ok);
    }
    if (type.id() == QMetaType::Bool) {
        *ok = trimmed == "0" || trimmed == "1" || trimmed == "true" || trimmed == "false";
        return trimmed == "1" || trimmed == "true";
    }
    bool isNumber = false;
    const double number = trimmed.toDouble(&isNumber);
    if (isNumber)
        return cuFromJson(number, type, ok);
    return cuFromJson(trimmed, type, ok); // enumeration keys, identifiers
}

} // namespace

CliRunner::CliRunner(const Options& options)
    : m_options(options), m_link(new cuTcpSocketIOInterface)
{
    m_link->setHostAddress(options.unit);
    m_link->setPort(options.port);
}

CliRunner::~CliRunner()
{
    delete m_link;
}

int CliRunner::fail(int code, const QString& message)
{
    err() << "cu-tavik-cli: " << message << Qt::endl;
    return code;
}

int CliRunner::unreachable()
{
    return fail(Unreachable, QStringLiteral("cannot reach the unit at %1 port %2")
                                 .arg(m_options.unitText)
                                 .arg(m_options.port));
}

int CliRunner::resolveModule(const QString& module, quint8* address)
{
    if (parseModule(module, address))
        return Success;
    return fail(UsageError,
                QStringLiteral("MODULE must be a bus address 0 to 255: %1").arg(module));
}

int CliRunner::resolve(const QString& module, const QString& kindName, const QString& property,
                       quint8* address, const ModuleKind** kind)
{
    if (const int code = resolveModule(module, address); code != Success)
        return code;
    *kind = findModuleKind(kindName);
    if (!*kind)
        return fail(UsageError, QStringLiteral("unknown KIND: %1").arg(kindName));
    if (!(*kind)->properties.contains(property))
        return fail(UsageError,
                    QStringLiteral("%1 has no property %2; it has: %3")
                        .arg(kindName, property, (*kind)->properties.keys().join(", ")));
    return Success;
}

bool CliRunner::attach(CommonDriver* driver, quint8 address)
{
    driver->setAddress(address);
    driver->setInterface(m_link);
    driver->setAnswerTimeout(m_options.timeoutMs);
    return m_link->open();
}

int CliRunner::query(const QString& text)
{
    QString command = text;
    if (!command.endsWith("\r\n"))
        command += "\r\n";
    bool ok = false;
    const QString answer = m_link->query(command, m_options.timeoutMs, &ok);
    if (!ok)
        return unreachable();
    if (answer.isEmpty())
        return fail(Unreachable,
                    QStringLiteral("no answer from the unit to %1").arg(text.trimmed()));
    out() << answer;
    if (!answer.endsWith(u'\n'))
        out() << Qt::endl;
    out().flush();
    return Success;
}

int CliRunner::identity(const QString& module)
{
    quint8 address = 0;
    if (const int code = resolveModule(module, &address); code != Success)
        return code;
    CommonDriver driver;
    if (!attach(&driver, address))
        return unreachable();
    bool answered = false;
    for (int i = 0; i < m_options.tries && !answered; ++i)
        answered = driver.readIdentity();
    if (!answered)
        return fail(Unreachable, QStringLiteral("module %1 does not answer").arg(address));
    const QJsonObject identity{
        {"type", withoutPadding(driver.typeString()->cached())},
        {"modification", withoutPadding(driver.modification()->cached())},
        {"hardware", withoutPadding(driver.hardwareVersion()->cached())},
        {"firmware", withoutPadding(driver.firmwareVersion()->cached())},
        {"description", withoutPadding(driver.description()->cached())},
        {"udid", driver.udid()->cached().toString()},
    };
    out() << jsonText(identity) << Qt::endl;
    return Success;
}

int CliRunner::read(const QString& module, const QString& kindName, const QString& property)
{
    quint8 address = 0;
    const ModuleKind* kind = nullptr;
    if (const int code = resolve(module, kindName, property, &address, &kind); code != Success)
        return code;
    std::unique_ptr<CommonDriver> driver = kind->create();
    const PropertyAccess access = kind->properties.value(property)(driver.get());
    if (!access.read)
        return fail(UsageError, QStringLiteral("%1 of %2 is write-only").arg(property, kindName));
    if (!attach(driver.get(), address))
        return unreachable();
    bool ok = false;
    const QVariant value = access.read(&ok, m_options.tries);
    if (!ok)
        return fail(Unreachable, QStringLiteral("module %1 does not answer").arg(address));
    out() << jsonText(forPrinting(value)) << Qt::endl;
    return Success;
}

int CliRunner::write(const QString& module, const QString& kindName, const QString& property,
                     const QString& valueText)
{
    quint8 address = 0;
    const ModuleKind* kind = nullptr;
    if (const int code = resolve(module, kindName, property, &address, &kind); code != Success)
        return code;
    std::unique_ptr<CommonDriver> driver = kind->create();
    const PropertyAccess access = kind->properties.value(property)(driver.get());
    if (!access.write)
        return fail(UsageError, QStringLiteral("%1 of %2 is read-only").arg(property, kindName));
    bool valid = false;
    const QVariant value = parseValue(valueText, access.type, &valid);
    if (!valid)
        return fail(UsageError, QStringLiteral("%1 is not a value for %2 (%3)")
                                    .arg(valueText, property, access.type.name()));
    if (!attach(driver.get(), address))
        return unreachable();
    bool ok = false;
    access.write(value, &ok, m_options.tries);
    if (!ok)
        return fail(Unreachable,
                    QStringLiteral("module %1 did not acknowledge %2").arg(address).arg(property));
    out() << "acknowledged" << Qt::endl;
    return Success;
}
