#include "view/gtk/clipboard_core.h"

#include <cstring>

namespace kiv::clipboard {

namespace {

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool starts_with_nocase(const std::string& s, const char* prefix) {
    size_t n = std::strlen(prefix);
    if (s.size() < n) return false;
    for (size_t i = 0; i < n; i++) {
        char c = s[i];
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
        if (c != prefix[i]) return false;
    }
    return true;
}

// The path of one URI line, or "" when it names no local file.
std::string path_of_uri(const std::string& uri) {
    if (!starts_with_nocase(uri, "file:")) return "";
    std::string rest = uri.substr(5);
    if (rest.compare(0, 2, "//") == 0) {
        size_t slash = rest.find('/', 2);
        if (slash == std::string::npos) return "";
        std::string host = rest.substr(2, slash - 2);
        if (!host.empty() && !(host.size() == 9 && starts_with_nocase(host, "localhost"))) return "";
        rest = rest.substr(slash);
    }
    if (rest.empty() || rest[0] != '/') return "";
    std::string path;
    for (size_t i = 0; i < rest.size(); i++) {
        char c = rest[i];
        if (c == '?' || c == '#') break;  // a query or fragment names no file
        int hi, lo;
        if (c == '%' && i + 2 < rest.size() && (hi = hex_digit(rest[i + 1])) >= 0 &&
            (lo = hex_digit(rest[i + 2])) >= 0) {
            c = char(hi * 16 + lo);
            i += 2;
        }
        if (c == '\0') return "";
        if (c == '/' && !path.empty() && path.back() == '/') continue;
        path += c;
    }
    return path;
}

}  // namespace

std::vector<std::string> paths_of_uri_list(const char* text, size_t size) {
    std::vector<std::string> out;
    size_t pos = 0;
    while (pos < size) {
        size_t end = pos;
        while (end < size && text[end] != '\n') end++;
        std::string line(text + pos, end - pos);
        pos = end + 1;
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
            line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        std::string path = path_of_uri(line);
        if (!path.empty()) out.push_back(path);
    }
    return out;
}

std::string uri_of_path(const std::string& path) {
    static const char* HEX = "0123456789ABCDEF";
    std::string out = "file://";
    for (unsigned char c : path) {
        bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                     c == '.' || c == '_' || c == '~' || c == '/';
        if (plain) {
            out += char(c);
        } else {
            out += '%';
            out += HEX[c >> 4];
            out += HEX[c & 15];
        }
    }
    return out;
}

std::string without_cr(const char* text, size_t size) {
    std::string out;
    out.reserve(size);
    for (size_t i = 0; i < size; i++)
        if (text[i] != '\r') out += text[i];
    return out;
}

}  // namespace kiv::clipboard
