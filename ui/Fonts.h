#pragma once

// Registers the Geist faces (regular, medium and semibold; Geist Mono regular
// and medium) from the resources for this process. Call once a
// QGuiApplication exists and before any view is built; a font that is
// missing or cannot be read is skipped without a word (the type styles then
// fall back to what the system offers).
void registerApplicationFonts();
