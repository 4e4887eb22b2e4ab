// The error catalog: each category's code and title, and the message
// template of each id, in code order. Until the boot data carries the
// catalog, start-up builds it from the table below, whose templates are
// written as Kiv source: a string, a word, or a block of strings and argument
// words.
#include <span>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/error_ids.h"
#include "runtime/runtime.h"

namespace kiv {

const char* const err::category_titles[err::CATEGORY_COUNT] = {
    "Throw Error", "note", "Syntax Error", "Script Error", "Math Error",
    "Access Error", "Reserved1 Error", "Reserved2 Error", "User Error", "Internal Error",
};

namespace error {

namespace {

struct message {
    const char* id;
    const char* text;
};

constexpr message THROW_IDS[] = {
    {"break", R"~("no loop to break")~"},
    {"return", R"~("return or exit not in function")~"},
    {"throw", R"~(["no catch for throw:" :arg1])~"},
    {"continue", R"~("no loop to continue")~"},
    {"while-cond", R"~("BREAK/CONTINUE cannot be used in WHILE condition block")~"},
};
constexpr message NOTE_IDS[] = {
    {"no-load", R"~(["cannot load: " :arg1])~"},
};
constexpr message SYNTAX_IDS[] = {
    {"invalid", R"~([:arg1 "invalid" :arg2 "at" :arg3])~"},
    {"missing", R"~([:arg1 "missing" :arg2 "at" :arg3])~"},
    {"no-header", R"~(["script is missing a Kiv header:" :arg1])~"},
    {"no-ks-header", R"~(["script is missing a Kiv/System header:" :arg1])~"},
    {"bad-header", R"~(["script header is not valid:" :arg1])~"},
    {"malconstruct", R"~([:arg1 "invalid construction spec at" :arg2])~"},
    {"bad-char", R"~([:arg1 "invalid character at" :arg2])~"},
};
constexpr message SCRIPT_IDS[] = {
    {"no-value", R"~([:arg1 "has no value"])~"},
    {"need-value", R"~([:arg1 "needs a value"])~"},
    {"not-defined", R"~([:arg1 "word is not bound to a context"])~"},
    {"not-in-context", R"~(["context for" :arg1 "is not available"])~"},
    {"no-arg", R"~([:arg1 "is missing its" :arg2 "argument"])~"},
    {"expect-arg", R"~([:arg1 "does not allow" :arg2 "for its" :arg3 "argument"])~"},
    {"expect-val", R"~(["expected" :arg1 "not" :arg2])~"},
    {"expect-type", R"~([:arg1 :arg2 "field must be of type" :arg3])~"},
    {"cannot-use", R"~(["cannot use" :arg1 "on" :arg2 "value"])~"},
    {"invalid-arg", R"~(["invalid argument:" :arg1])~"},
    {"invalid-type", R"~([:arg1 "type is not allowed here"])~"},
    {"invalid-type-spec", R"~(["invalid type specifier:" :arg1])~"},
    {"invalid-key-type", R"~(["invalid key type:" :arg1])~"},
    {"invalid-op", R"~(["invalid operator:" :arg1])~"},
    {"no-op-arg", R"~([:arg1 "operator is missing an argument"])~"},
    {"bad-op-spec", R"~("making an op! requires a function with only 2 arguments and no lit/get-word on left argument")~"},
    {"invalid-data", R"~(["data not in correct format:" :arg1])~"},
    {"invalid-part", R"~(["invalid /part count:" :arg1])~"},
    {"not-same-type", R"~("values must be of the same type")~"},
    {"not-same-class", R"~(["cannot coerce" :arg1 "to" :arg2])~"},
    {"not-related", R"~(["incompatible argument for" :arg1 "of" :arg2])~"},
    {"bad-func-def", R"~(["invalid function definition:" :arg1])~"},
    {"bad-func-arg", R"~(["function argument" :arg1 "is not valid"])~"},
    {"bad-func-extern", R"~(["invalid /extern value:" :arg1])~"},
    {"no-refine", R"~([:arg1 "has no refinement called" :arg2])~"},
    {"bad-refines", R"~("incompatible or invalid refinements")~"},
    {"bad-refine", R"~(["invalid refinement value:" :arg1])~"},
    {"dup-refine", R"~(["duplicate refinement usage in:" :arg1])~"},
    {"word-first", R"~(["path must start with a word:" :arg1])~"},
    {"empty-path", R"~("cannot evaluate an empty path value")~"},
    {"unset-path", R"~([:arg2 "is unset in path" :arg1])~"},
    {"invalid-path", R"~(["cannot access" :arg2 "in path" :arg1])~"},
    {"invalid-path-set", R"~(["unsupported type in" :arg1 "set-path"])~"},
    {"invalid-path-get", R"~(["unsupported type in" :arg1 "get-path"])~"},
    {"bad-path-type", R"~([:arg3 "returned a" :arg2 "value, so" :arg1 "could not be accessed"])~"},
    {"bad-path-type2", R"~(["path element >" :arg1 "< does not apply to" :arg2 "type"])~"},
    {"bad-path-set", R"~(["cannot set" :arg2 "in path" :arg1])~"},
    {"bad-field-set", R"~(["cannot set" :arg1 "field to" :arg2 "datatype"])~"},
    {"dup-vars", R"~(["duplicate variable specified:" :arg1])~"},
    {"past-end", R"~("out of range or past end")~"},
    {"missing-arg", R"~("missing a required argument or refinement")~"},
    {"out-of-range", R"~(["value out of range:" :arg1])~"},
    {"invalid-chars", R"~("contains invalid characters")~"},
    {"invalid-compare", R"~(["cannot compare" :arg1 "with" :arg2])~"},
    {"wrong-type", R"~(["datatype assertion failed for:" :arg1])~"},
    {"invalid-refine-arg", R"~(["invalid" :arg1 "argument:" :arg2])~"},
    {"type-limit", R"~([:arg1 "overflow/underflow"])~"},
    {"size-limit", R"~(["maximum limit reached:" :arg1])~"},
    {"no-return", R"~("block did not return a value")~"},
    {"throw-usage", R"~("invalid use of a thrown error value")~"},
    {"locked-word", R"~(["protected word - cannot modify:" :arg1])~"},
    {"protected", R"~("protected value or series - cannot modify")~"},
    {"bad-bad", R"~([:arg1 "error:" :arg2])~"},
    {"bad-make-arg", R"~(["cannot MAKE" :arg1 "from:" :arg2])~"},
    {"bad-to-arg", R"~(["cannot MAKE/TO" :arg1 "from:" :arg2])~"},
    {"invalid-months", R"~("invalid system/locale/month list")~"},
    {"invalid-spec-field", R"~(["invalid" :arg1 "field in spec block"])~"},
    {"missing-spec-field", R"~([:arg1 "not found in spec block"])~"},
    {"move-bad", R"~(["Cannot MOVE elements from" :arg1 "to" :arg2])~"},
    {"too-long", R"~("Content too long")~"},
    {"invalid-char", R"~(["Invalid char! value:" :arg1])~"},
    {"bad-loop-series", R"~(["Loop series changed to invalid value:" :arg1])~"},
    {"wrong-denom", R"~([:arg1 "not same denomination as" :arg2])~"},
    {"bad-denom", R"~(["invalid denomination:" :arg1])~"},
    {"invalid-obj-evt", R"~(["invalid object event handler:" :arg1])~"},
    {"parse-rule", R"~(["PARSE - invalid rule or usage of rule:" :arg1])~"},
    {"parse-end", R"~(["PARSE - unexpected end of rule after:" :arg1])~"},
    {"parse-invalid-ref", R"~(["PARSE - get-word refers to a different series!" :arg1])~"},
    {"parse-block", R"~(["PARSE - input must be of any-block! type:" :arg1])~"},
    {"parse-unsupported", R"~("PARSE - matching by datatype not supported for any-string! input")~"},
    {"parse-infinite", R"~(["PARSE - infinite recursion at rule: [" :arg1 "]"])~"},
    {"parse-stack", R"~("PARSE - stack limit reached")~"},
    {"parse-keep", R"~("PARSE - KEEP is used without a wrapping COLLECT")~"},
    {"parse-into-bad", R"~("PARSE - COLLECT INTO/AFTER invalid series! argument")~"},
    {"parse-into-type", R"~("PARSE - COLLECT INTO/AFTER expects a series! of compatible datatype")~"},
    {"draw-invalid", R"~(["DRAW - invalid input at:" :arg1])~"},
    {"draw-infinite", R"~(["DRAW - infinite recursion at:" :arg1])~"},
    {"invalid-data-facet", R"~(["invalid DATA facet content" :arg1])~"},
    {"face-type", R"~(["VIEW - invalid face type:" :arg1])~"},
    {"not-window", R"~("VIEW - expected a window root face")~"},
    {"bad-window", R"~("VIEW - a window face cannot be nested in another window")~"},
    {"not-linked", R"~("VIEW - face not linked to a window")~"},
    {"not-event-type", R"~(["VIEW - not a valid event type" :arg1])~"},
    {"invalid-facet-type", R"~(["VIEW - invalid rate value:" :arg1])~"},
    {"vid-invalid-syntax", R"~(["VID - invalid syntax at:" :arg1])~"},
    {"rtd-invalid-syntax", R"~(["RTD - invalid syntax at:" :arg1])~"},
    {"rtd-no-match", R"~(["RTD - opening/closing tag not matching for:" :arg1])~"},
    {"react-bad-func", R"~("REACT - /LINK option requires a function! as argument")~"},
    {"react-not-enough", R"~("REACT - reactive functions must accept at least 2 arguments")~"},
    {"react-no-match", R"~("REACT - objects block length must match reaction function arg count")~"},
    {"react-bad-obj", R"~("REACT - target can only contain object values")~"},
    {"react-gctx", R"~(["REACT - word" :arg1 "is not a reactor's field"])~"},
    {"lib-invalid-arg", R"~(["LIBKIV - invalid argument for" :arg1])~"},
    {"kb-invalid-record", R"~(["KIVBIN - invalid record at index" :arg1])~"},
};
constexpr message MATH_IDS[] = {
    {"zero-divide", R"~("attempt to divide by zero")~"},
    {"overflow", R"~("math or number overflow")~"},
    {"positive", R"~("positive number required")~"},
};
constexpr message ACCESS_IDS[] = {
    {"cannot-open", R"~(["cannot open:" :arg1])~"},
    {"cannot-close", R"~(["cannot close:" :arg1])~"},
    {"invalid-utf8", R"~(["invalid UTF-8 encoding:" :arg1])~"},
    {"not-open", R"~(["port is not open:" :arg1])~"},
    {"no-connect", R"~(["cannot connect:" :arg1 "reason: timeout"])~"},
    {"no-scheme", R"~(["missing port scheme:" :arg1])~"},
    {"unknown-scheme", R"~(["scheme is unknown:" :arg1])~"},
    {"invalid-spec", R"~(["invalid spec or options:" :arg1])~"},
    {"invalid-port", R"~(["invalid port object (invalid field values)"])~"},
    {"invalid-actor", R"~(["invalid port actor (must be handle or object)"])~"},
    {"no-port-action", R"~("port action not supported")~"},
    {"no-create", R"~(["cannot create:" :arg1])~"},
    {"no-codec", R"~(["cannot decode or encode (no codec):" :arg1])~"},
    {"bad-media", R"~(["bad media data (corrupt image, sound, video)"])~"},
    {"invalid-cmd", R"~(["invalid port command:" :arg1])~"},
};
constexpr message USER_IDS[] = {
    {"message", R"~(arg1)~"},
};
constexpr message INTERNAL_IDS[] = {
    {"bad-path", R"~(["bad path:" arg1])~"},
    {"not-here", R"~([arg1 "not supported on your system"])~"},
    {"no-memory", R"~("not enough memory")~"},
    {"wrong-mem", R"~("failed to release memory")~"},
    {"stack-overflow", R"~("stack overflow")~"},
    {"limit-hit", R"~(["internal limit reached:" :arg1])~"},
    {"too-deep", R"~("block or paren series is too deep to process")~"},
    {"no-cycle", R"~("circular reference not allowed")~"},
    {"feature-na", R"~("feature not available")~"},
    {"not-done", R"~("reserved for future use (or not yet implemented)")~"},
    {"invalid-error", R"~(["invalid error object field value:" :arg1])~"},
    {"routines", R"~("routines require compilation, from OS shell: `kiv -r <script.kiv>`")~"},
    {"kiv-system", R"~("contains Kiv/System code which requires compilation")~"},
    {"deprecated", R"~([arg1 "is DEPRECATED, please use" arg2 "instead"])~"},
};

struct category_def {
    const char* name;
    std::span<const message> ids;
};

// The positions match the enums of error_ids.h.
const category_def CATEGORIES[err::CATEGORY_COUNT] = {
    {"throw", THROW_IDS},   {"note", NOTE_IDS},     {"syntax", SYNTAX_IDS},
    {"script", SCRIPT_IDS}, {"math", MATH_IDS},     {"access", ACCESS_IDS},
    {"reserved1", {}},      {"reserved2", {}},      {"user", USER_IDS},
    {"internal", INTERNAL_IDS},
};

// The catalog object's cell in the root block: the collector may renumber
// its context node, so the node is read from there each time.
uint32_t catalog_slot = 0;

// Reading the templates -------------------------------------------------------------

void skip_spaces(const char*& p) {
    while (*p == ' ') p++;
}

kiv_value read_string(const char*& p) {
    const char* start = ++p;
    while (*p != '"') p++;
    kiv_value s;
    string::make_at(&s, uint32_t(p - start));
    string::concatenate_bytes(&s, reinterpret_cast<const uint8_t*>(start), uint32_t(p - start));
    p++;
    return s;
}

// Argument words stay unbound: forming looks them up among the error's
// fields by name.
kiv_value read_word(const char*& p, uint32_t type) {
    const char* start = p;
    while (*p && *p != ' ' && *p != ']') p++;
    int32_t symbol = symbol::make_alt(reinterpret_cast<const uint8_t*>(start), uint32_t(p - start));
    return kiv_value{type, 0, uint32_t(symbol), uint32_t(-1)};
}

kiv_value read_value(const char*& p) {
    if (*p == '"') return read_string(p);
    if (*p == ':') return read_word(++p, TYPE_GET_WORD);
    return read_word(p, TYPE_WORD);
}

kiv_value read_template(const char* p) {
    if (*p != '[') return read_value(p);
    p++;
    kiv_value blk{TYPE_UNSET, 0, 0, 0};
    block::make_at(&blk, 4);
    for (skip_spaces(p); *p != ']'; skip_spaces(p)) {
        kiv_value v = read_value(p);
        block::append_copy(&blk, &v);
    }
    return blk;
}

// Building the objects ----------------------------------------------------------------

// A context for an object of the catalog, its self cell holding the object.
node_id new_object(uint32_t size, kiv_value* object) {
    node_id ctx = _context::create(size, false, true, 0, CTX_OBJECT);
    *object = kiv_value{TYPE_OBJECT, ctx, 0, 0};
    *_context::self_of(ctx) = *object;
    return ctx;
}

void add_field(node_id ctx, const char* name, const kiv_value& value) {
    kiv_value w{TYPE_WORD, 0, uint32_t(symbol::make(name)), uint32_t(-1)};
    _context::add_with_value(ctx, &w, &value);
}

}  // namespace

void init_catalog() {
    kiv_value catalog_object;
    node_id catalog_context = new_object(err::CATEGORY_COUNT, &catalog_object);
    catalog_slot = block::length_all(&runtime::root);
    block::append_copy(&runtime::root, &catalog_object);
    for (uint32_t k = 0; k < err::CATEGORY_COUNT; k++) {
        const category_def& c = CATEGORIES[k];
        kiv_value category_object;
        node_id ctx = new_object(FIRST_ID + uint32_t(c.ids.size()), &category_object);
        add_field(catalog_context, c.name, category_object);
        kiv_value code;
        add_field(ctx, "code", *integer::make_at(&code, int32_t(k * 100)));
        kiv_value title;
        string::make_at(&title, 16);
        string::concatenate_literal(&title, err::category_titles[k]);
        add_field(ctx, "type", title);
        for (const message& m : c.ids) add_field(ctx, m.id, read_template(m.text));
    }
}

node_id catalog() { return block::cells(&runtime::root)[catalog_slot].data1; }

node_id category(uint32_t position) { return context::heap_value_ref(catalog(), position)->data1; }

int32_t find_category(const kiv_value* word) { return _context::find_word(catalog(), word::symbol_of(word), true); }

int32_t find_id(node_id category, const kiv_value* word) {
    int32_t index = _context::find_word(category, word::symbol_of(word), true);
    return index >= int32_t(FIRST_ID) ? index : -1;
}

}  // namespace error
}  // namespace kiv
