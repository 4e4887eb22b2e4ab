#pragma once
// Internal entry points shared by the backend's files.
#include <cstdint>

#include "view/gtk/gui.h"

namespace kiv::gui {

// Event type ids, as `event!` numbers them.
namespace ev {
constexpr uint32_t DOWN = 1;
constexpr uint32_t UP = 2;
constexpr uint32_t MID_DOWN = 3;
constexpr uint32_t MID_UP = 4;
constexpr uint32_t ALT_DOWN = 5;
constexpr uint32_t ALT_UP = 6;
constexpr uint32_t AUX_DOWN = 7;
constexpr uint32_t AUX_UP = 8;
constexpr uint32_t CLICK = 9;
constexpr uint32_t DBL_CLICK = 10;
constexpr uint32_t WHEEL = 11;
constexpr uint32_t OVER = 12;
constexpr uint32_t KEY = 13;
constexpr uint32_t KEY_DOWN = 14;
constexpr uint32_t KEY_UP = 15;
constexpr uint32_t IME = 16;
constexpr uint32_t FOCUS = 17;
constexpr uint32_t UNFOCUS = 18;
constexpr uint32_t ENTER = 19;
constexpr uint32_t ZOOM = 20;
constexpr uint32_t PAN = 21;
constexpr uint32_t ROTATE = 22;
constexpr uint32_t TWO_TAP = 23;
constexpr uint32_t PRESS_TAP = 24;
constexpr uint32_t SELECT = 25;
constexpr uint32_t CHANGE = 26;
constexpr uint32_t MENU = 27;
constexpr uint32_t CLOSE = 28;
constexpr uint32_t MOVE = 29;
constexpr uint32_t RESIZE = 30;
constexpr uint32_t MOVING = 31;
constexpr uint32_t RESIZING = 32;
constexpr uint32_t TIME = 33;
constexpr uint32_t DRAWING = 34;
constexpr uint32_t SCROLL = 35;
}  // namespace ev

uint32_t new_view(view* v);
void free_view(uint32_t index);
void disconnect_input(uint32_t index);
void start_timer(uint32_t index, int32_t period);
// The view of the window a view lives in (itself for a window), 0 for none.
uint32_t window_of(uint32_t index);

}  // namespace kiv::gui
