// The console's line editor. The whole prompt and line are painted again
// after each batch of keys: the colours of a token can change with any key
// (a quote closes a string), and a line is short.
#include "runtime/io/line_editor.h"

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cctype>
#include <cwchar>
#include <cwctype>
#include <fstream>
#include <sstream>

namespace kiv::line_editor {

namespace {

constexpr char32_t REPLACEMENT = 0xFFFD;
constexpr size_t LONGEST_SEQUENCE = 32;  // an escape sequence longer than this is noise
constexpr const char* HISTORY_HEADER = "_HiStOrY_V2_";

// Length of the UTF-8 sequence a lead byte starts, 0 for a byte that
// cannot start one.
size_t sequence_length(uint8_t lead) {
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) return 2;
    if (lead >= 0xE0 && lead <= 0xEF) return 3;
    if (lead >= 0xF0 && lead <= 0xF4) return 4;
    return 0;
}

// One character from a whole sequence of `n` bytes, or REPLACEMENT when the
// sequence is not well-formed (overlong, a surrogate, past U+10FFFF).
char32_t decode(const uint8_t* p, size_t n) {
    if (n == 1) return p[0];
    char32_t c = p[0] & (0x7F >> n);
    for (size_t i = 1; i < n; i++) {
        if ((p[i] & 0xC0) != 0x80) return REPLACEMENT;
        c = (c << 6) | (p[i] & 0x3F);
    }
    static constexpr char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (c < least[n] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return REPLACEMENT;
    return c;
}

void append_utf8(std::string& out, char32_t c) {
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = REPLACEMENT;
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xC0 | (c >> 6));
        out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += char(0xE0 | (c >> 12));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    } else {
        out += char(0xF0 | (c >> 18));
        out += char(0x80 | ((c >> 12) & 0x3F));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    }
}

bool control_q(char32_t c) { return c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0); }

// Words for Alt-B, Alt-F and the case keys: runs of characters that are
// neither blanks nor the delimiters of values and paths.
bool word_char_q(char32_t c) {
    if (c < 0x80) return std::isalnum(int(c)) || std::strchr("-_?!*~+=.&|^$#@", int(c));
    return !std::iswspace(wint_t(c));
}

std::string number(int n) { return std::to_string(n); }

// Where a character is drawn, or where the cursor is: a row below the
// prompt's first row and a column.
struct place {
    int row = 0;
    int col = 0;
};

// Lays out one character after `at`: a line end goes to the next row, a
// character that does not fit in the row wraps before it.
void advance(place& at, char32_t c, int columns) {
    if (c == U'\n') {
        at.row++;
        at.col = 0;
        return;
    }
    int w = char_width(c);
    if (w > 0 && at.col + w > columns && at.col > 0) {
        at.row++;
        at.col = 0;
    }
    at.col += w;
}

// The cursor's place for a text that ends at `at`: a full row puts it at
// the start of the next.
place settled(place at, int columns) {
    if (at.col >= columns) return {at.row + 1, 0};
    return at;
}

// Where a character drawn after `at` starts: a wide character that does
// not fit leaves the row's last column empty and starts the next row.
place start_of(place at, char32_t c, int columns) {
    int w = c == U'\n' ? 0 : char_width(c);
    if (w > 0 && at.col + w > columns && at.col > 0) return {at.row + 1, 0};
    return settled(at, columns);
}

void emit(std::string& out, char32_t c) {
    if (c == U'\n') {
        out += "\r\n";
    } else if (control_q(c)) {
        out += '^';
        out += c == 0x7F ? '?' : char((c & 0x1F) + 0x40);
    } else {
        append_utf8(out, c);
    }
}

}  // namespace

std::u32string from_utf8(std::string_view text) {
    std::u32string out;
    out.reserve(text.size());
    auto p = reinterpret_cast<const uint8_t*>(text.data());
    size_t n = text.size();
    for (size_t i = 0; i < n;) {
        size_t len = sequence_length(p[i]);
        if (len == 0 || i + len > n) {
            out += REPLACEMENT;
            i++;
            continue;
        }
        char32_t c = decode(p + i, len);
        if (c == REPLACEMENT && len > 1) {
            out += REPLACEMENT;
            i++;
            continue;
        }
        out += c;
        i += len;
    }
    return out;
}

std::string to_utf8(std::u32string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char32_t c : text) append_utf8(out, c);
    return out;
}

