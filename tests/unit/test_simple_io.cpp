// File I/O: reads and writes checked byte for byte against the files, the
// size-less files of /proc and FIFOs, directory listings against Python's
// os.listdir, modification times against stat, and the errors users meet.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "runtime/datatypes/context.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/io/simple_io.h"
#include "runtime/system.h"
#include "runtime/unicode.h"
#include "tests/unit/natives_fixture.h"

using namespace kiv;
using namespace kiv::test;

namespace {

class SimpleIO : public NativesTest {
  protected:
    std::string dir;

    void SetUp() override {
        NativesTest::SetUp();
        char name[] = "/tmp/kiv-io-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        dir = name;
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    // File literals need the lexer: the text is scanned by `do` of a string.
    static std::string lexed(const std::string& text) {
        kiv_value source;
        string::load_at(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()), &source, string::UTF8);
        kiv_value w = *word::load("io-test-source");
        _context::set(&w, &source);
        return "do io-test-source";
    }
    kiv_value run(const std::string& text) { return NativesTest::run(lexed(text)); }
    kiv_value error_of(const std::string& text) { return NativesTest::error_of(lexed(text)); }
    void expect_raises(const std::string& text, err::category c, uint32_t id) {
        SCOPED_TRACE(text);
        expect_error(error_of(text), c, id);
    }
    std::string mold_of(const std::string& text) { return molded(run(text)); }
    int32_t int_run(const std::string& text) { return int_of(run(text)); }
    bool logic_run(const std::string& text) {
        kiv_value v = run(text);
        EXPECT_EQ(type_of(&v), uint32_t(TYPE_LOGIC)) << text;
        return truth(v);
    }
    uint32_t type_run(const std::string& text) { return type_of_v(run(text)); }

    // The path of a name in the temporary folder, as a file! literal.
    std::string at(const std::string& name) { return "%" + dir + "/" + name; }
    std::string path(const std::string& name) { return dir + "/" + name; }

