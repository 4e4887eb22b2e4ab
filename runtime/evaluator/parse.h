#pragma once
// PARSE: matches an input series against a block of grammar rules.
//
// The engine is one loop over the rule values, driven by two explicit stacks
// instead of recursion, so that the depth of a grammar is bounded by a cell
// count rather than by the machine stack, and so that a trace callback can
// look at the active rules:
// - the input stack holds the series being matched; `into` pushes the
//   element it descends into and pops it when its rule ends;
// - the rule stack holds, for every active rule block, where to resume in
//   the enclosing block and where the input stood when the block began (two
//   cells), and for every keyword waiting for the result of its rule a frame
//   of three cells.
// Both stacks are shared by nested parses (a paren or a callback may call
// parse again): each call works above the tops it found and puts them back
// however it ends.
#include <cstdint>

#include "runtime/value.h"

namespace kiv::parser {

constexpr uint32_t INPUT_STACK_START = 8;
constexpr uint32_t RULE_STACK_START = 100;
constexpr uint32_t STACK_LIMIT = 10000;  // cells each stack may hold

// Whether rules that run no code are matched in one go, without a step per
// rule value; off, every rule takes the general loop. The outcome is the
// same either way, which tests check by comparing the two.
extern bool quick_matching;

// Start-up, once the natives table exists: the two stacks and the keyword
// and event words.
void init();

// Matches `input` from its index against `rules` from its index. `limit` is
// the input index where matching stops (-1: the tail); `case_` makes text
// comparisons exact (bytes always compare exactly); `callback` is a
// function! that receives the trace events, or none. Returns true or false,
// or the block a top-level `collect` made. When a paren or the callback
// leaves by break, continue or another exit, returns at once with that exit
// pending and a meaningless value.
kiv_value process(const kiv_value* input, const kiv_value* rules, bool case_, int32_t limit,
                  const kiv_value* callback);

}  // namespace kiv::parser
