// The terminal host's routines: reading a line, and the terminal's size.
//
// On a terminal, lines are read through the console's own line editor:
// editing keys, the typed line in colours, and a history of commands kept
// between runs in the user's data folder. Any other input (a pipe, a file,
// a terminal that cannot move its cursor) is read as it comes.
#include "runtime/io/terminal.h"

#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/boot.h"
#include "runtime/console_out.h"
#include "runtime/evaluator/interpreter.h"
#include "runtime/io/line_editor.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/stack.h"
#include "runtime/system.h"
#include "runtime/unicode.h"

namespace kiv::terminal {

namespace {

constexpr int HISTORY_SIZE = 1000;
constexpr const char* INTERRUPTED = "\x1b";  // the escape character
// Whether the last read-line met the end of the input.
bool input_ended = false;

// Typed characters are not echoed while a hidden answer is read from a
// terminal; the echo comes back however the read ends.
struct echo_off {
    bool active = false;
    termios saved{};
    explicit echo_off(bool hide) {
        if (!hide || !isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &saved) != 0) return;
        termios quiet = saved;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        active = tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) == 0;
    }
    ~echo_off() {
        if (active) tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    }
};

// The line editor, set up at the first line read from a terminal.
struct editor {
    bool ready = false;
    bool colours = false;
    line_editor::history past{HISTORY_SIZE};
    std::string history_file;
};
editor ed;

// $XDG_DATA_HOME/Kiv/history, else ~/.local/share/Kiv/history; the folders
// are made when missing. Empty when neither variable is set.
std::string history_path() {
    std::string dir;
    if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data) {
        dir = data;
    } else if (const char* home = std::getenv("HOME"); home && *home) {
        dir = std::string(home) + "/.local/share";
    } else {
        return {};
    }
    dir += "/Kiv";
    for (size_t slash = 1; slash != std::string::npos; slash = dir.find('/', slash + 1))
        mkdir(dir.substr(0, slash).c_str(), 0700);
    mkdir(dir.c_str(), 0700);
    return dir + "/history";
}

std::string utf8_of(kiv_value* str) {
    int32_t size = -1;
    const char* text = unicode::to_utf8(str, &size);
    return std::string(text, size_t(size));
}

// Calls a function of the `tty` object with a string and maybe an integer,
// from inside the editor's read: nothing may leave it but its answer, which
// `take` reads before anything else runs. False when the call failed.
template <typename Take>
bool call_tty(const char* name, const std::string& text, int number, bool with_number, Take take) {
    kiv_value tty = *boot::field(boot::field(boot::system_object(), "words"), "tty");
    if (type_of(&tty) != TYPE_OBJECT) return false;
    kiv_value fn = *boot::field(&tty, name);
    if (type_of(&fn) != TYPE_FUNCTION) return false;
    kiv_value* saved_top = stack::top;
    kiv_value* saved_arguments = stack::arguments;
    call_frame* saved_frames = stack::ctop;
    kiv_value* args = stack::push();
    string::load_at(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()), args, string::UTF8);
    if (with_number) integer::make_at(stack::push(), number);
    kiv_value word = *word::load(name);
    bool done = false;
    try {
        kiv_value result =
            interpreter::call_back({&fn, &word, args, with_number ? 2u : 1u, interpreter::CB_NONE});
        if (!interpreter::exit_pending_q()) done = take(result);
    } catch (...) {
        done = false;
    }
    sys.pending_exit = LEVEL_NONE;
    stack::revert(saved_frames);
    stack::arguments = saved_arguments;
    stack::top = saved_top;
    return done;
}

// Tab: the console's completion (tty/complete-line) rewrites the line and
// may list the candidates above it.
bool complete(const std::u32string& line, size_t caret, line_editor::completion& out) {
    return call_tty("complete-line", line_editor::to_utf8(line), int(caret), true, [&](kiv_value result) {
        if (type_of(&result) != TYPE_BLOCK || block::length_all(&result) < 3) return false;
        kiv_value* cells = block::cells(&result);
        if (type_of(cells) != TYPE_STRING || type_of(cells + 1) != TYPE_INTEGER) return false;
        kiv_value head = cells[0];
        kiv_value shown = cells[2];
        out.line = line_editor::from_utf8(utf8_of(&head));
        out.caret = size_t(std::max<int64_t>(0, integer::get_value(cells + 1)));
        if (type_of(&shown) == TYPE_STRING) out.listing = utf8_of(&shown);
        return true;
    });
}

// The colours of the typed line: tty/line-styles gives a block of ranges,
// each a pair (1-based start and length) and its SGR parameters.
std::vector<line_editor::style_run> colours_of(const std::u32string& line) {
    std::vector<line_editor::style_run> runs;
    call_tty("line-styles", line_editor::to_utf8(line), 0, false, [&](kiv_value result) {
        if (type_of(&result) != TYPE_BLOCK) return false;
        kiv_value* cells = block::cells(&result);
        int64_t n = block::length_all(&result);
        for (int64_t i = 0; i + 1 < n; i += 2) {
            if (type_of(cells + i) != TYPE_PAIR || type_of(cells + i + 1) != TYPE_STRING) continue;
            int32_t start = pair::x_of(cells + i), length = pair::y_of(cells + i);
            if (start < 1 || length < 1) continue;
            kiv_value sgr = cells[i + 1];
            runs.push_back({size_t(start - 1), size_t(length), utf8_of(&sgr)});
        }
        return true;
    });
    return runs;
}

