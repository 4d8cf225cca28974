#pragma once
// What every simulated module shares: the time it lives in and its source of noise. Tests
// use a manual clock and a fixed seed so that the physics is repeatable.
#include <QElapsedTimer>
#include <QObject>
#include <QRandomGenerator>

class SimEnvironment : public QObject
{
    Q_OBJECT
public:
    explicit SimEnvironment(quint32 seed = 1, QObject* parent = nullptr);

    // Milliseconds since the environment was made (or as set by a test).
    qint64 nowMs() const;
    double nowSeconds() const { return nowMs() / 1000.0; }

    // Tests take the clock in hand: from then on time moves only through advance().
    void useManualClock(qint64 startMs = 0);
    void advance(qint64 ms);

    QRandomGenerator& random() { return m_random; }
    // A Poisson draw of the given mean (Knuth below 30, normal approximation above).
    quint32 poisson(double mean);
    // A normal draw.
    double gaussian(double mean, double sigma);

private:
    QElapsedTimer m_elapsed;
    bool m_manual = false;
    qint64 m_manualMs = 0;
    QRandomGenerator m_random;
};