    static std::string slurp(const std::string& p) {
        std::ifstream in(p, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    static void spit(const std::string& p, const std::string& bytes) {
        std::ofstream(p, std::ios::binary) << bytes;
    }
    // The text of a string value as UTF-8.
    static std::string utf8(kiv_value v) {
        int32_t count = -1;
        const char* bytes = unicode::to_utf8(&v, &count);
        return std::string(bytes, size_t(count));
    }
    // What a command prints on its standard output.
    static std::string output_of(const std::string& command) {
        std::string out;
        FILE* p = popen(command.c_str(), "r");
        char buf[4096];
        for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
        pclose(p);
        return out;
    }
    // The names of a listing, one a line, sorted.
    std::string listing(const std::string& file) {
        // A global word keeps the block while its names are converted.
        kiv_value blk = run("io-test-listing: read " + file);
        std::vector<std::string> names;
        if (type_of(&blk) != TYPE_BLOCK) return "(no block)";
        for (uint32_t i = 0; i < length_of(blk); i++) {
            EXPECT_EQ(type_of(cells_of(blk) + i), uint32_t(TYPE_FILE));
            names.push_back(utf8(cells_of(blk)[i]));
        }
        std::sort(names.begin(), names.end());
        std::string out;
        for (const std::string& n : names) out += n + "\n";
        return out;
    }
    static std::string python_listing(const std::string& folder) {
        return output_of("python3 -c \"import os,sys; d=sys.argv[1]; "
                         "print(''.join(sorted(n + ('/' if os.path.isdir(os.path.join(d, n)) else '') + chr(10) "
                         "for n in os.listdir(d))), end='')\" '" + folder + "'");
    }
};

}  // namespace

TEST_F(SimpleIO, TextWrittenIsReadBackExactly) {
    const char* texts[] = {"", "a", "two^/lines", "ends with a line end^/", "caf\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80",
                           "cr^M^/lf"};
    const char* bytes[] = {"", "a", "two\nlines", "ends with a line end\n", "caf\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80",
                           "cr\r\nlf"};
    for (size_t i = 0; i < std::size(texts); i++) {
        std::string literal = std::string("\"") + texts[i] + "\"";
        SCOPED_TRACE(literal);
        run("write " + at("t.txt") + " " + literal);
        EXPECT_EQ(slurp(path("t.txt")), bytes[i]);
        EXPECT_TRUE(logic_run("(read " + at("t.txt") + ") == " + literal));
        run("write/binary " + at("b.txt") + " " + literal);
        EXPECT_EQ(slurp(path("b.txt")), bytes[i]);
    }
    // A string is written from its position; other values are molded.
    run("write " + at("t.txt") + " next \"abc\"");
    EXPECT_EQ(slurp(path("t.txt")), "bc");
    run("write " + at("t.txt") + " [1 \"a\" b/c]");
    EXPECT_EQ(slurp(path("t.txt")), "[1 \"a\" b/c]");
    run("write/part " + at("t.txt") + " \"caf\xC3\xA9s\" 4");
    EXPECT_EQ(slurp(path("t.txt")), "caf\xC3\xA9");
    EXPECT_EQ(type_run("write " + at("t.txt") + " 1"), uint32_t(TYPE_UNSET));
}

TEST_F(SimpleIO, LargeFilesGoThroughWhole) {
    std::string text;
    for (int i = 0; text.size() < 3'000'000; i++) text += "line " + std::to_string(i) + " \xC3\xA9\n";
    spit(path("big.txt"), text);
    run("write " + at("copy.txt") + " read " + at("big.txt"));
    EXPECT_EQ(slurp(path("copy.txt")), text);
}

TEST_F(SimpleIO, Lines) {
    spit(path("l.txt"), "a\r\nb\n\nc\r");
    EXPECT_EQ(mold_of("read/lines " + at("l.txt")), "[\"a\" \"b\" \"\" \"c^M\"]");
    spit(path("l.txt"), "x\ny\n");
    EXPECT_EQ(mold_of("read/lines " + at("l.txt")), "[\"x\" \"y\"]");
    spit(path("l.txt"), "\n");
    EXPECT_EQ(mold_of("read/lines " + at("l.txt")), "[\"\"]");
    run("write/lines " + at("w.txt") + " [\"one\" \"two\" \"three\"]");
    EXPECT_EQ(slurp(path("w.txt")), "one\ntwo\nthree\n");
    run("write/lines " + at("w.txt") + " next [1 \"a b\" c]");
    EXPECT_EQ(slurp(path("w.txt")), "a b\nc\n");
    run("write/lines " + at("w.txt") + " \"single\"");
    EXPECT_EQ(slurp(path("w.txt")), "single\n");
    run("write/lines/append " + at("w.txt") + " [\"more\"]");
    EXPECT_EQ(slurp(path("w.txt")), "single\nmore\n");
    EXPECT_EQ(mold_of("read/lines " + at("w.txt")), "[\"single\" \"more\"]");
}

TEST_F(SimpleIO, EmptyFilesAndEmptyParts) {
    spit(path("e.txt"), "");
    EXPECT_EQ(mold_of("read " + at("e.txt")), "\"\"");
    EXPECT_EQ(mold_of("read/lines " + at("e.txt")), "[]");
    spit(path("f.txt"), "abcdef");
    EXPECT_EQ(mold_of("read/part " + at("f.txt") + " 0"), "\"\"");
    EXPECT_EQ(mold_of("read/lines/part " + at("f.txt") + " 0"), "[]");
    EXPECT_EQ(mold_of("read/seek " + at("f.txt") + " 6"), "\"\"");
}

TEST_F(SimpleIO, PartAndSeek) {
    spit(path("f.txt"), "abcdef");
    const std::pair<const char*, const char*> cases[] = {
        {"read/part F 2", "\"ab\""},          {"read/part F 100", "\"abcdef\""},
        {"read/seek F 2", "\"cdef\""},        {"read/seek/part F 2 3", "\"cde\""},
        {"read/seek/part F 4 100", "\"ef\""}, {"read/seek F 0", "\"abcdef\""},
    };
    for (const auto& [code, expected] : cases) {
        std::string text = code;
        text.replace(text.find('F'), 1, at("f.txt"));
        EXPECT_EQ(mold_of(text), expected) << code;
    }
    // Offsets outside the file and negative counts are refused.
    expect_raises("read/seek " + at("f.txt") + " 7", err::SCRIPT, err::script::out_of_range);
    expect_raises("read/seek " + at("f.txt") + " -1", err::SCRIPT, err::script::out_of_range);
    expect_raises("read/part " + at("f.txt") + " -1", err::SCRIPT, err::script::out_of_range);
}

TEST_F(SimpleIO, AppendAndSeekWrites) {
    run("write " + at("a.txt") + " \"abc\"");
    run("write/append " + at("a.txt") + " \"def\"");
    EXPECT_EQ(slurp(path("a.txt")), "abcdef");
    run("write/append " + at("new.txt") + " \"x\"");
    EXPECT_EQ(slurp(path("new.txt")), "x");
    // Seek writes over the bytes there and keeps the rest.
    run("write/seek " + at("a.txt") + " \"XY\" 2");
    EXPECT_EQ(slurp(path("a.txt")), "abXYef");
    run("write/seek " + at("a.txt") + " \"end\" 6");
    EXPECT_EQ(slurp(path("a.txt")), "abXYefend");
    // Append wins over seek.
    run("write/append/seek " + at("a.txt") + " \"!\" 0");
    EXPECT_EQ(slurp(path("a.txt")), "abXYefend!");
    // Past the end nothing is written, and no file is made.
    expect_raises("write/seek " + at("a.txt") + " \"zz\" 11", err::SCRIPT, err::script::out_of_range);
    EXPECT_EQ(slurp(path("a.txt")), "abXYefend!");
    expect_raises("write/seek " + at("none.txt") + " \"zz\" 1", err::SCRIPT, err::script::out_of_range);
    EXPECT_FALSE(std::filesystem::exists(path("none.txt")));
    // A negative part writes nothing at all.
    run("write/part " + at("neg.txt") + " \"abc\" -1");
    EXPECT_FALSE(std::filesystem::exists(path("neg.txt")));
}

TEST_F(SimpleIO, SizelessFilesAreReadThrough) {
    std::string status = utf8(run("read %/proc/self/status"));
    EXPECT_EQ(status.rfind("Name:", 0), 0u);
    EXPECT_NE(status.find("\nPid:\t" + std::to_string(getpid()) + "\n"), std::string::npos);
    EXPECT_EQ(utf8(run("first-line: pick read/lines %/proc/self/status 1")).rfind("Name:", 0), 0u);
    EXPECT_EQ(mold_of("read/seek/part %/proc/self/status 0 5"), "\"Name:\"");
    EXPECT_EQ(mold_of("read/seek/part %/proc/self/status 1 4"), "\"ame:\"");
    expect_raises("read/seek %/proc/self/status 100000000", err::SCRIPT, err::script::out_of_range);
    // An endless device gives what a part asks for.
    EXPECT_EQ(int_run("length? read/part %/dev/zero 70000"), 70000);
    // A FIFO is read once, to its end: nothing is lost to counting.
    ASSERT_EQ(mkfifo(path("fifo").c_str(), 0600), 0);
    std::string sent(100000, 'q');
    std::thread writer([&] {
        int fd = open(path("fifo").c_str(), O_WRONLY);
        EXPECT_EQ(write(fd, sent.data(), sent.size()), ssize_t(sent.size()));
        close(fd);
    });
    kiv_value got = run("read " + at("fifo"));
    writer.join();
    EXPECT_EQ(utf8(got), sent);
}

TEST_F(SimpleIO, DirectoryListingsMatchTheSystem) {
    for (const char* f : {"a.txt", ".hidden", "caf\xC3\xA9.txt", "with space"}) spit(path(f), "x");
    for (const char* d : {"sub", "sub/inner", ".git"}) std::filesystem::create_directory(path(d));
    std::filesystem::create_directory_symlink(path("sub"), path("link-to-sub"));
    std::filesystem::create_symlink(path("a.txt"), path("link-to-file"));
    std::filesystem::create_symlink(path("missing"), path("broken-link"));
    std::string expected = python_listing(dir);
    EXPECT_EQ(listing("%" + dir + "/"), expected);
    EXPECT_NE(expected.find("link-to-sub/\n"), std::string::npos);
    EXPECT_EQ(listing("%" + dir + "/."), expected);
    EXPECT_EQ(listing("%" + dir + "/./"), expected);
    EXPECT_EQ(listing("%" + dir + "/sub/.."), expected);
    EXPECT_EQ(listing("%" + dir + "/sub/"), "inner/\n");
    EXPECT_EQ(listing("%" + dir + "/sub/inner/"), "");
    EXPECT_EQ(listing("%/"), python_listing("/"));
    expect_raises("read %" + dir + "/nothing-here/", err::ACCESS, err::access::cannot_open);
    expect_raises("read %" + dir + "/a.txt/", err::ACCESS, err::access::cannot_open);
}

TEST_F(SimpleIO, DirectoryNames) {
    const std::pair<const char*, bool> cases[] = {
        {"", false},    {"a", false},     {"a/", true},    {"a\\", true}, {".", true},
        {"..", true},   {"...", false},   {"a/.", true},   {"a/..", true}, {"a.", false},
        {"a..", false}, {"/", true},      {"a/b.c", false}, {"a\\..", true},
    };
    for (const auto& [name, expected] : cases) {
        kiv_value f = str(name);
        cell::set_type(&f, TYPE_FILE);
        EXPECT_EQ(simple_io::dir_q(&f), expected) << name;
    }
}

TEST_F(SimpleIO, ModificationTimesAreThoseOfStat) {
    spit(path("t.txt"), "x");
    // A known time, nanoseconds included.
    struct timespec times[2] = {{0, UTIME_OMIT}, {981173106, 789123456}};
    ASSERT_EQ(utimensat(AT_FDCWD, path("t.txt").c_str(), times, 0), 0);
    kiv_value f = run(at("t.txt"));
    std::optional<simple_io::file_time> t = simple_io::query(&f);
    ASSERT_TRUE(t);
    EXPECT_EQ(t->year, 2001);
    EXPECT_EQ(t->month, 2);
    EXPECT_EQ(t->day, 3);
    EXPECT_EQ(t->hour, 4);
    EXPECT_EQ(t->minute, 5);
    EXPECT_EQ(t->second, 6);
    EXPECT_EQ(t->nanoseconds, 789123456);
    // A folder has a time; a file named as a folder, or a missing one, none.
    kiv_value d = run("%" + dir + "/");
    struct stat st;
    ASSERT_EQ(stat(dir.c_str(), &st), 0);
    struct tm utc;
    gmtime_r(&st.st_mtim.tv_sec, &utc);
    t = simple_io::query(&d);
    ASSERT_TRUE(t);
    EXPECT_EQ(t->year, utc.tm_year + 1900);
    EXPECT_EQ(t->second, utc.tm_sec);
    EXPECT_EQ(t->nanoseconds, int32_t(st.st_mtim.tv_nsec));
    kiv_value as_dir = run(at("t.txt/"));
    EXPECT_FALSE(simple_io::query(&as_dir));
    EXPECT_EQ(type_run("query " + at("missing")), uint32_t(TYPE_NONE));
    // query gives the time as a UTC date!, the nanoseconds kept in its seconds.
    EXPECT_EQ(mold_of("query " + at("t.txt")), "3-Feb-2001/4:05:06.78912");
    EXPECT_EQ(mold_of("d: query " + at("t.txt") + " (absolute d/second - 6.789123456) < 1e-9"), "true");
}

TEST_F(SimpleIO, DeleteAndRename) {
    spit(path("a.txt"), "a");
    spit(path("b.txt"), "b");
    std::filesystem::create_directories(path("full/x"));
    std::filesystem::create_directory(path("empty"));
    EXPECT_TRUE(logic_run("delete " + at("a.txt")));
    EXPECT_FALSE(std::filesystem::exists(path("a.txt")));
    EXPECT_FALSE(logic_run("delete " + at("a.txt")));
    EXPECT_FALSE(logic_run("delete " + at("full/")));
    EXPECT_TRUE(logic_run("delete " + at("empty/")));
    EXPECT_FALSE(std::filesystem::exists(path("empty")));
    // Renaming never replaces what is there.
    spit(path("c.txt"), "c");
    EXPECT_FALSE(logic_run("rename " + at("b.txt") + " " + at("c.txt")));
    EXPECT_EQ(slurp(path("b.txt")), "b");
    EXPECT_EQ(slurp(path("c.txt")), "c");
    EXPECT_TRUE(logic_run("rename " + at("b.txt") + " " + at("d.txt")));
    EXPECT_EQ(slurp(path("d.txt")), "b");
    EXPECT_FALSE(std::filesystem::exists(path("b.txt")));
    EXPECT_TRUE(logic_run("rename " + at("full/") + " " + at("moved/")));
    EXPECT_TRUE(std::filesystem::is_directory(path("moved/x")));
    EXPECT_FALSE(logic_run("rename " + at("missing") + " " + at("other")));
}

TEST_F(SimpleIO, ErrorsCarryTheCatalogMessages) {
    const std::pair<std::string, std::string> cases[] = {
        {"read " + at("missing.txt"), "cannot open: " + at("missing.txt")},
        {"read " + at("missing/"), "cannot open: " + at("missing/")},
        {"write " + at("missing/x.txt") + " \"a\"", "cannot open: " + at("missing/x.txt")},
        {"create-dir " + at("missing/x/"), "cannot create: " + at("missing/x/")},
        {"set-current-dir " + at("missing/"), "cannot open: " + at("missing/")},
        {"read/seek " + at("t") + " 1", "value out of range: 1"},
    };
    spit(path("t"), "");
    for (const auto& [code, message] : cases) {
        std::string text = formed(error_of(code));
        EXPECT_NE(text.find(message), std::string::npos) << code << "\n" << text;
    }
    // Text that is no UTF-8 is refused rather than decoded into garbage.
    spit(path("latin1.txt"), "caf\xE9");
    expect_raises("read " + at("latin1.txt"), err::ACCESS, err::access::invalid_utf8);
    expect_raises("write %\"" + dir + "/a^@b\" \"x\"", err::SCRIPT, err::script::invalid_arg);
}

TEST_F(SimpleIO, BytesAreReadAndWrittenAsTheyAre) {
    std::string all;
    for (int b = 0; b < 256; b++) all += char(b);
    spit(path("bytes"), all);
    run("bytes-test: read/binary " + at("bytes"));
    EXPECT_EQ(int_run("length? bytes-test"), 256);
    EXPECT_EQ(int_run("pick bytes-test 256"), 255);
    run("write " + at("copy") + " bytes-test");
    EXPECT_EQ(slurp(path("copy")), all);
    run("write/part " + at("copy") + " skip bytes-test 65 3");
    EXPECT_EQ(slurp(path("copy")), "ABC");
    EXPECT_EQ(mold_of("read/binary/seek/part " + at("bytes") + " 97 2"), "#{6162}");
    EXPECT_EQ(mold_of("read/binary/part " + at("bytes") + " 0"), "#{}");
    // Bytes that are no UTF-8 still read as a binary.
    spit(path("latin1.txt"), "caf\xE9");
    EXPECT_EQ(mold_of("read/binary " + at("latin1.txt")), "#{636166E9}");
    expect_raises("read/info " + at("bytes"), err::INTERNAL, err::internal::not_done);
}

TEST_F(SimpleIO, WriteStdoutWritesToTheStandardOutput) {
    std::string out = path("stdout.txt");
    fflush(stdout);
    int saved = dup(STDOUT_FILENO);
    int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(fd, STDOUT_FILENO);
    close(fd);
    run("write-stdout \"caf\xC3\xA9^/\" write-stdout [1 \"a\"] write-stdout 'w");
    dup2(saved, STDOUT_FILENO);
    close(saved);
    EXPECT_EQ(slurp(out), "caf\xC3\xA9\n[1 \"a\"]w");
}
