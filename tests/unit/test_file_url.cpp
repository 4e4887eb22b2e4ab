// file! and url!: molded forms, the percent helpers, URLs from blocks, path
// joining, system paths, the action rows and the I/O hand-over.
#include <unistd.h>

#include <cctype>
#include <climits>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/file.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/url.h"
#include "runtime/evaluator/interpreter.h"
#include "runtime/platform.h"
#include "tests/unit/action_fixture.h"
#include "tests/unit/text_fixture.h"

using namespace kiv;
using namespace kiv::test;
using namespace std::literals;

using FileUrl = StackTest;

namespace {

kiv_value typed(kiv_value v, uint32_t type) {
    v.header = type;
    return v;
}

kiv_value file_of(const char* name) { return typed(str(name), TYPE_FILE); }
kiv_value url_of(const char* name) { return typed(str(name), TYPE_URL); }

kiv_value wide(std::u32string_view s, uint32_t type = TYPE_STRING) {
    return typed(text(codepoints(s.begin(), s.end())), type);
}
codepoints cps(std::u32string_view s) { return codepoints(s.begin(), s.end()); }

kiv_value at(kiv_value s, uint32_t head) {
    s.data1 = head;
    return s;
}

kiv_value empty_string() {
    kiv_value s;
    string::make_at(&s, 1);
    return s;
}

void expect_raises(err::category c, uint32_t id, const std::function<void()>& code) {
    stack::arguments = stack::top = stack::bottom;
    stack::ctop = stack::cbottom;
    stack::mark_try(nullptr);
    expect_error(raised(code), c, id);
}

void expect_not_done(const std::function<void()>& code) {
    expect_raises(err::INTERNAL, err::internal::not_done, code);
}

std::string cwd() {
    char buf[4096];
    EXPECT_NE(getcwd(buf, sizeof buf), nullptr);
    return buf;
}

// The system path of a file with or without the full flag.
std::string local(const kiv_value& file, bool full) {
    kiv_value f = file, out = empty_string();
    file::convert_to_local(&f, &out, full);
    return text_of(out);
}

kiv_value get_path(kiv_value parent, kiv_value element) {
    return *actions::eval_path_typed(&parent, &element, nullptr, nullptr, nullptr, nullptr, -1, false, false,
                                     true, false);
}

// Refinement positions of read and write.
enum { R_PART, R_SEEK, R_BINARY, R_LINES, R_INFO, R_AS };
enum { W_BINARY, W_LINES, W_INFO, W_APPEND, W_PART, W_SEEK, W_ALLOW, W_AS };

std::vector<int32_t> refs_with(int index, int32_t position) {
    std::vector<int32_t> refs(12, -1);
    refs[size_t(index)] = position;
    return refs;
}

}  // namespace

// Molding files ------------------------------------------------------------------

TEST_F(FileUrl, FilesMoldAfterAPercentSignQuotedWhenTheNameNeedsIt) {
    struct Case {
        const char* in;
        const char* out;
    } cases[] = {
        {"dir/file.txt", "%dir/file.txt"},
        {"/home/user/", "%/home/user/"},
        {"a-b_c~d.e!f$g&h'i(j)k*l+m,n:o=p?q@r#s", "%a-b_c~d.e!f$g&h'i(j)k*l+m,n:o=p?q@r#s"},
        {"my file.txt", "%\"my file.txt\""},
        {"", "%\"\""},
        {"caf\xe9", "%caf\xe9"},
        {"50%", "%\"50%\""},
        {"a;b", "%\"a;b\""},
        {"<a>[b]{c}|d`e\\f", "%\"<a>[b]{c}|d`e\\f\""},
        // Quoted names are read back with string escapes.
        {"say \"hi\"", "%\"say ^(22)hi^(22)\""},
        {"a^b", "%\"a^^b\""},
        {"a\nb", "%\"a^/b\""},
        {"a\tb", "%\"a^-b\""},
    };
    for (const Case& c : cases) EXPECT_EQ(molded(file_of(c.in)), c.out) << c.in;
    EXPECT_EQ(molded(at(file_of("dir/a b"), 4)), "%\"a b\"");
    EXPECT_EQ(molded(at(file_of("dir/f"), 5)), "%\"\"");
    EXPECT_EQ(molded(at(file_of("dir/f"), 9)), "%\"\"");
    kiv_value wide_name = wide(U"\u4e00/\U0001F600", TYPE_FILE);
    kiv_value m = call(SLOT_MOLD, {wide_name}, {-1, -1, -1, -1});
    EXPECT_EQ(chars_of(&m), cps(U"%\u4e00/\U0001F600"));
    EXPECT_EQ(molded(block_of({file_of("a"), file_of("b c")})), "[%a %\"b c\"]");
}