int char_width(char32_t c) {
    if (control_q(c)) return 2;
    if (c < 0x7F) return 1;
    // Widths come from the locale's character tables; any UTF-8 one has them.
    static const bool ready = [] {
        if (MB_CUR_MAX == 1) std::setlocale(LC_CTYPE, "C.UTF-8");
        return true;
    }();
    (void)ready;
    int w = ::wcwidth(wchar_t(c));
    if (w < 0) return 1;
    return w > 2 ? 2 : w;
}

// History ---------------------------------------------------------------------

void history::add(const std::string& line, bool continued) {
    std::string entry = line;
    if (continued && !entries_.empty()) {
        entry = entries_.back() + "\n" + line;
        entries_.pop_back();
    }
    if (!entries_.empty() && entries_.back() == entry) return;
    entries_.push_back(std::move(entry));
    if (entries_.size() > limit_) entries_.erase(entries_.begin(), entries_.end() - long(limit_));
}

// Blanks, backslashes and control bytes are written as a backslash and
// three octal digits, so that each entry stays on one line.
std::string history::encode() const {
    std::string out = std::string(HISTORY_HEADER) + "\n";
    for (const std::string& entry : entries_) {
        for (unsigned char c : entry) {
            if (c == '\\') {
                out += "\\\\";
            } else if (c <= ' ' || c == 0x7F) {
                char code[5];
                std::snprintf(code, sizeof code, "\\%03o", c);
                out += code;
            } else {
                out += char(c);
            }
        }
        out += '\n';
    }
    return out;
}

void history::decode(std::string_view text) {
    entries_.clear();
    bool first = true;
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view row = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        if (first && row == HISTORY_HEADER) {
            first = false;
            continue;
        }
        first = false;
        std::string entry;
        bool sound = true;
        for (size_t i = 0; i < row.size() && sound; i++) {
            char c = row[i];
            if (c != '\\') {
                entry += c;
                continue;
            }
            if (i + 1 >= row.size()) {
                sound = false;
                break;
            }
            char next = row[i + 1];
            if (next >= '0' && next <= '3' && i + 3 < row.size() && row[i + 2] >= '0' && row[i + 2] <= '7' &&
                row[i + 3] >= '0' && row[i + 3] <= '7') {
                entry += char(((next - '0') << 6) | ((row[i + 2] - '0') << 3) | (row[i + 3] - '0'));
                i += 3;
                continue;
            }
            switch (next) {
                case '\\': entry += '\\'; break;
                case 'n': entry += '\n'; break;
                case 't': entry += '\t'; break;
                case 's': entry += ' '; break;
                default: sound = false; break;
            }
            i++;
        }
        if (sound && !entry.empty()) add(entry, false);
    }
}

bool history::load(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return false;
    std::ostringstream text;
    text << file.rdbuf();
    decode(text.str());
    return true;
}

// Written aside and renamed over the file: a run that ends half-way never
// leaves half a history.
bool history::save(const std::string& path) const {
    std::string aside = path + ".new";
    {
        std::ofstream file(aside, std::ios::binary | std::ios::trunc);
        if (!file) return false;
        std::string text = encode();
        file.write(text.data(), std::streamsize(text.size()));
        if (!file.flush()) return false;
    }
    return std::rename(aside.c_str(), path.c_str()) == 0;
}

// Session ---------------------------------------------------------------------

session::session(std::string prompt, history* past, completer complete)
    : prompt_(std::move(prompt)), past_(past), complete_(std::move(complete)),
      recalled_(past ? past->entries().size() : 0) {}

std::string session::take_listing() { return std::exchange(listing_, {}); }

