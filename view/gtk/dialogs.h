#pragma once
// The file, folder and font requesters of the GTK backend.
#include <string>
#include <vector>

#include "runtime/value.h"

namespace kiv::gui {

// Platform routines: `request-file` title name filter save? multi? and
// `request-dir` title dir filter keep? multi?, on the current call's
// arguments.
void request_file();
void request_dir();
// `request-font` font selected mono?: fills the font! object given first.
void request_font();

// A filter block as label, patterns, label, patterns...; every value must
// be a string! or file! (else `invalid-arg`). Empty for no block.
std::vector<std::string> make_filter(kiv_value* filter);
// A local path in Kiv's form: doubled slashes made one; a folder ends
// with a slash.
std::string kiv_path(const std::string& local, bool folder);
// A file! of the path in the slot.
void kiv_file_at(kiv_value* slot, const std::string& path);

}  // namespace kiv::gui
