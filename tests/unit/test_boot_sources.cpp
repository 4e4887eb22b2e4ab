// The boot sources: the action specs against their dispatchers, the start-up
// typesets' members, and the operators. The fixture has evaluated every boot
// file, as start-up will.
#include <map>
#include <set>
#include <sstream>

#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/evaluator/lexer.h"
#include "tests/unit/natives_fixture.h"

using namespace kiv;
using namespace kiv::test;

namespace {

using BootSources = NativesTest;

kiv_value value_of(const char* name) { return *_context::get(word::load(name)); }

kiv_value spec_of(const kiv_value& callable) { return kiv_value{TYPE_BLOCK, 0, callable.data2, 0}; }

std::string name_of(const kiv_value& w) { return symbol::name_of(word::symbol_of(&w)); }

// The parameters of a spec as the dispatchers count them: argument words,
// then refinements with the words of their arguments, in spec order.
std::string parameters(const kiv_value& spec) {
    std::string out;
    for (uint32_t i = 0; i < length_of(spec); i++) {
        const kiv_value& v = cells_of(spec)[i];
        uint32_t t = type_of(&v);
        if (t != TYPE_WORD && t != TYPE_LIT_WORD && t != TYPE_GET_WORD && t != TYPE_REFINEMENT) continue;
        if (!out.empty()) out += ' ';
        out += (t == TYPE_REFINEMENT ? "/" : t == TYPE_LIT_WORD ? "'" : t == TYPE_GET_WORD ? ":" : "") + name_of(v);
    }
    return out;
}

// The types of a spec's first argument, as calls check them.
kiv_value first_argument_types(const kiv_value& spec) {
    kiv_value list = block_of({});
    for (uint32_t i = 0; i + 1 < length_of(spec); i++) {
        if (type_of(cells_of(spec) + i) != TYPE_WORD) continue;
        kiv_value types = cells_of(spec)[i + 1];
        if (type_of(&types) == TYPE_BLOCK) return *typeset::make_from_block(&list, &types);
        break;
    }
    return *typeset::make_default_in(&list);
}

struct action_case {
    uint32_t slot;
    const char* word;
    const char* parameters;  // refinements in the order the slot's dispatcher reads them
};

const action_case ACTION_CASES[] = {
    {1, "make", "type spec"},
    {2, "random", "value /seed /secure /only"},
    {3, "reflect", "value field"},
    {4, "to", "type spec"},
    {5, "form", "value /part limit"},
    {6, "mold", "value /only /all /flat /part limit"},
    {10, "absolute", "value"},
    {11, "add", "value1 value2"},
    {12, "divide", "value1 value2"},
    {13, "multiply", "value1 value2"},
    {14, "negate", "number"},
    {15, "power", "number exponent"},
    {16, "remainder", "value1 value2"},
    {17, "round", "n /to scale /even /down /half-down /floor /ceiling /half-ceiling"},
    {18, "subtract", "value1 value2"},
    {19, "even?", "number"},
    {20, "odd?", "number"},
    {21, "and~", "value1 value2"},
    {22, "complement", "value"},
    {23, "or~", "value1 value2"},
    {24, "xor~", "value1 value2"},
    {25, "append", "series value /part length /only /dup count"},
    {26, "at", "series index"},
    {27, "back", "series"},
    {28, "change", "series value /part length /only /dup count"},
    {29, "clear", "series"},
    {30, "copy", "value /part length /deep /types kind"},
    {31, "find", "series value /part length /only /case /same /any /with wild /skip size /last /reverse /tail /match"},
    {32, "head", "series"},
    {33, "head?", "series"},
    {34, "index?", "series"},
    {35, "insert", "series value /part length /only /dup count"},
    {36, "length?", "series"},
    {37, "move", "origin target /part length"},
    {38, "next", "series"},
    {39, "pick", "series index"},
    {40, "poke", "series index value"},
    {41, "put", "series key value /case"},
    {42, "remove", "series /part length /key key-arg"},
    {43, "reverse", "series /part length /skip size"},
    {44, "select", "series value /part length /only /case /same /any /with wild /skip size /last /reverse"},
    {45, "sort", "series /case /skip size /compare comparator /part length /all /reverse /stable"},
    {46, "skip", "series offset"},
    {47, "swap", "series1 series2"},
    {48, "tail", "series"},
    {49, "tail?", "series"},
    {50, "take", "series /part length /deep /last"},
    {51, "trim", "series /head /tail /auto /lines /all /with str"},
    {52, "create", "port"},
    {53, "close", "port"},
    {54, "delete", "target"},
    {55, "modify", "target field value /case"},
    {56, "open", "port /new /read /write /seek /allow access"},
    {57, "open?", "port"},
    {58, "query", "target"},
    {59, "read", "source /part length /seek index /binary /lines /info /as encoding"},
    {60, "rename", "from to"},
    {61, "update", "port"},
    {62, "write", "destination data /binary /lines /info /append /part length /seek index /allow access /as encoding"},
};

uint32_t datatype_id(const std::string& name) {
    for (uint32_t id = 1; id < TYPE_COUNT; id++)
        if (name == datatype::id_name(id)) return id;
    throw std::runtime_error("no datatype " + name);
}

}  // namespace

