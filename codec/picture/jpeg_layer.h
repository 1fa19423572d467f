/* The libjpeg calls of PictureFile, written in C: the library's error exit longjmps back into
   these functions, so no C++ object with a destructor may live in a frame it jumps over. Each
   function sets up its own error manager, reports a library failure as 0 with the library's
   formatted message, and always destroys its libjpeg object. The caller owns the FILE. */
#ifndef KX_CODEC_PICTURE_JPEG_LAYER_H
#define KX_CODEC_PICTURE_JPEG_LAYER_H

#include <stdint.h>
#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Room for the library's formatted message (JMSG_LENGTH_MAX), terminated. */
#define KX_JPEG_MESSAGE_BYTES 200

enum KxJpegResult {
    KX_JPEG_OK = 0,
    KX_JPEG_LIBRARY_ERROR = 1, /* libjpeg's error exit ran; `message` holds its text */
    KX_JPEG_TOO_LARGE = 2,     /* the picture exceeds the caller's pixel limit */
    KX_JPEG_UNSUPPORTED = 3,   /* neither grey nor a colour space libjpeg converts to RGB */
    KX_JPEG_NO_MEMORY = 4
};

/* Compresses `pixels` (B, G, R per pixel, bottom row first, rows of 3 x width bytes without
   padding) as a baseline JFIF stream with 3 components at `quality` into `file`. `row` is a
   scratch buffer of 3 x width bytes. */
int kx_jpeg_write_bgr(FILE* file, const uint8_t* pixels, uint32_t width, uint32_t height,
                      int quality, uint8_t* row, char message[KX_JPEG_MESSAGE_BYTES]);

/* A decoded picture: R, G, B per pixel, top row first, rows of 3 x width bytes, in a block
   from malloc that the caller frees. Grey pictures come out as three equal bytes. */
struct KxJpegPicture {
    uint8_t* pixels;
    uint32_t width;
    uint32_t height;
    int components; /* of the stream: 1 grey, 3 colour */
};

/* Decodes the JPEG stream at the file's position. Pictures of more than `max_pixels` pixels
   are refused before anything is allocated. On failure `picture->pixels` is NULL. */
int kx_jpeg_read_rgb(FILE* file, uint64_t max_pixels, struct KxJpegPicture* picture,
                     char message[KX_JPEG_MESSAGE_BYTES]);

#ifdef __cplusplus
}
#endif

#endif
