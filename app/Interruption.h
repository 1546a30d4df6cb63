#pragma once

#include <functional>

// Ctrl-C (SIGINT) and SIGTERM for a command-line mode with work to undo:
// the first one is handed to the event loop, a second one ends the process
// at once with status 1. A signal the process was started with ignored (a
// script's background job) stays ignored.
namespace Interruption {

// Installs the handlers. Call once, before any thread is started, so that
// no thread of a library keeps the default action.
void install();

// Whether a signal has arrived, even one the event loop has not seen yet.
bool requested();

// Calls `onFirst` from the event loop when the first signal has arrived
// (also when it came before this call). Needs the application object.
void onFirstSignal(std::function<void()> onFirst);

} // namespace Interruption
