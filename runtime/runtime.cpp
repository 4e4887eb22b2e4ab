// Runtime initialisation, in the order the tables depend on each other.
#include "runtime/runtime.h"

#include "runtime/boot.h"
#include "runtime/case_tables.h"
#include "runtime/collector.h"
#include "runtime/cycles.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/bitset.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/char.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/date.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/file.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/hash_block.h"
#include "runtime/datatypes/event.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/vector.h"
#include "runtime/datatypes/path.h"
#include "runtime/datatypes/money.h"
#include "runtime/datatypes/percent.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/time.h"
#include "runtime/datatypes/triple.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/datatypes/url.h"
#include "runtime/datatypes/word.h"
#include "runtime/evaluator/checksum.h"
#include "runtime/evaluator/interpreter.h"
#include "runtime/evaluator/lexer.h"
#include "runtime/evaluator/natives.h"
#include "runtime/evaluator/parse.h"
#include "runtime/evaluator/random.h"
#include "runtime/io/deflate.h"
#include "runtime/io/kivbin.h"
#include "runtime/memory.h"
#include "runtime/ownership.h"
#include "runtime/platform.h"
#include "runtime/print_hooks.h"
#include "runtime/slots.h"
#include "runtime/stack.h"
#include "runtime/system.h"

namespace kiv {

bool collector::active_q = false;
bool collector::running_q = false;
uint32_t collector::nodes_cycles = 0;

namespace runtime {

kiv_value root;
bool boot_loading = false;

// A block value of a fixed buffer, appended to root: the stacks live in
// buffers that never move.
static node_id append_fixed_block(uint32_t cells) {
    node_id n = memory::alloc_fixed_series(cells, sizeof(kiv_value), 0);
    *series::alloc_tail_cell(series::buffer(root.data2)) = kiv_value{TYPE_BLOCK, 0, n, 0};
    return n;
}

// The boot values join the root block after what it holds already; the
// error catalog is one of them.
static void load_boot_data(const uint8_t* data, uint64_t size) {
    uint32_t base = block::length_all(&root);
    kivbin::load_boot(data, int64_t(size));
    boot::record_roots(base, block::length_all(&root) - base);
    boot::init_catalog();
}

// Each parent registers before its children.
static void register_datatypes() {
    datatype::init_tables();
    datatype::init();
    unset::init();
    none::init();
    logic::init();
    series::init();
    block::init();
    string::init();
    binary::init();
    integer::init();
    symbol::init();
    _context::init();
    word::init();
    char_::init();
    native::init();
    path::init();
    function::init();
    path::init_paren();
    issue::init();
    url::init();
    file::init();
    object::init();
    bitset::init();
    triple::init();
    float_::init();
    typeset::init();
    error::init();
    pair::init();
    tuple::init();
    point::init();
    vector::init();
    percent::init();
    time::init();
    date::init();
    money::init();
    map::init();
    hash_block::init();
    event::init();
}

void init(const uint8_t* boot_data, uint64_t boot_size) {
    boot_loading = true;
    sys.boot_data = boot_data;
    dyn_print::init();
    cycles::init();
    platform::init();
    random::init();
    memory::init();
    externals::init();
    register_datatypes();
    actions::init();
    memory::new_node_frame(NODES_PER_FRAME);
    memory::new_series_frame();
    root = kiv_value{TYPE_BLOCK, 0, memory::alloc_cells(ROOT_CELLS), 0};
    node_id arguments = append_fixed_block(stack::ARGUMENT_CELLS);
    node_id calls = append_fixed_block(stack::CALL_STACK_CELLS);
    stack::init(arguments, calls);
    symbol::init_table();
    _context::init_global();
    unicode::init_tables();
    datatype::load_words();
    lexer::init();
    collector::add_mark_callback([] { lexer::mark_states(collector::mark_values); });
    ownership::init();
    natives::init();
    parser::init();
    crypto::init();
    compression::init_words();
    if (boot_data) load_boot_data(boot_data, boot_size);
    interpreter::init();
    slots::init();
    collector::init();
}

void cleanup() {
    memory::release_all_frames();
    memory::free_all();
}

}  // namespace runtime
}  // namespace kiv
