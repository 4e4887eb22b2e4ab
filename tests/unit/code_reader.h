#pragma once
// A small reader of Kiv text for tests and benchmarks, so that cases can be
// written as code until the lexer joins: blocks, parens, strings, integers,
// floats, the word kinds, refinements, issues, paths (of words, get-words
// and integers) and ";" comments. Words are bound in the global context.
#include <cctype>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/memory.h"

namespace kiv::test {

class code_reader {
  public:
    explicit code_reader(const std::string& text) : text_(text) {}

    // The whole text as a block.
    kiv_value read_all() {
        kiv_value blk = new_block(TYPE_BLOCK);
        read_into(blk, 0);
        return blk;
    }

  private:
    const std::string& text_;
    size_t at_ = 0;

    static bool delimiter_q(char c) {
        return std::isspace(static_cast<unsigned char>(c)) || c == '[' || c == ']' || c == '(' || c == ')' ||
               c == '"' || c == ';';
    }

    static kiv_value new_block(uint32_t type) {
        kiv_value b{type, 0, memory::alloc_cells(4), 0};
        return b;
    }

    static void append(const kiv_value& blk, const kiv_value& v) { *block::alloc_tail(&blk) = v; }

    // Reads values until the closing character (0: the end of the text).
    void read_into(const kiv_value& blk, char close) {
        bool new_line = false;
        while (at_ < text_.size()) {
            char c = text_[at_];
            if (c == '\n') new_line = true;
            if (std::isspace(static_cast<unsigned char>(c))) {
                at_++;
                continue;
            }
            if (c == ';') {
                while (at_ < text_.size() && text_[at_] != '\n') at_++;
                continue;
            }
            if (c == ']' || c == ')') {
                if (c != close) throw std::runtime_error("unbalanced " + std::string(1, c));
                at_++;
                return;
            }
            kiv_value v = read_value();
            if (new_line) v.header |= FLAG_NEW_LINE;
            new_line = false;
            append(blk, v);
        }
        if (close) throw std::runtime_error("missing " + std::string(1, close));
    }

    kiv_value read_value() {
        char c = text_[at_];
        if (c == '[' || c == '(') {
            at_++;
            kiv_value b = new_block(c == '[' ? TYPE_BLOCK : TYPE_PAREN);
            read_into(b, c == '[' ? ']' : ')');
            return b;
        }
        if (c == '"') return read_string();
        size_t start = at_;
        while (at_ < text_.size() && !delimiter_q(text_[at_])) at_++;
        return token(text_.substr(start, at_ - start));
    }

    kiv_value read_string() {
        std::string s;
        at_++;
        while (at_ < text_.size() && text_[at_] != '"') {
            if (text_[at_] == '^' && at_ + 1 < text_.size()) at_++;
            s += text_[at_++];
        }
        if (at_ >= text_.size()) throw std::runtime_error("unterminated string");
        at_++;
        kiv_value v;
        string::make_at(&v, int32_t(s.size()) + 1);
        string::concatenate_literal(&v, s.c_str());
        return v;
    }

    static bool number_q(const std::string& t) {
        size_t i = (t[0] == '-' || t[0] == '+') ? 1 : 0;
        return i < t.size() && std::isdigit(static_cast<unsigned char>(t[i]));
    }

    static kiv_value word_value(const std::string& name, uint32_t type) {
        kiv_value w = *word::load(name.c_str());
        w.header = type;
        return w;
    }

    static kiv_value token(const std::string& t) {
        if (number_q(t)) {
            kiv_value v;
            if (t.find_first_of(".eE") == std::string::npos) integer::make_at(&v, int32_t(std::strtol(t.c_str(), nullptr, 10)));
            else float_::make_at(&v, std::strtod(t.c_str(), nullptr));
            return v;
        }
        // The divide and remainder operators' words.
        if (t == "/" || t == "//") return word_value(t, TYPE_WORD);
        if (t == "/:" || t == "//:") return word_value(t.substr(0, t.size() - 1), TYPE_SET_WORD);
        if (t.size() > 1 && t[0] == '/') return word_value(t.substr(1), TYPE_REFINEMENT);
        if (t.size() > 1 && t[0] == '#') {
            kiv_value v;
            issue::make_at(&v, t.substr(1).c_str());
            return v;
        }
        size_t slash = t.find('/', 1);
        if (t.size() > 1 && slash != std::string::npos) return path(t);
        if (t.size() > 1 && t[0] == '\'') return word_value(t.substr(1), TYPE_LIT_WORD);
        if (t.size() > 1 && t[0] == ':') return word_value(t.substr(1), TYPE_GET_WORD);
        if (t.size() > 1 && t.back() == ':') return word_value(t.substr(0, t.size() - 1), TYPE_SET_WORD);
        return word_value(t, TYPE_WORD);
    }

    static kiv_value path(std::string t) {
        uint32_t type = TYPE_PATH;
        if (t[0] == '\'') type = TYPE_LIT_PATH, t = t.substr(1);
        else if (t[0] == ':') type = TYPE_GET_PATH, t = t.substr(1);
        else if (t.back() == ':') type = TYPE_SET_PATH, t.pop_back();
        kiv_value p = new_block(type);
        size_t from = 0;
        for (;;) {
            size_t slash = t.find('/', from);
            append(p, token(t.substr(from, slash - from)));
            if (slash == std::string::npos) break;
            from = slash + 1;
        }
        return p;
    }
};

// The block of a text.
inline kiv_value read_code(const std::string& text) { return code_reader(text).read_all(); }

}  // namespace kiv::test
