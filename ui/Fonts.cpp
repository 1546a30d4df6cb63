#include "ui/Fonts.h"

#include <QFontDatabase>

void registerApplicationFonts() {
    for (const auto* name : {u"Geist-Regular", u"GeistMono-Regular"})
        QFontDatabase::addApplicationFont(u":/parvel/" + QStringView(name) + u".ttf");
}
