#pragma once
// Turns SIGTERM and SIGINT into a Qt signal on the event loop: the handler only writes the
// signal number into a pipe, which the event loop reads.

#include <QObject>

class QSocketNotifier;

class UnixSignalWatcher : public QObject {
    Q_OBJECT
public:
    explicit UnixSignalWatcher(QObject* parent = nullptr);
    ~UnixSignalWatcher() override;

    // False when the pipe could not be made (the signals then end the process as usual).
    bool isWatching() const { return m_notifier != nullptr; }

signals:
    void terminationRequested(int signalNumber);

private:
    void readSignals();

    QSocketNotifier* m_notifier = nullptr;
};
