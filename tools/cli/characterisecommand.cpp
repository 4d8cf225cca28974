#include "characterisecommand.h"

#include "clioutput.h"
#include "csvformat.h"
#include "curveplot.h"
#include "engine/detectorcharacterisation.h"
#include "engine/workerprocess.h"
#include "enginesession.h"
#include "exitcode.h"
#include "models/dataproviderlist.h"
#include "outputfile.h"
#include "sweepcsv.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>

namespace {

std::nullopt_t fail(QString* error, const QString& text)
{
    *error = text;
    return std::nullopt;
}

QString withUnit(const QJsonValue& value, const QString& unit)
{
    if (!value.isDouble())
        return QStringLiteral("none");
    return QStringLiteral("%1 %2").arg(Csv::number(value.toDouble()), unit);
}

QString microamperes(const QJsonValue& value)
{
    return value.isDouble() ? QStringLiteral("%1 uA").arg(value.toDouble() * 1e6, 0, 'f', 3)
                            : QStringLiteral("none");
}

} // namespace

QString characteriseHelp()
{
    return QStringLiteral(
        "  characterise --channel N [--time-constant S] [--trigger V] [--dark-limit CPS]\n"
        "               [--out DIR] [--apply]\n"
        "                                     measure the SSPD channel's switching and\n"
        "                                     retrapping currents and its count curve up to\n"
        "                                     I_sw, and recommend the highest bias whose\n"
        "                                     excess dark counts stay below --dark-limit\n"
        "                                     (default 100 cps, never above 0.95 I_sw).\n"
        "                                     Writes characterise-N.json (report),\n"
        "                                     characterise-N.csv (curve, with the sweep\n"
        "                                     files' metadata lines) and characterise-N.png\n"
        "                                     (plot) into DIR (default: the current\n"
        "                                     directory). The bias ends at 0, or with\n"
        "                                     --apply at the recommendation. Ctrl-C sets\n"
        "                                     the bias to 0 and keeps what was measured.\n");
}

std::optional<CharacteriseRequest> parseCharacterise(const EngineArguments& arguments,
                                                     QString* error)
{
    const QString synopsis = QStringLiteral(
        "characterise --channel N [--time-constant S] [--trigger V] [--dark-limit CPS] "
        "[--out DIR] [--apply]");
    if (arguments.words.size() != 1)
        return fail(error, QStringLiteral("usage: %1").arg(synopsis));
    if (const QString e =
            unexpectedOption(arguments, "characterise",
                             {"channel", "time-constant", "trigger", "dark-limit", "out", "apply"});
        !e.isEmpty())
        return fail(error, e);
    if (!arguments.has("channel"))
        return fail(error, QStringLiteral("characterise needs --channel"));
    const std::optional<int> channel = parseModuleAddress(arguments.value("channel"));
    if (!channel)
        return fail(error, QStringLiteral("--channel must be a bus address 0 to 255"));

    CharacteriseRequest request;
    request.channel = *channel;
    request.engine.insert("address", *channel);
    const QList<QPair<QString, QString>> numbers = {
        {"time-constant", "time_constant"}, {"trigger", "trigger"}, {"dark-limit", "dark_limit"}};
    for (const auto& [option, key] : numbers) {
        if (!arguments.has(option))
            continue;
        bool ok = false;
        const double value = arguments.value(option).trimmed().toDouble(&ok);
        if (!ok)
            return fail(error, QStringLiteral("--%1 must be a number").arg(option));
        request.engine.insert(key, value);
    }
    request.engine.insert("apply", arguments.has("apply"));
    QString problem;
    if (!DetectorCharacterisation::requestFromMap(request.engine, &problem))
        return fail(error, problem);
    request.outDir = arguments.has("out") ? arguments.value("out") : QStringLiteral(".");
    return request;
}

