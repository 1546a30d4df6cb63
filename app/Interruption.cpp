#include "app/Interruption.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace Interruption {

namespace {

std::atomic<int> received{0};
int pipeEnds[2] = {-1, -1}; // the handler writes one byte, the event loop reads it

void handle(int) {
    if (received.fetch_add(1) > 0)
        ::_exit(1);
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(pipeEnds[1], &byte, 1);
    errno = saved;
}

} // namespace

void install() {
    if (::pipe2(pipeEnds, O_CLOEXEC | O_NONBLOCK) != 0)
        return; // then the signals keep their default action
    sigset_t ours;
    sigemptyset(&ours);
    for (const int number : {SIGINT, SIGTERM}) {
        struct sigaction current {};
        if (::sigaction(number, nullptr, &current) == 0 && current.sa_handler == SIG_IGN)
            continue;
        struct sigaction action {};
        action.sa_handler = handle;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        ::sigaction(number, &action, nullptr);
        sigaddset(&ours, number);
    }
    // A signal blocked by whoever started us would otherwise wait forever.
    ::sigprocmask(SIG_UNBLOCK, &ours, nullptr);
}

bool requested() {
    return received.load() > 0;
}

void onFirstSignal(std::function<void()> onFirst) {
    if (pipeEnds[0] < 0)
        return;
    auto* notifier =
        new QSocketNotifier(pipeEnds[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier,
                     [notifier, onFirst = std::move(onFirst)] {
                         char byte = 0;
                         while (::read(pipeEnds[0], &byte, 1) > 0) {
                         }
                         notifier->setEnabled(false); // only the first one counts
                         onFirst();
                     });
}

} // namespace Interruption
