#include "runtime/modules.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <string>

#ifndef KIV_MODULE_BUILD_DIR
#define KIV_MODULE_BUILD_DIR ""
#endif

namespace kiv::modules {

namespace {

std::string executable_dir() {
    char path[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return {};
    std::string p(path, size_t(n));
    size_t slash = p.rfind('/');
    return slash == std::string::npos ? std::string() : p.substr(0, slash);
}

}  // namespace

void* find(const char* name, const char* symbol, const char** why) {
    if (void* own = dlsym(RTLD_DEFAULT, symbol)) return own;
    std::string file = std::string("lib") + name + ".so";
    std::string dir = executable_dir();
    const std::string candidates[] = {dir + "/" + file, dir + "/../lib/kiv/" + file,
                                      std::string(KIV_MODULE_BUILD_DIR) + "/" + file};
    static std::string message;
    message = "module not found: " + file;
    for (const std::string& path : candidates) {
        if (path.front() != '/' || access(path.c_str(), R_OK) != 0) continue;
        void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            const char* e = dlerror();
            message = e ? e : "cannot load " + path;
            continue;
        }
        if (void* s = dlsym(handle, symbol)) return s;
        message = std::string("no ") + symbol + " in " + path;
    }
    if (why) *why = message.c_str();
    return nullptr;
}

library::library(const char* soname)
    : handle_(dlopen(soname, RTLD_NOW | RTLD_LOCAL)), complete_(handle_ != nullptr) {}

void* library::symbol(const char* name) const { return handle_ ? dlsym(handle_, name) : nullptr; }

}  // namespace kiv::modules
