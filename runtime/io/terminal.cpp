// The terminal host's routines: reading a line, and the terminal's size.
#include "runtime/io/terminal.h"

#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "runtime/boot.h"
#include "runtime/console_out.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/string.h"
#include "runtime/stack.h"

namespace kiv::terminal {

namespace {

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

// read-line: prompt [string!] hide [logic!]. The end of the input answers
// "quit", so that a console fed from a file or a pipe ends with it.
void read_line() {
    kiv_value prompt = stack::arguments[0];
    bool hide = logic::get(stack::arguments + 1);
    series_buffer* b = string::buffer_of(&prompt);
    uint32_t unit = unit_of(b);
    uint8_t* head = b->offset + size_t(string::head_of(&prompt)) * unit;
    if (head < b->tail) console::write(head, uint32_t(b->tail - head), unit, false);
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
    if (ended && line.empty()) line = "quit";
    if (!line.empty() && line.back() == '\r') line.pop_back();
    string::load_at(reinterpret_cast<const uint8_t*>(line.data()), uint32_t(line.size()), stack::arguments,
                    string::UTF8);
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
}

}  // namespace kiv::terminal