outcome session::feed(const uint8_t* data, size_t size, size_t& used) {
    size_t carried = partial_.size();
    std::string bytes = std::exchange(partial_, {});
    bytes.append(reinterpret_cast<const char*>(data), size);
    auto p = reinterpret_cast<const uint8_t*>(bytes.data());
    size_t n = bytes.size();
    outcome result = outcome::PENDING;
    size_t i = 0;
    while (i < n && result == outcome::PENDING) {
        uint8_t b = p[i];
        if (b == 0x1B) {
            // An escape sequence: CSI ("[" parameters final), SS3 ("O" one
            // byte) or Alt with one key.
            if (i + 1 >= n) break;
            uint8_t next = p[i + 1];
            size_t end = 0;
            if (next == '[') {
                size_t j = i + 2;
                while (j < n && p[j] >= 0x20 && p[j] <= 0x3F && j - i < LONGEST_SEQUENCE) j++;
                if (j >= n) break;
                end = j + 1;
                if (p[j] < 0x40 || p[j] > 0x7E) {
                    // Not a sequence: drop what was read of it.
                    i = j;
                    continue;
                }
            } else if (next == 'O') {
                if (i + 2 >= n) break;
                end = i + 3;
            } else if (next == 0x1B || (next < 0x20 && next != 0x08) || next >= 0x80) {
                // Escape before another key only stands for itself.
                i++;
                continue;
            } else {
                end = i + 2;
            }
            key_escape(std::string_view(bytes).substr(i + 1, end - i - 1));
            i = end;
            continue;
        }
        if (b < 0x20 || b == 0x7F) {
            key_control(b, result);
            i++;
            continue;
        }
        size_t len = sequence_length(b);
        if (len == 0) {
            i++;
            continue;
        }
        if (i + len > n) {
            // Cut at the end of the bytes: a bad continuation is dropped now.
            bool cut = true;
            for (size_t k = i + 1; k < n; k++) cut = cut && (p[k] & 0xC0) == 0x80;
            if (cut) break;
            i++;
            continue;
        }
        char32_t c = decode(p + i, len);
        if (c == REPLACEMENT && len > 1) {
            i++;
            continue;
        }
        key_char(c);
        i += len;
    }
    if (result == outcome::PENDING) {
        partial_.assign(bytes, i, std::string::npos);
        used = size;
    } else {
        used = i > carried ? i - carried : 0;
    }
    return result;
}

void session::flush() { partial_.clear(); }

void session::insert(std::u32string_view text) {
    line_.insert(caret_, text);
    caret_ += text.size();
}

void session::erase(size_t from, size_t to, bool keep) {
    if (from >= to) return;
    if (keep) killed_ = line_.substr(from, to - from);
    line_.erase(from, to - from);
    caret_ = from;
}

// Caret moves step over a character with its combining marks.
size_t session::left_of(size_t at) const {
    while (at > 0) {
        at--;
        if (at == 0 || char_width(line_[at]) != 0) break;
    }
    return at;
}

size_t session::right_of(size_t at) const {
    if (at >= line_.size()) return line_.size();
    at++;
    while (at < line_.size() && char_width(line_[at]) == 0 && line_[at] != U'\n') at++;
    return at;
}

size_t session::word_left(size_t at) const {
    while (at > 0 && !word_char_q(line_[at - 1])) at--;
    while (at > 0 && word_char_q(line_[at - 1])) at--;
    return at;
}

size_t session::word_right(size_t at) const {
    while (at < line_.size() && !word_char_q(line_[at])) at++;
    while (at < line_.size() && word_char_q(line_[at])) at++;
    return at;
}

void session::recall(size_t index) {
    if (!past_) return;
    const auto& entries = past_->entries();
    if (index > entries.size() || index == recalled_) return;
    if (recalled_ >= entries.size()) draft_ = line_;
    recalled_ = index;
    line_ = index == entries.size() ? draft_ : from_utf8(entries[index]);
    caret_ = line_.size();
}

// Alt-U, Alt-L and Alt-C: the word after the caret in upper case, lower
// case, or with a capital.
void session::change_case(int how) {
    size_t end = word_right(caret_);
    bool first = true;
    for (size_t i = caret_; i < end; i++) {
        if (!word_char_q(line_[i])) continue;
        wint_t c = wint_t(line_[i]);
        bool upper = how == 'u' || (how == 'c' && first);
        line_[i] = char32_t(upper ? std::towupper(c) : std::towlower(c));
        first = false;
    }
    caret_ = end;
}

void session::complete() {
    completion answer;
    if (!complete_ || !complete_(line_, caret_, answer)) return;
    line_ = std::move(answer.line);
    caret_ = std::min(answer.caret, line_.size());
    listing_ = std::move(answer.listing);
}

