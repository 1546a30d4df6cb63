#include "ui/Fonts.h"

#include <QFontDatabase>

void registerApplicationFonts() {
    // The regular faces and the heavier ones the type styles ask for
    // (titles, section heads, button labels): with the regular face alone,
    // every weight was drawn as regular.
    for (const char* name : {"Geist-Regular", "Geist-Medium", "Geist-SemiBold", "GeistMono-Regular",
                             "GeistMono-Medium"})
        QFontDatabase::addApplicationFont(
            QStringLiteral(":/parvel/%1.ttf").arg(QLatin1String(name)));
}
