#pragma once

// The one entry of a mode library (libparvel-import.so, libparvel-upload.so,
// libparvel-app.so), found by the `parvel` executable with dlsym after
// dlopen, so that a mode's libraries (Qt, Qt GUI, Qt Quick, libcurl,
// libsecret, ...) are loaded only when that mode runs.
//
// `mode` is one of the names below. `argc`/`argv` are main()'s, for the
// application object; `operand` is the argument after the mode's option,
// byte for byte (null for the application). Returns the process's exit
// status. A library that does not serve `mode` says so on standard error and
// returns 1.
#define PARVEL_MODE_ENTRY "parvel_run_mode"

// The modes, each also the name of its option after "--" (but the
// application, which runs when no option applies).
namespace ModeName {
inline constexpr char importConnection[] = "import-connection";
inline constexpr char upload[] = "upload";
inline constexpr char renderPreviews[] = "render-previews";
inline constexpr char application[] = "application";
} // namespace ModeName

extern "C" {
using ParvelRunMode = int (*)(const char* mode, int* argc, char** argv, const char* operand);
__attribute__((visibility("default"))) int parvel_run_mode(const char* mode, int* argc, char** argv,
                                                           const char* operand);
}
