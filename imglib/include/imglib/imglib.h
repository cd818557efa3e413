/* The image library's C interface: six calls over 32-bit image handles.
 *
 * A handle is a positive number naming an image held by the library; handles are never reused.
 * 0 means "no image" and is the failure result. A transform (ReduceDIB, GrayDIB, ZoomDIB) that
 * succeeds frees the image it was given and returns a new handle; one that fails returns 0 and
 * leaves the image it was given valid. DIBFree of 0, of an unknown handle or of a handle already
 * freed does nothing. No call crashes on bad input: it fails. */
#ifndef IMGLIB_IMGLIB_H
#define IMGLIB_IMGLIB_H

#include <stdint.h>

#if defined(_WIN32)
#define IMGLIB_API __declspec(dllexport)
#else
#define IMGLIB_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Reads the image file at `path` (8-bit text, zero-terminated); its format is recognised from
 * its content. Returns a new handle, or 0. */
IMGLIB_API int32_t ReadFileIntoDIB(const char* path);

/* Writes the image to `path`: format 0 is a Windows bitmap; 16 TIFF with LZW compression,
 * 17 uncompressed TIFF, 18 bilevel TIFF with CCITT modified Huffman, 19 TIFF with PackBits.
 * The file appears complete or not at all. Returns non-zero on success, 0 on failure. */
IMGLIB_API int16_t WriteDIBToFile(int32_t dib, const char* path, int16_t format);

/* Reduces the image to at most `colours` colours (below 2 taken as 2, above 256 as 256); a
 * non-zero `option` dithers by error diffusion. */
IMGLIB_API int32_t ReduceDIB(int32_t dib, int32_t colours, int16_t option);

/* Converts the image to 8-bit grey levels. */
IMGLIB_API int32_t GrayDIB(int32_t dib);

/* Resizes the image to xPercent of its width and yPercent of its height (rounded, at least 1). */
IMGLIB_API int32_t ZoomDIB(int32_t dib, int32_t xPercent, int32_t yPercent);

/* Releases the image. */
IMGLIB_API void DIBFree(int32_t dib);

#ifdef __cplusplus
}
#endif

#endif
