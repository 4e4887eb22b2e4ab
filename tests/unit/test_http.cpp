// The response header reader: splitting raw header text into fields, and the
// map! made of them.
#include <string>
#include <utility>
#include <vector>

#include "runtime/datatypes/map.h"
#include "runtime/io/http.h"
#include "tests/unit/action_fixture.h"
#include "tests/unit/stack_fixture.h"

using namespace kiv;
using namespace kiv::test;

using Http = StackTest;

namespace {

using fields = std::vector<std::pair<std::string, std::string>>;

fields split(const std::string& text) {
    fields out;
    for (const http::header_field& f : http::split_headers(reinterpret_cast<const uint8_t*>(text.data()), text.size()))
        out.emplace_back(f.name, f.value);
    return out;
}

}  // namespace

TEST(HttpHeaders, SplitsLinesIntoNamesAndValues) {
    struct Case {
        std::string text;
        fields want;
    } cases[] = {
        {"HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 5\r\n\r\n",
         {{"Content-Type", "text/plain"}, {"Content-Length", "5"}}},
        // No blank after the colon: the value keeps its first byte.
        {"Name:value\r\n", {{"Name", "value"}}},
        // Blanks around the value go; inside they stay.
        {"A: \t x  y \t\r\n", {{"A", "x  y"}}},
        {"A:\r\n", {{"A", ""}}},
        {"A:   \r\n", {{"A", ""}}},
        // The last line needs no line end; bare LF and bare CR end lines too.
        {"A: 1", {{"A", "1"}}},
        {"A: 1\nB: 2\rC: 3", {{"A", "1"}, {"B", "2"}, {"C", "3"}}},
        // Only the first colon separates.
        {"Location: http://h:8080/x\r\n", {{"Location", "http://h:8080/x"}}},
        // Lines without a name are skipped: the status line, a colon first,
        // a name with a blank or a byte no token holds.
        {"HTTP/1.1 200 OK\r\n: x\r\nA B: c\r\nA\x01: d\r\n\xC3\xA9: e\r\nok: f\r\n", {{"ok", "f"}}},
        {"no colon here\r\n", {}},
        {"", {}},
        {"\r\n\r\n\n\r", {}},
        {":", {}},
        // Bytes of any value pass as they are (decoding is the map's).
        {"X: caf\xE9\r\n", {{"X", "caf\xE9"}}},
        {std::string("X: a\0b\r\n", 8), {{"X", std::string("a\0b", 3)}}},
        {"Set-Cookie: a=1\r\nSet-Cookie: b=2\r\n", {{"Set-Cookie", "a=1"}, {"Set-Cookie", "b=2"}}},
    };
    for (const Case& c : cases) EXPECT_EQ(split(c.text), c.want) << c.text;
}

TEST_F(Http, HeaderMapJoinsRepeatedNamesAndDecodesValues) {
    std::string text =
        "HTTP/1.1 200 OK\r\nSet-Cookie: a=1\r\nX-Latin: caf\xE9\r\nX-Utf8: \xC3\xA9t\xC3\xA9\r\nset-cookie: b=2\r\n"
        "SET-COOKIE: c=3\r\nServer: s\r\n\r\n";
    kiv_value m = *http::headers_to_map(reinterpret_cast<const uint8_t*>(text.data()), text.size(), nullptr);
    ASSERT_EQ(type_of_v(m), uint32_t(TYPE_MAP));
    EXPECT_EQ(map::count(&m), 4u);
    auto value = [&](const char* name) {
        kiv_value key = word_of(name);
        const kiv_value* v = map::find_value(&m, &key, false);
        return v ? *v : none_value;
    };
    kiv_value cookies = value("Set-Cookie");
    ASSERT_EQ(type_of_v(cookies), uint32_t(TYPE_BLOCK));
    ASSERT_EQ(length_of(cookies), 3u);
    EXPECT_EQ(text_of(cells_of(cookies)[0]), "a=1");
    EXPECT_EQ(text_of(cells_of(cookies)[2]), "c=3");
    // Latin-1 when the bytes are no UTF-8; text_of gives code points as bytes.
    EXPECT_EQ(text_of(value("X-Latin")), "caf\xE9");
    EXPECT_EQ(text_of(value("x-utf8")), "\xE9t\xE9");
    EXPECT_EQ(text_of(value("Server")), "s");
    EXPECT_EQ(type_of_v(value("Missing")), uint32_t(TYPE_NONE));
}

TEST_F(Http, EmptyHeaderTextGivesAnEmptyMap) {
    kiv_value m = *http::headers_to_map(nullptr, 0, nullptr);
    EXPECT_EQ(map::count(&m), 0u);
}
