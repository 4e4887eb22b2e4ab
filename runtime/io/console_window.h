#pragma once
// The console window's routines: the printers that send everything the
// program prints to the window's terminal, and the title of a text console.
namespace kiv::console_window {
// Binds the routine specs that the console window's Kiv module left in
// place (start-up, after the modules ran).
void init();
}  // namespace kiv::console_window
