#pragma once

// `parvel --json`: the local file index byte for byte, or "[]" and a
// newline when there is none or it cannot be read (see readRegularFile).
// Never parses it. Status 0, or 1 when standard output cannot take it.
// Plain C++ with no Qt, so that printing the index costs about what `cat`
// does.
int runIndexMode();
