/* The libjpeg calls of PictureFile with the error exit confined to this file (see the header). */
#include "codec/picture/jpeg_layer.h"

#include <setjmp.h>
#include <stdlib.h>
#include <string.h>

#include <jpeglib.h>

struct ErrorManager {
    struct jpeg_error_mgr library;
    jmp_buf back;
    char* message;
};

static void errorExit(j_common_ptr common) {
    struct ErrorManager* manager = (struct ErrorManager*)common->err;
    char text[JMSG_LENGTH_MAX];
    common->err->format_message(common, text);
    strncpy(manager->message, text, KX_JPEG_MESSAGE_BYTES - 1);
    manager->message[KX_JPEG_MESSAGE_BYTES - 1] = '\0';
    longjmp(manager->back, 1);
}

/* Warnings (a stream cut short, extra bytes) are not shown: the picture decodes as far as the
   data goes, as libjpeg intends. */
static void ignoreMessage(j_common_ptr common) { (void)common; }

static void setUpErrors(struct ErrorManager* manager, char* message) {
    jpeg_std_error(&manager->library);
    manager->library.error_exit = errorExit;
    manager->library.output_message = ignoreMessage;
    manager->message = message;
    message[0] = '\0';
}

int kx_jpeg_write_bgr(FILE* file, const uint8_t* pixels, uint32_t width, uint32_t height,
                      int quality, uint8_t* row, char message[KX_JPEG_MESSAGE_BYTES]) {
    struct jpeg_compress_struct info;
    struct ErrorManager errors;
    memset(&info, 0, sizeof info);
    setUpErrors(&errors, message);
    info.err = &errors.library;
    if (setjmp(errors.back)) {
        jpeg_destroy_compress(&info);
        return KX_JPEG_LIBRARY_ERROR;
    }
    jpeg_create_compress(&info);
    jpeg_stdio_dest(&info, file);
    info.image_width = width;
    info.image_height = height;
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);
    jpeg_start_compress(&info, TRUE);
    const size_t rowBytes = (size_t)width * 3;
    while (info.next_scanline < info.image_height) {
        /* Held rows are bottom row first and B, G, R; the stream wants top first, R, G, B. */
        const uint8_t* source = pixels + (size_t)(height - 1 - info.next_scanline) * rowBytes;
        for (size_t x = 0; x < rowBytes; x += 3) {
            row[x] = source[x + 2];
            row[x + 1] = source[x + 1];
            row[x + 2] = source[x];
        }
        JSAMPROW rows[1] = {row};
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    return KX_JPEG_OK;
}

int kx_jpeg_read_rgb(FILE* file, uint64_t max_pixels, struct KxJpegPicture* picture,
                     char message[KX_JPEG_MESSAGE_BYTES]) {
    struct jpeg_decompress_struct info;
    struct ErrorManager errors;
    memset(&info, 0, sizeof info);
    memset(picture, 0, sizeof *picture);
    setUpErrors(&errors, message);
    info.err = &errors.library;
    if (setjmp(errors.back)) {
        /* `picture` lives in the caller's frame, so its pointer survived the jump. */
        free(picture->pixels);
        picture->pixels = NULL;
        jpeg_destroy_decompress(&info);
        return KX_JPEG_LIBRARY_ERROR;
    }
    jpeg_create_decompress(&info);
    jpeg_stdio_src(&info, file);
    jpeg_read_header(&info, TRUE);
    const int grey = info.jpeg_color_space == JCS_GRAYSCALE;
    if (!grey && info.jpeg_color_space != JCS_YCbCr && info.jpeg_color_space != JCS_RGB) {
        jpeg_destroy_decompress(&info);
        return KX_JPEG_UNSUPPORTED;
    }
    const uint64_t pixelCount = (uint64_t)info.image_width * info.image_height;
    if (pixelCount == 0 || pixelCount > max_pixels) {
        jpeg_destroy_decompress(&info);
        return KX_JPEG_TOO_LARGE;
    }
    info.out_color_space = grey ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_start_decompress(&info);
    const size_t rowBytes = (size_t)info.output_width * 3;
    picture->pixels = (uint8_t*)malloc(rowBytes * info.output_height);
    if (picture->pixels == NULL) {
        jpeg_destroy_decompress(&info);
        return KX_JPEG_NO_MEMORY;
    }
    picture->width = info.output_width;
    picture->height = info.output_height;
    picture->components = info.output_components;
    JSAMPARRAY buffer = (*info.mem->alloc_sarray)((j_common_ptr)&info, JPOOL_IMAGE,
                                                  info.output_width * (JDIMENSION)info.output_components, 1);
    while (info.output_scanline < info.output_height) {
        uint8_t* out = picture->pixels + (size_t)info.output_scanline * rowBytes;
        jpeg_read_scanlines(&info, buffer, 1);
        const uint8_t* in = buffer[0];
        if (info.output_components == 3) {
            memcpy(out, in, rowBytes);
        } else {
            for (JDIMENSION x = 0; x < info.output_width; ++x) out[3 * x] = out[3 * x + 1] = out[3 * x + 2] = in[x];
        }
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return KX_JPEG_OK;
}
