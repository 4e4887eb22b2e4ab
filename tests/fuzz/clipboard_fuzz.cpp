// URI lists as other programs put them on the clipboard: any bytes give
// absolute paths without NUL, and each path written back as a URI reads the same.
#include <cstddef>
#include <cstdint>
#include <string>

#include "view/gtk/clipboard_core.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // In a buffer of its own size, so that an overread shows.
    std::string text(reinterpret_cast<const char*>(data), size);
    for (const std::string& path : kiv::clipboard::paths_of_uri_list(text.data(), text.size())) {
        if (path.empty() || path[0] != '/' || path.find('\0') != std::string::npos) __builtin_trap();
        std::string uri = kiv::clipboard::uri_of_path(path);
        auto back = kiv::clipboard::paths_of_uri_list(uri.data(), uri.size());
        if (back.size() != 1 || back[0] != path) __builtin_trap();
    }
    kiv::clipboard::without_cr(text.data(), text.size());
    return 0;
}
