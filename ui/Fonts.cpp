#include "ui/Fonts.h"

#include <QFontDatabase>

void registerApplicationFonts() {
    for (const char* name : {"Geist-Regular", "GeistMono-Regular"})
        QFontDatabase::addApplicationFont(
            QStringLiteral(":/parvel/%1.ttf").arg(QLatin1String(name)));
}
