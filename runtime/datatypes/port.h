#pragma once
// port!: an object made from `system/standard/port` whose series and I/O
// actions are carried out by its scheme's actor. An object! actor receives
// each action as a call of its function of the same name, with the port,
// the action's arguments and each refinement as a logic! followed by its
// argument (none when unused). A handle! actor names a table of native
// implementations instead, which the action lookup uses directly.
#include <cstdint>

#include "runtime/datatypes/actions.h"
#include "runtime/value.h"

namespace kiv::port {

// The actor field; anything but an object! raises `invalid-port`.
kiv_value* get_actor(const kiv_value* port);
// Calls the actor's function named `action` with `count` values filling its
// arguments and refinements in spec order; anything but a function! there
// raises `no-port-action`.
kiv_value call_actor(const kiv_value* actor, const char* action, const kiv_value* args, uint32_t count);

// Native actors: a table of 38 implementations, entry k for slot k + 25
// (append to write), null where unsupported. A handle! whose value is the
// returned id (class null) stands for it as an actor.
constexpr uint32_t NATIVE_SLOTS = SLOT_WRITE - SLOT_APPEND + 1;
int32_t register_native_actor(const actions::code* table);
// The native implementation of a slot for a handle! actor; raises
// `no-port-action` when the table lacks it.
actions::code native_action(const kiv_value* actor, uint32_t slot);

void init();

}  // namespace kiv::port
