// The image codecs over their C libraries (PNG, JPEG, GIF, TIFF): the
// module kivimage, loaded on the first image of one of these kinds. Each
// library call sits in a small C-style function: a setjmp region holds no
// object with a destructor and the memory it owns in volatile pointers,
// freed on the way out.
#include <bit>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <gif_lib.h>
#include <jerror.h>
#include <jpeglib.h>
#include <png.h>
#include <tiffio.h>

#include "runtime/io/image_codecs.h"
#include "runtime/io/image_codecs_support.h"

namespace kiv::image_codecs {

namespace {

using namespace support;

// PNG ---------------------------------------------------------------------------

void png_fail(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void png_quiet(png_structp, png_const_charp) {}

void png_read_input(png_structp png, png_bytep out, size_t n) {
    if (take(static_cast<reader*>(png_get_io_ptr(png)), out, n) != n) png_error(png, "truncated");
}

// Every colour type ends as 8-bit B, G, R, A: palettes and low depths
// expanded, transparency chunks made alpha, 16 bits cut to their high byte,
// grey spread to the three channels.
status decode_png(const uint8_t* data, size_t size, pixels* out) {
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, png_fail, png_quiet);
    if (!png) return NO_MEMORY;
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        return NO_MEMORY;
    }
    reader input{data, size, 0};
    uint32_t* volatile px = nullptr;
    png_bytep* volatile rows = nullptr;
    volatile status result = CORRUPT;
    if (setjmp(png_jmpbuf(png))) {
        std::free(px);
        std::free(rows);
        png_destroy_read_struct(&png, &info, nullptr);
        return result;
    }
    png_set_read_fn(png, &input, png_read_input);
    png_set_user_limits(png, MAX_SIDE, MAX_SIDE);
    png_read_info(png, info);
    png_uint_32 width = png_get_image_width(png, info), height = png_get_image_height(png, info);
    if (!fits(width, height)) {
        result = TOO_LARGE;
        png_longjmp(png, 1);
    }
    int type = png_get_color_type(png, info);
    png_set_expand(png);
    png_set_strip_16(png);
    if (!(type & PNG_COLOR_MASK_COLOR)) png_set_gray_to_rgb(png);
    png_set_bgr(png);
    png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != size_t(width) * 4) png_longjmp(png, 1);
    pixels made;
    status s = alloc_pixels(width, height, &made);
    if (s != OK) {
        result = s;
        png_longjmp(png, 1);
    }
    px = made.data;
    rows = static_cast<png_bytep*>(std::malloc(sizeof(png_bytep) * height));
    if (!rows) {
        result = NO_MEMORY;
        png_longjmp(png, 1);
    }
    for (png_uint_32 y = 0; y < height; y++) rows[y] = reinterpret_cast<png_bytep>(px + size_t(y) * width);
    png_read_image(png, rows);
    png_read_end(png, nullptr);
    std::free(rows);
    png_destroy_read_struct(&png, &info, nullptr);
    *out = pixels{width, height, px};
    return OK;
}

void png_write_output(png_structp png, png_bytep data, size_t n) {
    if (!append(static_cast<bytes*>(png_get_io_ptr(png)), data, n)) png_error(png, "no memory");
}
void png_flush_output(png_structp) {}

// RGB when every pixel is opaque, else RGBA; 8 bits, default compression.
status encode_png(const uint32_t* px, uint32_t width, uint32_t height, bytes* out) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, png_fail, png_quiet);
    if (!png) return NO_MEMORY;
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        return NO_MEMORY;
    }
    bool alpha = !opaque_q(px, uint64_t(width) * height);
    png_bytep* volatile rows = static_cast<png_bytep*>(std::malloc(sizeof(png_bytep) * height));
    if (setjmp(png_jmpbuf(png)) || !rows) {
        std::free(rows);
        png_destroy_write_struct(&png, &info);
        release(out);
        return CORRUPT;
    }
    png_set_write_fn(png, out, png_write_output, png_flush_output);
    png_set_IHDR(png, info, width, height, 8, alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_set_bgr(png);
    if (!alpha) png_set_filler(png, 0, PNG_FILLER_AFTER);  // on writing: drops the fourth byte
    for (uint32_t y = 0; y < height; y++)
        rows[y] = reinterpret_cast<png_bytep>(const_cast<uint32_t*>(px + size_t(y) * width));
    png_write_image(png, rows);
    png_write_end(png, nullptr);
    std::free(rows);
    png_destroy_write_struct(&png, &info);
    return OK;
}