TEST_F(BootSources, EveryActionSlotHasItsWordAndDispatcherOrder) {
    std::set<uint32_t> slots;
    for (const action_case& c : ACTION_CASES) {
        SCOPED_TRACE(c.word);
        kiv_value action = value_of(c.word);
        ASSERT_EQ(type_of(&action), uint32_t(TYPE_ACTION));
        EXPECT_EQ(int_run(std::string("reflect :") + c.word + " 'body"), int32_t(c.slot));
        EXPECT_EQ(parameters(spec_of(action)), c.parameters);
        slots.insert(c.slot);
    }
    for (uint32_t slot = 1; slot <= ACTION_SLOTS; slot++)
        EXPECT_EQ(slots.count(slot), slot == SLOT_EVAL_PATH || slot == SLOT_EMPTY || slot == SLOT_COMPARE ? 0u : 1u)
            << "slot " << slot;
}

// A spec's types must not turn away a value whose datatype implements the
// action; series! (the datatype) only lends its row to the real series.
TEST_F(BootSources, ActionSpecsAcceptEveryDatatypeThatImplementsThem) {
    for (const action_case& c : ACTION_CASES) {
        kiv_value types = first_argument_types(spec_of(value_of(c.word)));
        for (uint32_t t = 1; t <= datatype::top_id; t++) {
            if (!datatype::table[t].name || t == TYPE_SERIES || !actions::entry(t, c.slot)) continue;
            EXPECT_TRUE(typeset::has_q(&types, t)) << c.word << " refuses " << datatype::id_name(t);
        }
    }
}

TEST_F(BootSources, TypesetsHoldExactlyTheirMembers) {
    // Each row in start-up order; a typeset named in a row stands for its members.
    const std::pair<const char*, const char*> rows[] = {
        {"external!", "event!"},
        {"number!", "integer! float! percent!"},
        {"planar!", "pair! point2D!"},
        {"any-point!", "point2D! point3D!"},
        {"scalar!", "number! any-point! money! char! pair! tuple! time! date!"},
        {"any-word!", "word! set-word! lit-word! get-word!"},
        {"all-word!", "any-word! refinement! issue!"},
        {"any-list!", "block! paren! hash!"},
        {"any-path!", "path! lit-path! set-path! get-path!"},
        {"any-block!", "any-path! any-list!"},
        {"any-function!", "native! action! op! function! routine!"},
        {"any-object!", "object! error! port!"},
        {"any-string!", "string! file! url! tag! email! ref!"},
        {"series!", "any-block! any-string! binary! image! vector!"},
        {"immediate!", "scalar! all-word! none! logic! datatype! typeset! handle! date!"},
    };
    std::map<std::string, std::set<uint32_t>> members;
    for (uint32_t id = 1; id < TYPE_COUNT; id++) members["any-type!"].insert(id);
    for (const auto& [name, list] : rows) {
        std::istringstream names(list);
        std::set<uint32_t>& expected = members[name];
        for (std::string n; names >> n;) {
            if (members.count(n)) expected.insert(members[n].begin(), members[n].end());
            else expected.insert(datatype_id(n));
        }
    }
    for (const auto& [name, expected] : members) {
        kiv_value ts = value_of(name.c_str());
        ASSERT_EQ(type_of(&ts), uint32_t(TYPE_TYPESET)) << name;
        for (uint32_t id = 1; id < TYPE_COUNT; id++)
            EXPECT_EQ(typeset::has_q(&ts, id), expected.count(id) == 1) << name << " " << datatype::id_name(id);
    }
}

TEST_F(BootSources, OperatorsCallWhatTheyWrap) {
    const std::pair<const char*, const char*> cases[] = {
        {"1 + 2", "3"},
        {"1 - 3", "-2"},
        {"6 * 7", "42"},
        {"1 + 2 * 3", "9"},  // left to right
        {"8 / 2", "4"},
        {"7 % 3", "1"},
        {"1 = 1.0", "true"},
        {"1 <> 1", "false"},
        {"1 == 1.0", "false"},
        {"ob: [] ob =? ob", "true"},
        {"[] =? []", "false"},
        {"1 < 2", "true"},
        {"1 > 2", "false"},
        {"2 <= 2", "true"},
        {"1 >= 2", "false"},
        {"2 ** 10", "1024"},
        {"true and false", "false"},
        {"6 or 3", "7"},
        {"6 xor 3", "5"},
        {"1 + 2 = 3", "true"},
    };
    for (const auto& [text, expected] : cases) EXPECT_EQ(mold_of(text), expected) << text;
    for (const char* word : {"+", "**", "and", "="}) EXPECT_EQ(type_of_v(value_of(word)), uint32_t(TYPE_OP)) << word;
}

TEST_F(BootSources, TypedArgumentsRefuseOtherTypes) {
    expect_raises("append 1 2", err::SCRIPT, err::script::expect_arg);
    expect_raises("form/part 1 2.5", err::SCRIPT, err::script::expect_arg);
    expect_raises("reflect :add 1", err::SCRIPT, err::script::expect_arg);
    expect_raises("1 + [2]", err::SCRIPT, err::script::expect_arg);
    expect_raises("copy/types [] 1", err::SCRIPT, err::script::expect_arg);
}
