/*
 * Kvntfu public records: NitfGraphicHeader and NitfTextHeader, their getters and free
 * operations, and the text of a text segment.
 *
 * Like every public record these are packed. Text members are NUL-terminated copies
 * made by the getter (blank padding kept as in the file); members of 8 or 14
 * characters are inline and carry no NUL; extension data is a copy of the area's TRE
 * bytes. Copies belong to the caller until the matching free export.
 * Included by kvntfu.h; not meant to be included on its own.
 */
#ifndef KVNTFU_GRAPHIC_TEXT_H
#define KVNTFU_GRAPHIC_TEXT_H

#pragma pack(push, 1)

/* A graphic subheader. The placement members are the two 5-character groups of SLOC,
 * SBND1 and SBND2, first group first; SLOC's first group is its row, while the first
 * group of SBND1 and SBND2 is the x extent the drawing uses. */
typedef struct NitfGraphicHeader {
  char* SY;
  char* SID;
  char* SNAME;
  char* SSCLAS;
  char* SSCLSY;
  char* SSCODE;
  char* SSCTLH;
  char* SSREL;
  char* SSDCTP;
  char SSDCDT[8];
  char* SSDCXM;
  char* SSDG;
  char SSDGDT[8];
  char* SSCLTX;
  char* SSCATP;
  char* SSCAUT;
  char* SSCRSN;
  char SSSRDT[8];
  char* SSCTLN;
  int32_t ENCRYP;
  char* SFMT;
  int32_t SSTRUCT;
  int32_t SDLVL;
  int32_t SALVL;
  int32_t SLOC_ROW;
  int32_t SLOC_COLUMN;
  int32_t SBND1_ROW;
  int32_t SBND1_COLUMN;
  char* SCOLOR;
  int32_t SBND2_ROW;
  int32_t SBND2_COLUMN;
  int32_t SRES2;
  int32_t SXSHDL;
  int32_t SXSOFL;
  uint8_t* SXSHD; /* SXSHDL - 3 bytes of TREs, NUL after them */
} NitfGraphicHeader;

/* A text subheader. */
typedef struct NitfTextHeader {
  char* TE;
  char* TEXTID;
  int32_t TXTALVL;
  char TXTDT[14];
  char* TXTITL;
  char* TSCLAS;
  char* TSCLSY;
  char* TSCODE;
  char* TSCTLH;
  char* TSREL;
  char* TSDCTP;
  char TSDCDT[8];
  char* TSDCXM;
  char* TSDG;
  char TSDGDT[8];
  char* TSCLTX;
  char* TSCATP;
  char* TSCAUT;
  char* TSCRSN;
  char TSSRDT[8];
  char* TSCTLN;
  int32_t ENCRYP;
  char* TXTFMT;
  int32_t TXSHDL;
  int32_t TXSOFL;
  uint8_t* TXSHD; /* TXSHDL - 3 bytes of TREs */
} NitfTextHeader;

#pragma pack(pop)

/* The subheader of graphic `index` (from 0). RET_FAILURE without a document;
 * RET_BAD_ARGUMENT without a record or for an index not below the graphic count;
 * RET_NO_MEMORY when a copy cannot be made (every text member is then null). SXSHD
 * is set only when the graphic has an extension area, and left as it was otherwise. */
KV_API int32_t KV_CALL Kv_NITFGetGraphicHeader(NitfDocument* document, int32_t index,
                                               NitfGraphicHeader* record);
/* Writes the record into graphic `index`'s subheader, for the next save. Every member
 * is judged first, and a record with one refused changes nothing: RET_INVALID_PARAMETER
 * for a null text or one longer than its field, a number wider than its field, a
 * location group outside -9999..99999, an SXSHDL of 1 to 3 with SXSHD or one that
 * differs from the area's without SXSHD.
 * RET_FAILURE without a document, RET_BAD_ARGUMENT without a record or for an index not
 * below the count, RET_NO_MEMORY when SXSHD cannot be copied. */
KV_API int32_t KV_CALL Kv_NITFSetGraphicHeader(NitfDocument* document, int32_t index,
                                               NitfGraphicHeader* record);
KV_API int32_t KV_CALL Kv_NITFFreeGraphicHeader(NitfGraphicHeader* record);

/* The subheader of text segment `index` (from 0); results as for the graphic. TXSHD
 * must be null or hold a copy of an earlier get: it is released before it is set
 * again, and stays null when TXSHDL is below 4. */
KV_API int32_t KV_CALL Kv_NITFGetTextHeader(NitfDocument* document, int32_t index,
                                            NitfTextHeader* record);
/* Writes the record into text segment `index`'s subheader; results as for the graphic. */
KV_API int32_t KV_CALL Kv_NITFSetTextHeader(NitfDocument* document, int32_t index,
                                            NitfTextHeader* record);
KV_API int32_t KV_CALL Kv_NITFFreeTextHeader(NitfTextHeader* record);

/* The text of text segment `index`. With `length` given, stores the segment's length
 * from the file header (0 for text appended and not yet saved). With `buffer` given
 * (room for length + 1 bytes), copies the text as stored and a NUL after it.
 * RET_INVALID_DOCUMENT without a document, RET_BAD_ARGUMENT for an index not below the
 * text count, RET_FILE_READ when the file does not hold the whole text. */
KV_API int32_t KV_CALL Kv_NITFGetTextSegment(NitfDocument* document, int32_t index, char* buffer,
                                             uint32_t* length);

#endif /* KVNTFU_GRAPHIC_TEXT_H */