TEST_F(FileUrl, FileMoldSpendsItsBudget) {
    kiv_value f = file_of("abcdef");
    kiv_value out = empty_string();
    EXPECT_EQ(file::mold(&f, &out, false, false, false, nullptr, 100, 0), 93);
    kiv_value three = int_value(3);
    string::ks_reset(&out);
    EXPECT_EQ(file::mold(&f, &out, false, false, false, &three, 3, 0), -1);
    EXPECT_EQ(text_of(out), "%abc");
    // The quotes count as written characters.
    kiv_value spaced = file_of("a b");
    string::ks_reset(&out);
    EXPECT_EQ(file::mold(&spaced, &out, false, false, false, nullptr, 100, 0), 94);
    kiv_value none_yet = file_of("");
    string::ks_reset(&out);
    EXPECT_EQ(file::mold(&none_yet, &out, false, false, false, nullptr, 100, 0), 97);
    EXPECT_EQ(text_of(call(SLOT_MOLD, {f, int_value(4)}, {-1, -1, -1, 1})), "%abc");
    // Only the molded range decides the quotes.
    kiv_value two = int_value(2), late_space = file_of("ab cd");
    string::ks_reset(&out);
    EXPECT_EQ(file::mold(&late_space, &out, false, false, false, &two, 2, 0), -1);
    EXPECT_EQ(text_of(out), "%ab");
}

// Molding URLs -------------------------------------------------------------------

TEST_F(FileUrl, UrlsMoldWithPercentEscapes) {
    struct Case {
        std::u32string_view in;
        const char* out;
    } cases[] = {
        {U"http://example.com/a b", "http://example.com/a%20b"},
        {U"http://example.com/caf\u00e9", "http://example.com/caf%C3%A9"},
        {U"http://h/100%", "http://h/100%25"},
        {U"http://h/p?q=1&r=2#frag", "http://h/p?q=1&r=2#frag"},
        {U"mailto:x@y", "mailto:x@y"},
        {U"http://h/\u4e00", "http://h/%E4%B8%80"},
        {U"http://h/\U0001F600", "http://h/%F0%9F%98%80"},
        {U"http://h/a\"b<c>", "http://h/a%22b%3Cc%3E"},
    };
    for (const Case& c : cases) EXPECT_EQ(molded(wide(c.in, TYPE_URL)), c.out);
    EXPECT_EQ(molded(at(url_of("http://h/a b"), 9)), "a%20b");
    // form gives the text as it is.
    EXPECT_EQ(formed(url_of("http://h/a b")), "http://h/a b");
}

TEST_F(FileUrl, UrlMoldStopsAtThePartLimit) {
    kiv_value u = url_of("http://h/a b c");
    EXPECT_EQ(text_of(call(SLOT_MOLD, {u, int_value(5)}, {-1, -1, -1, 1})), "http:");
    EXPECT_EQ(text_of(call(SLOT_MOLD, {u, int_value(12)}, {-1, -1, -1, 1})), "http://h/a%2");
    kiv_value out = empty_string();
    kiv_value limit = int_value(11);
    EXPECT_EQ(url::mold(&u, &out, false, false, false, &limit, 11, 0), -2);
    EXPECT_EQ(text_of(out), "http://h/a%20");
    string::ks_reset(&out);
    EXPECT_EQ(url::mold(&u, &out, false, false, false, nullptr, 100, 0), 82);
}

// Percent codes ------------------------------------------------------------------

