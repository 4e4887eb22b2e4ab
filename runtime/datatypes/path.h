#pragma once
// paren! and the path family: block! under other names.

namespace kiv::path {
void init();        // path!, lit-path!, set-path!, get-path!
void init_paren();  // paren!
}  // namespace kiv::path