// Ctrl-R: the newest entry at or before `from` holding the query shows
// in the line, the caret on the match; with none the line stays.
void session::search(size_t from) {
    if (!past_) return;
    const auto& entries = past_->entries();
    for (size_t i = std::min(from, entries.size()); i-- > 0;) {
        std::u32string entry = from_utf8(entries[i]);
        size_t at = entry.find(query_);
        if (at == std::u32string::npos) continue;
        found_ = i;
        line_ = std::move(entry);
        caret_ = at;
        return;
    }
}

std::u32string session::shown_prompt() const {
    if (!searching_) return from_utf8(prompt_);
    return U"(search)'" + query_ + U"': ";
}

void session::key_char(char32_t c) {
    if (searching_) {
        query_ += c;
        search(found_ + 1);
        return;
    }
    insert(std::u32string_view(&c, 1));
}

void session::key_control(uint8_t c, outcome& result) {
    size_t entries = past_ ? past_->entries().size() : 0;
    if (searching_) {
        switch (c) {
            case 0x12: search(found_); return;  // ^R: an older match
            case 0x08: case 0x7F:
                if (!query_.empty()) query_.pop_back();
                search(entries);
                return;
            case 0x07:  // ^G: the line as it was
                searching_ = false;
                line_ = std::move(draft_);
                caret_ = std::min(search_caret_, line_.size());
                return;
            default:  // any other key takes the line found and acts on it
                searching_ = false;
                recalled_ = entries;
                break;
        }
    } else if (c == 0x12) {
        searching_ = true;
        query_.clear();
        draft_ = line_;
        search_caret_ = caret_;
        found_ = entries;
        recalled_ = entries;
        return;
    }
    switch (c) {
        case 0x01: caret_ = 0; break;                                    // ^A
        case 0x02: caret_ = left_of(caret_); break;                      // ^B
        case 0x03: result = outcome::INTERRUPT; break;                   // ^C
        case 0x04:                                                       // ^D
            if (line_.empty()) result = outcome::END;
            else erase(caret_, right_of(caret_), false);
            break;
        case 0x05: caret_ = line_.size(); break;                         // ^E
        case 0x06: caret_ = right_of(caret_); break;                     // ^F
        case 0x08: case 0x7F: erase(left_of(caret_), caret_, false); break;  // Backspace
        case 0x09: complete(); break;                                    // Tab
        case 0x0A: case 0x0D: result = outcome::LINE; break;             // Enter
        case 0x0B: erase(caret_, line_.size(), true); break;             // ^K
        case 0x0C: clear_screen_ = true; break;                          // ^L
        case 0x0E: if (recalled_ < entries) recall(recalled_ + 1); break;  // ^N
        case 0x10: if (recalled_ > 0) recall(recalled_ - 1); break;      // ^P
        case 0x14:                                                       // ^T
            if (line_.size() >= 2 && caret_ > 0) {
                size_t at = caret_ == line_.size() ? caret_ - 1 : caret_;
                std::swap(line_[at - 1], line_[at]);
                caret_ = at + 1;
            }
            break;
        case 0x15: erase(0, caret_, true); break;                        // ^U
        case 0x17: {                                                     // ^W: back to a blank
            size_t at = caret_;
            while (at > 0 && std::iswspace(wint_t(line_[at - 1]))) at--;
            while (at > 0 && !std::iswspace(wint_t(line_[at - 1]))) at--;
            erase(at, caret_, true);
            break;
        }
        case 0x19: insert(killed_); break;                               // ^Y
        case 0x1A: result = outcome::SUSPEND; break;                     // ^Z
        default: break;
    }
}

void session::key_escape(std::string_view s) {
    size_t entries = past_ ? past_->entries().size() : 0;
    if (searching_) {
        searching_ = false;
        recalled_ = entries;
    }
    if (s.size() == 1) {
        switch (s[0]) {
            case 'b': case 'B': caret_ = word_left(caret_); break;
            case 'f': case 'F': caret_ = word_right(caret_); break;
            case 'd': case 'D': erase(caret_, word_right(caret_), true); break;
            case 0x7F: case 0x08: erase(word_left(caret_), caret_, true); break;
            case 'u': case 'U': change_case('u'); break;
            case 'l': case 'L': change_case('l'); break;
            case 'c': case 'C': change_case('c'); break;
            case '<': recall(0); break;
            case '>': recall(entries); break;
            default: break;
        }
        return;
    }
    char final = s.back();
    std::string_view params = s.substr(1, s.size() - 2);
    // A modifier after ";" (5 Ctrl, 3 Alt) turns the arrows into word moves.
    bool by_word = params.find(';') != std::string_view::npos && params.substr(params.find(';') + 1) != "1";
    switch (final) {
        case 'A': if (recalled_ > 0) recall(recalled_ - 1); break;
        case 'B': if (recalled_ < entries) recall(recalled_ + 1); break;
        case 'C': caret_ = by_word ? word_right(caret_) : right_of(caret_); break;
        case 'D': caret_ = by_word ? word_left(caret_) : left_of(caret_); break;
        case 'H': caret_ = 0; break;
        case 'F': caret_ = line_.size(); break;
        case '~': {
            std::string_view key = params.substr(0, params.find(';'));
            if (key == "1" || key == "7") caret_ = 0;
            else if (key == "4" || key == "8") caret_ = line_.size();
            else if (key == "3") erase(caret_, right_of(caret_), false);
            break;
        }
        default: break;
    }
}

