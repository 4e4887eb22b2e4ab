// The symbol table.
#include <string>

#include "runtime/datatypes/symbol.h"
#include "tests/unit/action_fixture.h"

using namespace kiv;
using namespace kiv::test;

TEST(Symbols, CaseVariantsAreAliasesOfTheFirstSpelling) {
    int32_t foo = symbol::make("sym-foo");
    int32_t Foo = symbol::make("Sym-Foo");
    int32_t FOO = symbol::make("SYM-FOO");
    EXPECT_NE(foo, Foo);
    EXPECT_NE(Foo, FOO);
    EXPECT_EQ(symbol::resolve(Foo), foo);
    EXPECT_EQ(symbol::resolve(FOO), foo);
    EXPECT_EQ(symbol::resolve(foo), foo);
    EXPECT_EQ(symbol::alias_of(foo), -1);
    EXPECT_EQ(symbol::make("Sym-Foo"), Foo);  // the exact spelling is found first
    uint32_t before = symbol::count();
    EXPECT_EQ(symbol::make_flagged("SYM-fOO"), foo);
    EXPECT_EQ(symbol::count(), before);
    EXPECT_STREQ(symbol::name_of(FOO), "SYM-FOO");
}

TEST(Symbols, OnlyAsciiLettersFoldAndLengthsMustMatch) {
    int32_t small = symbol::make("caf\xC3\xA9");  // é
    int32_t capital = symbol::make("CAF\xC3\x89");  // É
    EXPECT_EQ(symbol::alias_of(capital), -1);
    EXPECT_NE(symbol::resolve(capital), small);
    int32_t ab = symbol::make("ab"), abc = symbol::make("abc");
    EXPECT_NE(ab, abc);
    EXPECT_EQ(symbol::alias_of(abc), -1);
    int32_t empty = symbol::make("");
    uint32_t length = 99;
    EXPECT_STREQ(symbol::name_of(empty, &length), "");
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(symbol::make(""), empty);
}

TEST(Symbols, ManySymbolsGrowTheBlockAndStayFindable) {
    std::vector<int32_t> ids;
    for (int i = 0; i < 12000; i++) ids.push_back(symbol::make(("grow-" + std::to_string(i)).c_str()));
    EXPECT_GT(symbol::count(), symbol::START_SIZE);
    for (int i = 0; i < 12000; i++) {
        std::string name = "grow-" + std::to_string(i);
        EXPECT_EQ(symbol::make(name.c_str()), ids[size_t(i)]);
        EXPECT_STREQ(symbol::name_of(ids[size_t(i)]), name.c_str());
    }
    for (int i = 0; i < 12000; i += 997) {
        std::string upper = "GROW-" + std::to_string(i);
        EXPECT_EQ(symbol::resolve(symbol::make(upper.c_str())), ids[size_t(i)]);
        std::string mixed = "Grow-" + std::to_string(i);
        EXPECT_EQ(symbol::resolve(symbol::make(mixed.c_str())), ids[size_t(i)]);
    }
    // An alias always names a canonical symbol, also after resizes.
    for (uint32_t id = 1; id <= symbol::count(); id++) {
        int32_t alias = symbol::alias_of(int32_t(id));
        if (alias > 0) EXPECT_EQ(symbol::alias_of(alias), -1) << id;
    }
}

TEST(Symbols, TheStringCacheHoldsTheDecodedName) {
    int32_t id = symbol::make("na\xC3\xAFve");  // ï
    kiv_value* rec = symbol::get(id);
    ASSERT_NE(rec->data2, 0u);
    kiv_value s{TYPE_STRING, 0, rec->data2, 0};
    EXPECT_EQ(string::ks_length_q(&s), 5u);
    EXPECT_EQ(string::ks_abs_at(&s, 2), 0xEFu);
    EXPECT_EQ(symbol::get(id)->data2, rec->data2);  // made once
}
