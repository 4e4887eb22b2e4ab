#pragma once
// The routines bound to global words: process exit, quiet setters, bit
// shifts, the current directory, directories and files, argument-stack
// inspection, the tracer flag, standard output and the command line.
namespace kiv::routines {
// Turns each global word that holds a routine's spec into that routine.
void init();
}  // namespace kiv::routines
