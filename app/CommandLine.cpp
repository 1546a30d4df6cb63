#include "app/CommandLine.h"

CommandLine::CommandLine(int argc, char** argv) {
    for (int i = 0; i < argc; ++i)
        m_arguments.append(QByteArray(argv[i]));
}

bool CommandLine::contains(const char* option) const {
    return m_arguments.contains(QByteArray(option));
}

std::optional<QByteArray> CommandLine::operandOf(const char* option) const {
    const qsizetype at = m_arguments.indexOf(QByteArray(option));
    if (at < 0 || at + 1 >= m_arguments.size())
        return std::nullopt;
    return m_arguments.at(at + 1);
}
