#pragma once

// Writing to standard output and standard error in plain C++, shared by the
// dispatcher and the modes (app/OutputStreams.h is the Qt face).

#include "platform/Descriptors.h"

// A reader that went away (`parvel --json | true`) must not kill a
// command-line mode with SIGPIPE: the write then fails and the mode says so
// with its status.
void ignoreBrokenPipes();
