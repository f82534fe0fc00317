#pragma once

#include <QObject>
#include <QSocketNotifier>

namespace corvex::app {

// Turns SIGTERM, SIGHUP and SIGINT into closeRequested() on the window's thread, so a signal
// ends the program as Flash > Exit does (settings and log book written, a running job broken
// first) but without a question. The handler only writes the signal number into a pipe
// (async-signal-safe); the notifier reads it on whichever event loop runs, a box's among them.
// One per process.
class SignalCloser : public QObject {
    Q_OBJECT
public:
    explicit SignalCloser(QObject* parent = nullptr);
    ~SignalCloser() override;
    SignalCloser(const SignalCloser&) = delete;
    SignalCloser& operator=(const SignalCloser&) = delete;

signals:
    void closeRequested(int signalNumber);

private:
    void readSignals();

    int m_pipe[2] = {-1, -1};
    QSocketNotifier* m_notifier = nullptr;
};

} // namespace corvex::app
