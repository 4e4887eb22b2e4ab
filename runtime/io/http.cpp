// HTTP requests on libcurl, and the reading of response headers.
#include "runtime/io/http.h"

#include <curl/curl.h>

#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/io/simple_io.h"
#include "runtime/modules.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace kiv::http {

namespace {

// libcurl is opened on the first request: linked in, its two dozen
// libraries would be relocated at every start-up.
struct libcurl {
    bool ok = false;
    CURLcode (*global_init)(long);
    CURL* (*easy_init)();
    void (*easy_cleanup)(CURL*);
    CURLcode (*easy_setopt)(CURL*, CURLoption, ...);
    CURLcode (*easy_getinfo)(CURL*, CURLINFO, ...);
    CURLcode (*easy_perform)(CURL*);
    const char* (*easy_strerror)(CURLcode);
    curl_slist* (*slist_append)(curl_slist*, const char*);
    void (*slist_free_all)(curl_slist*);
};

const libcurl& lib() {
    static const libcurl api = [] {
        libcurl a{};
        modules::library so("libcurl.so.4");
        so.take(a.global_init, "curl_global_init");
        so.take(a.easy_init, "curl_easy_init");
        so.take(a.easy_cleanup, "curl_easy_cleanup");
        so.take(a.easy_setopt, "curl_easy_setopt");
        so.take(a.easy_getinfo, "curl_easy_getinfo");
        so.take(a.easy_perform, "curl_easy_perform");
        so.take(a.easy_strerror, "curl_easy_strerror");
        so.take(a.slist_append, "curl_slist_append");
        so.take(a.slist_free_all, "curl_slist_free_all");
        a.ok = so.complete();
        return a;
    }();
    return api;
}

// The characters of a header name (an HTTP token).
bool token_char_q(uint8_t c) {
    if (c >= '0' && c <= '9') return true;
    if ((c | 0x20) >= 'a' && (c | 0x20) <= 'z') return true;
    return c && std::strchr("!#$%&'*+-.^_`|~", c);
}

bool blank_q(uint8_t c) { return c == ' ' || c == '\t'; }

// Whether the bytes are well-formed UTF-8 (no overlong forms, surrogates or
// code points above U+10FFFF).
bool valid_utf8_q(const uint8_t* p, size_t n) {
    size_t i = 0;
    while (i < n) {
        uint8_t b = p[i];
        if (b < 0x80) { i++; continue; }
        size_t len;
        uint32_t cp;
        if (b >= 0xC2 && b <= 0xDF) { len = 2; cp = b & 0x1F; }
        else if (b >= 0xE0 && b <= 0xEF) { len = 3; cp = b & 0x0F; }
        else if (b >= 0xF0 && b <= 0xF4) { len = 4; cp = b & 0x07; }
        else return false;
        if (n - i < len) return false;
        for (size_t k = 1; k < len; k++) {
            if ((p[i + k] & 0xC0) != 0x80) return false;
            cp = cp << 6 | (p[i + k] & 0x3F);
        }
        if ((len == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)))
            return false;
        i += len;
    }
    return true;
}

