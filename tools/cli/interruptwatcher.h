#pragma once
// Ctrl-C (SIGINT) and SIGTERM as a Qt signal on the main thread, so that a running command
// can stop its worker and finish its output instead of dying half-way. A second signal
// ends the program the ordinary way, should the first not get it to stop.
#include <QObject>

class QSocketNotifier;

class InterruptWatcher : public QObject
{
    Q_OBJECT
public:
    explicit InterruptWatcher(QObject* parent = nullptr);
    ~InterruptWatcher() override;

    // False when the signals could not be caught (they then end the program at once).
    bool isWatching() const { return m_notifier != nullptr; }
    bool wasInterrupted() const { return m_interrupted; }

signals:
    void interrupted();

private:
    void onSignal();

    QSocketNotifier* m_notifier = nullptr;
    bool m_interrupted = false;
};