TEST_F(FileUrl, PercentEncodeByteKeepsPlainBytesAndEscapesTheRest) {
    const uint8_t a = 'a', space = ' ', slash = '/', high = 0xE9;
    auto encoded = [](int32_t mode, const uint8_t* byte) {
        uint32_t n = 0;
        const char* piece = url::percent_encode_byte(mode, byte, &n);
        return std::string(piece, n);
    };
    uint32_t n = 0;
    EXPECT_EQ(url::percent_encode_byte(url::GENERAL, &a, &n), reinterpret_cast<const char*>(&a));
    EXPECT_EQ(n, 1u);
    EXPECT_EQ(encoded(url::GENERAL, &space), "%20");
    EXPECT_EQ(encoded(url::GENERAL, &slash), "/");
    EXPECT_EQ(encoded(url::UNRESERVED, &slash), "%2F");
    EXPECT_EQ(encoded(42, &high), "%E9");
    for (uint32_t b = 0; b < 256; b++) {
        bool general = std::isalnum(int(b)) || (b && b < 128 && std::strchr("!#$&'()*+,-./:=?@_~", int(b)));
        bool unreserved = std::isalnum(int(b)) || (b && b < 128 && std::strchr("-._~", int(b)));
        EXPECT_EQ(url::plain_q(uint8_t(b), url::GENERAL), general) << b;
        EXPECT_EQ(url::plain_q(uint8_t(b), url::UNRESERVED), unreserved) << b;
    }
}

TEST_F(FileUrl, PercentEncodeMatchesTheReferenceTable) {
    // Expected texts from urllib.parse.quote: the general class as
    // safe="!#$&'()*+,/:=?@", the unreserved class as safe="".
    struct Case {
        std::u32string_view in;
        const char* general;
        const char* unreserved;
    } cases[] = {
        {U""sv, "", ""},
        {U"abc"sv, "abc", "abc"},
        {U"a b"sv, "a%20b", "a%20b"},
        {U"100%"sv, "100%25", "100%25"},
        {U"a/b?c=d&e#f"sv, "a/b?c=d&e#f", "a%2Fb%3Fc%3Dd%26e%23f"},
        {U"~user_name-1.0"sv, "~user_name-1.0", "~user_name-1.0"},
        {U"\"<>[]{}|\\^`"sv, "%22%3C%3E%5B%5D%7B%7D%7C%5C%5E%60", "%22%3C%3E%5B%5D%7B%7D%7C%5C%5E%60"},
        {U";"sv, "%3B", "%3B"},
        {U"\u00E9"sv, "%C3%A9", "%C3%A9"},
        {U"\u4E00"sv, "%E4%B8%80", "%E4%B8%80"},
        {U"\U0001F600"sv, "%F0%9F%98%80", "%F0%9F%98%80"},
        {U"a\tb\nc"sv, "a%09b%0Ac", "a%09b%0Ac"},
        {U"\177"sv, "%7F", "%7F"},
        {U"\0"sv, "%00", "%00"},
        {U"!$'()*+,:@"sv, "!$'()*+,:@", "%21%24%27%28%29%2A%2B%2C%3A%40"},
        {U"caf\u00E9 cr\u00E8me"sv, "caf%C3%A9%20cr%C3%A8me", "caf%C3%A9%20cr%C3%A8me"},
        {U"\u00FF\u0100"sv, "%C3%BF%C4%80", "%C3%BF%C4%80"},
    };
    for (const Case& c : cases) {
        kiv_value in = wide(c.in);
        kiv_value general = empty_string(), unreserved = empty_string();
        url::percent_encode(&in, &general, url::GENERAL);
        url::percent_encode(&in, &unreserved, url::UNRESERVED);
        EXPECT_EQ(text_of(general), c.general);
        EXPECT_EQ(text_of(unreserved), c.unreserved);
        EXPECT_EQ(unit_of(&general), 1u);
    }
    // From the cursor, appended after what the result holds.
    kiv_value in = at(str("x y z"), 2);
    kiv_value out = str("<");
    url::percent_encode(&in, &out, url::GENERAL);
    EXPECT_EQ(text_of(out), "<y%20z");
}

