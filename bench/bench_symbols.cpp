// Symbol lookups of existing spellings: one hash and a probe or two each.
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "runtime/datatypes/symbol.h"
#include "runtime/boot.h"
#include "runtime/runtime.h"
#include "runtime/system.h"

int main(int argc, char** argv) {
    using namespace kiv;
    system::os_init(argc, argv);
    runtime::init(kiv_boot_data, kiv_boot_data_size);
    boot::start();
    std::vector<std::string> names;
    for (int i = 0; i < 5000; i++) names.push_back("word-" + std::to_string(i));
    for (const std::string& n : names) symbol::make(n.c_str());
    const int lookups = 1000000;
    auto start = std::chrono::steady_clock::now();
    int64_t sum = 0;
    for (int i = 0; i < lookups; i++) sum += symbol::make(names[size_t(i) % names.size()].c_str());
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%d lookups of existing symbols: %.3f s, %.1f ns each (checksum %lld)\n", lookups, seconds,
                seconds * 1e9 / lookups, static_cast<long long>(sum));
    return 0;
}
