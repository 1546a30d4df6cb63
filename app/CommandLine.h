#pragma once

#include <QByteArray>
#include <QByteArrayList>

#include <optional>

// The process's argument vector, program path included, compared byte for
// byte: no prefixes, no "=", no grouping.
class CommandLine {
public:
    CommandLine(int argc, char** argv);

    bool contains(const char* option) const;
    // The argument right after the first occurrence of `option`, whatever it
    // looks like; none when the option is absent or the last argument.
    std::optional<QByteArray> operandOf(const char* option) const;

private:
    QByteArrayList m_arguments;
};
