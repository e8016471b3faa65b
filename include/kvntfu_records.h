/*
 * Kvntfu public records: flat copies of the NITF headers of a document.
 *
 * Records are packed (no padding between fields). Every string and table a getter
 * stores in a record is allocated by the module and belongs to the caller until the
 * matching free export, which releases each member that is not null and nulls it.
 * Included by kvntfu.h; not meant to be included on its own.
 */
#ifndef KVNTFU_RECORDS_H
#define KVNTFU_RECORDS_H

#pragma pack(push, 1)

/* The NITF file header. */
typedef struct NitfHeader {
  char* FHDR;
  int32_t CLEVEL;
  char* STYPE;
  char* OSTAID;
  char* FTITLE;
  char* FSCLAS;
  char* FSCLSY;
  char* FSCODE;
  char* FSCTLH;
  char* FSREL;
  char* FSDCTP;
  char* FSDCXM;
  char* FSDG;
  char* FSCLTX;
  char* FSCATP;
  char* FSCAUT;
  char* FSCRSN;
  char* FSCTLN;
  char* ONAME;
  char* OPHONE;
  int32_t HL;
  int32_t FL;
  int32_t FSCOP;
  int32_t FSCPYS;
  int32_t ENCRYP;
  int32_t NUMI;
  uint32_t* LISH;
  uint32_t* LI;
  int32_t NUMS;
  uint32_t* LSSH;
  uint32_t* LS;
  int32_t NUMX;
  int32_t NUMT;
  uint32_t* LTSH;
  uint32_t* LT;
  int32_t NUMDES;
  uint32_t* LDSH;
  uint32_t* LD;
  int32_t NUMRES;
  uint32_t* LRESH;
  uint32_t* LRE;
  int32_t UDHDL;
  int32_t UDHOFL;
  uint8_t* UDHD; /* UDHDL - 3 bytes of TREs, NUL after them */
  int32_t XHDL;
  int32_t XHDLOFL;
  uint8_t* XHD;     /* XHDL - 3 bytes of TREs, NUL after them */
  uint8_t FBKGC[4]; /* red, green, blue, reserved */
  char FSSRDT[8];
  char FSDGDT[8];
  char FSDCDT[8];
  char FDT[14];
  float FVER;
} NitfHeader;

#pragma pack(pop)

/* The file header of a document. Returns RET_FAILURE without a document and
 * RET_BAD_ARGUMENT without a record. */
KV_API int32_t KV_CALL Kv_NITFGetNITFHeader(NitfDocument* document, NitfHeader* record);
/* Writes the record into the document's header, for the next save. Strings longer than
 * their field and CLEVEL values other than 1 to 7 and 99 are ignored. HL, FL, the
 * segment counts and the length tables follow the document's content and are not
 * taken from the record; a changed UDHD or XHD moves HL and FL. Returns RET_FAILURE
 * without a document, RET_BAD_ARGUMENT without a record, RET_INVALID_PARAMETER (nothing
 * changed) for a null string, a number wider than its field, an FHDR and FVER no reader
 * takes for the document's layout (NITF or NSIF 02.10, NSIF 01.00; NITF 02.00 for a
 * document read from a 2.0 file), or an extension length of
 * 1 to 3 with data or one that differs from the area's without data, and RET_NO_MEMORY
 * when an area cannot be copied. */
KV_API int32_t KV_CALL Kv_NITFSetNITFHeader(NitfDocument* document, NitfHeader* record);
KV_API int32_t KV_CALL Kv_NITFFreeNITFHeader(NitfHeader* record);

#endif /* KVNTFU_RECORDS_H */
