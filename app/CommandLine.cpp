#include "app/CommandLine.h"

#include <algorithm>

CommandLine::CommandLine(int argc, char** argv) : m_arguments(argv, argv + argc) {}

bool CommandLine::contains(std::string_view option) const {
    return std::ranges::any_of(m_arguments,
                               [option](const char* argument) { return argument == option; });
}

const char* CommandLine::operandOf(std::string_view option) const {
    const auto at = std::ranges::find_if(
        m_arguments, [option](const char* argument) { return argument == option; });
    if (at == m_arguments.end() || at + 1 == m_arguments.end())
        return nullptr;
    return *(at + 1);
}
