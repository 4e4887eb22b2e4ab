#pragma once
// `read-clipboard` and `write-clipboard` on the toolkit's clipboard.
namespace kiv::gui {

// Binds the two global routines in place of their stand-ins.
void install_clipboard();

}  // namespace kiv::gui
