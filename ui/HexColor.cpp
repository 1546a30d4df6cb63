#include "ui/HexColor.h"

#include <limits>

namespace {

int hexDigit(QChar c) {
    if (c >= u'0' && c <= u'9')
        return c.unicode() - u'0';
    if (c >= u'a' && c <= u'f')
        return c.unicode() - u'a' + 10;
    if (c >= u'A' && c <= u'F')
        return c.unicode() - u'A' + 10;
    return -1;
}

quint64 scanHex(QStringView text) {
    text = text.trimmed();
    if (text.size() > 2 && text[0] == u'0' && (text[1] == u'x' || text[1] == u'X') &&
        hexDigit(text[2]) >= 0)
        text = text.mid(2);
    quint64 value = 0;
    bool overflow = false;
    for (const QChar c : text) {
        const int digit = hexDigit(c);
        if (digit < 0)
            break;
        if (value > (std::numeric_limits<quint64>::max() >> 4))
            overflow = true;
        value = (value << 4) | quint64(digit);
    }
    return overflow ? std::numeric_limits<quint64>::max() : value;
}

} // namespace

QColor parseHexColor(QStringView text) {
    QStringView rest = text.trimmed();
    if (rest.startsWith(u'#'))
        rest = rest.mid(1);
    const quint64 value = scanHex(rest);
    return QColor::fromRgb(int((value >> 16) & 0xff), int((value >> 8) & 0xff), int(value & 0xff));
}
