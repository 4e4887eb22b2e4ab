// The event loop, the table of views and the road of an event into
// `system/view/awake`.
#include <vector>

#include "runtime/boot.h"
#include "runtime/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/evaluator/interpreter.h"
#include "runtime/exits.h"
#include "runtime/slots.h"
#include "runtime/stack.h"
#include "runtime/system.h"
#include "view/gtk/dpi.h"
#include "view/gtk/gui.h"

namespace kiv::gui {

namespace {

std::vector<view*> views;  // index - 1
loop_counters loop;

}  // namespace

view* view_at(uint32_t index) { return index >= 1 && index <= views.size() ? views[index - 1] : nullptr; }

uint32_t new_view(view* v) {
    for (uint32_t i = 0; i < views.size(); i++)
        if (!views[i]) {
            views[i] = v;
            return i + 1;
        }
    views.push_back(v);
    return uint32_t(views.size());
}

void free_view(uint32_t index) {
    if (view_at(index)) views[index - 1] = nullptr;
}

uint32_t view_of_widget(GtkWidget* w) {
    for (; w; w = gtk_widget_get_parent(w)) {
        auto index = uint32_t(GPOINTER_TO_UINT(g_object_get_data(G_OBJECT(w), "kiv-view")));
        if (view_at(index)) return index;
    }
    return 0;
}

kiv_value* face_of(uint32_t index) {
    view* v = view_at(index);
    return v ? slots::get(v->face_slot) : nullptr;
}

kiv_value* facet(kiv_value* face, uint32_t index) { return object::get_values(face) + index; }

uint32_t view_of_face(const kiv_value* face) {
    if (type_of(face) != TYPE_OBJECT || object::words_count(face) < FACET_COUNT_) return 0;
    kiv_value* state = object::get_values(face) + FACET_STATE;
    if (type_of(state) != TYPE_BLOCK || block::ks_length_q(state) < 1) return 0;
    kiv_value* h = block::ks_head(state);
    if (type_of(h) != TYPE_HANDLE || h->data1 != HANDLE_WINDOW) return 0;
    return view_at(h->data2) ? h->data2 : 0;
}

// The loop --------------------------------------------------------------------

bool do_events(bool no_wait) {
    if (no_wait) return g_main_context_iteration(nullptr, FALSE);
    loop.depth++;
    bool received = false;
    while (!loop.quit_posted) received |= bool(g_main_context_iteration(nullptr, TRUE));
    loop.loop_ended();
    return received;
}

void exit_event_loop() { loop.post_quit(); }
int loop_depth() { return loop.depth; }
int pending_exits() { return loop.pending; }
void count_closed_loop() { loop.window_closed(); }

// Raising ---------------------------------------------------------------------

bool raise(uint32_t index, const event_args& e) {
    if (!view_at(index)) return false;
    kiv_value* view_object = boot::field(boot::system_object(), "view");
    if (type_of(view_object) != TYPE_OBJECT) return false;
    kiv_value awake = *boot::field(view_object, "awake");
    if (type_of(&awake) != TYPE_FUNCTION) return false;
    static const kiv_value* name = word::load("awake");
    int depth = loop.depth;
    kiv_value* saved_top = stack::top;
    kiv_value* saved_arguments = stack::arguments;
    call_frame* saved_frames = stack::ctop;
    bool saved_tracing = interpreter::tracing_q;
    interpreter::tracing_q = false;  // the handlers run untraced
    bool stop = false;
    stack::mark_try_all(name);
    try {
        kiv_value event = *push_event(index, e);
        kiv_value result = interpreter::call_back({&awake, name, &event, 1, interpreter::CB_NONE});
        static const int32_t stop_symbol = symbol::resolve(word::symbol_of(word::load("stop")));
        stop = type_of(&result) == TYPE_WORD && symbol::resolve(word::symbol_of(&result)) == stop_symbol;
    } catch (const kiv_exit&) {
        // An error or a throw in a handler ends here; the loop goes on.
    }
    sys.pending_exit = LEVEL_NONE;
    stack::revert(saved_frames);
    stack::arguments = saved_arguments;
    stack::top = saved_top;
    interpreter::tracing_q = saved_tracing;
    // A window closed during the event: the loop that ran it ends as well.
    if (loop.depth < depth) loop.post_quit();
    return stop;
}

}  // namespace kiv::gui