// JPEG --------------------------------------------------------------------------

struct jpeg_failure {
    jpeg_error_mgr manager;
    jmp_buf jump;
};

void jpeg_fail(j_common_ptr c) { longjmp(reinterpret_cast<jpeg_failure*>(c->err)->jump, 1); }

// Warnings that mean lost picture data (a cut file, a damaged segment) fail
// the decode; the library would otherwise fill the gap with grey.
void jpeg_warn(j_common_ptr c, int level) {
    if (level >= 0) return;
    int code = c->err->msg_code;
    if (code == JWRN_JPEG_EOF || code == JWRN_HIT_MARKER || code == JWRN_MUST_RESYNC || code == JWRN_NOT_SEQUENTIAL)
        jpeg_fail(c);
}

// CMYK as the usual encoders store it (inverted when an Adobe marker says so).
uint32_t from_cmyk(const uint8_t* p, bool inverted) {
    uint32_t c = p[0], m = p[1], y = p[2], k = p[3];
    if (!inverted) c = 255 - c, m = 255 - m, y = 255 - y, k = 255 - k;
    return argb(255, (c * k + 127) / 255, (m * k + 127) / 255, (y * k + 127) / 255);
}

status decode_jpeg(const uint8_t* data, size_t size, pixels* out) {
    jpeg_decompress_struct cinfo;
    jpeg_failure failure;
    cinfo.err = jpeg_std_error(&failure.manager);
    failure.manager.error_exit = jpeg_fail;
    failure.manager.emit_message = jpeg_warn;
    uint32_t* volatile px = nullptr;
    uint8_t* volatile line = nullptr;
    volatile status result = CORRUPT;
    if (setjmp(failure.jump)) {
        jpeg_destroy_decompress(&cinfo);
        std::free(px);
        std::free(line);
        return result;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
    jpeg_read_header(&cinfo, TRUE);
    if (!fits(cinfo.image_width, cinfo.image_height)) {
        result = TOO_LARGE;
        longjmp(failure.jump, 1);
    }
    bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
    cinfo.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGRA;
    jpeg_start_decompress(&cinfo);
    uint32_t width = cinfo.output_width, height = cinfo.output_height;
    pixels made;
    status s = alloc_pixels(width, height, &made);
    if (s != OK || !made.data) {
        result = s == OK ? CORRUPT : s;
        longjmp(failure.jump, 1);
    }
    px = made.data;
    if (cmyk) line = static_cast<uint8_t*>(std::malloc(size_t(width) * 4));
    if (cmyk && !line) {
        result = NO_MEMORY;
        longjmp(failure.jump, 1);
    }
    while (cinfo.output_scanline < height) {
        uint32_t* row = px + size_t(cinfo.output_scanline) * width;
        JSAMPROW target = cmyk ? line : reinterpret_cast<JSAMPROW>(row);
        if (jpeg_read_scanlines(&cinfo, &target, 1) != 1) longjmp(failure.jump, 1);
        if (cmyk)
            for (uint32_t x = 0; x < width; x++) row[x] = from_cmyk(line + 4 * x, cinfo.saw_Adobe_marker);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    std::free(line);
    *out = pixels{width, height, px};
    return OK;
}

// The library's default quality; alpha is dropped.
status encode_jpeg(const uint32_t* px, uint32_t width, uint32_t height, bytes* out) {
    jpeg_compress_struct cinfo;
    jpeg_failure failure;
    cinfo.err = jpeg_std_error(&failure.manager);
    failure.manager.error_exit = jpeg_fail;
    failure.manager.emit_message = [](j_common_ptr, int) {};
    unsigned char* volatile buffer = nullptr;
    unsigned long length = 0;
    if (setjmp(failure.jump)) {
        jpeg_destroy_compress(&cinfo);
        std::free(buffer);
        return CORRUPT;
    }
    jpeg_create_compress(&cinfo);
    unsigned char* target = nullptr;
    jpeg_mem_dest(&cinfo, &target, &length);
    cinfo.image_width = width;
    cinfo.image_height = height;
    cinfo.input_components = 4;
    cinfo.in_color_space = JCS_EXT_BGRA;
    jpeg_set_defaults(&cinfo);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < height) {
        JSAMPROW row = reinterpret_cast<JSAMPROW>(const_cast<uint32_t*>(px + size_t(cinfo.next_scanline) * width));
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    buffer = target;
    jpeg_destroy_compress(&cinfo);
    *out = bytes{buffer, length, length};
    return OK;
}

// GIF ---------------------------------------------------------------------------

int gif_read_input(GifFileType* gif, GifByteType* out, int n) {
    return int(take(static_cast<reader*>(gif->UserData), out, size_t(n)));
}

// The first picture of the file on a canvas of the logical screen; what the
// frame leaves uncovered, and its transparent colour, are transparent.
status decode_gif_frame(GifFileType* gif, pixels* out) {
    if (!fits(uint32_t(gif->SWidth), uint32_t(gif->SHeight))) return TOO_LARGE;
    if (gif->SWidth <= 0 || gif->SHeight <= 0) return CORRUPT;
    int transparent = -1;
    for (;;) {
        GifRecordType record;
        if (DGifGetRecordType(gif, &record) == GIF_ERROR) return CORRUPT;
        if (record == TERMINATE_RECORD_TYPE) return CORRUPT;
        if (record == EXTENSION_RECORD_TYPE) {
            int code;
            GifByteType* ext;
            if (DGifGetExtension(gif, &code, &ext) == GIF_ERROR) return CORRUPT;
            if (code == GRAPHICS_EXT_FUNC_CODE && ext && ext[0] >= 4) transparent = ext[1] & 1 ? ext[4] : -1;
            while (ext)
                if (DGifGetExtensionNext(gif, &ext) == GIF_ERROR) return CORRUPT;
            continue;
        }
        if (record != IMAGE_DESC_RECORD_TYPE) return CORRUPT;
        if (DGifGetImageDesc(gif) == GIF_ERROR) return CORRUPT;
        break;
    }
    const GifImageDesc& d = gif->Image;
    const ColorMapObject* map = d.ColorMap ? d.ColorMap : gif->SColorMap;
    if (!map || d.Width <= 0 || d.Height <= 0 || !fits(uint32_t(d.Width), uint32_t(d.Height))) return CORRUPT;
    status s = alloc_pixels(uint32_t(gif->SWidth), uint32_t(gif->SHeight), out);
    if (s != OK) return s;
    std::memset(out->data, 0, size_t(out->width) * out->height * 4);
    auto* line = static_cast<GifPixelType*>(std::malloc(size_t(d.Width)));
    if (!line) return NO_MEMORY;
    static const int starts[4] = {0, 4, 2, 1}, steps[4] = {8, 8, 4, 2};
    int passes = d.Interlace ? 4 : 1;
    for (int pass = 0; pass < passes; pass++) {
        int start = d.Interlace ? starts[pass] : 0, step = d.Interlace ? steps[pass] : 1;
        for (int y = start; y < d.Height; y += step) {
            if (DGifGetLine(gif, line, d.Width) == GIF_ERROR) {
                std::free(line);
                return CORRUPT;
            }
            int64_t row = int64_t(d.Top) + y;
            if (row >= gif->SHeight) continue;
            for (int x = 0; x < d.Width; x++) {
                int64_t col = int64_t(d.Left) + x;
                if (col >= gif->SWidth || line[x] == transparent) continue;
                uint32_t p = argb(255, 0, 0, 0);
                if (line[x] < map->ColorCount) {
                    const GifColorType& c = map->Colors[line[x]];
                    p = argb(255, c.Red, c.Green, c.Blue);
                }
                out->data[uint64_t(row) * out->width + uint64_t(col)] = p;
            }
        }
    }
    std::free(line);
    return OK;
}

status decode_gif(const uint8_t* data, size_t size, pixels* out) {
    reader input{data, size, 0};
    int error = 0;
    GifFileType* gif = DGifOpen(&input, gif_read_input, &error);
    if (!gif) return error == D_GIF_ERR_NOT_ENOUGH_MEM ? NO_MEMORY : CORRUPT;
    status s = decode_gif_frame(gif, out);
    DGifCloseFile(gif, &error);
    if (s != OK) {
        std::free(out->data);
        out->data = nullptr;
    }
    return s;
}

int gif_write_output(GifFileType* gif, const GifByteType* data, int n) {
    return append(static_cast<bytes*>(gif->UserData), data, size_t(n)) ? n : 0;
}

// Indexes of the picture's colours: exact while they number at most 256
// (255 with a transparent entry), else reduced by the library's quantizer.
// Alpha below 128 is transparent.
struct indexed {
    uint8_t* index;
    GifColorType colours[256];
    int count;
    int transparent;
};

uint32_t colour_hash(uint32_t rgb) { return (rgb * 2654435761u) >> 20; }  // 12 bits

bool exact_palette(const uint32_t* px, uint64_t n, indexed* ix) {
    uint32_t keys[4096];
    int16_t slots[4096];
    std::memset(slots, -1, sizeof slots);
    int limit = ix->transparent >= 0 ? 255 : 256;
    ix->count = 0;
    for (uint64_t i = 0; i < n; i++) {
        if (alpha_of(px[i]) < 128) {
            ix->index[i] = uint8_t(ix->transparent);
            continue;
        }
        uint32_t rgb = px[i] & 0xFFFFFF;
        uint32_t h = colour_hash(rgb);
        while (slots[h] >= 0 && keys[h] != rgb) h = (h + 1) & 4095;
        if (slots[h] < 0) {
            if (ix->count == limit) return false;
            keys[h] = rgb;
            slots[h] = int16_t(ix->count);
            ix->colours[ix->count] = GifColorType{uint8_t(rgb >> 16), uint8_t(rgb >> 8), uint8_t(rgb)};
            ix->count++;
        }
        ix->index[i] = uint8_t(slots[h]);
    }
    return true;
}

bool quantized_palette(const uint32_t* px, uint32_t width, uint32_t height, indexed* ix) {
    uint64_t n = uint64_t(width) * height;
    auto* planes = static_cast<uint8_t*>(std::malloc(n * 3));
    if (!planes) return false;
    for (uint64_t i = 0; i < n; i++) {
        planes[i] = uint8_t(px[i] >> 16);
        planes[n + i] = uint8_t(px[i] >> 8);
        planes[2 * n + i] = uint8_t(px[i]);
    }
    int size = ix->transparent >= 0 ? 128 : 256;  // the quantizer's sizes are powers of two
    bool ok = GifQuantizeBuffer(width, height, &size, planes, planes + n, planes + 2 * n, ix->index, ix->colours) ==
              GIF_OK;
    std::free(planes);
    if (!ok) return false;
    ix->count = size;
    if (ix->transparent >= 0) {
        ix->transparent = size;
        ix->count = size + 1;
        for (uint64_t i = 0; i < n; i++)
            if (alpha_of(px[i]) < 128) ix->index[i] = uint8_t(size);
    }
    return true;
}

status encode_gif(const uint32_t* px, uint32_t width, uint32_t height, bytes* out) {
    uint64_t n = uint64_t(width) * height;
    indexed ix;
    ix.index = static_cast<uint8_t*>(std::malloc(n));
    if (!ix.index) return NO_MEMORY;
    ix.transparent = -1;
    for (uint64_t i = 0; i < n; i++)
        if (alpha_of(px[i]) < 128) {
            ix.transparent = 255;
            break;
        }
    if (!exact_palette(px, n, &ix)) {
        if (ix.transparent >= 0) ix.transparent = 255;
        if (!quantized_palette(px, width, height, &ix)) {
            std::free(ix.index);
            return NO_MEMORY;
        }
    } else if (ix.transparent >= 0) {
        // The transparent entry follows the colours.
        for (uint64_t i = 0; i < n; i++)
            if (ix.index[i] == 255 && alpha_of(px[i]) < 128) ix.index[i] = uint8_t(ix.count);
        ix.transparent = ix.count;
        ix.colours[ix.count++] = GifColorType{0, 0, 0};
    }
    int map_size = 2;
    while (map_size < ix.count) map_size *= 2;
    ColorMapObject* map = GifMakeMapObject(map_size, nullptr);
    if (!map) {
        std::free(ix.index);
        return NO_MEMORY;
    }
    std::memset(map->Colors, 0, sizeof(GifColorType) * size_t(map_size));
    std::memcpy(map->Colors, ix.colours, sizeof(GifColorType) * size_t(ix.count));
    int error = 0;
    status s = CORRUPT;
    GifFileType* gif = EGifOpen(out, gif_write_output, &error);
    if (gif) {
        EGifSetGifVersion(gif, true);
        bool ok = EGifPutScreenDesc(gif, int(width), int(height), 8, 0, map) == GIF_OK;
        if (ok && ix.transparent >= 0) {
            GifByteType control[4] = {1, 0, 0, GifByteType(ix.transparent)};
            ok = EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, control) == GIF_OK;
        }
        ok = ok && EGifPutImageDesc(gif, 0, 0, int(width), int(height), false, nullptr) == GIF_OK;
        for (uint32_t y = 0; ok && y < height; y++)
            ok = EGifPutLine(gif, ix.index + uint64_t(y) * width, int(width)) == GIF_OK;
        if (EGifCloseFile(gif, &error) == GIF_OK && ok) s = OK;
    }
    GifFreeMapObject(map);
    std::free(ix.index);
    if (s != OK) release(out);
    return s;
}

// TIFF --------------------------------------------------------------------------

// A file in memory for libtiff: reading from the input, or writing into a
// growing buffer that seeks anywhere.
struct tiff_file {
    const uint8_t* input;
    bytes* output;
    uint64_t size;
    uint64_t pos;
};

tmsize_t tiff_read(thandle_t h, void* buffer, tmsize_t n) {
    auto* f = static_cast<tiff_file*>(h);
    if (!f->input || n < 0 || f->pos >= f->size) return 0;
    uint64_t k = uint64_t(n) < f->size - f->pos ? uint64_t(n) : f->size - f->pos;
    std::memcpy(buffer, f->input + f->pos, size_t(k));
    f->pos += k;
    return tmsize_t(k);
}

tmsize_t tiff_write(thandle_t h, void* buffer, tmsize_t n) {
    auto* f = static_cast<tiff_file*>(h);
    if (!f->output || n < 0) return 0;
    uint64_t end = f->pos + uint64_t(n);
    if (end > f->output->size) {
        if (!reserve(f->output, size_t(end - f->output->size))) return 0;
        std::memset(f->output->data + f->output->size, 0, size_t(end - f->output->size));
        f->output->size = size_t(end);
        f->size = end;
    }
    std::memcpy(f->output->data + f->pos, buffer, size_t(n));
    f->pos = end;
    return n;
}

toff_t tiff_seek(thandle_t h, toff_t offset, int whence) {
    auto* f = static_cast<tiff_file*>(h);
    uint64_t base = whence == SEEK_CUR ? f->pos : whence == SEEK_END ? f->size : 0;
    uint64_t to = base + offset;
    if (to > (uint64_t(1) << 40)) return toff_t(-1);
    f->pos = to;
    return to;
}

int tiff_close(thandle_t) { return 0; }
toff_t tiff_size(thandle_t h) { return static_cast<tiff_file*>(h)->size; }
int tiff_map(thandle_t, void**, toff_t*) { return 0; }
void tiff_unmap(thandle_t, void*, toff_t) {}

TIFF* tiff_open(tiff_file* f, const char* mode) {
    static bool quiet = false;
    if (!quiet) {
        TIFFSetErrorHandler(nullptr);
        TIFFSetWarningHandler(nullptr);
        quiet = true;
    }
    return TIFFClientOpen("memory", mode, f, tiff_read, tiff_write, tiff_seek, tiff_close, tiff_size, tiff_map,
                          tiff_unmap);
}

// 8-bit RGB or RGBA in strips with straight alpha: read as stored.
bool read_plain_tiff(TIFF* tif, pixels* out) {
    uint16_t bits = 0, samples = 0, photometric = 0, planar = 0, extra_count = 0;
    uint16_t* extra = nullptr;
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(tif, TIFFTAG_EXTRASAMPLES, &extra_count, &extra);
    if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric)) return false;
    bool straight = samples == 4 && extra_count == 1 && extra[0] == EXTRASAMPLE_UNASSALPHA;
    if (bits != 8 || photometric != PHOTOMETRIC_RGB || planar != PLANARCONFIG_CONTIG || TIFFIsTiled(tif) ||
        !(samples == 3 || straight))
        return false;
    tmsize_t line = TIFFScanlineSize(tif);
    if (line < tmsize_t(out->width) * samples) return false;
    auto* row = static_cast<uint8_t*>(std::malloc(size_t(line)));
    if (!row) return false;
    bool ok = true;
    for (uint32_t y = 0; ok && y < out->height; y++) {
        ok = TIFFReadScanline(tif, row, y, 0) == 1;
        uint32_t* dst = out->data + uint64_t(y) * out->width;
        for (uint32_t x = 0; ok && x < out->width; x++) {
            const uint8_t* s = row + size_t(x) * samples;
            dst[x] = argb(samples == 4 ? s[3] : 255, s[0], s[1], s[2]);
        }
    }
    std::free(row);
    return ok;
}

