#pragma once

// Runs `mode` from the mode library `library` (a file name such as
// "libparvel-modes.so", found beside the executable in the build tree and in
// the executable's RUNPATH once installed) and returns its exit status; 1
// with a message when the library cannot be loaded.
int runLibraryMode(const char* library, const char* mode, int& argc, char** argv,
                   const char* operand);