TEST_F(FileUrl, DecodeEscapeReadsTwoHexDigitsOfEitherCase) {
    uint8_t byte = 0;
    auto bytes = [](const char* s) { return reinterpret_cast<const uint8_t*>(s); };
    EXPECT_TRUE(url::decode_escape(bytes("%2f"), &byte));
    EXPECT_EQ(byte, 0x2F);
    EXPECT_TRUE(url::decode_escape(bytes("%A9rest"), &byte));
    EXPECT_EQ(byte, 0xA9);
    EXPECT_FALSE(url::decode_escape(bytes("%"), &byte));
    EXPECT_FALSE(url::decode_escape(bytes("%4"), &byte));
    EXPECT_FALSE(url::decode_escape(bytes("%G1"), &byte));
    EXPECT_FALSE(url::decode_escape(bytes("%1g"), &byte));
    EXPECT_FALSE(url::decode_escape(bytes("a%20"), &byte));
}

TEST_F(FileUrl, PercentDecodeMatchesTheReferenceTable) {
    // Expected texts from urllib.parse.unquote (valid UTF-8 only: it and
    // this decoder differ on bad sequences, tested below).
    struct Case {
        std::u32string_view in, out;
    } cases[] = {
        {U"abc", U"abc"},
        {U"a%20b", U"a b"},
        {U"%C3%A9", U"\u00E9"},
        {U"%c3%a9", U"\u00E9"},
        {U"%E4%B8%80", U"\u4E00"},
        {U"%F0%9F%98%80", U"\U0001F600"},
        {U"a%2Fb", U"a/b"},
        {U"%41%42%43", U"ABC"},
        {U"100%", U"100%"},
        {U"%4", U"%4"},
        {U"%G1", U"%G1"},
        {U"%%41", U"%A"},
        {U"caf%C3%A9 cr\u00E8me", U"caf\u00E9 cr\u00E8me"},
        {U"\u00E9%20", U"\u00E9 "},
        {U"%e2%82%ac%20euro", U"\u20AC euro"},
        {U"%7E%5f", U"~_"},
        {U"a+b", U"a+b"},
        {U"%25", U"%"},
    };
    for (const Case& c : cases) {
        kiv_value in = wide(c.in);
        kiv_value out = empty_string();
        url::percent_decode(&in, &out);
        EXPECT_EQ(chars_of(&out), cps(c.out));
    }
}

TEST_F(FileUrl, PercentDecodeTakesBytesThatBeginNoSequenceAsCodePoints) {
    struct Case {
        std::u32string_view in, out;
    } cases[] = {
        {U"%E9", U"\u00E9"},                      // a lone lead
        {U"%E9t%C3%A9", U"\u00E9t\u00E9"},
        {U"%A9", U"\u00A9"},                      // a continuation byte
        {U"%C3", U"\u00C3"},                      // a cut sequence
        {U"%C3%41", U"\u00C3A"},                  // no continuation after the lead
        {U"%E4%B8", U"\u00E4\u00B8"},
        {U"%E4%B8x", U"\u00E4\u00B8x"},
        {U"%F0%9F%98", U"\u00F0\u009F\u0098"},
        {U"%C0%80", U"\u00C0\u0080"},             // overlong
        {U"%ED%A0%80", U"\u00ED\u00A0\u0080"},    // a surrogate
        {U"%F4%90%80%80", U"\u00F4\u0090\u0080\u0080"},  // above U+10FFFF
        {U"%EF%BF%BE", U"\u00EF\u00BF\u00BE"},    // the strict decoder's marker
        {U"%FF", U"\u00FF"},
        {U"%C3\u00A9", U"\u00C3\u00A9"},          // the continuation is not escaped
        {U"\U0001F600%", U"\U0001F600%"},
    };
    for (const Case& c : cases) {
        kiv_value in = wide(c.in);
        kiv_value out = empty_string();
        url::percent_decode(&in, &out);
        EXPECT_EQ(chars_of(&out), cps(c.out));
    }
    // From the cursor, appended after what the result holds.
    kiv_value in = at(str("%41%42"), 3);
    kiv_value out = str("<");
    url::percent_decode(&in, &out);
    EXPECT_EQ(text_of(out), "<B");
}

