#pragma once

// `parvel --json`: the local file index byte for byte, or "[]" and a
// newline when there is none. Never parses it; always status 0. Needs no
// application object.
int runIndexMode();
