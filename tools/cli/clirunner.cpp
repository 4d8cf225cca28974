#include "clirunner.h"

#include "clioutput.h"
#include "drivers/structurejson.h"
#include "link/cutcpsocketiointerface.h"
#include "propertytable.h"
#include "rawvalue.h"
#include "unitprobe.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

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
    printError(message);
    return code;
}

int CliRunner::unreachable()
{
    return fail(Unreachable, QStringLiteral("cannot reach the unit at %1 port %2: %3")
                                 .arg(m_options.unitText)
                                 .arg(m_options.port)
                                 .arg(connectionFailure(*m_link)));
}

int CliRunner::noAnswer(quint8 address, const QString& consequence)
{
    return fail(Unreachable, QStringLiteral("module %1 gave no answer within %2 ms (%3 %4)%5")
                                 .arg(address)
                                 .arg(m_options.timeoutMs)
                                 .arg(m_options.tries)
                                 .arg(m_options.tries == 1 ? "try" : "tries")
                                 .arg(consequence.isEmpty() ? QString() : "; " + consequence));
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

int CliRunner::checkType(CommonDriver* driver, const ModuleKind& kind, quint8 address)
{
    if (m_options.force)
        return Success;
    bool ok = false;
    const QString type = withoutPadding(driver->typeString()->read(&ok, m_options.tries));
    if (!ok)
        return noAnswer(address);
    if (type.contains(kind.typeString))
        return Success;
    const ModuleKind* actual = moduleKindOfType(type);
    return fail(Unreachable,
                QStringLiteral("module %1 is a %2%3, not of KIND %4 (%5); nothing done (--force "
                               "skips this check)")
                    .arg(address)
                    .arg(type.isEmpty() ? QStringLiteral("module of no type") : type,
                         actual ? QStringLiteral(" (KIND %1)").arg(actual->name) : QString(),
                         kind.name, kind.typeString));
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
        return fail(Unreachable, QStringLiteral("no answer within %1 ms from the unit to %2")
                                     .arg(m_options.timeoutMs)
                                     .arg(text.trimmed()));
    if (answer.contains(QLatin1String("UNKNOWN COMMAND")))
        return fail(Unreachable, QStringLiteral("the unit does not know %1 (it answered \"%2\")")
                                     .arg(text.trimmed(), answer.trimmed()));
    cliOut() << answer;
    if (!answer.endsWith(u'\n'))
        cliOut() << Qt::endl;
    cliOut().flush();
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
        return noAnswer(address);
    const QJsonObject identity{
        {"type", withoutPadding(driver.typeString()->cached())},
        {"modification", withoutPadding(driver.modification()->cached())},
        {"hardware", withoutPadding(driver.hardwareVersion()->cached())},
        {"firmware", withoutPadding(driver.firmwareVersion()->cached())},
        {"description", withoutPadding(driver.description()->cached())},
        {"udid", driver.udid()->cached().toString()},
    };
    cliOut() << jsonText(identity) << Qt::endl;
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
    if (const int code = checkType(driver.get(), *kind, address); code != Success)
        return code;
    bool ok = false;
    const QVariant value = access.read(&ok, m_options.tries);
    if (!ok)
        return noAnswer(address);
    cliOut() << jsonText(forPrinting(value)) << Qt::endl;
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
    QString error;
    const std::optional<RawValue> raw = parseRawValue(valueText, access.type, &error);
    if (!raw)
        return fail(UsageError, QStringLiteral("cannot write %1 to %2 (%3): %4")
                                    .arg(valueText, property, access.type.name(), error));
    if (const QString beyond = beyondLimits(kindName, property, *raw);
        !beyond.isEmpty() && !m_options.force)
        return fail(UsageError, beyond);
    if (raw->partial && !access.read)
        return fail(UsageError,
                    QStringLiteral("%1 cannot be read back: give every field").arg(property));
    if (!attach(driver.get(), address))
        return unreachable();
    if (const int code = checkType(driver.get(), *kind, address); code != Success)
        return code;

    QVariant value = raw->value;
    if (raw->partial) {
        // The fields left out keep the module's values: they are read first.
        bool read = false;
        const QVariant current = access.read(&read, m_options.tries);
        if (!read)
            return noAnswer(address, QStringLiteral("%1 not read for the fields left out, "
                                                    "nothing written")
                                         .arg(property));
        const std::optional<QVariant> merged = mergedOver(*raw, current, &error);
        if (!merged)
            return fail(Unreachable,
                        QStringLiteral("%1: %2; nothing written").arg(property, error));
        value = *merged;
    }
    bool ok = false;
    access.write(value, &ok, m_options.tries);
    if (!ok)
        return fail(Unreachable,
                    QStringLiteral("module %1 did not acknowledge %2").arg(address).arg(property));
    cliOut() << "acknowledged" << Qt::endl;
    return Success;
}
