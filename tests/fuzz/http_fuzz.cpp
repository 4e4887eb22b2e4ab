// libFuzzer target for the HTTP response header reader: raw header text as a
// server may send it. The split must stay inside the input and every field it
// gives must be well formed (a non-empty token name, a value without line
// ends or outer blanks); the map made of the fields must build without
// raising, whatever the bytes of the values.
#include <cstdlib>
#include <cstring>

#include "runtime/io/http.h"
#include "tests/fuzz/fuzz_runtime.h"

using namespace kiv;

namespace {

bool token_char_q(unsigned char c) {
    return (c >= '0' && c <= '9') || ((c | 0x20) >= 'a' && (c | 0x20) <= 'z') ||
           (c && std::strchr("!#$%&'*+-.^_`|~", c));
}

void check_fields(const uint8_t* data, size_t size) {
    size_t total = 0;
    for (const http::header_field& f : http::split_headers(data, size)) {
        if (f.name.empty()) std::abort();
        for (unsigned char c : f.name)
            if (!token_char_q(c)) std::abort();
        if (f.value.find_first_of("\r\n") != std::string::npos) std::abort();
        if (!f.value.empty() && (f.value.front() == ' ' || f.value.front() == '\t' || f.value.back() == ' ' ||
                                 f.value.back() == '\t'))
            std::abort();
        total += f.name.size() + 1 + f.value.size();
    }
    if (total > size) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::start_runtime();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    check_fields(data, size);
    if (!fuzz::attempt([&] { http::headers_to_map(data, size, nullptr); })) std::abort();
    return 0;
}