TEST_F(FileUrl, EncodeThenDecodeGivesTheTextBack) {
    for (std::u32string_view s : {U"plain"sv, U"a b/c?d=e&f"sv, U"100% \u00e9\u4e00\U0001F600"sv, U"\0\177\u0080"sv}) {
        kiv_value in = wide(s);
        for (int32_t mode : {url::GENERAL, url::UNRESERVED}) {
            kiv_value encoded = empty_string(), decoded = empty_string();
            url::percent_encode(&in, &encoded, mode);
            url::percent_decode(&encoded, &decoded);
            EXPECT_EQ(chars_of(&decoded), cps(s));
        }
    }
}

// URLs from blocks ---------------------------------------------------------------

TEST_F(FileUrl, ToUrlOfABlockJoinsSchemeHostPortAndPath) {
    kiv_value http = word_of("http");
    kiv_value host = str("example.com");
    kiv_value frag = word_of("top", TYPE_ISSUE);
    struct Case {
        std::vector<kiv_value> parts;
        const char* out;
    } cases[] = {
        {{http, host, int_value(8080)}, "http://example.com:8080"},
        {{http, host, word_of("a"), word_of("b")}, "http://example.com/a/b"},
        {{http, host, int_value(8080), word_of("a"), str("b.html"), frag}, "http://example.com:8080/a/b.html#top"},
        {{http, host}, "http://example.com"},
        {{http}, "http://"},
        // A fragment right after the host or the port keeps its "#".
        {{http, host, frag}, "http://example.com#top"},
        {{http, host, int_value(80), frag}, "http://example.com:80#top"},
        {{http, host, word_of("a"), int_value(2)}, "http://example.com/a/2"},
    };
    for (const Case& c : cases) {
        kiv_value u = call(SLOT_TO, {dtype(TYPE_URL), block_of(c.parts)});
        EXPECT_EQ(type_of(&u), uint32_t(TYPE_URL));
        EXPECT_EQ(text_of(u), c.out);
        kiv_value made = call(SLOT_MAKE, {dtype(TYPE_URL), block_of(c.parts)});
        EXPECT_EQ(text_of(made), c.out);
    }
    kiv_value from_cursor = at(block_of({int_value(0), http, host}), 1);
    EXPECT_EQ(text_of(call(SLOT_TO, {dtype(TYPE_URL), from_cursor})), "http://example.com");
    kiv_value paren = typed(block_of({word_of("ftp"), str("h")}), TYPE_PAREN);
    EXPECT_EQ(text_of(call(SLOT_TO, {dtype(TYPE_URL), paren})), "ftp://h");
    expect_raises(err::SCRIPT, err::script::bad_to_arg, [] { call(SLOT_TO, {dtype(TYPE_URL), block_of({})}); });
    expect_raises(err::SCRIPT, err::script::bad_to_arg,
                  [] { call(SLOT_MAKE, {dtype(TYPE_URL), at(block_of({int_value(1)}), 1)}); });
}

TEST_F(FileUrl, OtherConversionsAreThoseOfStrings) {
    kiv_value u = call(SLOT_TO, {dtype(TYPE_URL), str("http://h/x")});
    EXPECT_EQ(type_of(&u), uint32_t(TYPE_URL));
    EXPECT_EQ(text_of(u), "http://h/x");
    kiv_value made = call(SLOT_MAKE, {dtype(TYPE_URL), int_value(10)});
    EXPECT_EQ(type_of(&made), uint32_t(TYPE_URL));
    EXPECT_EQ(text_of(made), "");
    // file! inherits make and to, but a block becomes a file as a string
    // does: each value formed, nothing between.
    kiv_value f = call(SLOT_TO, {dtype(TYPE_FILE), block_of({word_of("dir"), str("/"), word_of("f")})});
    EXPECT_EQ(type_of(&f), uint32_t(TYPE_FILE));
    EXPECT_EQ(text_of(f), "dir/f");
    kiv_value g = call(SLOT_MAKE, {dtype(TYPE_FILE), str("a b")});
    EXPECT_EQ(type_of(&g), uint32_t(TYPE_FILE));
    EXPECT_EQ(molded(g), "%\"a b\"");
    kiv_value s = call(SLOT_TO, {dtype(TYPE_STRING), url_of("http://h/a b")});
    EXPECT_EQ(type_of(&s), uint32_t(TYPE_STRING));
    EXPECT_EQ(text_of(s), "http://h/a b");
    expect_raises(err::SCRIPT, err::script::bad_to_arg, [] { call(SLOT_TO, {dtype(TYPE_URL), none_value}); });
}

