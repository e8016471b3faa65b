/*
 * Kvntfu bitmap record: the picture the composition paints and the readers fill.
 * Always passed with its size, KV_BITMAP_RECORD_SIZE (216). Layouts by bits per pixel:
 * 1 (palette indices, most significant bit first), 8 (palette index or grey), 12 (grey,
 * two samples in three bytes), 16 (grey, native order), 24 (blue, green, red), 32 (blue,
 * green, red, unused); rows padded to a multiple of 4 bytes. View code 1 stores the top
 * row first, 4 the bottom row first. Included by kvntfu.h.
 */
#ifndef KVNTFU_BITMAP_H
#define KVNTFU_BITMAP_H

#define KV_BITMAP_RECORD_SIZE 216u
#define KV_BITMAP_DATA_ALLOCATED 1u /* flags bit 0 */

typedef struct KvBitmap {
  int32_t width;
  int32_t height;
  int32_t bits_per_pixel;
  int32_t bytes_per_line;
  int32_t colour_order; /* 0 palette, 1 colour, 2 grey */
  int32_t palette_count;
  uint32_t flags;
  int32_t view_code;
  int32_t memory_kind;
  int32_t row_access;
  uint64_t data_size;
  uint32_t* palette; /* entries: blue, green, red, 0 */
  uint8_t* data;
  uint8_t reserved[KV_BITMAP_RECORD_SIZE - 48 - 2 * sizeof(void*)];
} KvBitmap;

/* A drawing context of the host kernel, painting into a bitmap. Opaque. */
typedef struct KvDrawingContext KvDrawingContext;

#endif /* KVNTFU_BITMAP_H */
