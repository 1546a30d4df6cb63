#include "app/StandardStreams.h"

#include <csignal>

void ignoreBrokenPipes() {
    ::signal(SIGPIPE, SIG_IGN);
}