status decode_tiff(const uint8_t* data, size_t size, pixels* out) {
    tiff_file f{data, nullptr, size, 0};
    TIFF* tif = tiff_open(&f, "rm");
    if (!tif) return CORRUPT;
    uint32_t width = 0, height = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
    status s = width && height ? alloc_pixels(width, height, out) : CORRUPT;
    if (s == OK && !read_plain_tiff(tif, out)) {
        // Everything else through the library's general reader, whose
        // result has premultiplied alpha and R in the low byte.
        TIFFSetDirectory(tif, 0);
        if (TIFFReadRGBAImageOriented(tif, width, height, out->data, ORIENTATION_TOPLEFT, 1) != 1) {
            s = CORRUPT;
        } else {
            for (uint64_t i = 0, n = uint64_t(width) * height; i < n; i++) {
                uint32_t p = out->data[i], a = p >> 24;
                uint32_t r = p & 255, g = (p >> 8) & 255, b = (p >> 16) & 255;
                if (a && a < 255) {
                    r = (r * 255 + a / 2) / a, g = (g * 255 + a / 2) / a, b = (b * 255 + a / 2) / a;
                    r = r > 255 ? 255 : r, g = g > 255 ? 255 : g, b = b > 255 ? 255 : b;
                }
                out->data[i] = argb(a, r, g, b);
            }
        }
    }
    TIFFClose(tif);
    if (s != OK) {
        std::free(out->data);
        out->data = nullptr;
    }
    return s;
}