// The own editor runs when both ends are terminals that can move the
// cursor; NO_COLOR keeps the editing and drops the colours.
bool editing_q() {
    static const bool terminal = [] {
        const char* term = std::getenv("TERM");
        return isatty(STDIN_FILENO) && isatty(STDOUT_FILENO) && term && *term && std::strcmp(term, "dumb") != 0;
    }();
    if (!terminal || ed.ready) return terminal;
    const char* no_colour = std::getenv("NO_COLOR");
    ed.colours = !(no_colour && *no_colour);
    ed.history_file = history_path();
    if (!ed.history_file.empty()) ed.past.load(ed.history_file);
    ed.ready = true;
    return true;
}

// A command typed over several lines is one entry: each continuation line
// joins the entry of the line before.
void remember(const std::string& line, bool continued) {
    ed.past.add(line, continued);
    if (!ed.history_file.empty()) ed.past.save(ed.history_file);
}

// One line through the editor; the end of the input (Ctrl-D on an empty
// line) answers "quit".
std::string edit_line(const std::string& prompt, bool continued) {
    if (!console::at_line_start) console::write("\n", 1, 1, false);
    line_editor::session s(prompt, &ed.past, complete);
    line_editor::highlighter colours;
    if (ed.colours) colours = colours_of;
    std::string line;
    auto result = line_editor::read_line(STDIN_FILENO, STDOUT_FILENO, s, colours, line, &system::interrupt_pending);
    input_ended = result == line_editor::outcome::END;
    if (input_ended) return "quit";
    if (result == line_editor::outcome::INTERRUPT) return INTERRUPTED;
    if (!line.empty() || continued) remember(line, continued);
    return line;
}

// A line as it comes from a pipe or a file; the end of the input answers
// "quit", so that a console fed from a file ends with it.
std::string plain_line(bool hide) {
    std::string line;
    bool ended = true;
    {
        echo_off quiet(hide);
        for (int c; (c = std::getchar()) != EOF;) {
            if (c == '\n') {
                ended = false;
                break;
            }
            line.push_back(char(c));
        }
    }
    if (hide) console::write("\n", 1, 1, false);
    input_ended = ended;
    if (system::interrupt_pending) {
        std::clearerr(stdin);
        return INTERRUPTED;
    }
    if (ended && line.empty()) line = "quit";
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

// read-line: prompt [string!] hide [logic!] continued [logic!]. Ctrl-C
// while waiting answers the escape character, with which the console drops
// the command being typed; a program without the console ends instead, once
// the terminal is back as it was.
void read_line() {
    kiv_value prompt = stack::arguments[0];
    bool hide = logic::get(stack::arguments + 1);
    bool continued = logic::get(stack::arguments + 2);
    bool console_runs = system::halt_on_interrupt;
    system::halt_on_interrupt = true;
    system::interrupt_pending = 0;
    std::string line;
    if (!hide && editing_q()) {
        int32_t size = -1;
        const char* text = unicode::to_utf8(&prompt, &size);
        line = edit_line(std::string(text, size_t(size)), continued);
    } else {
        series_buffer* b = string::buffer_of(&prompt);
        uint32_t unit = unit_of(b);
        uint8_t* head = b->offset + size_t(string::head_of(&prompt)) * unit;
        if (head < b->tail) console::write(head, uint32_t(b->tail - head), unit, false);
        line = plain_line(hide);
    }
    system::halt_on_interrupt = console_runs;
    system::interrupt_pending = 0;
    if (line == INTERRUPTED && !console_runs) {
        std::_Exit(128 + SIGINT);
    }
    string::load_at(reinterpret_cast<const uint8_t*>(line.data()), uint32_t(line.size()), stack::arguments,
                    string::UTF8);
}

// The console's loop calls it once: from then on Ctrl-C halts the running
// command instead of ending the process.
void halt_on_interrupt() {
    system::halt_on_interrupt = true;
    unset::return_();
}

// write-error: text [string!], then a line end, on the standard error.
void write_error() {
    int32_t size = -1;
    const char* text = unicode::to_utf8(stack::arguments, &size);
    std::fwrite(text, 1, size_t(size), stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
    unset::return_();
}

winsize terminal_size() {
    winsize w{};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &w) != 0 || w.ws_col == 0) {
        w.ws_col = 80;
        w.ws_row = 24;
    }
    return w;
}

void ended_q() { logic::box(input_ended); }

void columns() { integer::return_(terminal_size().ws_col); }
void rows() { integer::return_(terminal_size().ws_row); }

}  // namespace

void init() {
    kiv_value tty = *boot::field(boot::field(boot::system_object(), "words"), "tty");
    if (type_of(&tty) != TYPE_OBJECT) return;
    boot::bind_routine(&tty, "read-line", read_line);
    boot::bind_routine(&tty, "ended?", ended_q);
    boot::bind_routine(&tty, "columns", columns);
    boot::bind_routine(&tty, "rows", rows);
    boot::bind_routine(&tty, "halt-on-interrupt", halt_on_interrupt);
    boot::bind_routine(&tty, "write-error", write_error);
}

}  // namespace kiv::terminal
