// Child processes through posix_spawn, with pipes drained by poll.
#include "runtime/io/processes.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <thread>

extern char** environ;

namespace kiv::processes {

namespace {

constexpr size_t READ_CHUNK = 65536;

// Closes a descriptor once, whatever path leaves the launch.
struct fd_holder {
    int fd = -1;
    fd_holder() = default;
    fd_holder(const fd_holder&) = delete;
    fd_holder& operator=(const fd_holder&) = delete;
    ~fd_holder() { reset(); }
    void reset(int to = -1) {
        if (fd >= 0) close(fd);
        fd = to;
    }
};

// The child's descriptor for one standard stream, and the parent's end of
// its pipe when the stream is in memory. Every descriptor made here is
// close-on-exec, so that no other child started meanwhile inherits it.
bool prepare(stream& s, bool reading, fd_holder& child, fd_holder& parent) {
    switch (s.kind) {
        case STREAM_INHERIT:
            return true;
        case STREAM_NULL:
            child.reset(open("/dev/null", (reading ? O_RDONLY : O_WRONLY) | O_CLOEXEC));
            return child.fd >= 0;
        case STREAM_FILE:
            child.reset(reading ? open(s.path.c_str(), O_RDONLY | O_CLOEXEC)
                                : open(s.path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666));
            return child.fd >= 0;
        case STREAM_MEMORY: {
            int p[2];
            if (pipe2(p, O_CLOEXEC) != 0) return false;
            child.reset(reading ? p[0] : p[1]);
            parent.reset(reading ? p[1] : p[0]);
            fcntl(parent.fd, F_SETFL, fcntl(parent.fd, F_GETFL) | O_NONBLOCK);
            return true;
        }
    }
    return false;
}

int status_of(int raw) {
    if (WIFEXITED(raw)) return WEXITSTATUS(raw);
    if (WIFSIGNALED(raw)) return 128 + WTERMSIG(raw);
    return -1;
}

// Feeds the input and drains output and error at the same time until the
// child has closed both and taken (or refused) all its input.
void exchange(int in_fd, const std::string& input, int out_fd, std::string* out, int err_fd, std::string* err) {
    // A child that exits before reading all its input makes writes fail with
    // EPIPE; the signal that comes with it is held back and discarded.
    sigset_t pipe_set, old_set;
    sigemptyset(&pipe_set);
    sigaddset(&pipe_set, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe_set, &old_set);

    size_t fed = 0;
    if (in_fd >= 0 && input.empty()) {
        close(in_fd);
        in_fd = -1;
    }
    std::string chunk(READ_CHUNK, '\0');
    while (in_fd >= 0 || out_fd >= 0 || err_fd >= 0) {
        pollfd fds[3];
        int n = 0;
        int in_at = -1, out_at = -1, err_at = -1;
        if (in_fd >= 0) fds[in_at = n++] = {in_fd, POLLOUT, 0};
        if (out_fd >= 0) fds[out_at = n++] = {out_fd, POLLIN, 0};
        if (err_fd >= 0) fds[err_at = n++] = {err_fd, POLLIN, 0};
        if (poll(fds, nfds_t(n), -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (in_at >= 0 && fds[in_at].revents) {
            // A partial write only moves the position forward.
            ssize_t w = write(in_fd, input.data() + fed, input.size() - fed);
            if (w > 0) fed += size_t(w);
            if ((w < 0 && errno != EAGAIN && errno != EINTR) || fed == input.size()) {
                close(in_fd);
                in_fd = -1;
            }
        }
        auto drain = [&](int at, int& fd, std::string* sink) {
            if (at < 0 || !fds[at].revents) return;
            ssize_t r = read(fd, chunk.data(), chunk.size());
            if (r > 0) sink->append(chunk.data(), size_t(r));
            else if (r == 0 || (errno != EAGAIN && errno != EINTR)) {
                close(fd);
                fd = -1;
            }
        };
        drain(out_at, out_fd, out);
        drain(err_at, err_fd, err);
    }
    if (in_fd >= 0) close(in_fd);
    if (out_fd >= 0) close(out_fd);
    if (err_fd >= 0) close(err_fd);

    timespec zero{0, 0};
    while (sigtimedwait(&pipe_set, nullptr, &zero) > 0) {
    }
    pthread_sigmask(SIG_SETMASK, &old_set, nullptr);
}

// The child starts with default signal handling and nothing blocked, even
// where the parent ignores or blocks a signal.
struct spawn_attributes {
    posix_spawnattr_t attr;
    spawn_attributes() {
        posix_spawnattr_init(&attr);
        sigset_t all, none;
        sigfillset(&all);
        sigemptyset(&none);
        posix_spawnattr_setsigdefault(&attr, &all);
        posix_spawnattr_setsigmask(&attr, &none);
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    }
    ~spawn_attributes() { posix_spawnattr_destroy(&attr); }
};

int spawn(pid_t* pid, const std::vector<std::string>& argv, posix_spawn_file_actions_t* actions) {
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    spawn_attributes attributes;
    return posix_spawnp(pid, args[0], actions, &attributes.attr, args.data(), environ);
}

}  // namespace

std::vector<std::string> split_command(const std::string& line) {
    std::vector<std::string> words;
    std::string word;
    bool in_word = false, quoted = false;
    for (size_t i = 0; i < line.size(); i++) {
        char c = line[i];
        if (c == '\\' && i + 1 < line.size() && line[i + 1] == '"') {
            word += '"';
            in_word = true;
            i++;
        } else if (c == '"') {
            quoted = !quoted;
            in_word = true;
        } else if (!quoted && (c == ' ' || c == '\t' || c == '\n' || c == '\r')) {
            if (in_word) words.push_back(word);
            word.clear();
            in_word = false;
        } else {
            word += c;
            in_word = true;
        }
    }
    if (in_word) words.push_back(word);
    return words;
}

// The waiting thread takes no signals: Ctrl-C and the others stay with the
// threads that handle them.
void reap_later(pid_t pid) {
    sigset_t all, old;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &old);
    std::thread([pid] {
        int raw;
        while (waitpid(pid, &raw, 0) < 0 && errno == EINTR) {
        }
    }).detach();
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
}

launch_result run(const std::vector<std::string>& argv, const std::string& command_text, bool shell, bool wait,
                  stream& in, stream& out, stream& err, int64_t* status) {
    fd_holder in_child, in_parent, out_child, out_parent, err_child, err_parent;
    if (!prepare(in, true, in_child, in_parent)) return in.kind == STREAM_FILE ? BAD_INPUT : NOT_STARTED;
    if (!prepare(out, false, out_child, out_parent)) return out.kind == STREAM_FILE ? BAD_OUTPUT : NOT_STARTED;
    if (!prepare(err, false, err_child, err_parent)) return err.kind == STREAM_FILE ? BAD_ERROR : NOT_STARTED;

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (in_child.fd >= 0) posix_spawn_file_actions_adddup2(&actions, in_child.fd, STDIN_FILENO);
    if (out_child.fd >= 0) posix_spawn_file_actions_adddup2(&actions, out_child.fd, STDOUT_FILENO);
    if (err_child.fd >= 0) posix_spawn_file_actions_adddup2(&actions, err_child.fd, STDERR_FILENO);

    pid_t pid = -1;
    int rc = ENOENT;
    if (!shell && !argv.empty()) rc = spawn(&pid, argv, &actions);
    if (rc == ENOENT) rc = spawn(&pid, {"/bin/sh", "-c", command_text}, &actions);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return NOT_STARTED;

    // The child holds its own copies now; the parent's would keep the pipes
    // open and the child's reads from waiting for an end.
    in_child.reset();
    out_child.reset();
    err_child.reset();

    if (!wait && in_parent.fd < 0 && out_parent.fd < 0 && err_parent.fd < 0) {
        reap_later(pid);
        *status = pid;
        return LAUNCHED;
    }
    int in_fd = in_parent.fd, out_fd = out_parent.fd, err_fd = err_parent.fd;
    in_parent.fd = out_parent.fd = err_parent.fd = -1;  // exchange closes them
    exchange(in_fd, in.bytes, out_fd, &out.bytes, err_fd, &err.bytes);
    int raw = 0;
    while (waitpid(pid, &raw, 0) < 0) {
        if (errno != EINTR) {
            *status = -1;
            return LAUNCHED;
        }
    }
    *status = status_of(raw);
    return LAUNCHED;
}

bool open_document(const std::string& target) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid;
    int rc = spawn(&pid, {"xdg-open", target}, &actions);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return false;
    reap_later(pid);
    return true;
}

}  // namespace kiv::processes