// Paths --------------------------------------------------------------------------

TEST_F(FileUrl, UrlPathsJoinWithOneSlash) {
    struct Case {
        const char* base;
        kiv_value element;
        const char* out;
    } cases[] = {
        {"http://h/", word_of("a"), "http://h/a"},
        {"http://h", word_of("a"), "http://h/a"},
        {"http://h/", str("/a"), "http://h/a"},
        {"http://h", str("/a"), "http://h/a"},
        {"http://h/d/", str("a b"), "http://h/d/a b"},
        {"http://h", int_value(1), "http://h/1"},
        {"http://h", str(""), "http://h/"},
        {"", word_of("a"), "/a"},
    };
    for (const Case& c : cases) {
        kiv_value r = get_path(url_of(c.base), c.element);
        EXPECT_EQ(type_of(&r), uint32_t(TYPE_URL));
        EXPECT_EQ(text_of(r), c.out);
    }
    EXPECT_EQ(text_of(get_path(at(url_of("http://h/a/"), 9), word_of("b"))), "a/b");
    kiv_value f = get_path(file_of("dir/"), word_of("name.txt"));
    EXPECT_EQ(type_of(&f), uint32_t(TYPE_FILE));
    EXPECT_EQ(text_of(f), "dir/name.txt");
    kiv_value w = word_of("segment-name");
    kiv_value v = str("x y");
    _context::set(&w, &v);
    EXPECT_EQ(text_of(get_path(url_of("http://h"), word_of("segment-name", TYPE_GET_WORD))), "http://h/x y");
    kiv_value wide_base = wide(U"http://h/\u4e00/", TYPE_URL);
    kiv_value joined = get_path(wide_base, word_of("a"));
    EXPECT_EQ(chars_of(&joined), cps(U"http://h/\u4e00/a"));
    EXPECT_EQ(chars_of(&wide_base), cps(U"http://h/\u4e00/"));
}

TEST_F(FileUrl, UrlPathsLeaveTheUrlUnchangedAndCannotBeSet) {
    kiv_value u = url_of("http://example.com/");
    kiv_value name = word_of("site");
    _context::set(&name, &u);
    kiv_value p = typed(block_of({word_of("site"), word_of("index.html")}), TYPE_PATH);
    kiv_value code = block_of({p});
    interpreter::eval(&code, false);
    kiv_value r = *stack::get_top();
    EXPECT_EQ(type_of(&r), uint32_t(TYPE_URL));
    EXPECT_EQ(text_of(r), "http://example.com/index.html");
    kiv_value held = *_context::get(&name);
    EXPECT_EQ(text_of(held), "http://example.com/");
    EXPECT_EQ(string::ks_length_all(&held), 19u);

    kiv_value sp = typed(block_of({word_of("site"), word_of("x")}), TYPE_SET_PATH);
    kiv_value set_code = block_of({sp, int_value(1)});
    expect_raises(err::SCRIPT, err::script::bad_path_set, [&] { interpreter::eval(&set_code, false); });
    kiv_value one = int_value(1), x = word_of("x");
    expect_raises(err::SCRIPT, err::script::bad_path_set, [&] {
        actions::eval_path_typed(&u, &x, &one, nullptr, nullptr, nullptr, -1, false, false, true, false);
    });
    EXPECT_EQ(text_of(*_context::get(&name)), "http://example.com/");
}

// System paths -------------------------------------------------------------------

TEST_F(FileUrl, CurrentDirectoryEndsWithASlash) {
    kiv_value dir;
    file::get_current_dir(&dir);
    EXPECT_EQ(type_of(&dir), uint32_t(TYPE_STRING));
    EXPECT_EQ(text_of(dir), cwd() + "/");
    std::string saved = cwd();
    ASSERT_TRUE(platform::set_current_dir("/"));
    file::get_current_dir(&dir);
    EXPECT_EQ(text_of(dir), "/");
    EXPECT_EQ(local(file_of("a/b"), true), "/a/b");
    ASSERT_TRUE(platform::set_current_dir(saved.c_str()));
}

