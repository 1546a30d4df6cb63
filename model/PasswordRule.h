#pragma once

#include <QString>

// The one rule for a file's password, wherever one is typed (the popover's
// upload card, the settings' access sheet): 4 to 256 user-perceived
// characters.
namespace PasswordRule {

inline constexpr qsizetype minimumLength = 4;
inline constexpr qsizetype maximumLength = 256;

// User-perceived characters (grapheme clusters), as a person counts them:
// "é" typed as e + combining accent is one, a flag is one.
qsizetype graphemeCount(const QString& text);

bool accepts(const QString& password);

} // namespace PasswordRule
