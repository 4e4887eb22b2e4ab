#pragma once
// Child processes: starting a command with its standard streams fed from or
// caught into memory or files, waiting for its status, and handing a
// document to the desktop's opener.
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace kiv::processes {

// Where a child's standard stream comes from or goes to.
enum stream_kind {
    STREAM_INHERIT,  // the parent's own descriptor
    STREAM_NULL,     // /dev/null
    STREAM_MEMORY,   // bytes supplied (input) or captured (output)
    STREAM_FILE,     // a file by path: read from, or appended to
};

struct stream {
    stream_kind kind = STREAM_INHERIT;
    std::string path;   // STREAM_FILE
    std::string bytes;  // STREAM_MEMORY: what is fed, or what was caught
};

// How a launch ended.
enum launch_result {
    LAUNCHED,        // status holds the exit status, or the process id when not waited for
    NOT_STARTED,     // the program could not be started (even through the shell)
    BAD_INPUT,       // the input file could not be opened
    BAD_OUTPUT,      // the output file could not be opened
    BAD_ERROR,       // the error file could not be opened
};

// Splits a command line into words: blanks separate them, double quotes
// group text with blanks (the quotes are dropped) and \" is a quote.
std::vector<std::string> split_command(const std::string& line);

// Runs the program named by the first word of argv; when no such program can
// be found the command text is run by /bin/sh -c instead. With `shell` it is
// run by the shell from the start. When `wait` is false the child is left to
// run (and is reaped in the background) and `status` is its process id;
// otherwise `status` is its exit status, 128 + the signal number for a child
// killed by a signal. Input, output and error are fed and drained together,
// so a child that writes much before reading cannot stall.
launch_result run(const std::vector<std::string>& argv, const std::string& command_text, bool shell, bool wait,
                  stream& in, stream& out, stream& err, int64_t* status);

// Hands a URL or a path to the desktop's opener (xdg-open) without waiting.
// False when the opener could not be started.
bool open_document(const std::string& target);

// Reaps a child in the background once it ends.
void reap_later(pid_t pid);

}  // namespace kiv::processes
