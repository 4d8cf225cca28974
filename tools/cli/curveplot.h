#pragma once
// The count curve of a characterisation report drawn as a PNG image: counts per second on a
// logarithmic axis against the bias, the switching current and the recommended bias marked.
// Needs a GUI application (the off-screen platform will do) for its fonts.
#include <QByteArray>
#include <QJsonObject>

namespace CurvePlot {

// PNG bytes; empty if the image could not be encoded.
QByteArray png(const QJsonObject& report, int width = 900, int height = 600);

} // namespace CurvePlot
