// Curses for the terminal backend's own sources; never included by a header.
#pragma once

// Curses' function-like macros (erase, move, clear, ...) would clash with member calls of
// the standard library: use the real functions only.
#define NCURSES_NOMACROS
#include <curses.h>
