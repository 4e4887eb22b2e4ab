// Fonts and paragraphs on pango.
#include "view/gtk/fonts.h"

#include <pango/pangocairo.h>

#include <strings.h>

#include "runtime/boot.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/handle.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/datatypes/word.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"
#include "view/gtk/gui.h"

namespace kiv::fonts {

namespace {

// Field positions of font! and para!.
enum { F_NAME, F_SIZE, F_STYLE, F_ANGLE, F_COLOR, F_ANTI_ALIAS, F_SHADOW, F_STATE, F_FIELDS_ };
enum { P_ORIGIN, P_PADDING, P_SCROLL, P_ALIGN, P_V_ALIGN, P_WRAP, P_FIELDS_ };

bool word_is(const kiv_value* v, const char* name) {
    return any_word_q(type_of(v)) && strcasecmp(symbol::name_of(word::symbol_of(v)), name) == 0;
}

void apply_style_word(look& l, const kiv_value* w) {
    if (word_is(w, "bold")) l.bold = true;
    else if (word_is(w, "italic")) l.italic = true;
    else if (word_is(w, "underline")) l.underline = true;
    else if (word_is(w, "strike")) l.strike = true;
}

// The size of `system/view/fonts`, else the backend's.
double default_size() {
    kiv_value* view = boot::field(boot::system_object(), "view");
    if (view && type_of(view) == TYPE_OBJECT) {
        kiv_value* fonts = boot::field(view, "fonts");
        if (fonts && type_of(fonts) == TYPE_OBJECT) {
            kiv_value* size = boot::field(fonts, "size");
            if (type_of(size) == TYPE_INTEGER && integer::get_value(size) > 0) return integer::get_value(size);
        }
    }
    return gui::default_font_size();
}

}  // namespace

look default_look() {
    look l;
    l.family = gui::default_font_name();
    l.size = default_size();
    return l;
}

look read(const kiv_value* font) {
    look l = default_look();
    if (type_of(font) != TYPE_OBJECT || object::words_count(font) < F_FIELDS_) return l;
    kiv_value* f = object::get_values(font);
    if (type_of(f + F_NAME) == TYPE_STRING) {
        kiv_value name = f[F_NAME];
        int32_t bytes = -1;
        const char* utf8 = unicode::to_utf8(&name, &bytes);
        if (bytes > 0) l.family.assign(utf8, size_t(bytes));
    }
    if (type_of(f + F_SIZE) == TYPE_INTEGER && integer::get_value(f + F_SIZE) > 0)
        l.size = integer::get_value(f + F_SIZE);
    if (type_of(f + F_STYLE) == TYPE_BLOCK) {
        kiv_value style = f[F_STYLE];
        for (int32_t i = 0; i < block::ks_length_q(&style); i++) apply_style_word(l, block::ks_head(&style) + i);
    } else {
        apply_style_word(l, f + F_STYLE);
    }
    if (type_of(f + F_ANGLE) == TYPE_INTEGER) l.angle = integer::get_value(f + F_ANGLE);
    if (type_of(f + F_COLOR) == TYPE_TUPLE && tuple::length_of(f + F_COLOR) >= 3) {
        const uint8_t* b = tuple::bytes_of(f + F_COLOR);
        l.has_colour = true;
        l.rgba[0] = b[0], l.rgba[1] = b[1], l.rgba[2] = b[2];
        l.rgba[3] = tuple::length_of(f + F_COLOR) > 3 ? uint8_t(255 - b[3]) : 255;
    }
    return l;
}

void note_made(const kiv_value* font_cell) {
    kiv_value font = *font_cell;
    if (type_of(&font) != TYPE_OBJECT || object::words_count(&font) < F_FIELDS_) return;
    if (type_of(object::get_values(&font) + F_STATE) == TYPE_BLOCK) return;
    kiv_value* blk = block::make_at(stack::push(), 3);
    handle::make_in(blk, 0, handle::FONT);
    none::make_at(blk);
    none::make_at(blk);
    object::get_values(&font)[F_STATE] = *blk;
    stack::pop(1);
}

PangoFontDescription* describe(const look& l) {
    PangoFontDescription* d = pango_font_description_new();
    pango_font_description_set_family(d, l.family.c_str());
    pango_font_description_set_absolute_size(d, pixels(l.size) * PANGO_SCALE);
    pango_font_description_set_weight(d, l.bold ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
    pango_font_description_set_style(d, l.italic ? PANGO_STYLE_ITALIC : PANGO_STYLE_NORMAL);
    return d;
}

void decorate(const look& l, PangoAttrList* attrs) {
    if (l.underline) pango_attr_list_insert(attrs, pango_attr_underline_new(PANGO_UNDERLINE_SINGLE));
    if (l.strike) pango_attr_list_insert(attrs, pango_attr_strikethrough_new(TRUE));
}

para_look read_para(const kiv_value* para, bool rich_text) {
    para_look p;
    if (type_of(para) != TYPE_OBJECT || object::words_count(para) < P_FIELDS_) return p;
    kiv_value* f = object::get_values(para);
    const kiv_value* a = f + P_ALIGN;
    p.h = word_is(a, "left") ? ALIGN_LEFT : word_is(a, "center") ? ALIGN_CENTER : word_is(a, "right") ? ALIGN_RIGHT
          : rich_text ? ALIGN_LEFT : ALIGN_CENTER;
    const kiv_value* v = f + P_V_ALIGN;
    p.v = word_is(v, "top") ? ALIGN_TOP : word_is(v, "middle") ? ALIGN_MIDDLE : word_is(v, "bottom") ? ALIGN_BOTTOM
          : rich_text ? ALIGN_TOP : ALIGN_MIDDLE;
    p.wrap = type_of(f + P_WRAP) == TYPE_NONE || (type_of(f + P_WRAP) == TYPE_LOGIC && f[P_WRAP].data1);
    return p;
}

uint32_t para_bits(const para_look& p) {
    return uint32_t(p.h) | (p.v == ALIGN_MIDDLE ? 4u : p.v == ALIGN_BOTTOM ? 8u : 0u) | (p.wrap ? 0x10u : 0u);
}

PangoContext* shared_context() {
    static PangoContext* context = [] {
        PangoContext* c = pango_font_map_create_context(pango_cairo_font_map_get_default());
        pango_cairo_context_set_resolution(c, 96.0);
        cairo_font_options_t* o = cairo_font_options_create();
        // Every choice made here, none left to the surface: a window's
        // surface and an image's would choose differently.
        cairo_font_options_set_hint_metrics(o, CAIRO_HINT_METRICS_OFF);
        cairo_font_options_set_hint_style(o, CAIRO_HINT_STYLE_SLIGHT);
        cairo_font_options_set_antialias(o, CAIRO_ANTIALIAS_GRAY);
        pango_cairo_context_set_font_options(c, o);
        cairo_font_options_destroy(o);
        return c;
    }();
    return context;
}

}  // namespace kiv::fonts
