#pragma once
// `characterise`: the engine's characterisation of one SSPD channel (switching and
// retrapping currents, count curve, recommended bias), written as a JSON report, the curve
// as CSV with the sweep files' metadata lines, and a PNG plot, into one directory.
#include "enginerequests.h"

class EngineSession;

struct CharacteriseRequest
{
    QVariantMap engine; // the engine's request map (see DetectorCharacterisation)
    int channel = 0;
    QString outDir;
};

std::optional<CharacteriseRequest> parseCharacterise(const EngineArguments& arguments,
                                                     QString* error);
int characterise(EngineSession& session, const CharacteriseRequest& request);
QString characteriseHelp();
