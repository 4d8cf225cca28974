#pragma once
// One look at a sweep's parameter map: where the sweep starts, ends and stands, how far it
// has come and where it goes next. Computed afresh from the map whenever a step needs it.
#include <QString>
#include <QVariantMap>

class SweepParameters
{
public:
    // Steps from "from" to "to" (bins of a histogram) beyond this would run for days or
    // exhaust the screen's memory: such a sweep does not start.
    static constexpr double MaxSteps = 100000;

    SweepParameters() = default;
    explicit SweepParameters(const QVariantMap& map);

    double from() const { return m_from; }
    double to() const { return m_to; }
    double step() const { return m_step; }
    double current() const { return m_current; }
    double trigger() const { return m_trigger; }
    bool hasTrigger() const { return m_hasTrigger; }
    double timeConstant() const { return m_timeConstant; }
    bool hasTimeConstant() const { return m_hasTimeConstant; }
    // The time constant in whole milliseconds, to the nearest; -1 without a usable one.
    int timeConstantMs() const;

    // Percent of the way from "from" to "to"; above 100 once the sweep has gone past "to".
    // A sweep whose end is its start is a single point and stands at 100.
    double progress() const;
    // The position after this one, towards "to".
    double next() const;
    bool finished() const;

    // Empty when the parameters lead a stepped sweep to its end in at most MaxSteps steps;
    // otherwise why they do not.
    QString problem() const;

private:
    double m_from = 0.0;
    double m_to = 0.0;
    double m_step = 0.0;
    double m_current = 0.0;
    double m_trigger = 0.0;
    bool m_hasTrigger = false;
    double m_timeConstant = 0.0;
    bool m_hasTimeConstant = false;
};
