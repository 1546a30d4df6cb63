#pragma once

#include <QColor>
#include <QStringView>

// An opaque sRGB colour from a hex text such as "#1a1814". Never fails.
// White space and line breaks around the text and one leading "#" are
// dropped; then an unsigned 64-bit hex number is scanned the way a text
// scanner reads one (blanks skipped, an optional "0x", as many digits as
// follow, saturating at the largest value); its low 24 bits are red, green
// and blue. Text that does not begin with hex digits gives black; extra
// digits (an alpha pair, say) shift the value, they are never read as alpha.
QColor parseHexColor(QStringView text);
