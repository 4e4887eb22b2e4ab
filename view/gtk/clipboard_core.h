#pragma once
// The clipboard's text formats, apart from the toolkit: lists of files as
// the URI lists other programs exchange, and text as Kiv reads it.
#include <cstddef>
#include <string>
#include <vector>

namespace kiv::clipboard {

// The local paths named by a text/uri-list: one URI a line (CR LF or LF),
// lines starting with "#" are comments. Only file: URIs of this machine
// (no host or "localhost") count; their percent escapes are decoded and
// doubled "/" folded. A path that is not absolute or that would hold a NUL
// byte is skipped.
std::vector<std::string> paths_of_uri_list(const char* text, size_t size);

// The file: URI of an absolute path: every byte but the unreserved ones
// and "/" percent-encoded.
std::string uri_of_path(const std::string& path);

// Text with every CR dropped.
std::string without_cr(const char* text, size_t size);

}  // namespace kiv::clipboard