// 8-bit RGB (RGBA with straight alpha when any pixel is not opaque), LZW.
status encode_tiff(const uint32_t* px, uint32_t width, uint32_t height, bytes* out) {
    bool alpha = !opaque_q(px, uint64_t(width) * height);
    uint16_t samples = alpha ? 4 : 3;
    tiff_file f{nullptr, out, 0, 0};
    TIFF* tif = tiff_open(&f, "w");
    if (!tif) return NO_MEMORY;
    auto* row = static_cast<uint8_t*>(std::malloc(size_t(width) * samples));
    bool ok = row != nullptr;
    ok = ok && TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width) && TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height) &&
         TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8) && TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, samples) &&
         TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB) &&
         TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
         TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_LZW) &&
         TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tif, 0));
    if (ok && alpha) {
        uint16_t extra = EXTRASAMPLE_UNASSALPHA;
        ok = TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &extra);
    }
    for (uint32_t y = 0; ok && y < height; y++) {
        const uint32_t* src = px + uint64_t(y) * width;
        for (uint32_t x = 0; x < width; x++) {
            uint8_t* d = row + size_t(x) * samples;
            d[0] = uint8_t(src[x] >> 16), d[1] = uint8_t(src[x] >> 8), d[2] = uint8_t(src[x]);
            if (alpha) d[3] = uint8_t(src[x] >> 24);
        }
        ok = TIFFWriteScanline(tif, row, y, 0) == 1;
    }
    ok = ok && TIFFWriteDirectory(tif);
    TIFFClose(tif);
    std::free(row);
    if (!ok) {
        release(out);
        return CORRUPT;
    }
    return OK;
}

}  // namespace

}  // namespace kiv::image_codecs

// The module's entry.
extern "C" const kiv::image_codecs::support::library_codecs* kiv_image_library_codecs() {
    using namespace kiv::image_codecs;
    static const support::library_codecs table = {
        {nullptr, decode_png, decode_gif, decode_jpeg, decode_tiff},
        {nullptr, encode_png, encode_gif, encode_jpeg, encode_tiff},
    };
    return &table;
}
