#pragma once
// The terminal host: when no console window runs, `ask` and `input` read
// lines from the standard input and the console's size comes from the
// terminal (80x24 when the output is not one).
namespace kiv::terminal {
// Binds the routines of the `tty` object that the terminal module makes.
void init();
}  // namespace kiv::terminal
