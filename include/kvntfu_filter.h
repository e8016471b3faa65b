/*
 * Kvntfu filter entry points: how the toolkit's file-format library describes and loads
 * a NITF file as one composed picture, and the composition exports.
 *
 * The records belong to the file-format library; the module reads and writes only the
 * named fields. In 32-bit builds every field sits at the byte offset in its comment; in
 * 64-bit builds the same fields follow in the same order with natural pointer width.
 * Included by kvntfu.h.
 */
#ifndef KVNTFU_FILTER_H
#define KVNTFU_FILTER_H

#define KV_NITF_FORMAT_ID 248
#define KV_LOAD_FIXED_CANVAS 0x00040000u /* a fixed 2048 x 2048 canvas */
#define KV_LOAD_ENHANCE 0x00080000u      /* brighten very dark images */
#define KV_LOAD_EXTENDED 0x00100000u     /* extended reading, as KV_NITF_EXTENDED */
#define KV_LOAD_RGB 0x4000u              /* decoder: three components are R, G, B */
#define KV_LOAD_BANDS 0x8000u            /* decoder: use the three band indices */
#define KV_LOAD_INTO 0x00010000u         /* decoder: decode into the caller's bitmap */

/* Row flags of the row callback. */
#define KV_ROW_ALWAYS 3u
#define KV_ROW_FIRST 4u
#define KV_ROW_LAST 8u

typedef struct FltLoadOptions { /* 72 bytes */
  uint32_t reserved0[3];
  uint32_t flags; /* 12 */
  uint32_t reserved1[4];
  uint32_t red_band;   /* 32 */
  uint32_t green_band; /* 36 */
  uint32_t blue_band;  /* 40 */
  uint32_t reserved2[7];
} FltLoadOptions;

typedef struct FltFileInfo { /* 2308 bytes */
  uint32_t reserved0;
  uint32_t format; /* 4 */
  uint8_t reserved1[1024];
  uint32_t width;          /* 1032 */
  uint32_t height;         /* 1036 */
  uint32_t bits_per_pixel; /* 1040 */
  uint32_t reserved2[2];
  uint32_t image_size_low;  /* 1052: bytes of the picture, low word */
  uint32_t image_size_high; /* 1056 */
  uint32_t reserved3[10];
  uint32_t word_1100; /* 1100 */
  uint32_t word_1104; /* 1104 */
  uint8_t reserved4[2308 - 1108];
} FltFileInfo;

typedef struct FltTargetDescription {
  int32_t reserved[5];
  int32_t bits_per_pixel; /* 0x14 */
} FltTargetDescription;

/* A raw stream's description, filled by the raw-data callback for the decoder. */
typedef struct FltRawFormat {
  int32_t format; /* 66 T.4 one-dimensional, 67 two-dimensional */
  int32_t width;
  int32_t height;
  int32_t bits_per_pixel;
  int32_t reserved0;
  int32_t reserved1;
  int32_t last; /* 1 */
} FltRawFormat;

typedef int32_t(KV_CALL* FltRowCallback)(void* context, FltTargetDescription* target, uint8_t* row,
                                         int32_t flags, int32_t row_number, int32_t row_count,
                                         void* user_data);
typedef int32_t(KV_CALL* FltRawDataCallback)(void* user_data, FltRawFormat* format);
typedef int32_t(KV_CALL* FltLoadFromMemory)(const void* buffer, KvBitmap* bitmap,
                                            uint32_t record_size, int32_t bits_per_pixel,
                                            int32_t colour_order, uint32_t byte_count,
                                            FltLoadOptions* options);
typedef FltRawDataCallback(KV_CALL* FltSetRawCallback)(FltRawDataCallback callback,
                                                       void* user_data);

typedef struct FltInfoRequest {
  const wchar_t* file_name; /* 0 */
  int32_t reserved0;
  int32_t file_handle;    /* 8: rewound, not read */
  FltFileInfo* file_info; /* 12 */
  int32_t reserved1[5];
  FltLoadOptions* load_options; /* 36 */
} FltInfoRequest;

typedef struct FltLoadRequest {
  const wchar_t* file_name;     /* 0x000 */
  FltTargetDescription* target; /* 0x004 */
  int32_t reserved0;
  FltRowCallback row_callback; /* 0x00C */
  void* user_data;             /* 0x010 */
  int32_t reserved1[9];
  void* callback_context; /* 0x038 */
  uint8_t reserved2[0x800 - 0x03C];
  FltLoadOptions* load_options; /* 0x800 */
  int32_t reserved3[7];
  FltLoadFromMemory load_from_memory; /* 0x820: must be given */
  FltSetRawCallback set_raw_callback; /* 0x824: must be given */
  int32_t reserved4[6];
  int32_t required; /* 0x840: must be non-zero */
} FltLoadRequest;

KV_API int32_t KV_CALL fltInfo(FltInfoRequest* request);
KV_API int32_t KV_CALL fltLoad(FltLoadRequest* request);
KV_API int32_t KV_CALL fltSave(void* request);

/* The composition of a document: the canvas size, drawing onto a context, and a bitmap
 * that becomes the composed canvas (24 bits per pixel, the caller's until freed). */
KV_API int32_t KV_CALL GetActual_Width_Height(NitfDocument* document, uint32_t* width,
                                              uint32_t* height);
KV_API int32_t KV_CALL Kv_NitfDrawObjects(FltLoadRequest* request, KvDrawingContext* context,
                                          KvBitmap* bitmap, NitfDocument* document);
KV_API int32_t KV_CALL Kv_NtfRenderBitmap(KvBitmap* bitmap, NitfDocument* document);

/* Whether segment `index` of `kind` (KV_FIELDS_IMAGE, KV_FIELDS_GRAPHIC or, in a NITF 2.0
 * document, KV_FIELDS_SYMBOL and KV_FIELDS_LABEL) is composed: shown 0 leaves it out of
 * every later composition of the document (Kv_NtfRenderBitmap, Kv_NtfRenderRegion,
 * Kv_NitfDrawObjects), any other value puts it back. The canvas keeps its size, so that a
 * window means the same pixels either way; a document is opened with every segment shown.
 * RET_INVALID_DOCUMENT without a document; RET_INVALID_PARAMETER for another kind or an
 * index not below the kind's count. */
KV_API int32_t KV_CALL Kv_NtfShowSegment(NitfDocument* document, int32_t kind, int32_t index,
                                         int32_t shown);

#endif /* KVNTFU_FILTER_H */
