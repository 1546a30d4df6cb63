#include "model/PasswordRule.h"

#include <QTextBoundaryFinder>

namespace PasswordRule {

qsizetype graphemeCount(const QString& text) {
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype count = 0;
    while (finder.toNextBoundary() != -1)
        ++count;
    return count;
}

bool accepts(const QString& password) {
    const qsizetype length = graphemeCount(password);
    return length >= minimumLength && length <= maximumLength;
}

} // namespace PasswordRule
