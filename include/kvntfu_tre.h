/*
 * Kvntfu tagged record extensions (TREs): the TREs of any header, decoded by name.
 *
 * The module holds a dictionary of TRE descriptions; a TRE it describes is decoded into
 * named fields, one it does not know, or one whose bytes do not fit its description,
 * is kept as it is (its bytes, and for the latter the reason, field and offset). The
 * TREs of a header are numbered in file order: its user-defined area (UDHD, UDID), then
 * its extended area (XHD, IXSHD, SXSHD, TXSHD), then the TREs that TRE_OVERFLOW data
 * extension segments carry for it. A data extension segment's own TREs are those of
 * its data when it is a TRE_OVERFLOW segment.
 *
 * JSON texts are UTF-8, allocated by the module and released by Kv_NITFFreeTreJson.
 * A decoded TRE is {"tag", "length", "status": "decoded", "fields": {NAME: "value", LOOP:
 * [{...}, ...]}}; values are the characters (BCS-A ones without trailing blanks), binary
 * fields in hexadecimal. Otherwise "status" is "malformed" (with "reason", "field", "offset") or
 * "unknown", and "hex" holds the bytes. docs/json.md describes the shape.
 * Included by kvntfu.h; not meant to be included on its own.
 */
#ifndef KVNTFU_TRE_H
#define KVNTFU_TRE_H

/* Where a TRE is held. */
#define KV_TRE_USER 0     /* UDHD, UDID; the data of a TRE_OVERFLOW segment */
#define KV_TRE_EXTENDED 1 /* XHD, IXSHD, SXSHD, TXSHD */
#define KV_TRE_OVERFLOW 2 /* in a TRE_OVERFLOW segment for this header (read only) */

/* What the dictionary made of it. */
#define KV_TRE_DECODED 0
#define KV_TRE_MALFORMED 1
#define KV_TRE_UNKNOWN 2

typedef struct NitfTreInfo {
  char tag[7];     /* without trailing blanks, NUL after it */
  int32_t length;  /* bytes of data (CEL) */
  int32_t area;    /* KV_TRE_USER, KV_TRE_EXTENDED or KV_TRE_OVERFLOW */
  int32_t status;  /* KV_TRE_DECODED, KV_TRE_MALFORMED or KV_TRE_UNKNOWN */
  int32_t segment; /* for KV_TRE_OVERFLOW: the index of the data extension segment */
} NitfTreInfo;

/* The headers: `kind` is KV_FIELDS_FILE (index unused), KV_FIELDS_IMAGE,
 * KV_FIELDS_GRAPHIC (KV_FIELDS_SYMBOL), KV_FIELDS_LABEL (NITF 2.0), KV_FIELDS_TEXT or
 * KV_FIELDS_DES with the segment's index.
 * Each returns RET_FAILURE without a document, RET_BAD_ARGUMENT for a null pointer or
 * another kind, RET_INVALID_PARAMETER for an index not below the kind's count or a TRE
 * number not below the header's count, RET_NO_MEMORY, and RET_FILE_READ when a data
 * extension segment's data cannot be read. A malformed TRE is no error. */
KV_API int32_t KV_CALL Kv_NITFGetTreCount(NitfDocument* document, int32_t kind, int32_t index,
                                          int32_t* count);
KV_API int32_t KV_CALL Kv_NITFGetTreInfo(NitfDocument* document, int32_t kind, int32_t index,
                                         int32_t tre, NitfTreInfo* info);
KV_API int32_t KV_CALL Kv_NITFGetTreJson(NitfDocument* document, int32_t kind, int32_t index,
                                         int32_t tre, char** json);
/* Releases a JSON text of this header's exports and nulls the pointer. */
KV_API int32_t KV_CALL Kv_NITFFreeTreJson(char** json);

/* Replaces TRE `tre` of the header (in its area), or with `tre` = -1 adds one at the
 * end of the extended area, from `json`: {"tag": "BLOCKA", "fields": {...}} encoded
 * through the TRE's description (every field named; a BCS-N value shorter than its
 * field is zero-filled, others are blank-filled; a loop's items must match its count),
 * or {"tag": ..., "hex": "..."} for the bytes as they are. The area's length field, the
 * subheader length and HL or FL follow, as with the header setters. Data extension
 * segments and TREs of KV_TRE_OVERFLOW cannot be set. Returns RET_SUCCESS; the codes of
 * the getters; RET_INVALID_PARAMETER (nothing changed) for JSON that is not such an
 * object, a tag we have no description for without "hex", fields that do not fit the
 * description (KVNTF_DEBUG=1 says which), or an area that would pass 99999 bytes. */
KV_API int32_t KV_CALL Kv_NITFSetTreJson(NitfDocument* document, int32_t kind, int32_t index,
                                         int32_t tre, const char* json);

/* Decodes `length` bytes of TRE data under `tag` (6 characters or fewer) without a
 * document. Returns RET_SUCCESS (also for a malformed or unknown TRE), RET_BAD_ARGUMENT
 * for a null pointer or a negative length, RET_NO_MEMORY. */
KV_API int32_t KV_CALL Kv_NITFDecodeTre(const char* tag, const uint8_t* data, int32_t length,
                                        char** json);

/* Data extension segment `index` as JSON: {"desid", "desver", "desshl", "user_fields"
 * (its user-defined subheader fields decoded as a TRE under the DESID, where described),
 * "desoflw" and "desitem" for TRE_OVERFLOW, "xml" (the data as a string) for
 * XML_DATA_CONTENT}. Codes as Kv_NITFGetTreJson. */
KV_API int32_t KV_CALL Kv_NITFGetDesJson(NitfDocument* document, int32_t index, char** json);

#endif /* KVNTFU_TRE_H */
