#include "curveplot.h"

#include <QBuffer>
#include <QImage>
#include <QJsonArray>
#include <QPainter>
#include <QPainterPath>
#include <cmath>

namespace CurvePlot {

namespace {

struct Axes
{
    QRectF area;
    double xMin, xMax; // uA
    double yMin, yMax; // log10 cps

    QPointF at(double biasUa, double cps) const
    {
        const double ly = std::log10(std::max(cps, std::pow(10.0, yMin)));
        return {area.left() + (biasUa - xMin) / (xMax - xMin) * area.width(),
                area.bottom() - (ly - yMin) / (yMax - yMin) * area.height()};
    }
    double x(double biasUa) const { return at(biasUa, 1).x(); }
};

void marker(QPainter& p, const Axes& axes, double biasUa, const QColor& colour,
            const QString& label, int row)
{
    if (!(biasUa > axes.xMin && biasUa < axes.xMax))
        return;
    const double x = axes.x(biasUa);
    p.setPen(QPen(colour, 2, Qt::DashLine));
    p.drawLine(QPointF(x, axes.area.top()), QPointF(x, axes.area.bottom()));
    p.setPen(colour);
    p.drawText(
        QPointF(x - p.fontMetrics().horizontalAdvance(label) - 6, axes.area.top() + 18 + 18 * row),
        label);
}

} // namespace

QByteArray png(const QJsonObject& report, int width, int height)
{
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);

    QList<QPointF> points; // uA, cps
    QList<QPointF> latched;
    for (const QJsonValue& v : report.value("points").toArray()) {
        const QJsonObject o = v.toObject();
        const QPointF point(o.value("bias_A").toDouble() * 1e6, o.value("cps").toDouble());
        (o.value("latched").toBool() ? latched : points).append(point);
    }
    const double isw = report.value("switching_current_A").toDouble() * 1e6;
    double xMin = 0, xMax = isw > 0 ? isw * 1.03 : 1;
    double cpsMax = 10;
    double cpsMin = 1e300;
    for (const QPointF& q : std::as_const(points)) {
        cpsMax = std::max(cpsMax, q.y());
        if (q.y() > 0)
            cpsMin = std::min(cpsMin, q.y());
    }
    if (!points.isEmpty())
        xMin = std::floor(points.first().x() * 0.95);
    const Axes axes{QRectF(90, 50, width - 130, height - 120), xMin, std::max(xMax, xMin + 1),
                    std::floor(std::log10(std::min(cpsMin, cpsMax))),
                    std::ceil(std::log10(cpsMax * 1.5))};

    // Frame, decades and bias ticks.
    p.setPen(QColor(220, 220, 220));
    for (int d = int(axes.yMin); d <= int(axes.yMax); ++d) {
        const double y = axes.at(axes.xMin, std::pow(10.0, d)).y();
        p.drawLine(QPointF(axes.area.left(), y), QPointF(axes.area.right(), y));
    }
    const double span = axes.xMax - axes.xMin;
    const double tick = span > 40 ? 10 : span > 16 ? 5 : span > 8 ? 2 : span > 4 ? 1 : 0.5;
    for (double t = std::ceil(axes.xMin / tick) * tick; t <= axes.xMax; t += tick) {
        p.setPen(QColor(220, 220, 220));
        p.drawLine(QPointF(axes.x(t), axes.area.top()), QPointF(axes.x(t), axes.area.bottom()));
        p.setPen(Qt::black);
        const QString text = QString::number(t);
        p.drawText(QPointF(axes.x(t) - p.fontMetrics().horizontalAdvance(text) / 2.0,
                           axes.area.bottom() + 18),
                   text);
    }
    p.setPen(Qt::black);
    for (int d = int(axes.yMin); d <= int(axes.yMax); ++d) {
        const QString text = QStringLiteral("1e%1").arg(d);
        p.drawText(QPointF(axes.area.left() - p.fontMetrics().horizontalAdvance(text) - 8,
                           axes.at(axes.xMin, std::pow(10.0, d)).y() + 5),
                   text);
    }
    p.drawRect(axes.area);
    p.drawText(QPointF(axes.area.center().x() - 40, height - 25), QStringLiteral("bias (\u03bcA)"));
    p.save();
    p.translate(22, axes.area.center().y() + 50);
    p.rotate(-90);
    p.drawText(QPointF(0, 0), QStringLiteral("counts per second"));
    p.restore();
    QFont title = p.font();
    title.setBold(true);
    p.setFont(title);
    p.drawText(QPointF(axes.area.left(), 30),
               QStringLiteral("Channel %1: count curve at %2 s, trigger %3 V")
                   .arg(report.value("channel").toInt())
                   .arg(report.value("time_constant_s").toDouble())
                   .arg(report.value("trigger_V").toDouble()));
    p.setFont(QFont());

    // The curve.
    p.setClipRect(axes.area.adjusted(-4, -4, 4, 4));
    if (points.size() > 1) {
        QPainterPath path(axes.at(points.first().x(), points.first().y()));
        for (const QPointF& q : std::as_const(points))
            path.lineTo(axes.at(q.x(), q.y()));
        p.setPen(QPen(QColor(40, 90, 180), 1.5));
        p.drawPath(path);
    }
    p.setBrush(QColor(40, 90, 180));
    for (const QPointF& q : std::as_const(points))
        p.drawEllipse(axes.at(q.x(), q.y()), 3, 3);
    p.setBrush(Qt::red);
    for (const QPointF& q : std::as_const(latched))
        p.drawEllipse(axes.at(q.x(), std::pow(10.0, axes.yMin)), 5, 5);
    p.setBrush(Qt::NoBrush);
    marker(p, axes, isw, QColor(160, 40, 40), QStringLiteral("I_sw %1 \u03bcA").arg(isw, 0, 'f', 2),
           0);
    const QJsonValue recommended = report.value("recommended_bias_A");
    if (recommended.isDouble())
        marker(
            p, axes, recommended.toDouble() * 1e6, QColor(20, 140, 60),
            QStringLiteral("recommended %1 \u03bcA").arg(recommended.toDouble() * 1e6, 0, 'f', 2),
            1);
    else
        p.drawText(QPointF(axes.area.left() + 10, axes.area.top() + 20),
                   QStringLiteral("no recommendation: %1").arg(report.value("note").toString()));
    p.end();

    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "PNG"))
        return {};
    return bytes;
}

} // namespace CurvePlot
