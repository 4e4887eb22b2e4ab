// Text boxes on pango: layout, style ranges, metrics and painting.
#include "view/gtk/text_box.h"

#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <strings.h>

#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/handle.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/slots.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"
#include "view/gtk/gui.h"

namespace kiv::text_box {

namespace {
constexpr double PS = PANGO_SCALE;
uint16_t wide(uint8_t c) { return uint16_t(c * 257); }
}  // namespace

box::box(const char* utf8, size_t bytes, const fonts::look& font, const fonts::para_look& para, double width,
         double height)
    : layout_(pango_layout_new(fonts::shared_context())), attrs_(pango_attr_list_new()), para_(para),
      width_(width), height_(height) {
    for (size_t i = 0; i < bytes; i++)
        if ((uint8_t(utf8[i]) & 0xC0) != 0x80) byte_of.push_back(uint32_t(i));
    byte_of.push_back(uint32_t(bytes));
    pango_layout_set_text(layout_, utf8, int(bytes));
    PangoFontDescription* d = fonts::describe(font);
    pango_layout_set_font_description(layout_, d);
    pango_font_description_free(d);
    fonts::decorate(font, attrs_);
    if (font.has_colour) colour(0, length(), {font.rgba[0], font.rgba[1], font.rgba[2], font.rgba[3]});
    pango_layout_set_alignment(layout_, para.h == fonts::ALIGN_CENTER  ? PANGO_ALIGN_CENTER
                                        : para.h == fonts::ALIGN_RIGHT ? PANGO_ALIGN_RIGHT
                                                                       : PANGO_ALIGN_LEFT);
    if (para.wrap && width > 0) {
        pango_layout_set_width(layout_, int(width * PS));
        pango_layout_set_wrap(layout_, PANGO_WRAP_WORD_CHAR);
    }
}

box::~box() {
    g_object_unref(layout_);
    pango_attr_list_unref(attrs_);
}

// Start and length in characters to bytes, cut to the text; false when
// nothing of the range is left.
bool box::range(int32_t start, int32_t len, uint32_t* b0, uint32_t* b1) const {
    int64_t s = std::clamp<int64_t>(start, 0, length());
    int64_t e = std::clamp<int64_t>(int64_t(start) + len, 0, length());
    if (e <= s) return false;
    *b0 = byte_of[size_t(s)], *b1 = byte_of[size_t(e)];
    return true;
}

// Later ranges win over earlier ones of the same kind where they overlap.
void box::add(PangoAttribute* a, uint32_t b0, uint32_t b1) {
    a->start_index = b0, a->end_index = b1;
    pango_attr_list_change(attrs_, a);
    changed_ = true;
}

void box::colour(int32_t start, int32_t len, rgba c) {
    uint32_t b0, b1;
    if (!range(start, len, &b0, &b1)) return;
    add(pango_attr_foreground_new(wide(c.r), wide(c.g), wide(c.b)), b0, b1);
    add(pango_attr_foreground_alpha_new(wide(c.a)), b0, b1);
}
void box::backdrop(int32_t start, int32_t len, rgba c) {
    uint32_t b0, b1;
    if (range(start, len, &b0, &b1)) shades.push_back({int32_t(b0), int32_t(b1), c});
}
void box::bold(int32_t start, int32_t len) {
    uint32_t b0, b1;
    if (range(start, len, &b0, &b1)) add(pango_attr_weight_new(PANGO_WEIGHT_BOLD), b0, b1);
}
void box::italic(int32_t start, int32_t len) {
    uint32_t b0, b1;
    if (range(start, len, &b0, &b1)) add(pango_attr_style_new(PANGO_STYLE_ITALIC), b0, b1);
}
void box::underline(int32_t start, int32_t len, const rgba* c) {
    uint32_t b0, b1;
    if (!range(start, len, &b0, &b1)) return;
    add(pango_attr_underline_new(PANGO_UNDERLINE_SINGLE), b0, b1);
    if (c) add(pango_attr_underline_color_new(wide(c->r), wide(c->g), wide(c->b)), b0, b1);
}
void box::strike(int32_t start, int32_t len, const rgba* c) {
    uint32_t b0, b1;
    if (!range(start, len, &b0, &b1)) return;
    add(pango_attr_strikethrough_new(TRUE), b0, b1);
    if (c) add(pango_attr_strikethrough_color_new(wide(c->r), wide(c->g), wide(c->b)), b0, b1);
}
void box::family(int32_t start, int32_t len, const std::string& name) {
    uint32_t b0, b1;
    if (range(start, len, &b0, &b1)) add(pango_attr_family_new(name.c_str()), b0, b1);
}
void box::size(int32_t start, int32_t len, double points) {
    uint32_t b0, b1;
    if (points > 0 && range(start, len, &b0, &b1))
        add(pango_attr_size_new_absolute(int(fonts::pixels(points) * PS)), b0, b1);
}
void box::tabs(double width) {
    if (!(width > 0)) return;
    PangoTabArray* t = pango_tab_array_new(1, FALSE);
    pango_tab_array_set_tab(t, 0, PANGO_TAB_LEFT, int(width * PS));
    pango_layout_set_tabs(layout_, t);
    pango_tab_array_free(t);
}
void box::line_height(double pixels) {
    if (pixels > 0 && length() > 0) add(pango_attr_line_height_new_absolute(int(pixels * PS)), 0, byte_of.back());
}

void box::refresh() {
    if (!changed_) return;
    pango_layout_set_attributes(layout_, attrs_);
    changed_ = false;
}

int32_t box::char_of(uint32_t byte) const {
    auto it = std::upper_bound(byte_of.begin(), byte_of.end(), byte);
    return int32_t(it - byte_of.begin()) - 1;
}

void box::origin(double* dx, double* dy) {
    refresh();
    PangoRectangle logical;
    pango_layout_get_extents(layout_, nullptr, &logical);
    double k[3] = {0, 0.5, 1};
    *dx = para_.wrap || width_ <= 0 ? 0 : (width_ - logical.width / PS) * k[para_.h];
    *dy = height_ <= 0 ? 0 : (height_ - logical.height / PS) * k[para_.v];
}

void box::caret(int32_t p, double* x, double* y, double* w, double* h) {
    double dx, dy;
    origin(&dx, &dy);
    PangoRectangle r;
    pango_layout_index_to_pos(layout_, int(byte_of[size_t(std::clamp(p, 0, length()))]), &r);
    *x = r.x / PS + dx, *y = r.y / PS + dy, *w = r.width / PS, *h = r.height / PS;
}

int32_t box::hit(double x, double y, int32_t* trailing) {
    double dx, dy;
    origin(&dx, &dy);
    int index = 0, trail = 0;
    pango_layout_xy_to_index(layout_, int((x - dx) * PS), int((y - dy) * PS), &index, &trail);
    *trailing = trail;
    return char_of(uint32_t(index));
}

double box::line_height_at(int32_t p) {
    refresh();
    int line = 0, x = 0;
    pango_layout_index_to_line_x(layout_, int(byte_of[size_t(std::clamp(p, 0, length()))]), FALSE, &line, &x);
    PangoLayoutIter* it = pango_layout_get_iter(layout_);
    for (int i = 0; i < line && pango_layout_iter_next_line(it); i++) {}
    int y0, y1;
    pango_layout_iter_get_line_yrange(it, &y0, &y1);
    pango_layout_iter_free(it);
    return (y1 - y0) / PS;
}

void box::extent(double* w, double* h) {
    refresh();
    PangoRectangle logical;
    pango_layout_get_extents(layout_, nullptr, &logical);
    *h = logical.height / PS;
    const char* text = pango_layout_get_text(layout_);
    int widest = 0;
    for (GSList* l = pango_layout_get_lines_readonly(layout_); l; l = l->next) {
        PangoLayoutLine* line = static_cast<PangoLayoutLine*>(l->data);
        // The last character of the line that is not white space: the
        // width runs to its trailing edge.
        int32_t first = char_of(uint32_t(line->start_index));
        int32_t last = char_of(uint32_t(line->start_index + line->length)) - 1;
        while (last >= first && g_unichar_isspace(g_utf8_get_char(text + byte_of[size_t(last)]))) last--;
        if (last < first) continue;
        int x = 0;
        pango_layout_line_index_to_x(line, int(byte_of[size_t(last)]), TRUE, &x);
        PangoRectangle lr;
        pango_layout_line_get_extents(line, nullptr, &lr);
        widest = std::max(widest, x - lr.x);
    }
    *w = widest / PS;
}

int32_t box::lines() {
    refresh();
    return pango_layout_get_line_count(layout_);
}

void box::paint(cairo_t* cr, double x, double y, rgba c) {
    double dx, dy;
    origin(&dx, &dy);
    x += dx, y += dy;
    if (!shades.empty()) {
        PangoLayoutIter* it = pango_layout_get_iter(layout_);
        do {
            PangoLayoutLine* line = pango_layout_iter_get_line_readonly(it);
            int y0, y1;
            pango_layout_iter_get_line_yrange(it, &y0, &y1);
            PangoRectangle lr;
            pango_layout_iter_get_line_extents(it, nullptr, &lr);
            for (const shade& s : shades) {
                if (s.end <= line->start_index || s.start >= line->start_index + line->length) continue;
                int* ranges = nullptr;
                int n = 0;
                pango_layout_line_get_x_ranges(line, s.start, s.end, &ranges, &n);
                cairo_set_source_rgba(cr, s.c.r / 255.0, s.c.g / 255.0, s.c.b / 255.0, s.c.a / 255.0);
                for (int i = 0; i < n; i++) {
                    double left = x + ranges[2 * i] / PS, top = y + y0 / PS;
                    double w = (ranges[2 * i + 1] - ranges[2 * i]) / PS, h = (y1 - y0) / PS;
                    cairo_rectangle(cr, std::trunc(left + 0.5), std::trunc(top + 0.5), std::trunc(w + 0.5),
                                    std::trunc(h + 0.99));
                    cairo_fill(cr);
                }
                g_free(ranges);
            }
        } while (pango_layout_iter_next_line(it));
        pango_layout_iter_free(it);
    }
    cairo_new_path(cr);
    cairo_move_to(cr, x, y);
    cairo_set_source_rgba(cr, c.r / 255.0, c.g / 255.0, c.b / 255.0, c.a / 255.0);
    pango_cairo_show_layout(cr, layout_);
    cairo_new_path(cr);
}

// Faces ----------------------------------------------------------------------

namespace {

using gui::facet;

bool word_is(const kiv_value* v, const char* name) {
    return any_word_q(type_of(v)) && strcasecmp(symbol::name_of(word::symbol_of(v)), name) == 0;
}

// A field of the face by name: rich-text faces carry fields past the
// standard facets. Null when the face has none of that name.
kiv_value* field(kiv_value* face, const char* name) {
    kiv_value w = *word::load(name);
    int32_t i = object::find_word(face, &w);
    return i < 0 ? nullptr : object::get_values(face) + i;
}

bool number(const kiv_value* v, double* d) {
    if (type_of(v) == TYPE_INTEGER) *d = integer::get_value(v);
    else if (type_of(v) == TYPE_FLOAT) *d = float_::get(v);
    else return false;
    return true;
}

bool planar(const kiv_value* v, double* x, double* y) {
    if (type_of(v) == TYPE_PAIR) *x = pair::x_of(v), *y = pair::y_of(v);
    else if (type_of(v) == TYPE_POINT2D) *x = point::component(v, 0), *y = point::component(v, 1);
    else return false;
    return true;
}

rgba colour_of(const kiv_value* t) {
    const uint8_t* b = tuple::bytes_of(t);
    return {b[0], b[1], b[2], tuple::length_of(t) > 3 ? uint8_t(255 - b[3]) : uint8_t(255)};
}

// A tuple, or a word whose value is one.
const kiv_value* colour_cell(const kiv_value* v) {
    if (type_of(v) == TYPE_TUPLE) return v;
    if (type_of(v) == TYPE_WORD) {
        const kiv_value* t = kiv::_context::get_if(v);
        if (t && type_of(t) == TYPE_TUPLE) return t;
    }
    return nullptr;
}

// The style block of a rich-text face: a range (a pair, first character
// and length) followed by the styles that apply to it. A bad value raises
// `draw-invalid` there, or with catch_errors ends the styles quietly.
class style_reader {
  public:
    style_reader(box& b, const kiv_value& data, bool catch_errors) : b(b), data(data), quiet(catch_errors) {}