int characterise(EngineSession& session, const CharacteriseRequest& request)
{
    const QDir dir(request.outDir);
    if (!QFileInfo(request.outDir).isDir())
        return usageError(QStringLiteral("--out must be a directory: %1").arg(request.outDir));
    const QString base = QStringLiteral("characterise-%1").arg(request.channel);
    OutputFile json(dir.filePath(base + ".json"));
    OutputFile csv(dir.filePath(base + ".csv"));
    OutputFile png(dir.filePath(base + ".png"));
    for (OutputFile* file : {&json, &csv, &png}) {
        if (QString error; !file->open(&error))
            return usageError(error);
    }
    if (!session.connectToSspdChannel(request.channel))
        return Exit::Failure;

    WorkerAsync* worker = session.worker();
    DetectorCharacterisation* procedure = worker->process()->characterisation();
    QObject owner;
    QJsonObject report;
    bool done = false;
    int points = 0;
    QObject::connect(procedure, &DetectorCharacterisation::stageChanged, &owner,
                     [](int, const QString& text) { printError("characterise: " + text); });
    QObject::connect(procedure, &DetectorCharacterisation::pointMeasured, &owner,
                     [&](double bias, double cps) {
                         printProgress(QStringLiteral("count curve: point %1, %2 uA, %3 cps")
                                           .arg(++points)
                                           .arg(bias * 1e6, 0, 'f', 3)
                                           .arg(cps, 0, 'g', 4));
                     });
    QObject::connect(procedure, &DetectorCharacterisation::finished, &owner,
                     [&](const QJsonObject& r) {
                         report = r;
                         done = true;
                     });
    QString error;
    procedure->start(*DetectorCharacterisation::requestFromMap(request.engine, &error));
    if (!session.waitUntil([&] { return done; })) {
        // Ctrl-C: the bias goes to zero at the procedure's next step.
        procedure->cancel(DetectorCharacterisation::BiasZero);
        QEventLoop wait;
        QObject::connect(procedure, &DetectorCharacterisation::finished, &wait, &QEventLoop::quit);
        if (!done)
            wait.exec();
    }
    endProgress();

    const QJsonObject module = session.moduleInfo(request.channel);
    report.insert("module", QJsonObject{{"type", module.value("type")},
                                        {"udid", module.value("UDID")},
                                        {"firmware", module.value("Firmware")},
                                        {"hardware", module.value("Hardware")},
                                        {"description", module.value("Description")}});
    report.insert("unit", session.unitDescription());
    report.insert("program",
                  QStringLiteral("cu-tavik-cli %1, engine %2")
                      .arg(QCoreApplication::applicationVersion(), worker->WorkerVersion()));
    const QString outcome = report.value("outcome").toString();

    SweepCsv::Metadata metadata = {
        {"command", "cu-tavik-cli characterise"},
        {"program", report.value("program").toString()},
        {"started", report.value("started").toString()},
        {"unit", session.unitDescription()},
        {"module", QString::number(request.channel)},
        {"module_type", module.value("type").toString()},
        {"module_udid", module.value("UDID").toString()},
        {"module_firmware", module.value("Firmware").toString()},
        {"trigger", withUnit(report.value("trigger_V"), "V")},
        {"time_constant", withUnit(report.value("time_constant_s"), "s")},
        {"dark_limit", withUnit(report.value("dark_limit_cps"), "cps")},
        {"switching_current", withUnit(report.value("switching_current_A"), "A")},
        {"retrapping_current", withUnit(report.value("retrapping_current_A"), "A")},
        {"recommended_bias", withUnit(report.value("recommended_bias_A"), "A")},
        {outcome == u"complete"    ? "ended"
         : outcome == u"cancelled" ? "interrupted"
                                   : "failed",
         report.value("ended").toString()},
    };
    QList<QStringList> rows;
    for (const QJsonValue& v : report.value("points").toArray()) {
        const QJsonObject p = v.toObject();
        rows.append({Csv::number(p.value("bias_A").toDouble()),
                     Csv::number(p.value("cps").toDouble()),
                     Csv::number(p.value("voltage_V").toDouble()),
                     p.value("latched").toBool() ? "1" : "0"});
    }
    const QByteArray table =
        SweepCsv::document(metadata, {"bias_A", "cps", "voltage_V", "latched"}, rows);
    const QByteArray image = CurvePlot::png(report);
    if (QString e; !json.write(QJsonDocument(report).toJson(QJsonDocument::Indented), &e) ||
                   !csv.write(table, &e) || !png.write(image, &e))
        return failure(e);

    cliOut() << QStringLiteral("I_sw %1, I_r %2, half rate at %3, plateau %4, recommended %5")
                    .arg(microamperes(report.value("switching_current_A")),
                         microamperes(report.value("retrapping_current_A")),
                         microamperes(report.value("half_rate_bias_A")),
                         report.value("plateau_reached").toBool() ? "reached" : "not reached",
                         microamperes(report.value("recommended_bias_A")));
    if (report.value("expected_cps").isDouble())
        cliOut() << QStringLiteral(" (%1 cps expected)")
                        .arg(report.value("expected_cps").toDouble(), 0, 'f', 0);
    cliOut() << "\n";
    if (const QString note = report.value("note").toString(); !note.isEmpty())
        cliOut() << note << "\n";
    if (outcome == u"failed")
        return failure(report.value("error").toString());
    if (outcome == u"cancelled")
        return failure(
            QStringLiteral("interrupted; the bias is at 0 and what was measured is in %1")
                .arg(dir.filePath(base + ".json")));
    return Exit::Success;
}
