// The clipboard's URI lists, apart from the toolkit.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "view/gtk/clipboard_core.h"

using namespace kiv::clipboard;

TEST(ClipboardCore, PathsOfUriList) {
    struct {
        std::string list;
        std::vector<std::string> paths;
    } cases[] = {
        {"file:///tmp/a\r\nfile:///tmp/b\r\n", {"/tmp/a", "/tmp/b"}},
        {"file:///tmp/a\nfile:///tmp/b", {"/tmp/a", "/tmp/b"}},  // LF only, last line open
        {"# comment\r\n\r\nfile:///x\r\n", {"/x"}},
        {"file:///with%20space/%C3%A9", {"/with space/\xC3\xA9"}},
        {"FILE://LocalHost/etc", {"/etc"}},                       // scheme and host in any case
        {"file:/short/form", {"/short/form"}},
        {"file://elsewhere/tmp/x\r\nhttp://h/p\r\nrelative", {}},  // no local file named
        {"file:///a%00b\r\nfile:///ok", {"/ok"}},                  // a NUL would cut the name
        {"file:///50%\r\nfile:///bad%zz%4", {"/50%", "/bad%zz%4"}},  // broken escapes stay
        {"file:///a//b///c", {"/a/b/c"}},
        {"file:///q?x=1#frag", {"/q"}},
        {"file://", {}},
        {"file:", {}},
        {"", {}},
    };
    for (const auto& c : cases) EXPECT_EQ(paths_of_uri_list(c.list.data(), c.list.size()), c.paths) << c.list;
}

TEST(ClipboardCore, UriOfPathRoundTrips) {
    EXPECT_EQ(uri_of_path("/tmp/a b/\xC3\xA9%#?"), "file:///tmp/a%20b/%C3%A9%25%23%3F");
    EXPECT_EQ(uri_of_path("/A-z_0.9~"), "file:///A-z_0.9~");
    // Every byte but NUL comes back.
    std::string all = "/";
    for (int c = 1; c < 256; c++) all += char(c);
    all.erase(std::remove(all.begin() + 1, all.end(), '/'), all.end());
    std::string uri = uri_of_path(all) + "\r\n";
    EXPECT_EQ(paths_of_uri_list(uri.data(), uri.size()), std::vector<std::string>{all});
}

TEST(ClipboardCore, WithoutCr) {
    std::string text = "a\r\nb\r\rc\r";
    EXPECT_EQ(without_cr(text.data(), text.size()), "a\nbc");
}