    void run() {
        uint32_t n = block::length_all(&data);
        for (uint32_t i = data.data1; i < n; i++) {
            const kiv_value* v = at(i);
            switch (type_of(v)) {
                case TYPE_PAIR: start = pair::x_of(v) - 1, len = pair::y_of(v); break;
                case TYPE_TUPLE: b.colour(start, len, colour_of(v)); break;
                case TYPE_STRING: {
                    kiv_value s = *v;
                    int32_t bytes = -1;
                    const char* utf8 = unicode::to_utf8(&s, &bytes);
                    b.family(start, len, std::string(utf8, size_t(std::max(bytes, 0))));
                    break;
                }
                case TYPE_INTEGER: case TYPE_FLOAT: {
                    double d = 0;
                    number(v, &d);
                    b.size(start, len, d);
                    break;
                }
                case TYPE_WORD:
                    if (!word_style(i)) return;
                    break;
                default:
                    if (!invalid(i)) return;
            }
        }
    }

  private:
    box& b;
    const kiv_value& data;
    bool quiet;
    int32_t start = 0, len = 0;

    const kiv_value* at(uint32_t i) const { return i < block::length_all(&data) ? block::cells(&data) + i : nullptr; }
    // False to stop reading (quietly); otherwise raises.
    bool invalid(uint32_t i) const {
        if (quiet) return false;
        kiv_value pos = data;
        pos.data1 = std::min(i, block::length_all(&data));
        fire(err::SCRIPT, err::script::draw_invalid, &pos);
    }
    // A word style, with the values it takes moving i on.
    bool word_style(uint32_t& i) {
        const kiv_value* w = at(i);
        if (word_is(w, "bold")) {
            b.bold(start, len);
        } else if (word_is(w, "italic")) {
            b.italic(start, len);
        } else if (word_is(w, "backdrop")) {
            const kiv_value* next = at(i + 1);
            const kiv_value* c = next ? colour_cell(next) : nullptr;
            if (!c) return invalid(i + 1);
            b.backdrop(start, len, colour_of(c));
            i++;
        } else if (word_is(w, "underline") || word_is(w, "strike") || word_is(w, "border")) {
            // An optional colour, then an optional style name.
            const kiv_value* next = at(i + 1);
            rgba c{};
            bool has_colour = next && type_of(next) == TYPE_TUPLE;
            if (has_colour) c = colour_of(next), i++;
            next = at(i + 1);
            if (next && type_of(next) == TYPE_LIT_WORD) i++;
            if (word_is(w, "underline")) b.underline(start, len, has_colour ? &c : nullptr);
            else if (word_is(w, "strike")) b.strike(start, len, has_colour ? &c : nullptr);
        } else {
            return invalid(i);
        }
        return true;
    }
};

uint32_t layout_class() {
    static uint32_t id = externals::register_class("text-layout", [](void* p) { delete static_cast<box*>(p); });
    return id;
}

// The box a `handles` block names, when it is still current.
box* kept_box(const kiv_value* handles) {
    if (type_of(handles) != TYPE_BLOCK || block::length_all(handles) < 4) return nullptr;
    const kiv_value* h = block::cells(handles);
    if (type_of(h) != TYPE_HANDLE || h->data1 != handle::RICH_TEXT) return nullptr;
    const externals::slot* s = externals::at(int32_t(h->data3));
    if (!s || s->flags == externals::SLOT_FREE || (s->flags & externals::CLASS_MASK) != layout_class()) return nullptr;
    return static_cast<box*>(s->object);
}

box* layout_face_(kiv_value* face_cell, bool* owned, bool catch_errors) {
    kiv_value face = *face_cell;
    kiv_value text = *facet(&face, gui::FACET_TEXT);
    if (type_of(&text) != TYPE_STRING) return nullptr;
    bool rich = word_is(facet(&face, gui::FACET_TYPE), "rich-text");
    fonts::look font = fonts::read(facet(&face, gui::FACET_FONT));
    fonts::para_look para = fonts::read_para(facet(&face, gui::FACET_PARA), rich);
    double w = 0, h = 0;
    if (planar(facet(&face, gui::FACET_SIZE), &w, &h)) w = std::trunc(w + 0.5), h = std::trunc(h + 0.5);
    int32_t bytes = -1;
    const char* utf8 = unicode::to_utf8(&text, &bytes);
    auto b = std::make_unique<box>(utf8, size_t(std::max(bytes, 0)), font, para, w, h);
    if (rich) {
        double d;
        if (kiv_value* t = field(&face, "tabs"); t && number(t, &d)) b->tabs(d);
        if (kiv_value* s = field(&face, "line-spacing"); s && number(s, &d)) b->line_height(d);
    }
    kiv_value data = *facet(&face, gui::FACET_DATA);
    if (type_of(&data) == TYPE_BLOCK && block::ks_length_q(&data) > 1) style_reader(*b, data, catch_errors).run();
    *owned = true;
    if (!rich || !field(&face, "handles")) return b.release();
    // Kept in the face's `handles`: [layout, render data, text laid out,
    // layout needed?]. The block is made before the slot is taken, so no
    // collection can come between the slot and the handle that holds it.
    kiv_value* handles = field(&face, "handles");
    if (kept_box(handles)) {
        externals::set_object(int32_t(block::cells(handles)->data3), b.get());
    } else {
        kiv_value* blk = block::make_at(stack::push(), 4);
        for (int i = 0; i < 4; i++) none::make_at(blk);
        *field(&face, "handles") = *blk;
        stack::pop(1);
        handles = field(&face, "handles");
        int32_t slot = externals::alloc_slot(b.get(), layout_class());
        kiv_value* cells = block::cells(handles);
        cells[0] = kiv_value{TYPE_HANDLE, handle::RICH_TEXT, uint32_t(slot), uint32_t(slot)};
    }
    kiv_value* cells = block::cells(handles);
    cells[2] = text;
    cells[3] = false_value;
    *owned = false;
    return b.release();
}

struct box_ref {
    box* b = nullptr;
    bool owned = false;
    ~box_ref() {
        if (owned) delete b;
    }
};

}  // namespace

box* layout_face(kiv_value* face, bool* owned) { return layout_face_(face, owned, false); }

void relayout_later(kiv_value* face) {
    kiv_value* handles = field(face, "handles");
    if (handles && type_of(handles) == TYPE_BLOCK && block::length_all(handles) > 0)
        block::cells(handles)[block::length_all(handles) - 1] = true_value;
}

void metrics_routine() {
    kiv_value face = stack::arguments[0], arg = stack::arguments[1];
    int32_t type = integer::get_value(stack::arguments + 2);
    kiv_value* type_word = facet(&face, gui::FACET_TYPE);
    if (!word_is(type_word, "rich-text")) fire(err::SCRIPT, err::script::face_type, type_word);
    if (type_of(facet(&face, gui::FACET_TEXT)) != TYPE_STRING) {
        *stack::arguments = none_value;
        return;
    }
    box_ref r;
    kiv_value* handles = field(&face, "handles");
    if (handles && type_of(handles) == TYPE_BLOCK && block::length_all(handles) >= 4 &&
        !logic::truthy(block::cells(handles) + block::length_all(handles) - 1))
        r.b = kept_box(handles);
    if (!r.b) r.b = layout_face_(&face, &r.owned, false);
    box& b = *r.b;
    double x, y, w, h;
    switch (type) {
        case 0: case 6: {
            if (type_of(&arg) != TYPE_INTEGER) actions::fire_expect_arg(type_of(&arg), 1);
            b.caret(integer::get_value(&arg) - 1, &x, &y, &w, &h);
            y = std::max(y, 0.0);
            if (type == 6) x += w, y += h;
            point::make_at(stack::arguments, TYPE_POINT2D, x, y);
            return;
        }
        case 1: case 5: {
            if (!planar(&arg, &x, &y)) actions::fire_expect_arg(type_of(&arg), 1);
            int32_t trailing = 0;
            int32_t at = b.hit(x, y, &trailing);
            if (type == 1) at += trailing;
            integer::return_(std::min(at, b.length()) + 1);
            return;
        }
        case 2:
            if (type_of(&arg) != TYPE_INTEGER) actions::fire_expect_arg(type_of(&arg), 1);
            float_::return_(b.line_height_at(integer::get_value(&arg) - 1));
            return;
        case 3:
            b.extent(&w, &h);
            point::make_at(stack::arguments, TYPE_POINT2D, w, h);
            return;
        default:
            integer::return_(b.lines());
    }
}

void draw_face(cairo_t* cr, double x, double y, kiv_value* face_cell, rgba pen, bool fill_face, bool catch_errors) {
    kiv_value face = *face_cell;
    box_ref r;
    r.b = layout_face_(&face, &r.owned, catch_errors);
    if (!r.b) return;
    double w, h;
    kiv_value* colour = facet(&face, gui::FACET_COLOR);
    if (fill_face && type_of(colour) == TYPE_TUPLE && planar(facet(&face, gui::FACET_SIZE), &w, &h)) {
        rgba c = colour_of(colour);
        cairo_set_source_rgba(cr, c.r / 255.0, c.g / 255.0, c.b / 255.0, c.a / 255.0);
        cairo_rectangle(cr, x, y, w, h);
        cairo_fill(cr);
    }
    r.b->paint(cr, x, y, pen);
}

void draw_string(cairo_t* cr, double x, double y, kiv_value* text, const fonts::look* font, rgba pen) {
    if (type_of(text) != TYPE_STRING) return;
    fonts::look l = font ? *font : fonts::default_look();
    int32_t bytes = -1;
    kiv_value s = *text;
    const char* utf8 = unicode::to_utf8(&s, &bytes);
    // The font's own colour, when it has one, is the text's; the pen's
    // otherwise.
    if (l.has_colour) pen = {l.rgba[0], l.rgba[1], l.rgba[2], l.rgba[3]}, l.has_colour = false;
    box b(utf8, size_t(std::max(bytes, 0)), l, fonts::para_look{}, 0, 0);
    if (l.angle == 0) {
        b.paint(cr, x, y, pen);
        return;
    }
    cairo_save(cr);
    cairo_translate(cr, x, y);
    cairo_rotate(cr, -l.angle * 3.14159265358979323846 / 180);
    b.paint(cr, 0, 0, pen);
    cairo_restore(cr);
}

}  // namespace kiv::text_box
