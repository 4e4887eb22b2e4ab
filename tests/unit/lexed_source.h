#pragma once
// Kiv text read by the lexer rather than the small test reader, for the
// literals that reader lacks (files, chars, times, braced strings, escapes).
#include <string>

#include "runtime/datatypes/string.h"
#include "tests/unit/natives_setup.h"

namespace kiv::test {

// A script that evaluates the text: the text becomes the string of a global
// word, which `do` scans with the lexer.
inline std::string lexed(const std::string& text) {
    kiv_value source;
    string::load_at(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()), &source, string::UTF8);
    define_word("lexed-source", source);
    return "do lexed-source";
}

}  // namespace kiv::test
