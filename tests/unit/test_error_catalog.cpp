// The error catalog of the boot data and the runtime's id positions must
// list the same ids in the same order.
#include <fstream>
#include <regex>
#include <sstream>

#include "runtime/datatypes/context.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/error_ids.h"
#include "tests/unit/natives_fixture.h"

using namespace kiv;

namespace {

// The catalog name of a C++ id: hyphens for underscores, no trailing one.
std::string catalog_name(std::string id) {
    if (id.back() == '_') id.pop_back();
    for (char& c : id)
        if (c == '_') c = '-';
    return id;
}

}  // namespace

TEST(ErrorCatalog, RuntimeIdsMatchTheBootCatalog) {
    std::ifstream in(std::string(KIV_SOURCE_DIR) + "/runtime/error_ids.h");
    std::stringstream text;
    text << in.rdbuf();
    std::string source = text.str();
    std::regex category_re(R"(namespace (\w+) \{\s*enum id : uint32_t \{([^}]*)\})");
    std::regex id_re(R"((\w+) = (\d+),)");
    uint32_t checked = 0;
    for (std::sregex_iterator c(source.begin(), source.end(), category_re), end; c != end; ++c) {
        std::string category = catalog_name((*c)[1]);
        kiv_value word{TYPE_WORD, 0, uint32_t(symbol::make(category.c_str())), uint32_t(-1)};
        int32_t position = error::find_category(&word);
        ASSERT_GE(position, 0) << category;
        node_id ctx = error::category(uint32_t(position));
        std::string ids = (*c)[2];
        for (std::sregex_iterator i(ids.begin(), ids.end(), id_re); i != end; ++i) {
            uint32_t slot = uint32_t(std::stoul((*i)[2])) + error::FIRST_ID;
            ASSERT_LT(slot, _context::words_count(ctx)) << category << "/" << (*i)[1];
            kiv_value* entry = context::value_ref(ctx, slot);
            EXPECT_STREQ(symbol::name_of(word::symbol_of(entry)), catalog_name((*i)[1]).c_str()) << category;
            checked++;
        }
    }
    EXPECT_GT(checked, 130u);
}