TEST_F(FileUrl, LocalPathsAreThePosixNames) {
    std::string here = cwd() + "/";
    struct Case {
        const char* in;
        std::string plain, full;
    } cases[] = {
        {"/home/user/notes.txt", "/home/user/notes.txt", "/home/user/notes.txt"},
        {"/c/dir/", "/c/dir/", "/c/dir/"},
        {"/c", "/c", "/c"},
        {"/", "/", "/"},
        {"//server/share/f", "//server/share/f", "//server/share/f"},
        {"dir/sub/", "dir/sub/", here + "dir/sub/"},
        {"f.txt", "f.txt", here + "f.txt"},
        {"./a", "./a", here + "./a"},
        {"../a", "../a", here + "../a"},
        {"a\\b", "a\\b", here + "a\\b"},
        {"", "", here},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(local(file_of(c.in), false), c.plain) << c.in;
        EXPECT_EQ(local(file_of(c.in), true), c.full) << c.in;
    }
    EXPECT_EQ(local(at(file_of("x/rel"), 2), true), here + "rel");
    EXPECT_EQ(local(at(file_of("x/abs"), 1), true), "/abs");
    kiv_value f = file_of("b");
    kiv_value out = str("a/");
    file::convert_to_local(&f, &out, false);
    EXPECT_EQ(text_of(out), "a/b");
    kiv_value w = wide(U"d\u00e9j\u00e0/\u4e00", TYPE_FILE);
    kiv_value wout = empty_string();
    file::convert_to_local(&w, &wout, false);
    EXPECT_EQ(chars_of(&wout), cps(U"d\u00e9j\u00e0/\u4e00"));
}

TEST_F(FileUrl, OsPathsAreNulTerminatedUtf8) {
    kiv_value a = file_of("dir/f.txt");
    kiv_value b = wide(U"/tmp/caf\u00e9/\U0001F600", TYPE_FILE);
    const char* pa = file::to_os_path(&a);
    const char* pb = file::to_os_path(&b);
    EXPECT_STREQ(pa, "dir/f.txt");
    EXPECT_STREQ(pb, "/tmp/caf\xC3\xA9/\xF0\x9F\x98\x80");
    kiv_value name_only = at(a, 4);
    EXPECT_STREQ(file::to_os_path(&name_only), "f.txt");
    kiv_value nul = typed(text(codepoints{'a', 0, 'b'}), TYPE_FILE);
    expect_raises(err::SCRIPT, err::script::invalid_arg, [&] { file::to_os_path(&nul); });
}

// Rows and inherited actions -----------------------------------------------------

TEST_F(FileUrl, SeriesActionsComeFromString) {
    kiv_value f = file_of("dir/f");
    EXPECT_EQ(int_of(call(SLOT_LENGTH_Q, {f})), 5);
    kiv_value appended = call(SLOT_APPEND, {f, str(".txt")});
    EXPECT_EQ(type_of(&appended), uint32_t(TYPE_FILE));
    EXPECT_EQ(text_of(appended), "dir/f.txt");
    kiv_value upper = str("DIR/F.TXT");
    EXPECT_TRUE(actions::compare(&f, &upper, COMP_EQUAL));
    kiv_value u = url_of("http://h/");
    kiv_value found = call(SLOT_FIND, {u, str("//")});
    EXPECT_EQ(found.data1, 5u);
    EXPECT_EQ(text_of(call(SLOT_COPY, {u})), "http://h/");
    kiv_value p = *file::push(&f);
    EXPECT_EQ(type_of(&p), uint32_t(TYPE_FILE));
    EXPECT_EQ(p.data2, f.data2);
    EXPECT_EQ(actions::entry(TYPE_FILE, SLOT_MAKE), actions::entry(TYPE_URL, SLOT_MAKE));
    EXPECT_EQ(actions::entry(TYPE_FILE, SLOT_EVAL_PATH), actions::entry(TYPE_URL, SLOT_EVAL_PATH));
    EXPECT_EQ(actions::entry(TYPE_URL, SLOT_FORM), actions::entry(TYPE_STRING, SLOT_FORM));
    EXPECT_EQ(actions::entry(TYPE_FILE, SLOT_FORM), actions::entry(TYPE_STRING, SLOT_FORM));
}

