#pragma once

// The one entry of a mode library (libparvel-import.so, libparvel-modes.so),
// found by the `parvel` executable with dlsym after dlopen, so that a mode's
// libraries (Qt, Qt GUI, libcurl, libsecret, ...) are loaded only when that
// mode runs.
//
// `mode` names the mode: "import-connection", "upload", "render-previews" or
// "application". `argc`/`argv` are main()'s, for the application object;
// `operand` is the argument after the mode's option, byte for byte (null for
// "application"). Returns the process's exit status. A library that does not
// serve `mode` says so on standard error and returns 1.
#define PARVEL_MODE_ENTRY "parvel_run_mode"

extern "C" {
using ParvelRunMode = int (*)(const char* mode, int* argc, char** argv, const char* operand);
__attribute__((visibility("default"))) int parvel_run_mode(const char* mode, int* argc, char** argv,
                                                           const char* operand);
}
