#pragma once
// Native modules: parts of the runtime that pull in large libraries (the
// GTK backend) live in shared objects loaded on first use, so that start-up
// does not pay for relocating those libraries.

namespace kiv::modules {

// The address of `symbol` in module `name`: taken from the program itself
// when it links the module's code (tests, tools), otherwise from
// lib<name>.so loaded from beside the executable, from ../lib/kiv beside
// it, or from the build tree. Null when it cannot be had; `why` then tells
// why (a static string or the loader's message).
void* find(const char* name, const char* symbol, const char** why = nullptr);

}  // namespace kiv::modules
