// The camera face: `data` lists the capture devices, `selected` starts one
// (none stops it), and setting `image` to none grabs the current frame. The
// face shows the frames it is sent; they cross from the capture thread
// through the grabber's state word and a message to the GUI thread.
#include "view/gtk/camera.h"

#include <cstdlib>
#include <map>
#include <memory>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/image.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/string.h"
#include "runtime/errors.h"
#include "runtime/stack.h"
#include "view/gtk/camera_core.h"
#include "view/gtk/gui.h"
#include "view/gtk/kivbox.h"

namespace kiv::gui {

namespace {

constexpr double GRAB_TIMEOUT = 3.0;
constexpr guint PREVIEW_MS = 40;

struct record {
    std::vector<camera::device> devices;
    std::unique_ptr<camera::frame_source> source;
    std::unique_ptr<camera::grabber> grabber;
    uint64_t serial = 0;
    guint preview = 0;
};

std::map<uint32_t, std::unique_ptr<record>> records;  // by view index
uint64_t next_serial = 1;

// A test device, when the environment asks for one: KIV_CAMERA_SYNTHETIC=WxH.
bool synthetic_size(int* w, int* h) {
    const char* spec = getenv("KIV_CAMERA_SYNTHETIC");
    return spec && sscanf(spec, "%dx%d", w, h) == 2 && *w > 0 && *h > 0 && *w <= 4096 && *h <= 4096;
}

std::unique_ptr<camera::frame_source> open_source(const camera::device& d) {
    int w, h;
    if (d.path.empty() && synthetic_size(&w, &h)) return camera::synthetic_source(w, h, 10, 0xFF2040C0);
    return camera::open_device(d.path);
}

record* record_of(uint32_t index) {
    auto it = records.find(index);
    return it == records.end() ? nullptr : it->second.get();
}

void stop(record* r) {
    if (r->preview) g_source_remove(r->preview);
    r->preview = 0;
    if (r->source) r->source->stop();  // joins the capture thread
    r->source.reset();
    r->grabber.reset();
    r->serial = 0;
}

struct posted {
    uint32_t index;
    uint64_t serial;
};

cairo_surface_t* surface_of(const std::vector<uint8_t>& frame, int w, int h) {
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, w, h);
    cairo_surface_flush(s);
    auto* out = cairo_image_surface_get_data(s);
    int stride = cairo_image_surface_get_stride(s);
    for (int y = 0; y < h; y++) memcpy(out + size_t(y) * size_t(stride), frame.data() + size_t(y) * size_t(w) * 4, size_t(w) * 4);
    cairo_surface_mark_dirty(s);
    return s;
}

void store_image(uint32_t index, const std::vector<uint8_t>& frame, int w, int h) {
    kiv_value* img = image::push_from_pixels(uint32_t(w), uint32_t(h), reinterpret_cast<const uint32_t*>(frame.data()),
                                             uint32_t(w) * 4);
    *facet(face_of(index), FACET_IMAGE) = *img;
    stack::pop(1);
}

// On the GUI thread, for each frame the capture thread copied.
gboolean frame_ready(gpointer data) {
    auto* p = static_cast<posted*>(data);
    record* r = record_of(p->index);
    if (r && r->serial == p->serial && r->grabber) {
        std::vector<uint8_t> frame;
        if (r->grabber->take_ready(&frame)) {
            int w = r->grabber->width(), h = r->grabber->height();
            view* v = view_at(p->index);
            kivbox_set_image(v->widget, surface_of(frame, w, h));
        }
    }
    delete p;
    return G_SOURCE_REMOVE;
}

gboolean preview_tick(gpointer data) {
    record* r = record_of(GPOINTER_TO_UINT(data));
    if (!r || !r->grabber) return G_SOURCE_REMOVE;
    r->grabber->want();
    return G_SOURCE_CONTINUE;
}

// Starts device n (1-based); out of range raises `cannot-open`.
void select(uint32_t index, int32_t n) {
    record* r = record_of(index);
    if (!r || n < 1 || size_t(n) > r->devices.size()) {
        kiv_value number;
        integer::make_at(&number, n);
        fire(err::ACCESS, err::access::cannot_open, &number);
    }
    stop(r);
    r->source = open_source(r->devices[size_t(n) - 1]);
    if (!r->source) return;
    uint64_t serial = r->serial = next_serial++;
    r->grabber = std::make_unique<camera::grabber>(r->source->width(), r->source->height(), [index, serial] {
        g_idle_add(frame_ready, new posted{index, serial});
    });
    if (!r->source->start(r->grabber.get())) {
        stop(r);
        return;
    }
    r->preview = g_timeout_add(PREVIEW_MS, preview_tick, GUINT_TO_POINTER(index));
}

void grab(uint32_t index) {
    record* r = record_of(index);
    if (!r || !r->grabber) return;
    std::vector<uint8_t> frame;
    if (r->grabber->grab(&frame, GRAB_TIMEOUT)) store_image(index, frame, r->grabber->width(), r->grabber->height());
}

}  // namespace

void setup_camera(uint32_t index) {
    auto r = std::make_unique<record>();
    r->devices = camera::enumerate();
    int w, h;
    if (synthetic_size(&w, &h)) r->devices.push_back({"Synthetic camera", ""});
    kiv_value* names = block::make_at(stack::push(), int32_t(r->devices.size()));
    for (const camera::device& d : r->devices)
        string::load_in(reinterpret_cast<const uint8_t*>(d.name.data()), uint32_t(d.name.size()), names, string::UTF8);
    *facet(face_of(index), FACET_DATA) = *names;
    stack::pop(1);
    bool none = r->devices.empty();
    records[index] = std::move(r);
    // Without devices nothing starts until a device is asked for.
    kiv_value* selected = facet(face_of(index), FACET_SELECTED);
    if (none || type_of(selected) != TYPE_INTEGER) return;
    try {
        select(index, integer::get_value(selected));
    } catch (...) {
        close_camera(index);
        throw;
    }
}

void apply_camera(uint32_t index, uint32_t bits) {
    if (!record_of(index)) return;
    if (bits & (1u << FACET_SELECTED)) {
        kiv_value* selected = facet(face_of(index), FACET_SELECTED);
        if (type_of(selected) == TYPE_INTEGER) {
            try {
                select(index, integer::get_value(selected));
            } catch (...) {
                // No device runs: `selected` says so, and the next update
                // does not try the same device again.
                *facet(face_of(index), FACET_SELECTED) = none_value;
                throw;
            }
        } else if (type_of(selected) == TYPE_NONE) stop(record_of(index));
    }
    if ((bits & (1u << FACET_IMAGE)) && type_of(facet(face_of(index), FACET_IMAGE)) == TYPE_NONE) grab(index);
}

void close_camera(uint32_t index) {
    record* r = record_of(index);
    if (!r) return;
    stop(r);
    records.erase(index);
}

}  // namespace kiv::gui