TEST_F(FileUrl, EmptySlotsRaiseExpectArg) {
    kiv_value f = file_of("a"), u = url_of("http://h");
    for (uint32_t slot : {SLOT_RANDOM, SLOT_SORT, SLOT_TRIM, SLOT_CLOSE, SLOT_OPEN_Q, SLOT_UPDATE, SLOT_CREATE}) {
        expect_raises(err::SCRIPT, err::script::expect_arg, [&] { call(slot, {f}); });
        expect_raises(err::SCRIPT, err::script::expect_arg, [&] { call(slot, {u}); });
    }
    for (uint32_t slot : {SLOT_DELETE, SLOT_QUERY})
        expect_raises(err::SCRIPT, err::script::expect_arg, [&] { call(slot, {u}); });
    expect_raises(err::SCRIPT, err::script::expect_arg, [&] { call(SLOT_OPEN, {f}); });
    expect_raises(err::SCRIPT, err::script::expect_arg, [&] { call(SLOT_RENAME, {u, u}); });
    expect_raises(err::SCRIPT, err::script::expect_arg, [&] { call(SLOT_PUT, {u, int_value(1), int_value(2)}); });
}

// I/O ----------------------------------------------------------------------------

TEST_F(FileUrl, FileIoGoesToTheFileServicesButCodecsAndAccessModesWait) {
    kiv_value f = file_of("no-such-notes.txt");
    expect_raises(err::ACCESS, err::access::cannot_open, [&] { call(SLOT_READ, {f}); });
    expect_not_done([&] { call(SLOT_READ, {f, word_of("text")}, refs_with(R_AS, 1)); });
    expect_not_done([&] { call(SLOT_READ, {f}, refs_with(R_INFO, 1)); });
    expect_not_done([&] { call(SLOT_WRITE, {f, str("x"), block_of({})}, refs_with(W_ALLOW, 2)); });
    EXPECT_EQ(type_of_v(call(SLOT_DELETE, {f})), uint32_t(TYPE_LOGIC));
    EXPECT_FALSE(truth(call(SLOT_DELETE, {f})));
    EXPECT_EQ(type_of_v(call(SLOT_QUERY, {f})), uint32_t(TYPE_NONE));
    EXPECT_FALSE(truth(call(SLOT_RENAME, {f, file_of("no-such-other.txt")})));
}

// Other schemes go through ports on the library's URL parser: the port tables
// (tests/kiv/ports.kiv) show them.
TEST_F(FileUrl, UrlIoChecksItsArgumentsThenGoesToHttp) {
    // Nothing listens on port 1: requests that get that far fail to connect.
    kiv_value web = url_of("http://127.0.0.1:1/");
    auto expect_no_connect = [](const std::function<void()>& code) {
        expect_raises(err::ACCESS, err::access::no_connect, code);
    };
    expect_no_connect([&] { call(SLOT_READ, {web}); });
    expect_not_done([&] { call(SLOT_READ, {web, int_value(10)}, refs_with(R_PART, 1)); });
    expect_no_connect([&] { call(SLOT_WRITE, {web, str("payload")}); });
    expect_no_connect([&] { call(SLOT_WRITE, {web, none_value}); });
    expect_no_connect([&] { call(SLOT_WRITE, {web, block_of({})}); });
    kiv_value request = block_of({word_of("put"), block_of({}), str("data")});
    expect_no_connect([&] { call(SLOT_WRITE, {web, request}); });
    expect_not_done([&] { call(SLOT_WRITE, {web, str("x"), int_value(1)}, refs_with(W_SEEK, 2)); });
    struct Bad {
        kiv_value data;
    } bad[] = {
        {int_value(42)},
        {block_of({str("get")})},
        {block_of({word_of("get"), str("Accept: */*")})},
        {block_of({word_of("post"), block_of({}), int_value(1)})},
    };
    for (const Bad& b : bad)
        expect_raises(err::SCRIPT, err::script::invalid_arg, [&] { call(SLOT_WRITE, {web, b.data}); });
}
