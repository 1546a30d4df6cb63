#pragma once

#include <string_view>
#include <vector>

// The process's argument vector, program path included, compared byte for
// byte: no prefixes, no "=", no grouping. Plain C++: the dispatcher runs
// before any Qt library is loaded.
class CommandLine {
public:
    CommandLine(int argc, char** argv);

    bool contains(std::string_view option) const;
    // The argument right after the first occurrence of `option`, whatever it
    // looks like; null when the option is absent or the last argument.
    const char* operandOf(std::string_view option) const;

private:
    std::vector<const char*> m_arguments;
};
