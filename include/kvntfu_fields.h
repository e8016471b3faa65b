/*
 * Kvntfu field tables: what the module knows of each header's fixed fields.
 *
 * Every header kind has one table of its fields in file order: the name, the width in
 * the file, and where and how the kind's public record holds the field. The module's
 * reader, writer, getters and setters work from the same tables, so an application that
 * lists, prints or edits fields by name (the client `nitf` does) needs no list of its
 * own. Tables are constant and belong to the module; nothing is freed.
 * Included by kvntfu.h; not meant to be included on its own.
 */
#ifndef KVNTFU_FIELDS_H
#define KVNTFU_FIELDS_H

/* Header kinds. */
#define KV_FIELDS_FILE 0    /* NitfHeader */
#define KV_FIELDS_IMAGE 1   /* NitfImageHeader */
#define KV_FIELDS_GRAPHIC 2 /* NitfGraphicHeader */
#define KV_FIELDS_TEXT 3    /* NitfTextHeader */
#define KV_FIELDS_DES 4     /* no public record: every form is KV_FORM_NONE */
/* Reserved extension segments: no public record; listed only (a save copies them). */
#define KV_FIELDS_RES 6
/* NITF 2.0 (MIL-STD-2500A), read with extended reading: a kind or'ed with
 * KV_FIELDS_NITF20 is that kind's 2.0 table. A document read from a 2.0 file (its
 * header record's FVER is 2.0) has these layouts; symbols are its graphics, and labels
 * exist in 2.0 files only. Fields the public records do not hold are KV_FORM_NONE:
 * Kv_NITFGetFieldText reads their characters. */
#define KV_FIELDS_NITF20 0x20
#define KV_FIELDS_SYMBOL (KV_FIELDS_GRAPHIC | KV_FIELDS_NITF20) /* NitfGraphicHeader */
#define KV_FIELDS_LABEL (5 | KV_FIELDS_NITF20)                  /* no public record */

/* How the public record holds a field. */
#define KV_FORM_NONE 0     /* not in the record */
#define KV_FORM_STRING 1   /* char*: the characters as stored, NUL after them */
#define KV_FORM_CHARS 2    /* char[width], no NUL (dates) */
#define KV_FORM_NUMBER 3   /* int32_t */
#define KV_FORM_LOCATION 4 /* int32_t row at offset, int32_t column at second_offset */
#define KV_FORM_COLOUR 5   /* uint8_t[3]: red, green, blue */
#define KV_FORM_VERSION 6  /* float: 2.1 for "02.10" */
#define KV_FORM_TABLE 7    /* uint32_t*: one entry per segment; the count at second_offset */
#define KV_FORM_AREA 8     /* uint8_t*: the TREs; the length field at second_offset */
#define KV_FORM_UNSIGNED 9 /* uint32_t */

/* Flags. */
#define KV_FIELD_DIGITS 0x01      /* BCS-N: digits, right-justified and zero-filled */
#define KV_FIELD_SETTABLE 0x02    /* the kind's setter takes it from the record */
#define KV_FIELD_LAYOUT 0x04      /* describes the stored data: a change makes them unreadable */
#define KV_FIELD_LISTED 0x08      /* one of the fields a short listing shows */
#define KV_FIELD_CONDITIONAL 0x10 /* in the file only when earlier fields ask for it */
/* One entry per item of an earlier count (the length tables, ICOMn, the band fields):
 * Kv_NITFGetFieldText takes the name with the entry's number from 1 in place of a
 * final n, or after the name: ICOM1, IREPBAND3, LISH2. */
#define KV_FIELD_REPEATED 0x20

typedef struct NitfFieldInfo {
  const char* name;      /* "FTITLE" */
  int32_t width;         /* characters in the file (a table or area: of one entry or 0) */
  int32_t form;          /* KV_FORM_* */
  int32_t offset;        /* of the member in the public record; -1 for KV_FORM_NONE */
  int32_t second_offset; /* see the forms; -1 when unused */
  uint32_t flags;        /* KV_FIELD_* */
} NitfFieldInfo;

/* The fields of header kind `kind` (KV_FIELDS_*) in file order. Returns RET_SUCCESS,
 * or RET_BAD_ARGUMENT for an unknown kind or a null pointer. */
KV_API int32_t KV_CALL Kv_NITFGetFieldTable(int32_t kind, const NitfFieldInfo** fields,
                                            int32_t* count);

/* The characters of field `name` of segment `index` of `kind` (KV_FIELDS_*; the index
 * is unused for the file header), as the document holds them in its own layout (the
 * KV_FIELDS_NITF20 bit is not needed), with a NUL after them; "" for a conditional
 * field the segment's file does not have. An entry of a repeated field is named with
 * its number (KV_FIELD_REPEATED; a length table's entry as the next saved file has
 * it); a binary colour (FBKGC) is given as lower-case hexadecimal. Returns RET_SUCCESS;
 * RET_FAILURE without a document; RET_BAD_ARGUMENT for an unknown kind, a null name or
 * buffer; RET_INVALID_PARAMETER for an index not below the kind's count, a field the
 * layout lacks or keeps in no characters (areas), an entry number beyond its count, or
 * a buffer of `size` bytes too small. */
KV_API int32_t KV_CALL Kv_NITFGetFieldText(NitfDocument* document, int32_t kind, int32_t index,
                                           const char* name, char* buffer, int32_t size);
/* The number of segments of `kind` (image, graphic or symbol, label, text, data or
 * reserved extension) in the document; 0 without a document or for another kind. */
KV_API int32_t KV_CALL Kv_NITFGetSegmentCount(NitfDocument* document, int32_t kind);

#endif /* KVNTFU_FIELDS_H */
