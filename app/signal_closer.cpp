#include "signal_closer.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace corvex::app {

namespace {

constexpr int kSignals[] = {SIGTERM, SIGHUP, SIGINT};
// The pipe's write end for the handler. Written once before the handlers are installed and
// reset after they are removed, so the handler never sees it change.
volatile sig_atomic_t g_writeFd = -1;

extern "C" void onSignal(int number) {
    const int savedErrno = errno;
    const auto byte = static_cast<unsigned char>(number);
    // A full pipe drops the byte: enough of them are already waiting to close the window.
    [[maybe_unused]] const ssize_t written = ::write(g_writeFd, &byte, 1);
    errno = savedErrno;
}

} // namespace

SignalCloser::SignalCloser(QObject* parent) : QObject(parent) {
    if (::pipe2(m_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        return; // the program runs without; the window's Exit still works
    }
    g_writeFd = m_pipe[1];
    m_notifier = new QSocketNotifier(m_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &SignalCloser::readSignals);
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int number : kSignals) {
        ::sigaction(number, &action, nullptr);
    }
}

SignalCloser::~SignalCloser() {
    if (m_pipe[0] < 0) {
        return;
    }
    struct sigaction action = {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (const int number : kSignals) {
        ::sigaction(number, &action, nullptr);
    }
    g_writeFd = -1;
    delete m_notifier;
    ::close(m_pipe[0]);
    ::close(m_pipe[1]);
}

void SignalCloser::readSignals() {
    unsigned char byte = 0;
    while (::read(m_pipe[0], &byte, 1) == 1) {
        emit closeRequested(byte);
    }
}

} // namespace corvex::app
