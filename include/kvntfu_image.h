/*
 * Kvntfu public records: NitfImageHeader, its getter and free operation.
 *
 * The record is packed like the others of kvntfu_records.h. Every string and buffer the
 * getter stores belongs to the caller until Kv_NITFFreeImageHeader, which releases each
 * member that is not null and nulls it. Included by kvntfu.h; not meant to be included
 * on its own.
 */
#ifndef KVNTFU_IMAGE_H
#define KVNTFU_IMAGE_H

#pragma pack(push, 1)

/* One image subheader. Inline character members carry no NUL. */
typedef struct NitfImageHeader {
  char* IM;
  char* IID1;
  char IDATIM[14];
  char* TGTID;
  char* IID2;
  char* ISCLAS;
  char* ISCLSY;
  char* ISCODE;
  char* ISCTLH;
  char* ISREL;
  char* ISDCTP;
  char ISDCDT[8];
  char* ISDCXM;
  char* ISDG;
  char ISDGDT[8];
  char* ISCLTX;
  char* ISCATP;
  char* ISCAUT;
  char* ISCRSN;
  char ISSRDT[8];
  char* ISCTLN;
  uint32_t ENCRYP;
  char* ISORCE;
  uint32_t NROWS;
  uint32_t NCOLS;
  char* PVTYPE;
  char* IREP;
  char* ICAT;
  uint32_t ABPP;
  char* PJUST;
  char* ICORDS;
  char* IGEOLO;
  uint32_t NICOM;
  char** ICOM; /* NICOM comments of 80 characters */
  char* IC;
  char* COMRAT;
  uint32_t NBANDS;
  uint32_t XBANDS;
  /* Per-band texts, NBANDS entries each. The getter leaves them as they are; the free
   * operation releases them (entries and arrays) when IREPBAND is not null. */
  char** IREPBAND;
  char** ISUBCAT;
  char** IFC;
  char** IMFLT;
  uint32_t ISYNC;
  char* IMODE;
  uint32_t NBPR;
  uint32_t NBPC;
  uint32_t NPPBH;
  uint32_t NPPBV;
  uint32_t NBPP;
  uint32_t IDLVL;
  uint32_t IALVL;
  int32_t ILOC_COLUMN;
  int32_t ILOC_ROW;
  char* IMAG;
  uint32_t UDIDL;
  uint32_t UDOFL;
  char* UDID; /* UDIDL - 3 bytes of TREs and a NUL; filled only when UDIDL is not 0 */
  uint32_t IXSHDL;
  uint32_t IXSOFL;
  uint8_t* IXSHD; /* IXSHDL bytes: the TREs and a NUL; filled only when IXSHDL is not 0 */
  uint32_t IMDATOFF;
  uint16_t BMRLNTH;
  uint16_t TMRLNTH;
  uint16_t TPXCDLNTH;
  uint8_t* TPXCD; /* TPXCDLNTH bytes holding the pad pixel code; only when TPXCDLNTH is not 0 */
} NitfImageHeader;

#pragma pack(pop)

/* The subheader of image `index`. Returns RET_FAILURE without a document,
 * RET_INVALID_PARAMETER without a record, RET_BAD_ARGUMENT when index is not below the
 * image count, RET_NO_MEMORY (with the members it fills null) when a copy cannot be
 * made. Pointer members other than IXSHD are overwritten without being released: free
 * a record before getting into it again. */
KV_API int32_t KV_CALL Kv_NITFGetImageHeader(NitfDocument* document, uint32_t index,
                                             NitfImageHeader* record);
/* Writes the record into image `index`'s subheader, for the next save. Every member is
 * judged first, and a record with one refused changes nothing: RET_INVALID_PARAMETER
 * for a null or over-long text, a PVTYPE, IREP, PJUST, IC or IMODE outside its codes, a number wider
 * than its field, an ILOC half outside -9999..99999, more comments than the image has,
 * an extension length of 1 to 3 with data, or a mask table header other than the
 * image's. The band fields are reset only when the band count changes; LISH and FL
 * follow every change of the subheader's length. RET_FAILURE without a document,
 * RET_BAD_ARGUMENT without a record, RET_INVALID_PARAMETER for an index not below the
 * image count, RET_NO_MEMORY when a copy cannot be made. */
KV_API int32_t KV_CALL Kv_NITFSetImageHeader(NitfDocument* document, uint32_t index,
                                             NitfImageHeader* record);
/* Releases what a get stored; the record must not be null. */
KV_API int32_t KV_CALL Kv_NITFFreeImageHeader(NitfImageHeader* record);
/* LUT `lut` of band `band` (both from 0) of image `index`, as its subheader holds it:
 * NELUTn entries. Copies at most `size` of them into `entries` (null when `size` is 0)
 * and gives their number in *count; NLUTSn and NELUTn are the band's fields. Returns
 * RET_FAILURE without a document, RET_BAD_ARGUMENT for a null count or a negative size,
 * RET_INVALID_PARAMETER for an image, band or LUT the document does not have. */
KV_API int32_t KV_CALL Kv_NITFGetImageLut(NitfDocument* document, uint32_t index, int32_t band,
                                          int32_t lut, uint8_t* entries, int32_t size,
                                          int32_t* count);

#endif /* KVNTFU_IMAGE_H */
