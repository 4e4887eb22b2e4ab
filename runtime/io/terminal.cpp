// The terminal host's routines: reading a line, and the terminal's size.
//
// On a terminal, lines are read through libedit: editing keys, and a history
// of commands kept between runs in the user's data folder. Any other input
// (a pipe, a file) is read as it comes.
#include "runtime/io/terminal.h"

#include <histedit.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <clocale>
#include <climits>
#include <cwchar>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "runtime/boot.h"
#include "runtime/console_out.h"
#include "runtime/evaluator/interpreter.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
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

// The line editor, made at the first line read from a terminal.
struct editor {
    EditLine* el = nullptr;
    History* history = nullptr;
    std::string prompt;
    std::string history_file;
};
editor ed;

const char* current_prompt(EditLine*) { return ed.prompt.c_str(); }

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

std::string utf8_of(const wchar_t* from, const wchar_t* to) {
    std::string text;
    std::mbstate_t state{};
    char bytes[MB_LEN_MAX];
    for (; from < to; from++) {
        size_t n = std::wcrtomb(bytes, *from, &state);
        if (n != size_t(-1)) text.append(bytes, n);
    }
    return text;
}

std::string utf8_of(kiv_value* str) {
    int32_t size = -1;
    const char* text = unicode::to_utf8(str, &size);
    return std::string(text, size_t(size));
}

// Tab: the console's completion (tty/complete-line) rewrites the line and
// may list the candidates above it. Kiv code runs here from inside the
// editor's read, so nothing may leave this function but its answer.
unsigned char complete_key(EditLine* el, int) {
    kiv_value tty = *boot::field(boot::field(boot::system_object(), "words"), "tty");
    if (type_of(&tty) != TYPE_OBJECT) return CC_ERROR;
    kiv_value fn = *boot::field(&tty, "complete-line");
    if (type_of(&fn) != TYPE_FUNCTION) return CC_ERROR;
    const LineInfoW* info = el_wline(el);
    int before = int(info->cursor - info->buffer);
    int after = int(info->lastchar - info->cursor);
    std::string line = utf8_of(info->buffer, info->lastchar);
    kiv_value* saved_top = stack::top;
    kiv_value* saved_arguments = stack::arguments;
    call_frame* saved_frames = stack::ctop;
    kiv_value* args = stack::push();
    string::load_at(reinterpret_cast<const uint8_t*>(line.data()), uint32_t(line.size()), args, string::UTF8);
    integer::make_at(stack::push(), before);
    kiv_value name = *word::load("complete-line");
    std::string text, listing;
    int caret = 0;
    bool changed = false;
    try {
        kiv_value result = interpreter::call_back({&fn, &name, args, 2, interpreter::CB_NONE});
        if (!interpreter::exit_pending_q() && type_of(&result) == TYPE_BLOCK && block::length_all(&result) >= 3) {
            kiv_value* cells = block::cells(&result);
            if (type_of(cells) == TYPE_STRING && type_of(cells + 1) == TYPE_INTEGER) {
                kiv_value head = cells[0];
                kiv_value shown = cells[2];
                caret = integer::get_value(cells + 1);
                text = utf8_of(&head);
                if (type_of(&shown) == TYPE_STRING) listing = utf8_of(&shown);
                changed = true;
            }
        }
    } catch (...) {
        changed = false;
    }
    sys.pending_exit = LEVEL_NONE;
    stack::revert(saved_frames);
    stack::arguments = saved_arguments;
    stack::top = saved_top;
    if (!changed) return CC_ERROR;
    el_cursor(el, after);
    el_deletestr(el, before + after);
    if (!text.empty()) el_insertstr(el, text.c_str());
    int length = int(el_wline(el)->lastchar - el_wline(el)->buffer);
    el_cursor(el, caret - length);
    if (listing.empty()) return CC_REFRESH;
    std::fputc('\n', stdout);
    std::fwrite(listing.data(), 1, listing.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
    return CC_REDISPLAY;
}

bool editing_q() {
    static const bool terminal = isatty(STDIN_FILENO) && isatty(STDOUT_FILENO);
    if (!terminal || ed.el) return terminal;
    // libedit reads and measures characters by the locale: text is UTF-8.
    std::setlocale(LC_CTYPE, "C.UTF-8");
    ed.el = el_init("kiv", stdin, stdout, stderr);
    el_set(ed.el, EL_PROMPT, current_prompt);
    el_set(ed.el, EL_EDITOR, "emacs");
    HistEvent event;
    ed.history = history_init();
    history(ed.history, &event, H_SETSIZE, HISTORY_SIZE);
    history(ed.history, &event, H_SETUNIQUE, 1);
    el_set(ed.el, EL_HIST, history, ed.history);
    el_set(ed.el, EL_ADDFN, "kiv-complete", "Complete the word before the cursor", complete_key);
    el_set(ed.el, EL_BIND, "^I", "kiv-complete", nullptr);
    el_source(ed.el, nullptr);
    ed.history_file = history_path();
    if (!ed.history_file.empty()) history(ed.history, &event, H_LOAD, ed.history_file.c_str());
    return true;
}

// A command typed over several lines is one entry: each continuation line
// joins the entry of the line before.
void remember(const std::string& line, bool continued) {
    HistEvent event;
    std::string entry = line;
    if (continued && history(ed.history, &event, H_FIRST) == 0) {
        entry = std::string(event.str) + "\n" + line;
        // H_FIRST leaves the newest entry current; deleting it by number
        // keeps the order of the others.
        history(ed.history, &event, H_DEL, event.num);
    }
    history(ed.history, &event, H_ENTER, entry.c_str());
    if (!ed.history_file.empty()) history(ed.history, &event, H_SAVE, ed.history_file.c_str());
}

// One line through the editor; the end of the input (Ctrl-D on an empty
// line) answers "quit".
std::string edit_line(const std::string& prompt, bool continued) {
    if (!console::at_line_start) console::write("\n", 1, 1, false);
    ed.prompt = prompt;
    int count = 0;
    const char* text = el_gets(ed.el, &count);
    input_ended = !text && !system::interrupt_pending;
    if (!text) {
        console::write("\n", 1, 1, false);
        return input_ended ? "quit" : INTERRUPTED;
    }
    std::string line(text, size_t(count));
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
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
        if (ed.el) el_end(ed.el);
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
