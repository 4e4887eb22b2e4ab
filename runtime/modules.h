#pragma once
// Native modules: parts of the runtime that pull in large libraries (the
// GTK backend) live in shared objects loaded on first use, and system
// libraries used now and then (libcurl, libcrypto) are opened on first use,
// so that start-up does not pay for relocating those libraries.

namespace kiv::modules {

// The address of `symbol` in module `name`: taken from the program itself
// when it links the module's code (tests, tools), otherwise from
// lib<name>.so loaded from beside the executable, from ../lib/kiv beside
// it, or from the build tree. Null when it cannot be had; `why` then tells
// why (a static string or the loader's message).
void* find(const char* name, const char* symbol, const char** why = nullptr);

// A system library opened by its file name (and never closed), whose
// functions are taken by name into a table of pointers. A library that
// cannot be opened, or that lacks one of them, leaves the table incomplete.
class library {
  public:
    explicit library(const char* soname);
    template <class F>
    void take(F*& fn, const char* name) {
        fn = reinterpret_cast<F*>(symbol(name));
        complete_ = complete_ && fn;
    }
    bool complete() const { return complete_; }

  private:
    void* symbol(const char* name) const;
    void* handle_;
    bool complete_;
};

}  // namespace kiv::modules
