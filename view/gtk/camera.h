#pragma once
// The camera face of the GTK backend.
#include <cstdint>

namespace kiv::gui {

// Lists the devices into `data` and starts the `selected` one.
void setup_camera(uint32_t index);
// `selected` (start another device or stop) and `image` set to none (grab).
void apply_camera(uint32_t index, uint32_t bits);
// Stops the capture thread (joined) and forgets the face's camera.
void close_camera(uint32_t index);

}  // namespace kiv::gui
