#pragma once
// The console's own line editor: Emacs keys, history, Tab completion and a
// line redrawn in colours as it changes.
//
// `session` holds the editing state and knows no terminal: bytes go in,
// the text that paints the line comes out. `read_line` runs a session on a
// terminal in raw mode.
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kiv::line_editor {

// Characters [start, start + length) of the line shown with the SGR
// parameters `sgr` (such as "38;5;28;1").
struct style_run {
    size_t start;
    size_t length;
    std::string sgr;
};

// Tab's answer: the new line and caret, and the candidates to list above
// the line (empty when there is one or none).
struct completion {
    std::u32string line;
    size_t caret = 0;
    std::string listing;
};

using highlighter = std::function<std::vector<style_run>(const std::u32string& line)>;
using completer = std::function<bool(const std::u32string& line, size_t caret, completion& out)>;

std::u32string from_utf8(std::string_view text);
std::string to_utf8(std::u32string_view text);

// Columns a character takes on a terminal: 0 for a combining mark, 2 for a
// wide character, 2 for a control character (shown as ^X).
int char_width(char32_t c);

// The history: entries oldest first, one per command (a command typed over
// several lines is one entry holding line ends).
class history {
public:
    explicit history(size_t limit = 1000) : limit_(limit) {}
    // A new entry, or with `continued` the line joined to the newest one.
    void add(const std::string& line, bool continued);
    const std::vector<std::string>& entries() const { return entries_; }
    // The file's text: a header line, then one escaped entry per line.
    std::string encode() const;
    // Reads the text of a history file; lines it cannot read are skipped.
    void decode(std::string_view text);
    bool load(const std::string& path);
    bool save(const std::string& path) const;

private:
    size_t limit_;
    std::vector<std::string> entries_;
};

enum class outcome { PENDING, LINE, END, INTERRUPT, SUSPEND };

class session {
public:
    session(std::string prompt, history* past, completer complete = {});

    // Takes keys from the bytes; stops after a key that ends the line.
    // `used` tells how many bytes were taken: the rest belongs to the next
    // line. An escape sequence cut at the end of the bytes is kept whole
    // for the next call.
    outcome feed(const uint8_t* data, size_t size, size_t& used);
    // No more bytes came after a cut escape sequence: a lone Escape.
    void flush();
    bool waiting_q() const { return !partial_.empty(); }

    // The text that paints the prompt and line from wherever the last paint
    // left the cursor, and leaves the cursor at the caret. Styles may be
    // empty (no colours).
    std::string render(int columns, const std::vector<style_run>& styles);
    // Moves the cursor below the painted line, ready for what follows it.
    std::string finish(int columns);
    // After other output (a listing, a cleared screen) the next paint starts
    // afresh at the start of an empty row.
    void forget_paint() {
        cursor_row_ = 0;
        painted_ = false;
    }

    const std::u32string& line() const { return line_; }
    size_t caret() const { return caret_; }
    std::string text() const { return to_utf8(line_); }
    // A listing that Tab asked to show, taken once.
    std::string take_listing();
    bool clear_screen_q() { return std::exchange(clear_screen_, false); }

private:
    void key_char(char32_t c);
    void key_control(uint8_t c, outcome& result);
    void key_escape(std::string_view sequence);
    void insert(std::u32string_view text);
    void erase(size_t from, size_t to, bool keep);
    size_t left_of(size_t at) const;
    size_t right_of(size_t at) const;
    size_t word_left(size_t at) const;
    size_t word_right(size_t at) const;
    void recall(size_t index);
    void change_case(int how);
    void complete();
    void search(size_t from);
    std::u32string shown_prompt() const;

    std::string prompt_;
    history* past_;
    completer complete_;
    std::u32string line_;
    size_t caret_ = 0;
    std::u32string killed_;
    size_t recalled_;
    std::u32string draft_;
    std::string partial_;
    std::string listing_;
    bool clear_screen_ = false;
    int cursor_row_ = 0;
    bool searching_ = false;
    std::u32string query_;
    size_t found_ = 0;
    size_t search_caret_ = 0;
    bool painted_ = false;
};

// Reads one line from the terminal on `in`/`out` (both terminals) with the
// session, in raw mode for the time of the read. Answers the outcome: LINE
// with `line` set, END for Ctrl-D on an empty line, INTERRUPT for Ctrl-C.
// Keys typed after Enter are kept for the next read.
// A signal that cuts the wait short with `*interrupted` set ends the read
// with INTERRUPT too.
outcome read_line(int in, int out, session& s, const highlighter& colours, std::string& line,
                  const volatile std::sig_atomic_t* interrupted);
}  // namespace kiv::line_editor
