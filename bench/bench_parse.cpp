// PARSE over 10 MB of CSV-like text (lines of comma-separated fields), in
// MB/s, for three kinds of grammar: one that checks the shape of every line,
// one that copies every field and counts it in a paren, and one that jumps
// from line end to line end. bench_parse_re.py does the same work with
// Python's re on the same text, and its figures are printed alongside. Each
// figure is the best of three runs.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "runtime/boot.h"
#include "runtime/collector.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/evaluator/interpreter.h"
#include "runtime/evaluator/lexer.h"
#include "runtime/runtime.h"
#include "runtime/stack.h"
#include "runtime/system.h"
#include "tests/unit/natives_setup.h"

namespace {

using namespace kiv;

constexpr int RUNS = 3;

// Eight fields a line: numbers, words, empty fields; the same text every run.
std::string make_text(size_t bytes) {
    std::string text;
    text.reserve(bytes + 200);
    uint32_t state = 12345;
    auto next = [&] { return state = state * 1103515245u + 12345u, (state >> 16) & 0x7FFF; };
    while (text.size() < bytes) {
        for (int field = 0; field < 8; field++) {
            if (field) text += ',';
            uint32_t kind = next() % 4, length = next() % 12;
            for (uint32_t i = 0; kind && i < length; i++)
                text += char(kind == 1 ? '0' + next() % 10 : 'a' + next() % 26);
        }
        text += '\n';
    }
    return text;
}

kiv_value evaluate(const std::string& code_text) {
    kiv_value code{TYPE_UNSET, 0, 0, 0};
    lexer::scan(&code, reinterpret_cast<const uint8_t*>(code_text.data()), uint32_t(code_text.size()), false, false,
                false, nullptr, nullptr, nullptr, nullptr);
    stack::mark_native(nullptr);
    interpreter::eval(&code, false);
    kiv_value result = *stack::get_top();
    stack::unwind_drop();
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    system::os_init(argc, argv);
    runtime::init(kiv_boot_data, kiv_boot_data_size);
    boot::start();
    collector::active_q = false;
    collector::active_q = true;
    std::string text = make_text(10u << 20);
    double megabytes = double(text.size()) / (1 << 20);
    kiv_value s{TYPE_UNSET, 0, 0, 0};
    string::load_at(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()), &s, string::UTF8);
    kiv_value w = *word::load("text");
    _context::set(&w, &s);
    evaluate(R"(field-char: make bitset! [not ",^/"] field: [any field-char] line: [field any ["," field] #"^/"])");

    const char* grammars[][2] = {
        {"shape: some line", "parse text [some line]"},
        {"copy every field, count in a paren", R"(n: 0 parse text [some [copy f field (n: n + 1) ["," | #"^/"]]])"},
        {"thru each line end", R"(parse text [some thru #"^/"])"},
    };
    std::printf("PARSE over %.1f MB of CSV-like text, MB/s (best of %d runs)\n", megabytes, RUNS);
    for (auto& g : grammars) {
        double best = 1e9;
        bool ok = true;
        for (int run = 0; run < RUNS; run++) {
            auto start = std::chrono::steady_clock::now();
            kiv_value result = evaluate(g[1]);
            best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
            ok = ok && type_of(&result) == TYPE_LOGIC && result.data1;
        }
        std::printf("  %-40s %8.1f%s\n", g[0], megabytes / best, ok ? "" : "  (did not match!)");
    }

    // The same work with Python's re, on the same text.
    char path[] = "/tmp/kiv_bench_parse_XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0 || write(fd, text.data(), text.size()) != ssize_t(text.size())) return 1;
    close(fd);
    std::string command = std::string("python3 ") + KIV_SOURCE_DIR + "/bench/bench_parse_re.py " + path;
    std::fflush(stdout);
    int status = std::system(command.c_str());
    unlink(path);
    return status == 0 ? 0 : 1;
}