// Header values are UTF-8 when they can be, else the older Latin-1.
std::string value_text(const std::string& raw) {
    if (valid_utf8_q(reinterpret_cast<const uint8_t*>(raw.data()), raw.size())) return raw;
    std::string out;
    out.reserve(raw.size() * 2);
    for (unsigned char c : raw) {
        if (c < 0x80) {
            out += char(c);
        } else {
            out += char(0xC0 | c >> 6);
            out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// The UTF-8 text of a value: a string's own text, any other value formed.
std::string text_of(const kiv_value* value) {
    kiv_value text = *value;
    switch (type_of(value)) {
        case TYPE_STRING: case TYPE_FILE: case TYPE_URL: case TYPE_TAG: case TYPE_EMAIL: case TYPE_REF:
            break;
        default:
            string::make_at(&text, 16);
            kiv_value v = *value;
            actions::form_typed(&v, &text, nullptr, INT_MAX);
    }
    int32_t count = -1;
    const char* bytes = unicode::to_utf8(&text, &count);
    return std::string(bytes, size_t(count));
}

// The text a word is spelled with.
std::string spelling_of(const kiv_value* w) {
    uint32_t length = 0;
    const char* name = symbol::name_of(word::symbol_of(w), &length);
    return std::string(name, length);
}

bool word_kind_q(uint32_t t) {
    return t == TYPE_WORD || t == TYPE_SET_WORD || t == TYPE_GET_WORD || t == TYPE_LIT_WORD;
}

// The URL's text with what may never stand in a URL (controls, space,
// quotes, angle brackets, bytes from 128 up...) escaped; escapes already
// there stay as they are.
std::string url_text(const kiv_value* url) {
    std::string raw = text_of(url);
    std::string out;
    static const char hex[] = "0123456789ABCDEF";
    for (unsigned char c : raw) {
        if (c <= 0x20 || c >= 0x7F || std::strchr("\"<>\\^`{|}", c)) {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += char(c);
        }
    }
    return out;
}

// One request header line; what would break the request's framing is
// refused.
std::string header_line(const kiv_value* name, const kiv_value* value) {
    std::string n = word_kind_q(type_of(name)) ? spelling_of(name) : text_of(name);
    std::string v = text_of(value);
    bool bad_name = n.empty() || n.find_first_of(std::string(":\r\n\0", 4)) != std::string::npos;
    for (char c : n)
        if (blank_q(uint8_t(c))) bad_name = true;
    if (bad_name) fire(err::SCRIPT, err::script::invalid_arg, name);
    if (v.find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
        fire(err::SCRIPT, err::script::invalid_arg, value);
    // An empty value is written "Name;", as "Name:" alone would drop the
    // header.
    return v.empty() ? n + ";" : n + ": " + v;
}

bool same_name_q(const std::string& line, const char* name) {
    size_t n = std::strlen(name);
    return line.size() > n && strncasecmp(line.c_str(), name, n) == 0 && (line[n] == ':' || line[n] == ';');
}

struct exchange {
    CURL* curl = nullptr;
    std::string head;                // the headers of the latest response
    std::vector<uint8_t> body;
    bool too_big = false;
};

size_t on_body(char* data, size_t size, size_t count, void* user) {
    auto* x = static_cast<exchange*>(user);
    size_t n = size * count;
    size_t have = x->body.size();
    // Sizes the language sees are 32-bit.
    if (have + n > size_t(INT32_MAX)) {
        x->too_big = true;
        return 0;
    }
    if (have == 0) {
        // Room for the announced length at once, when it is believable.
        curl_off_t announced = -1;
        lib().easy_getinfo(x->curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced);
        if (announced > 0 && announced <= INT32_MAX) x->body.reserve(size_t(announced));
    }
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(data);
    x->body.insert(x->body.end(), bytes, bytes + n);
    return n;
}

size_t on_header(char* data, size_t size, size_t count, void* user) {
    auto* x = static_cast<exchange*>(user);
    size_t n = size * count;
    // A status line opens a new response (a redirect, a 100 Continue): only
    // the last one's headers are kept.
    if (n >= 5 && std::memcmp(data, "HTTP/", 5) == 0) x->head.clear();
    x->head.append(data, n);
    return n;
}

long timeout_seconds(long fallback) {
    const char* s = std::getenv("KIV_HTTP_TIMEOUT");
    if (!s || !*s) return fallback;
    char* end = nullptr;
    long v = std::strtol(s, &end, 10);
    return (*end == 0 && v > 0) ? v : fallback;
}

// The handle and the header list of one request, freed on every way out
// (errors raised while the request is prepared included).
struct handle {
    CURL* curl = nullptr;
    curl_slist* list = nullptr;
    ~handle() {
        lib().slist_free_all(list);
        if (curl) lib().easy_cleanup(curl);
    }
    void add(const std::string& line) {
        curl_slist* grown = lib().slist_append(list, line.c_str());
        if (grown) list = grown;
    }
};

const char* const DEFAULT_HEADERS[] = {
    "Content-Type: application/x-www-form-urlencoded",
    "Accept-Charset: UTF-8",
    "User-Agent: Mozilla/5.0 (Windows NT 6.1; Win64; x64)",
};

// The result value from the body.
kiv_value* body_value(const std::vector<uint8_t>& body, bool binary, bool lines, kiv_value* slot) {
    uint32_t size = uint32_t(body.size());
    if (binary) return copy_cell(binary::load(body.data(), size), slot);
    if (lines) return simple_io::lines_to_block(body.data(), size, slot);
    if (body.empty()) return string::make_at(slot, 1);
    return string::load_at(body.data(), size, slot, string::UTF8);
}

}  // namespace

std::vector<header_field> split_headers(const uint8_t* text, size_t size) {
    std::vector<header_field> fields;
    const uint8_t* p = text;
    const uint8_t* end = text + size;
    while (p < end) {
        const uint8_t* eol = p;
        while (eol < end && *eol != '\n' && *eol != '\r') eol++;
        const uint8_t* colon = p;
        while (colon < eol && *colon != ':') colon++;
        bool named = colon < eol && colon > p;
        for (const uint8_t* q = p; named && q < colon; q++) named = token_char_q(*q);
        if (named) {
            const uint8_t* v = colon + 1;
            const uint8_t* v_end = eol;
            while (v < v_end && blank_q(*v)) v++;
            while (v_end > v && blank_q(v_end[-1])) v_end--;
            fields.push_back({std::string(p, colon), std::string(v, v_end)});
        }
        p = eol;
        if (p < end && *p == '\r') p++;
        if (p < end && *p == '\n') p++;
    }
    return fields;
}

kiv_value* headers_to_map(const uint8_t* text, size_t size, kiv_value* slot) {
    std::vector<header_field> fields = split_headers(text, size);
    if (!slot) slot = stack::push();
    map::make_at(slot, 20);
    kiv_value* key = stack::push();
    kiv_value* value = stack::push();
    for (const header_field& f : fields) {
        int32_t symbol = symbol::make_alt(reinterpret_cast<const uint8_t*>(f.name.data()), uint32_t(f.name.size()));
        word::make_at(symbol, key);
        std::string v = value_text(f.value);
        string::load_at(reinterpret_cast<const uint8_t*>(v.data()), uint32_t(v.size()), value, string::UTF8);
        kiv_value* old = map::find_value(slot, key, false);
        if (!old) {
            map::set_key(slot, key, value, false, nullptr);
            continue;
        }
        if (type_of(old) != TYPE_BLOCK) {
            kiv_value first = *old;
            kiv_value* blk = stack::push();
            block::make_at(blk, 4);
            block::append_copy(blk, &first);
            map::set_key(slot, key, blk, false, nullptr);
            stack::pop(1);
            old = map::find_value(slot, key, false);
        }
        kiv_value list = *old;
        block::append_copy(&list, value);
    }
    stack::pop(2);
    return slot;
}

kiv_value* request(const kiv_value* method, const kiv_value* url, const kiv_value* headers,
                   const kiv_value* data, bool binary, bool lines, bool info, std::string& reason) {
    static bool ready = lib().ok && lib().global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    if (!ready) {
        reason = "the HTTP library could not start";
        return nullptr;
    }
    std::string verb = spelling_of(method);
    for (char& c : verb) c = char(std::toupper(uint8_t(c)));
    bool bodyless = verb == "GET" || verb == "HEAD";

    handle h;
    // Header lines first: a refused one raises before anything is sent.
    std::vector<std::string> lines_out;
    if (headers) {
        kiv_value blk = *headers;
        uint32_t length = block::length_all(&blk);
        for (uint32_t i = blk.data1; i < length; i += 2) {
            kiv_value name = block::cells(&blk)[i];
            if (i + 1 == length) fire(err::SCRIPT, err::script::invalid_arg, &name);  // a name without value
            kiv_value value = block::cells(&blk)[i + 1];
            lines_out.push_back(header_line(&name, &value));
        }
    } else {
        lines_out.assign(std::begin(DEFAULT_HEADERS), std::end(DEFAULT_HEADERS));
    }
    std::string payload;
    bool send_body = data && !bodyless && type_of(data) != TYPE_NONE;
    if (send_body) {
        if (type_of(data) == TYPE_BINARY) {
            kiv_value d = *data;
            payload.assign(reinterpret_cast<const char*>(binary::ks_head(&d)), binary::ks_length_q(&d));
        } else {
            payload = text_of(data);  // strings as UTF-8, blocks formed
        }
    }
    std::string target = url_text(url);

    h.curl = lib().easy_init();
    if (!h.curl) {
        reason = "the HTTP library could not start";
        return nullptr;
    }
    for (const std::string& line : lines_out) h.add(line);
    // Only what the request names goes out: libcurl's own Accept and Expect,
    // and its form Content-Type, are taken away unless given.
    auto named = [&](const char* n) {
        for (const std::string& l : lines_out)
            if (same_name_q(l, n)) return true;
        return false;
    };
    if (!named("Accept")) h.add("Accept:");
    if (!named("Expect")) h.add("Expect:");
    bool posts = send_body || verb == "POST";
    if (posts && !named("Content-Type")) h.add("Content-Type:");

    char errors[CURL_ERROR_SIZE] = "";
    exchange x;
    CURL* c = h.curl;
    x.curl = c;
    lib().easy_setopt(c, CURLOPT_URL, target.c_str());
    lib().easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
    lib().easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    lib().easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
    lib().easy_setopt(c, CURLOPT_MAXREDIRS, 10L);
    lib().easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    lib().easy_setopt(c, CURLOPT_ERRORBUFFER, errors);
    lib().easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 1L);
    lib().easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 2L);
    if (const char* file = std::getenv("SSL_CERT_FILE"); file && *file) lib().easy_setopt(c, CURLOPT_CAINFO, file);
    if (const char* dir = std::getenv("SSL_CERT_DIR"); dir && *dir) lib().easy_setopt(c, CURLOPT_CAPATH, dir);
    lib().easy_setopt(c, CURLOPT_CONNECTTIMEOUT, timeout_seconds(60));
    lib().easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
    lib().easy_setopt(c, CURLOPT_LOW_SPEED_TIME, timeout_seconds(30));
    lib().easy_setopt(c, CURLOPT_HTTPHEADER, h.list);
    lib().easy_setopt(c, CURLOPT_BUFFERSIZE, 256L * 1024);
    lib().easy_setopt(c, CURLOPT_WRITEFUNCTION, on_body);
    lib().easy_setopt(c, CURLOPT_WRITEDATA, &x);
    lib().easy_setopt(c, CURLOPT_HEADERFUNCTION, on_header);
    lib().easy_setopt(c, CURLOPT_HEADERDATA, &x);
    if (verb == "GET") {
        lib().easy_setopt(c, CURLOPT_HTTPGET, 1L);
    } else if (verb == "HEAD") {
        lib().easy_setopt(c, CURLOPT_NOBODY, 1L);
    } else {
        if (posts) {
            lib().easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(payload.size()));
            lib().easy_setopt(c, CURLOPT_COPYPOSTFIELDS, payload.c_str());
        }
        if (verb != "POST") lib().easy_setopt(c, CURLOPT_CUSTOMREQUEST, verb.c_str());
    }

    CURLcode done = lib().easy_perform(c);
    if (done != CURLE_OK) {
        reason = x.too_big ? "the response is too large" : *errors ? errors : lib().easy_strerror(done);
        return nullptr;
    }
    long status = 0;
    lib().easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);

    kiv_value* result = stack::push();
    if (!info) return body_value(x.body, binary, lines, result);
    block::make_at(result, 3);
    kiv_value* part = stack::push();
    integer::make_at(part, int32_t(status));
    block::append_copy(result, part);
    headers_to_map(reinterpret_cast<const uint8_t*>(x.head.data()), x.head.size(), part);
    block::append_copy(result, part);
    body_value(x.body, binary, lines, part);
    block::append_copy(result, part);
    stack::pop(1);
    return result;
}

}  // namespace kiv::http
