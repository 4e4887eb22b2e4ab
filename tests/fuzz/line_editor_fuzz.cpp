// The console's line editor on arbitrary keys: the bytes are split into
// reads, fed to a session with a history and a completer, and painted at a
// width and with styles taken from the input. The same bytes are read as a
// history file, which must come back the same once written.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/io/line_editor.h"

using namespace kiv::line_editor;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    int columns = 1 + data[0] % 40;
    size_t step = 1 + data[1] % 16;
    data += 2;
    size -= 2;

    history past(8);
    past.decode(std::string_view(reinterpret_cast<const char*>(data), size));
    history again(8);
    again.decode(past.encode());
    if (again.entries() != past.entries()) std::abort();

    auto complete = [](const std::u32string& line, size_t caret, completion& out) {
        if (line.size() % 3 == 0) return false;
        out.line = line + U"x\u754c\u0301";
        out.caret = caret + 2;
        out.listing = "a  b";
        return true;
    };
    session s("> \u00e9", &past, complete);
    for (size_t at = 0; at < size;) {
        size_t n = std::min(step, size - at);
        size_t used = 0;
        outcome r = s.feed(data + at, n, used);
        if (used > n || s.caret() > s.line().size()) std::abort();
        at += r == outcome::PENDING ? n : (used ? used : 1);
        if (r != outcome::PENDING) s.flush();
        std::vector<style_run> styles;
        for (size_t i = 0; i + 1 < s.line().size(); i += 3)
            styles.push_back({i, size_t(data[i % size] % 5), "1"});
        s.render(columns, styles);
        s.take_listing();
        if (s.clear_screen_q()) s.forget_paint();
        // Kills and yanks can grow a line as fast as keys can be typed:
        // past a few thousand characters nothing new is found.
        if (s.line().size() > 4000) break;
    }
    s.finish(columns);
    history kept(8);
    kept.add(s.text(), data[0] & 1);
    history read_back(8);
    read_back.decode(kept.encode());
    if (read_back.entries() != kept.entries() && !s.text().empty()) std::abort();
    return 0;
}
