#pragma once
// The natives: the built-in words whose code lives in the runtime. A
// native! value carries its number n; the code is natives::table[n - 1].
//
// Calling convention, shared by every native: the arguments are the cells
// from stack::arguments in spec order (the mandatory ones, then those of the
// used refinements in the order the call named them); `refs` holds one entry
// per refinement of the spec, in spec order: the cell index (from
// stack::arguments) of that refinement's first argument, or -1 when it is
// unused. A native leaves its result in stack::arguments[0]. `check` asks the
// native to type-check its arguments; only compiled callers ask, and there
// are none: the interpreter has checked the arguments against the spec.
//
// break, continue, return and exit leave a native with sys.pending_exit set
// and the stacks already unwound to the frame that takes them: a native that
// evaluates code returns at once when it sees one it does not take.
#include <cstdint>

#include "runtime/value.h"

namespace kiv::natives {

// Registers the 107 natives in table order. Runs at start-up once the
// datatypes and the global context exist, before any native is called.
void init();

// A slot whose native belongs to a module that is not there yet.
void not_done(bool check, const int32_t* refs);

// Conditionals and loops.
void if_(bool check, const int32_t* refs);
void unless(bool check, const int32_t* refs);
void either(bool check, const int32_t* refs);
void any(bool check, const int32_t* refs);
void all(bool check, const int32_t* refs);
void while_(bool check, const int32_t* refs);
void until(bool check, const int32_t* refs);
void loop(bool check, const int32_t* refs);
void repeat(bool check, const int32_t* refs);
void forever(bool check, const int32_t* refs);
void foreach(bool check, const int32_t* refs);
void forall(bool check, const int32_t* refs);
void remove_each(bool check, const int32_t* refs);
void switch_(bool check, const int32_t* refs);
void case_(bool check, const int32_t* refs);
void do_(bool check, const int32_t* refs);

// Non-local exits and their catchers.
void try_(bool check, const int32_t* refs);
void break_(bool check, const int32_t* refs);
void continue_(bool check, const int32_t* refs);
void exit(bool check, const int32_t* refs);
void return_(bool check, const int32_t* refs);
void throw_(bool check, const int32_t* refs);
void catch_(bool check, const int32_t* refs);

// Function builders; words, blocks and calls.
void func(bool check, const int32_t* refs);
void function(bool check, const int32_t* refs);
void does(bool check, const int32_t* refs);
void has(bool check, const int32_t* refs);
void get(bool check, const int32_t* refs);
void set(bool check, const int32_t* refs);
void unset(bool check, const int32_t* refs);
void value_q(bool check, const int32_t* refs);
void context_q(bool check, const int32_t* refs);
void construct(bool check, const int32_t* refs);
void extend(bool check, const int32_t* refs);
void in(bool check, const int32_t* refs);
void bind(bool check, const int32_t* refs);
void reduce(bool check, const int32_t* refs);
void compose(bool check, const int32_t* refs);
void new_line(bool check, const int32_t* refs);
void new_line_q(bool check, const int32_t* refs);
void apply(bool check, const int32_t* refs);

// Comparison, logic and data sets.
void equal_q(bool check, const int32_t* refs);
void not_equal_q(bool check, const int32_t* refs);
void strict_equal_q(bool check, const int32_t* refs);
void lesser_q(bool check, const int32_t* refs);
void greater_q(bool check, const int32_t* refs);
void lesser_or_equal_q(bool check, const int32_t* refs);
void greater_or_equal_q(bool check, const int32_t* refs);
void same_q(bool check, const int32_t* refs);
void not_(bool check, const int32_t* refs);
void type_q(bool check, const int32_t* refs);
void max(bool check, const int32_t* refs);
void min(bool check, const int32_t* refs);
void union_(bool check, const int32_t* refs);
void intersect(bool check, const int32_t* refs);
void unique(bool check, const int32_t* refs);
void difference(bool check, const int32_t* refs);
void exclude(bool check, const int32_t* refs);
void complement_q(bool check, const int32_t* refs);

// PARSE.
void parse(bool check, const int32_t* refs);

// Math.
void negative_q(bool check, const int32_t* refs);
void positive_q(bool check, const int32_t* refs);
void sign_q(bool check, const int32_t* refs);
void zero_q(bool check, const int32_t* refs);
void NaN_q(bool check, const int32_t* refs);
void shift(bool check, const int32_t* refs);
void to_hex(bool check, const int32_t* refs);
void sine(bool check, const int32_t* refs);
void cosine(bool check, const int32_t* refs);
void tangent(bool check, const int32_t* refs);
void arcsine(bool check, const int32_t* refs);
void arccosine(bool check, const int32_t* refs);
void arctangent(bool check, const int32_t* refs);
void arctangent2(bool check, const int32_t* refs);
void log_2(bool check, const int32_t* refs);
void log_10(bool check, const int32_t* refs);
void log_e(bool check, const int32_t* refs);
void exp(bool check, const int32_t* refs);
void square_root(bool check, const int32_t* refs);

// Output, text and conversion.
void print(bool check, const int32_t* refs);
void prin(bool check, const int32_t* refs);
void dehex(bool check, const int32_t* refs);
void enhex(bool check, const int32_t* refs);
void uppercase(bool check, const int32_t* refs);
void lowercase(bool check, const int32_t* refs);
void as(bool check, const int32_t* refs);
void transcode(bool check, const int32_t* refs);
void debase(bool check, const int32_t* refs);
void enbase(bool check, const int32_t* refs);
void as_pair(bool check, const int32_t* refs);
void as_money(bool check, const int32_t* refs);
void as_point2D(bool check, const int32_t* refs);
void as_point3D(bool check, const int32_t* refs);

// The system: waiting, files, the environment and memory.
void wait(bool check, const int32_t* refs);
void now(bool check, const int32_t* refs);
void to_local_file(bool check, const int32_t* refs);
void size_q(bool check, const int32_t* refs);
void get_env(bool check, const int32_t* refs);
void extend(bool check, const int32_t* refs);
void set_env(bool check, const int32_t* refs);
void list_env(bool check, const int32_t* refs);
void stats(bool check, const int32_t* refs);
void recycle(bool check, const int32_t* refs);

// The block print and prin reduce a block argument into, kept in the root
// block: nested prints append after the values of the prints around them
// and cut it back to where they started.
kiv_value* print_buffer();
// Whether the last print or prin ended its line.
extern bool last_lf_q;

// Handles the pending window events without blocking, after each wait;
// the GUI installs it, and until then waiting only sleeps.
extern void (*gui_do_events)();

// Checksums, digests and HMAC (runtime/evaluator/checksum.cpp).
void checksum(bool check, const int32_t* refs);
// Deflate, zlib and gzip (runtime/evaluator/natives_compress.cpp).
void compress(bool check, const int32_t* refs);
void decompress(bool check, const int32_t* refs);
// Other programs (runtime/evaluator/natives_processes.cpp).
void call(bool check, const int32_t* refs);
void browse(bool check, const int32_t* refs);

}  // namespace kiv::natives
