// Files the user picks on the GUI thread: channel presets (JSON) and chart curves as text
// tables. Writes go through QSaveFile, so a failed write leaves an existing file as it was.
#include "engine/enginelog.h"
#include "engine/liveseries.h"
#include "engine/presetfile.h"
#include "engine/settings.h"
#include "engine/workerasync.h"
#include "models/dataproviderlist.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QXYSeries>

namespace {

// Numbers, bools and numeric texts all become JSON numbers; other texts read as 0.
bool toJsonValue(const QVariant& value, QJsonValue* json)
{
    if (value.canConvert<double>())
        *json = value.toDouble();
    else if (value.canConvert<bool>())
        *json = value.toBool();
    else if (value.canConvert<QString>())
        *json = value.toString();
    else
        return false;
    return true;
}

QByteArray number(double value)
{
    return QByteArray::number(value, 'f', 6);
}

// Replaces the file only with the complete bytes. QSaveFile alone would commit a file cut
// short by a full disk: the short write shows only in an explicit flush. Without a commit
// the temporary copy is discarded and the old file stays.
bool writeWholeFile(const QString& fileName, const QByteArray& bytes, bool logOpened = false)
{
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (logOpened)
        qCDebug(lcEngine) << " file opened";
    if (file.write(bytes) != bytes.size() || !file.flush())
        return false;
    return file.commit();
}

QString writeFailure(const QString& fileName)
{
    return QStringLiteral("Couldn't write file; %1").arg(fileName);
}

} // namespace

void WorkerAsync::savePresets(QString fileName)
{
    qCDebug(lcEngine) << "save presets to" << fileName;
    QJsonArray channels;
    const QList<DataProviderItem> items = m_dataList->items();
    for (const DataProviderItem& item : items) {
        if (!item.value(QStringLiteral("restore")).toBool())
            continue;
        QJsonObject channel;
        for (auto it = item.constBegin(); it != item.constEnd(); ++it) {
            QJsonValue json;
            if (toJsonValue(it.value(), &json))
                channel.insert(it.key(), json);
        }
        channels.append(channel);
    }
    if (channels.isEmpty()) {
        emit sendErrorMessage(QStringLiteral("ERROR!"),
                              QStringLiteral("No channels selected for preset save"));
        return;
    }

    QJsonObject document;
    document.insert(QStringLiteral("data"), channels);
    if (!writeWholeFile(fileName, QJsonDocument(document).toJson(), true))
        emit sendErrorMessage(QStringLiteral("ERROR!"), writeFailure(fileName));
}

void WorkerAsync::restorePresets(QString fileName)
{
    qCDebug(lcEngine) << "restore presets";
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        emit sendErrorMessage(QStringLiteral("ERROR!"),
                              QStringLiteral("Couldn't open file; %1").arg(fileName));
        return;
    }
    const PresetFileContent content = readPresetFile(file.readAll());
    if (!content.error.isEmpty()) {
        emit sendErrorMessage(QStringLiteral("ERROR!"), content.error);
        return;
    }
    // Values that would harm a detector or make no sense are refused one by one; the rest
    // of the file is applied.
    for (const QString& refusal : content.refusals)
        emit sendErrorMessage(QStringLiteral("ERROR!"), refusal);
    for (const PresetChannel& channel : content.channels) {
        for (const auto& [name, value] : channel.writes)
            setParameter(channel.address, name, value);
    }
}

void WorkerAsync::saveSeries(QAbstractSeries* series, QString fileName)
{
    auto* xy = qobject_cast<QXYSeries*>(series);
    if (!xy)
        return;
    // A live series draws a thinned copy; the file takes every point.
    QByteArray text;
    for (const QPointF& p : m_settings->liveSeries()->points(xy))
        text += number(p.x()) + '\t' + number(p.y()) + "\r\n";
    if (!writeWholeFile(fileName, text)) {
        qCDebug(lcEngine) << "can't open file" << fileName;
        emit sendErrorMessage(QStringLiteral("ERROR!"), writeFailure(fileName));
    }
}

void WorkerAsync::saveMultipleSeries(QVariantList seriesList, QString fileName)
{
    QList<QXYSeries*> series;
    QList<QList<QPointF>> points;
    qsizetype rows = 0;
    for (const QVariant& entry : seriesList) {
        auto* xy = qobject_cast<QXYSeries*>(entry.value<QObject*>());
        if (!xy)
            continue;
        qCDebug(lcEngine) << "Processing series:" << xy->name();
        series.append(xy);
        points.append(m_settings->liveSeries()->points(xy));
        rows = qMax(rows, points.last().size());
    }
    if (rows == 0)
        return;

    QByteArray text;
    for (const QXYSeries* s : series)
        text += '|' + s->name().toUtf8() + "|\t";
    text += "\r\n";
    for (qsizetype r = 0; r < rows; ++r) {
        for (const QList<QPointF>& p : points) {
            if (r < p.size())
                text += number(p.at(r).x()) + '\t' + number(p.at(r).y()) + '\t';
            else
                text += "---\t---\t";
        }
        text += "\r\n";
    }

    if (!writeWholeFile(fileName, text)) {
        qCDebug(lcEngine) << "can't open file" << fileName;
        emit sendErrorMessage(QStringLiteral("ERROR!"), writeFailure(fileName));
    }
}
