#pragma once
// The JSON reader behind load-json: one pass over the text that builds the
// same values the json-parser grammar builds. It answers false, leaving the
// text to the grammar, wherever the grammar's own answer is an error
// (malformed text, a broken surrogate escape, nesting near the rule stack's
// end, numbers the lexer refuses), so that errors and their positions
// stay the grammar's.
namespace kiv::json_reader {
// Binds json-parser/read-document once the library modules have run.
void bind();
}  // namespace kiv::json_reader