std::string session::render(int columns, const std::vector<style_run>& styles) {
    if (columns < 1) columns = 1;
    std::string out;
    // The first paint starts at the start of an empty row.
    if (painted_) {
        if (cursor_row_ > 0) out += "\x1b[" + number(cursor_row_) + "A";
        out += "\r\x1b[J";
    }
    place at;
    for (char32_t c : shown_prompt()) {
        advance(at, c, columns);
        emit(out, c);
    }
    // The style of each character, as an index in `styles`.
    std::vector<int> style(line_.size(), -1);
    for (size_t k = 0; k < styles.size(); k++) {
        size_t from = std::min(styles[k].start, line_.size());
        size_t to = std::min(from + std::min(styles[k].length, line_.size()), line_.size());
        for (size_t i = from; i < to; i++) style[i] = int(k);
    }
    int current = -1;
    place caret = settled(at, columns);
    for (size_t i = 0; i < line_.size(); i++) {
        if (style[i] != current) {
            current = style[i];
            out += current < 0 ? "\x1b[0m" : "\x1b[0;" + styles[size_t(current)].sgr + "m";
        }
        if (i == caret_) caret = start_of(at, line_[i], columns);
        advance(at, line_[i], columns);
        emit(out, line_[i]);
    }
    if (current >= 0) out += "\x1b[0m";
    place end = settled(at, columns);
    if (caret_ >= line_.size()) caret = end;
    // A text that fills its last row leaves the terminal's cursor in that
    // row: the line end takes it where the layout says.
    if (end.row > at.row) out += "\r\n";
    if (caret.row != end.row || caret.col != end.col) {
        if (end.row > caret.row) out += "\x1b[" + number(end.row - caret.row) + "A";
        out += "\r";
        if (caret.col > 0) out += "\x1b[" + number(caret.col) + "C";
    }
    cursor_row_ = caret.row;
    painted_ = true;
    return out;
}

std::string session::finish(int columns) {
    if (columns < 1) columns = 1;
    place at;
    for (char32_t c : shown_prompt()) advance(at, c, columns);
    for (char32_t c : line_) advance(at, c, columns);
    place end = settled(at, columns);
    std::string out;
    if (end.row > cursor_row_) out += "\x1b[" + number(end.row - cursor_row_) + "B";
    out += end.col == 0 && end.row > 0 ? "\r" : "\r\n";
    cursor_row_ = 0;
    return out;
}

// The terminal ------------------------------------------------------------------

namespace {

volatile std::sig_atomic_t resized = 0;
void on_resize(int) { resized = 1; }

// Keys read past the end of a line, for the next line.
std::string typed_ahead;

int columns_of(int fd) {
    winsize w{};
    if (ioctl(fd, TIOCGWINSZ, &w) != 0 || w.ws_col == 0) return 80;
    return w.ws_col;
}

void write_all(int fd, const std::string& text) {
    const char* p = text.data();
    size_t left = text.size();
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            return;
        }
        p += n;
        left -= size_t(n);
    }
}

