// The JSON reader: a single pass over the units of the text with an explicit
// stack of open containers, building blocks, maps, strings, numbers, logic
// values and none exactly as the grammar's actions do. Values wait on a value
// stack of the reader's own (marked by a collector callback) until their
// container closes, which then gets exactly their number of cells.
#include "library/json_reader.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "runtime/boot.h"
#include "runtime/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/evaluator/interpreter.h"
#include "runtime/evaluator/tokenizer.h"
#include "runtime/float_text.h"
#include "runtime/memory.h"
#include "runtime/stack.h"

namespace kiv::json_reader {

namespace {

// Open containers beyond which the grammar decides: its rule stack ends
// nesting at 550 levels at the earliest (an object's second member per
// level), so 400 leaves a wide margin.
constexpr size_t DEPTH_LIMIT = 400;

inline bool digit_q(uint32_t c) { return c - '0' < 10; }
inline bool blank_q(uint32_t c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

inline int32_t hex_digit(uint32_t c) {
    if (c - '0' < 10) return int32_t(c - '0');
    if ((c | 0x20) - 'a' < 6) return int32_t((c | 0x20) - 'a' + 10);
    return -1;
}

// A new string of n code points whose largest is `largest`, in the
// narrowest unit that holds them (1-byte buffers hold ASCII only).
template <typename U>
kiv_value make_text(const U* units, size_t n, uint32_t largest) {
    uint32_t unit = largest < 0x80 ? 1 : largest < 0x10000 ? 2 : 4;
    kiv_value s;
    string::make_at_unit(&s, uint32_t(n), unit);
    series_buffer* b = series::buffer(s.data2);
    if (unit == sizeof(U)) {
        if (n > 0) std::memcpy(b->offset, units, n * unit);
    } else {
        for (size_t i = 0; i < n; i++) string::put_char(b->offset + i * unit, unit, units[i]);
    }
    b->tail = b->offset + n * unit;
    return s;
}

struct container {
    size_t first;  // its first value on the value stack
    bool object;
    bool fresh;    // nothing read since it opened
};

// The value stacks of the readers at work, and the word cells of the member
// names they met; the collector marks both.
std::vector<std::vector<kiv_value>*> active;

void mark_active() {
    for (std::vector<kiv_value>* values : active) collector::mark_values(values->data(), values->data() + values->size());
}

class marked_values {
public:
    marked_values() {
        static const bool registered = (collector::add_mark_callback(mark_active), true);
        (void)registered;
        active.push_back(&values);
    }
    ~marked_values() { active.pop_back(); }
    marked_values(const marked_values&) = delete;
    marked_values& operator=(const marked_values&) = delete;
    std::vector<kiv_value> values;
};

template <typename T>
class reader {
public:
    reader(const T* text, size_t size, const kiv_value* arguments)
        : head_(text), p_(text), end_(text + size), arguments_(arguments) {
        open_.push_back({0, false, false});
    }

    // True with the value in result; false when the text is left to the
    // grammar.
    bool run(kiv_value* result) {
        if (!read_all()) return false;
        *result = stack_.values.back();
        return true;
    }

private:
    bool read_all() {
        skip_blanks();
        if (!begin_value()) return false;
        for (;;) {
            skip_blanks();
            if (open_.size() == 1) return p_ == end_;
            container& c = open_.back();
            T closer = c.object ? '}' : ']';
            if (c.fresh) {
                c.fresh = false;
                if (p_ < end_ && *p_ == closer) {
                    p_++;
                    close();
                    continue;
                }
            } else if (p_ < end_ && *p_ == ',') {
                p_++;
                skip_blanks();
            } else if (p_ < end_ && *p_ == closer) {
                p_++;
                close();
                continue;
            } else {
                return false;
            }
            if (c.object && !member_name()) return false;
            if (!begin_value()) return false;
        }
    }

    // The text is read in place: a pointer into its buffer held on the
    // native stack keeps collections from moving it.
    const T* volatile head_;
    const T* p_;
    const T* end_;
    const kiv_value* arguments_;  // the routine's: input, out, name-of
    std::vector<container> open_;
    marked_values stack_;
    std::vector<uint32_t> text_;  // the code points of the last string read
    uint32_t largest_ = 0;
    // Member names by text: the index of the word name-of made of them in
    // words_, or -1 for a name that stays a string.
    std::unordered_map<std::string, int32_t> names_;
    marked_values words_;
    std::string key_;

    void skip_blanks() {
        while (p_ < end_ && blank_q(*p_)) p_++;
    }

    void emit(const kiv_value& v) { stack_.values.push_back(v); }

    bool literal(const char* word, const kiv_value& v) {
        for (const char* w = word; *w; w++, p_++)
            if (p_ >= end_ || *p_ != T(*w)) return false;
        emit(v);
        return true;
    }

    // A scalar is emitted; a container is opened, and completes as it closes.
    bool begin_value() {
        if (p_ >= end_) return false;
        switch (*p_) {
            case 't': return literal("true", true_value);
            case 'f': return literal("false", false_value);
            case 'n': return literal("null", none_value);
            case '[':
            case '{': {
                if (open_.size() > DEPTH_LIMIT) return false;
                open_.push_back({stack_.values.size(), *p_ == '{', true});
                p_++;
                return true;
            }
            case '"': {
                p_++;
                kiv_value s;
                if (!read_string(&s)) return false;
                emit(s);
                return true;
            }
            default: {
                kiv_value n;
                if (!read_number(&n)) return false;
                emit(n);
                return true;
            }
        }
    }

    // The values of the closing container become a block, or the members
    // of an object a map (as make map! makes it of a block), which takes
    // their place on the value stack.
    void close() {
        container c = open_.back();
        open_.pop_back();
        std::vector<kiv_value>& values = stack_.values;
        size_t n = values.size() - c.first;
        kiv_value made = none_value;
        if (c.object) {
            map::make_at(&made, uint32_t(n / 2));
            for (size_t i = c.first; i < values.size(); i += 2) {
                kiv_value key = values[i], value = values[i + 1];
                value.header &= ~FLAG_NEW_LINE;
                map::set_key(&made, &key, &value, false, nullptr);
            }
        } else {
            block::make_at(&made, int32_t(n));
            series_buffer* b = series::buffer(made.data2);
            if (n > 0) std::memcpy(b->offset, values.data() + c.first, n * sizeof(kiv_value));
            b->tail = b->offset + n * sizeof(kiv_value);
        }
        values.resize(c.first);
        values.push_back(made);
    }

    // A member name, its blanks and colon; the name is emitted as name-of
    // makes it, asked once per distinct text. A name without escapes is
    // keyed by its units as they stand, a decoded one by its code points in
    // the text's unit when they fit, else in 4 bytes each: no plainly
    // written name has those bytes, as its control characters would be
    // refused.
    bool member_name() {
        if (p_ >= end_ || *p_ != '"') return false;
        p_++;
        const T* start = p_;
        uint32_t largest = 0;
        const T* stop = plain_end(start, &largest);
        bool plain = stop < end_ && *stop == '"';
        if (plain) {
            key_.assign(reinterpret_cast<const char*>(start), size_t(stop - start) * sizeof(T));
            p_ = stop + 1;
        } else {
            if (!decode_string()) return false;
            key_.clear();
            if (largest_ <= T(~T(0))) {
                for (uint32_t c : text_) {
                    T unit = T(c);
                    key_.append(reinterpret_cast<const char*>(&unit), sizeof unit);
                }
            } else {
                key_.append(reinterpret_cast<const char*>(text_.data()), text_.size() * sizeof(uint32_t));
            }
        }
        skip_blanks();
        if (p_ >= end_ || *p_ != ':') return false;
        p_++;
        skip_blanks();
        auto found = names_.find(key_);
        if (found != names_.end() && found->second >= 0) {
            emit(words_.values[size_t(found->second)]);
            return true;
        }
        kiv_value name = plain ? make_text(start, size_t(stop - start), largest)
                               : make_text(text_.data(), text_.size(), largest_);
        if (found == names_.end()) {
            static const kiv_value frame_name{TYPE_WORD, 0, uint32_t(symbol::make("name-of")), uint32_t(-1)};
            kiv_value fn = arguments_[2];
            kiv_value made = interpreter::call_back({&fn, &frame_name, &name, 1, interpreter::CB_NONE});
            if (interpreter::exit_pending_q()) return false;
            int32_t index = -1;
            if (any_word_q(type_of(&made))) {
                index = int32_t(words_.values.size());
                words_.values.push_back(made);
                name = made;
            }
            names_.emplace(key_, index);
        }
        emit(name);
        return true;
    }

    // A string literal after its opening quote. A run without escapes is
    // copied as it stands.
    bool read_string(kiv_value* out) {
        uint32_t largest = 0;
        const T* stop = plain_end(p_, &largest);
        if (stop < end_ && *stop == '"') {
            *out = make_text(p_, size_t(stop - p_), largest);
            p_ = stop + 1;
            return true;
        }
        if (!decode_string()) return false;
        *out = make_text(text_.data(), text_.size(), largest_);
        return true;
    }

    // The end of the run of units from q that stand for themselves in a
    // string literal, and the largest of them.
    const T* plain_end(const T* q, uint32_t* largest) const {
        uint32_t top = 0;
        for (; q < end_; q++) {
            uint32_t c = *q;
            if (c == '"' || c == '\\' || c < 0x20) break;
            if (c > top) top = c;
        }
        *largest = top;
        return q;
    }

    // The code points of a string literal up to its closing quote, escapes
    // decoded. A high surrogate escape not followed by a low one is left to
    // the grammar, whose unescaping raises the error.
    bool decode_string() {
        text_.clear();
        largest_ = 0;
        for (;;) {
            if (p_ >= end_) return false;
            uint32_t c = *p_++;
            if (c == '"') return true;
            if (c < 0x20) return false;
            if (c == '\\') {
                if (p_ >= end_) return false;
                switch (*p_++) {
                    case '"': c = '"'; break;
                    case '\\': c = '\\'; break;
                    case '/': c = '/'; break;
                    case 'b': c = 8; break;
                    case 'f': c = 12; break;
                    case 'n': c = 10; break;
                    case 'r': c = 13; break;
                    case 't': c = 9; break;
                    case 'u': {
                        int32_t v = hex4(p_);
                        if (v < 0) return false;
                        p_ += 4;
                        c = uint32_t(v);
                        if (c >= 0xD800 && c <= 0xDBFF) {
                            if (end_ - p_ < 6 || p_[0] != '\\' || p_[1] != 'u') return false;
                            int32_t low = hex4(p_ + 2);
                            if (low < 0xDC00 || low > 0xDFFF) return false;
                            p_ += 6;
                            c = 0x10000 + ((c - 0xD800) << 10) + (uint32_t(low) - 0xDC00);
                        }
                        break;
                    }
                    default: return false;
                }
            }
            if (c > largest_) largest_ = c;
            text_.push_back(c);
        }
    }

    // The value of 4 hex digits at q, -1 when they are not there.
    int32_t hex4(const T* q) const {
        if (end_ - q < 4) return -1;
        int32_t v = 0;
        for (int i = 0; i < 4; i++) {
            int32_t d = hex_digit(q[i]);
            if (d < 0) return -1;
            v = v * 16 + d;
        }
        return v;
    }

    // A number as the lexer loads its text: an integer within 32 bits, a
    // float otherwise. Text the lexer would refuse is left to the grammar.
    bool read_number(kiv_value* out) {
        const T* start = p_;
        bool negative = p_ < end_ && *p_ == '-';
        if (negative) p_++;
        if (p_ >= end_ || !digit_q(*p_)) return false;
        if (*p_ == '0') p_++;
        else
            while (p_ < end_ && digit_q(*p_)) p_++;
        const T* int_end = p_;
        if (p_ + 1 < end_ && *p_ == '.' && digit_q(p_[1])) {
            p_ += 2;
            while (p_ < end_ && digit_q(*p_)) p_++;
        }
        if (p_ < end_ && (*p_ == 'e' || *p_ == 'E')) {
            const T* q = p_ + 1;
            if (q < end_ && (*q == '+' || *q == '-')) q++;
            if (q < end_ && digit_q(*q)) {
                p_ = q;
                while (p_ < end_ && digit_q(*p_)) p_++;
            }
        }
        size_t n = size_t(p_ - start);
        if (int_end == p_) {
            size_t digits = n - negative;
            if (digits <= 10) {
                uint64_t magnitude = 0;
                for (const T* q = start + negative; q < p_; q++) magnitude = magnitude * 10 + (*q - '0');
                if (magnitude <= uint64_t(INT32_MAX) + negative) {
                    *out = kiv_value{TYPE_INTEGER, 0, uint32_t(negative ? -int64_t(magnitude) : int64_t(magnitude)), 0};
                    return true;
                }
            }
        }
        if (n > tokenizer::FLOAT_TEXT_MAX) return false;
        char text[tokenizer::FLOAT_TEXT_MAX];
        for (size_t i = 0; i < n; i++) text[i] = char(start[i]);
        if (!tokenizer::float_syntax_q(text, uint32_t(n))) return false;
        int unconsumed = 0;
        double d = dtoa::from_text(text, text + n, 0, &unconsumed);
        if (unconsumed != 0) return false;
        float_::make_at(out, d);
        return true;
    }
};

template <typename T>
bool read_units(const uint8_t* head, uint32_t length, kiv_value* result) {
    reader<T> r(reinterpret_cast<const T*>(head), length, stack::arguments);
    return r.run(result);
}

// Everything the reader allocates stays in the result, so collecting while
// it reads would only mark the growing result again and again; the cycles
// wait until it is done, except in stress mode, which tests that the
// reader keeps what it builds across them.
class collections_wait {
public:
    collections_wait() : saved_(collector::active_q) {
        if (!collector::stress_q()) collector::active_q = false;
    }
    ~collections_wait() { collector::active_q = saved_; }
    collections_wait(const collections_wait&) = delete;
    collections_wait& operator=(const collections_wait&) = delete;

private:
    bool saved_;
};

// read-document input out name-of: true with the value appended to out, or
// false when the grammar is to read the text.
void read_document() {
    collections_wait wait;
    kiv_value input = stack::arguments[0];
    uint32_t unit = unit_of(string::buffer_of(&input));
    uint32_t length = string::ks_length_q(&input);
    const uint8_t* head = string::ks_head(&input);
    kiv_value result = none_value;
    bool done = false;
    switch (unit) {
        case 1: done = read_units<uint8_t>(head, length, &result); break;
        case 2: done = read_units<uint16_t>(head, length, &result); break;
        case 4: done = read_units<uint32_t>(head, length, &result); break;
        default: string::bad_unit();
    }
    if (done) *block::alloc_tail(stack::arguments + 1) = result;
    logic::box(done);
}

}  // namespace

void bind() {
    kiv_value* parser = boot::field(boot::field(boot::system_object(), "words"), "json-parser");
    if (type_of(parser) != TYPE_OBJECT) return;
    kiv_value obj = *parser;
    boot::bind_routine(&obj, "read-document", read_document);
}

}  // namespace kiv::json_reader
