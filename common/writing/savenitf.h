// The writer: a document saved as a complete NITF 2.1 file (a NITF 2.0 one for a
// document read from a 2.0 file).
//
// KvNitfSaveFile writes the file header, then every segment (images, graphics, texts,
// data extensions, reserved extensions) as a subheader regenerated from its record and
// the data copied from the document's source file in bounded chunks, or from the
// record when the segment was built in memory. Every subheader and data span is
// measured as it is written and its length entry corrected in place, in one forward
// pass, so the lengths of a saved file are true whatever the records held.
// save_document wraps the writer in a temporary file that replaces the target only
// when everything was written; Kv_NITFSaveFile is its export.
#pragma once

#include <kvntfu.h>

#include <cstddef>
#include <cstdint>
#include <span>

#include "core/nitffile.h"
#include "fields/field_table.h"
#include "kernel.h"

namespace nitf {

// Where one kind's length table lies in the output, and what was measured.
struct WrittenLengths {
  std::int64_t first_entry = -1;  // offset of the first subheader length field
  std::uint8_t subheader_width = 0, data_width = 0;
  kernel::Buffer<std::uint64_t> subheader, data;
};

// The mask table a masked image's data begin with, as the record holds it (what a save
// writes in place of the data's own). RET_NO_MEMORY, or RET_FILE_FORMAT when the record
// lacks the pad code its length asks for.
int held_mask_table(const ImageMaskTable& mask, kernel::Buffer<std::uint8_t>* out);

class KvNitfSaveFile {
 public:
  // Copy chunk and output staging size: a save needs this much memory whatever the
  // segments' lengths.
  static constexpr std::size_t kChunkBytes = 4u << 20;

  KvNitfSaveFile(NitfDocument* document, int output);
  KvNitfSaveFile(const KvNitfSaveFile&) = delete;
  KvNitfSaveFile& operator=(const KvNitfSaveFile&) = delete;

  int WriteFileHeader();
  int WriteSegments();
  // Puts the staged bytes out, writes the true FL and flushes the file.
  int Finish();
  // Gives the document's current length tables, FL and HL the values written.
  void Commit() const;
  std::int64_t position() const { return flushed_ + static_cast<std::int64_t>(used_); }

  // One fixed field: pad " " left-justifies and fills with spaces, any other pad
  // right-justifies and fills with its first character. Longer text is cut.
  int WriteField(const char* text, std::size_t width, const char* pad);
  // A number zero-filled to the width; RET_INVALID_PARAMETER when it does not fit.
  int WriteNumber(std::int64_t value, std::size_t width);
  int WriteBytes(const void* bytes, std::size_t n);
  // An extension area: its 5-digit length (area + 3, or 0), overflow field and bytes.
  int WriteExtension(const TreArea& area, const char* overflow);
  // One field of a table, when the record's file has it: its encoded or stored text.
  template <class R>
  int WriteTableField(const Field<R>& f, const R& r) {
    if (!f.in_file(r)) return RET_SUCCESS;
    char scratch[32];
    const char* text = f.encode ? f.encode(r, scratch, f.width) : f.text(const_cast<R&>(r));
    return text ? WriteField(text, f.width, f.digits() ? "0" : " ") : RET_INVALID_PARAMETER;
  }
  // The fields from `first` to `last`, both included.
  template <class R, class Id>
  int WriteRun(std::span<const Field<R>> table, Id first, Id last, const R& r) {
    for (auto i = static_cast<std::size_t>(first); i <= static_cast<std::size_t>(last); ++i)
      if (int x = WriteTableField(table[i], r); x != RET_SUCCESS) return x;
    return RET_SUCCESS;
  }
  // Copies `length` source bytes from `offset`, a chunk at a time; RET_FILE_READ when
  // the source does not hold them (checked before anything is read).
  int CopySource(std::int64_t offset, std::uint64_t length);

  // savenitf_image.cpp
  int WriteImageSubheader(std::uint32_t index);
  // From memory for an image built there, else CopyImageData or WriteVqImageData.
  int WriteImageData(std::uint32_t index);
  int CopyImageData(std::uint32_t index);
  int WriteVqImageData(std::uint32_t index);
  // The source data of image `index`, a masked image's table as its record holds it.
  int CopyMaskedData(std::uint32_t index, std::int64_t start, std::uint64_t length);
  // savenitf_segments.cpp
  int WriteGraphicSubheader(std::uint32_t index);
  int WriteGraphicData(std::uint32_t index);
  int WriteTextSubheader(std::uint32_t index);
  int WriteTextData(std::uint32_t index);
  int WriteDesSubheader(std::uint32_t index);
  int WriteDesData(std::uint32_t index);
  int WriteReservedSegment(std::uint32_t index);
  // savenitf20.cpp: the NITF 2.0 layouts of a document read from a 2.0 file.
  int WriteFileHeader20();
  int WriteImageSubheader20(std::uint32_t index);
  int WriteSymbolSubheader20(std::uint32_t index);
  int WriteLabelSubheader(std::uint32_t index);
  int WriteLabelData(std::uint32_t index);

  NitfDocument& document() const { return *document_; }

 private:
  int Flush();
  int WriteLeadingFields();
  std::size_t GroupCount(HeaderId count) const;
  WrittenLengths& Written(HeaderId count);
  std::size_t CountOf(LengthTables NitfFileHeaderData::*tables) const;
  WrittenLengths& WrittenOf(LengthTables NitfFileHeaderData::*tables);
  int WriteComments(std::uint32_t index);
  int WriteBands(std::uint32_t index);
  int WriteLuts(const NitfImageSubheader& record, const ImageBand& band);
  int Patch(std::int64_t offset, std::int64_t value, std::size_t width);
  int WriteLengthTable(const LengthTables& table, std::uint32_t count, std::uint8_t subheader_width,
                       std::uint8_t data_width, WrittenLengths* out);
  using Step = int (KvNitfSaveFile::*)(std::uint32_t);
  int WriteSegment(WrittenLengths& lengths, std::uint32_t index, Step subheader, Step data);
  int Correct(WrittenLengths& lengths, std::uint32_t index, std::uint64_t subheader,
              std::uint64_t data);

  NitfDocument* document_;
  int output_;
  kernel::Buffer<std::uint8_t> stage_;  // bytes not yet written, kChunkBytes
  std::size_t used_ = 0;
  std::int64_t flushed_ = 0;  // bytes already in the file
  std::int64_t fl_at_ = -1, hl_at_ = -1;
  std::int64_t header_length_ = 0;
  WrittenLengths images_, graphics_, labels_, texts_, des_, res_;
};

// Saves the document under `name`: written into a new file in its folder (unnamed where
// the file system allows), synced, and put in the target's place only when every write
// succeeded, then the folder synced; on failure nothing new is left and the target and
// the document are as they were (but when only the folder's sync failed: the target is
// then the new file and the result RET_FILE_WRITE). Saving onto the
// document's own source works: the document keeps reading its open (old) file.
// Results: RET_SUCCESS, RET_FILE_WRITE (also when no file can be created there),
// RET_FILE_READ, RET_FILE_FORMAT, RET_NOT_SUPPORTED, RET_INVALID_PARAMETER (a length
// wider than its field), RET_NO_MEMORY, RET_UNSUPPORTED_PVTYPE.
int save_document(NitfDocument* document, const wchar_t* name);

}  // namespace nitf