// Raw mode for the time of one read: keys come one by one, unechoed, and
// Ctrl-C, Ctrl-Z and Ctrl-V reach the editor as keys.
struct raw_mode {
    int fd;
    termios saved{};
    bool active = false;
    explicit raw_mode(int in) : fd(in) { enter(); }
    void enter() {
        if (tcgetattr(fd, &saved) != 0) return;
        termios raw = saved;
        raw.c_iflag &= ~tcflag_t(BRKINT | ICRNL | INPCK | ISTRIP | IXON);
        raw.c_lflag &= ~tcflag_t(ECHO | ICANON | IEXTEN | ISIG);
        raw.c_cc[VMIN] = 1;
        raw.c_cc[VTIME] = 0;
        active = tcsetattr(fd, TCSADRAIN, &raw) == 0;
    }
    void leave() {
        if (active) tcsetattr(fd, TCSADRAIN, &saved);
        active = false;
    }
    ~raw_mode() { leave(); }
};

// A resize is taken only while waiting for keys: the signal stays blocked
// otherwise and ppoll opens it atomically, so one that comes while the line
// is painted still cuts the next wait short.
struct resize_watch {
    struct sigaction saved{};
    sigset_t saved_mask{}, waiting_mask{};
    resize_watch() {
        struct sigaction sa{};
        sa.sa_handler = on_resize;
        sigemptyset(&sa.sa_mask);
        sigaction(SIGWINCH, &sa, &saved);
        sigset_t block;
        sigemptyset(&block);
        sigaddset(&block, SIGWINCH);
        pthread_sigmask(SIG_BLOCK, &block, &saved_mask);
        waiting_mask = saved_mask;
        sigdelset(&waiting_mask, SIGWINCH);
    }
    ~resize_watch() {
        pthread_sigmask(SIG_SETMASK, &saved_mask, nullptr);
        sigaction(SIGWINCH, &saved, nullptr);
    }
    int wait(pollfd* p, int milliseconds) const {
        timespec ts{milliseconds / 1000, long(milliseconds % 1000) * 1000000L};
        return ppoll(p, 1, milliseconds < 0 ? nullptr : &ts, &waiting_mask);
    }
};

bool input_waiting_q(int fd, int milliseconds) {
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, milliseconds) > 0;
}

}  // namespace

outcome read_line(int in, int out, session& s, const highlighter& colours, std::string& line,
                  const volatile std::sig_atomic_t* interrupted) {
    raw_mode raw(in);
    resize_watch watch;
    resized = 0;
    int columns = columns_of(out);
    auto paint = [&] {
        // A new width may come with a signal that did not cut a wait short.
        if (resized) {
            resized = 0;
            columns = columns_of(out);
        }
        std::vector<style_run> styles;
        if (colours) styles = colours(s.line());
        write_all(out, s.render(columns, styles));
    };
    paint();
    outcome result = outcome::PENDING;
    uint8_t buffer[4096];
    while (result == outcome::PENDING) {
        size_t got = 0;
        std::string ahead = std::exchange(typed_ahead, {});
        const uint8_t* bytes = buffer;
        if (!ahead.empty()) {
            bytes = reinterpret_cast<const uint8_t*>(ahead.data());
            got = ahead.size();
        } else {
            pollfd p{in, POLLIN, 0};
            int ready = watch.wait(&p, s.waiting_q() ? 50 : -1);
            if (ready == 0) {
                s.flush();
                paint();
                continue;
            }
            if (ready < 0) {
                if (errno != EINTR) return outcome::END;
                if (interrupted && *interrupted) {
                    result = outcome::INTERRUPT;
                    break;
                }
                if (resized) paint();
                continue;
            }
            ssize_t n = ::read(in, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                result = outcome::END;
                break;
            }
            got = size_t(n);
        }
        size_t used = 0;
        result = s.feed(bytes, got, used);
        if (used < got) typed_ahead.assign(reinterpret_cast<const char*>(bytes) + used, got - used);
        if (std::string listing = s.take_listing(); !listing.empty()) {
            write_all(out, s.finish(columns) + listing + "\r\n");
            s.forget_paint();
        }
        if (s.clear_screen_q()) {
            write_all(out, "\x1b[H\x1b[2J");
            s.forget_paint();
        }
        if (result == outcome::SUSPEND) {
            write_all(out, s.finish(columns));
            s.forget_paint();
            raw.leave();
            kill(0, SIGTSTP);
            raw.enter();
            columns = columns_of(out);
            result = outcome::PENDING;
            paint();
            continue;
        }
        if (result != outcome::PENDING || !typed_ahead.empty() || !input_waiting_q(in, 0)) paint();
    }
    write_all(out, s.finish(columns));
    line = s.text();
    return result;
}

}  // namespace kiv::line_editor
