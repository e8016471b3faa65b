// The writer's file structure: staging, fields, source copies, the file header with
// its length tables, the segment walk with its length corrections, and the safe
// replacement of the target. The subheader writers live in savenitf_image.cpp and
// savenitf_segments.cpp.
//
// Output goes through one staging buffer of kChunkBytes; a length entry still in the
// buffer is corrected there, one already in the file by a seek back and a seek to the
// end again. Nothing is ever sized by a length from the document.
#include "writing/savenitf.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>

#include <kvntfu.h>

#include "fields/utility.h"

namespace nitf {
namespace {

void report(const char* what, std::int64_t at, std::uint64_t needed, std::int64_t present) {
  char line[160];
  std::snprintf(line, sizeof line,
                "save: %s at offset %" PRId64 " needs %" PRIu64 " bytes, the source holds %" PRId64
                "\n",
                what, at, needed, present);
  kernel::debug_output(line);
}

}  // namespace

KvNitfSaveFile::KvNitfSaveFile(NitfDocument* document, int output)
    : document_(document), output_(output) {}

int KvNitfSaveFile::Flush() {
  if (used_ == 0) return RET_SUCCESS;
  if (kernel::write_file(output_, stage_.data(), used_) != used_) return RET_FILE_WRITE;
  flushed_ += static_cast<std::int64_t>(used_);
  used_ = 0;
  return RET_SUCCESS;
}

int KvNitfSaveFile::WriteBytes(const void* bytes, std::size_t n) {
  if (stage_.empty() && !stage_.allocate(kChunkBytes)) return RET_NO_MEMORY;
  const auto* in = static_cast<const std::uint8_t*>(bytes);
  while (n > 0) {
    if (used_ == kChunkBytes) {
      if (int r = Flush(); r != RET_SUCCESS) return r;
    }
    std::size_t part = std::min(n, kChunkBytes - used_);
    std::memcpy(stage_.data() + used_, in, part);
    used_ += part;
    in += part;
    n -= part;
  }
  return RET_SUCCESS;
}

int KvNitfSaveFile::WriteField(const char* text, std::size_t width, const char* pad) {
  char field[256];
  if (!text || !pad || width >= sizeof field) return RET_INVALID_PARAMETER;
  std::size_t n = strnlen(text, width);
  char fill = pad[0] ? pad[0] : ' ';
  bool left = std::strcmp(pad, " ") == 0;
  std::memset(field, fill, width);
  std::memcpy(left ? field : field + (width - n), text, n);
  return WriteBytes(field, width);
}

int KvNitfSaveFile::WriteNumber(std::int64_t value, std::size_t width) {
  char field[24];
  if (width >= sizeof field) return RET_INVALID_PARAMETER;
  if (int r = FormatNumberField(field, static_cast<int>(width), value); r != RET_SUCCESS) {
    char line[96];
    std::snprintf(line, sizeof line, "save: %" PRId64 " does not fit %zu digits\n", value, width);
    kernel::debug_output(line);
    return r;
  }
  return WriteBytes(field, width);
}

int KvNitfSaveFile::WriteExtension(const TreArea& area, const char* overflow) {
  if (!area.present()) return WriteNumber(0, 5);
  if (int r = WriteNumber(static_cast<std::int64_t>(area.size()) + 3, 5); r != RET_SUCCESS)
    return r;
  if (int r = WriteField(overflow, 3, "0"); r != RET_SUCCESS) return r;
  return WriteBytes(area.data(), area.size());
}

int KvNitfSaveFile::CopySource(std::int64_t offset, std::uint64_t length) {
  if (length == 0) return RET_SUCCESS;
  if (stage_.empty() && !stage_.allocate(kChunkBytes)) return RET_NO_MEMORY;
  NitfDocument& d = *document_;
  // The file as it is now, not as it was when opened: it may have been cut since.
  std::int64_t size = kernel::file_size(d.file);
  if (offset < 0 || size < offset || length > static_cast<std::uint64_t>(size - offset)) {
    report("segment data", offset, length, size);
    return RET_FILE_READ;
  }
  if (kernel::seek_file(d.file, offset, kernel::kSeekSet) != offset) return RET_FILE_READ;
  while (length > 0) {
    if (used_ == kChunkBytes) {
      if (int r = Flush(); r != RET_SUCCESS) return r;
    }
    std::size_t part =
        static_cast<std::size_t>(std::min<std::uint64_t>(length, kChunkBytes - used_));
    if (kernel::read_file(d.file, stage_.data() + used_, part) != part) {
      report("segment data (short read)", offset, length, kernel::file_size(d.file));
      return RET_FILE_READ;
    }
    used_ += part;
    length -= part;
  }
  return RET_SUCCESS;
}

int KvNitfSaveFile::Patch(std::int64_t offset, std::int64_t value, std::size_t width) {
  char field[24];
  if (width >= sizeof field) return RET_INVALID_PARAMETER;
  if (int r = FormatNumberField(field, static_cast<int>(width), value); r != RET_SUCCESS) {
    char line[96];
    std::snprintf(line, sizeof line, "save: length %" PRId64 " does not fit %zu digits\n", value,
                  width);
    kernel::debug_output(line);
    return r;
  }
  if (offset >= flushed_) {
    std::memcpy(stage_.data() + (offset - flushed_), field, width);
    return RET_SUCCESS;
  }
  if (int r = Flush(); r != RET_SUCCESS) return r;
  if (kernel::seek_file(output_, offset, kernel::kSeekSet) != offset) return RET_FILE_WRITE;
  if (kernel::write_file(output_, field, width) != width) return RET_FILE_WRITE;
  return kernel::seek_file(output_, flushed_, kernel::kSeekSet) == flushed_ ? RET_SUCCESS
                                                                            : RET_FILE_WRITE;
}

// The entries hold the document's current lengths until the segments are measured; a
// value too wide for its field is written as 0, since it is corrected anyway.
int KvNitfSaveFile::WriteLengthTable(const LengthTables& t, std::uint32_t count,
                                     std::uint8_t subheader_width, std::uint8_t data_width,
                                     WrittenLengths* out) {
  out->first_entry = position();
  out->subheader_width = subheader_width;
  out->data_width = data_width;
  if (!out->subheader.allocate(count) || !out->data.allocate(count)) return RET_NO_MEMORY;
  auto fits = [](std::uint64_t v, int digits) {
    std::uint64_t limit = 1;
    for (int k = 0; k < digits; ++k) limit *= 10;
    return v < limit ? v : 0;
  };
  for (std::uint32_t i = 0; i < count; ++i) {
    out->subheader[i] = fits(t.subheader_current.at_or(i, 0), subheader_width);
    out->data[i] = fits(t.data_current.at_or(i, 0), data_width);
    if (int r = WriteNumber(static_cast<std::int64_t>(out->subheader[i]), subheader_width);
        r != RET_SUCCESS)
      return r;
    if (int r = WriteNumber(static_cast<std::int64_t>(out->data[i]), data_width); r != RET_SUCCESS)
      return r;
  }
  return RET_SUCCESS;
}

// FHDR to HL; FL and HL are left to be corrected once known.
int KvNitfSaveFile::WriteLeadingFields() {
  NitfFileHeaderData& h = document_->header;
  const auto table = header_fields();
  for (auto id = HeaderId::FHDR; id <= HeaderId::HL; id = HeaderId(int(id) + 1)) {
    const HeaderField& f = field(table, id);
    int r;
    if (id == HeaderId::FBKGC) {
      // Binary, lowest byte of the stored colour first.
      const std::uint8_t colour[3] = {static_cast<std::uint8_t>(h.background),
                                      static_cast<std::uint8_t>(h.background >> 8),
                                      static_cast<std::uint8_t>(h.background >> 16)};
      r = WriteBytes(colour, 3);
    } else if (id == HeaderId::FL || id == HeaderId::HL) {
      (id == HeaderId::FL ? fl_at_ : hl_at_) = position();
      r = WriteNumber(0, f.width);
    } else {
      r = WriteTableField(f, h);
    }
    if (r != RET_SUCCESS) return r;
  }
  return RET_SUCCESS;
}

// The record count of the segment kind a length group describes, and where its
// written entries are remembered.
std::size_t KvNitfSaveFile::GroupCount(HeaderId count) const {
  const NitfDocument& d = *document_;
  switch (count) {
    case HeaderId::NUMI:
      return d.images.size();
    case HeaderId::NUMS:
      return d.graphics.size();
    case HeaderId::NUMT:
      return d.texts.size();
    case HeaderId::NUMDES:
      return d.des.size();
    default:
      return static_cast<std::size_t>(std::max(d.header.res.count, 0));
  }
}

WrittenLengths& KvNitfSaveFile::Written(HeaderId count) {
  switch (count) {
    case HeaderId::NUMI:
      return images_;
    case HeaderId::NUMS:
      return graphics_;
    case HeaderId::NUMT:
      return texts_;
    case HeaderId::NUMDES:
      return des_;
    default:
      return res_;
  }
}

int KvNitfSaveFile::WriteFileHeader() {
  if (document_->header.nitf20) return WriteFileHeader20();
  if (int r = WriteLeadingFields(); r != RET_SUCCESS) return r;
  NitfFileHeaderData& h = document_->header;
  const auto table = header_fields();
  for (const LengthGroup& g : length_groups()) {
    const std::size_t count = GroupCount(g.count);
    if (int r = WriteNumber(static_cast<std::int64_t>(count), field(table, g.count).width);
        r != RET_SUCCESS)
      return r;
    if (int r = WriteLengthTable(h.*g.tables, static_cast<std::uint32_t>(count),
                                 field(table, g.subheader).width, field(table, g.data).width,
                                 &Written(g.count));
        r != RET_SUCCESS)
      return r;
    // NUMX (always 000 in a file the reader accepts) sits between graphics and texts.
    if (g.count == HeaderId::NUMS) {
      if (int r = WriteTableField(field(table, HeaderId::NUMX), h); r != RET_SUCCESS) return r;
    }
  }
  for (const HeaderArea& a : header_areas())
    if (int r = WriteExtension(h.*a.tres, field(table, a.overflow).text(h)); r != RET_SUCCESS)
      return r;
  header_length_ = position();
  return Patch(hl_at_, header_length_, 6);
}

int KvNitfSaveFile::Correct(WrittenLengths& w, std::uint32_t i, std::uint64_t subheader,
                            std::uint64_t data) {
  std::int64_t at =
      w.first_entry + static_cast<std::int64_t>(i) * (w.subheader_width + w.data_width);
  if (w.subheader[i] != subheader) {
    if (int r = Patch(at, static_cast<std::int64_t>(subheader), w.subheader_width);
        r != RET_SUCCESS)
      return r;
    w.subheader[i] = subheader;
  }
  if (w.data[i] != data) {
    if (int r = Patch(at + w.subheader_width, static_cast<std::int64_t>(data), w.data_width);
        r != RET_SUCCESS)
      return r;
    w.data[i] = data;
  }
  return RET_SUCCESS;
}

int KvNitfSaveFile::WriteSegment(WrittenLengths& w, std::uint32_t i, Step subheader, Step data) {
  std::int64_t start = position();
  if (int r = (this->*subheader)(i); r != RET_SUCCESS) return r;
  std::int64_t middle = position();
  if (int r = (this->*data)(i); r != RET_SUCCESS) return r;
  return Correct(w, i, static_cast<std::uint64_t>(middle - start),
                 static_cast<std::uint64_t>(position() - middle));
}

int KvNitfSaveFile::WriteSegments() {
  struct Kind {
    WrittenLengths& lengths;
    std::size_t count;
    Step subheader, data;
  };
  const NitfDocument& d = *document_;
  const Kind kinds[] = {
      {images_, d.images.size(), &KvNitfSaveFile::WriteImageSubheader,
       &KvNitfSaveFile::WriteImageData},
      {graphics_, d.graphics.size(), &KvNitfSaveFile::WriteGraphicSubheader,
       &KvNitfSaveFile::WriteGraphicData},
      {labels_, d.labels.size(), &KvNitfSaveFile::WriteLabelSubheader,
       &KvNitfSaveFile::WriteLabelData},
      {texts_, d.texts.size(), &KvNitfSaveFile::WriteTextSubheader, &KvNitfSaveFile::WriteTextData},
      {des_, d.des.size(), &KvNitfSaveFile::WriteDesSubheader, &KvNitfSaveFile::WriteDesData},
  };
  for (const Kind& k : kinds) {
    for (std::uint32_t i = 0; i < k.count; ++i) {
      if (int r = WriteSegment(k.lengths, i, k.subheader, k.data); r != RET_SUCCESS) return r;
    }
  }
  for (std::uint32_t i = 0; i < res_.subheader.size(); ++i) {
    if (int r = WriteReservedSegment(i); r != RET_SUCCESS) return r;
  }
  return RET_SUCCESS;
}

// Reserved extension segments have no record: subheader and data are copied as they
// are, measured like every other segment.
int KvNitfSaveFile::WriteReservedSegment(std::uint32_t i) {
  const NitfDocument& d = *document_;
  const LengthTables& t = d.header.res;
  std::int64_t at = segment_offset(d, SegmentKind::kDataExtension, d.des_count);
  for (std::uint32_t j = 0; j < i; ++j) at += static_cast<std::int64_t>(t.subheader(j) + t.data(j));
  std::uint64_t subheader = t.subheader(i), data = t.data(i);
  std::int64_t start = position();
  if (int r = CopySource(at, subheader + data); r != RET_SUCCESS) return r;
  std::uint64_t written = static_cast<std::uint64_t>(position() - start);
  return Correct(res_, i, subheader, written - subheader);
}

int KvNitfSaveFile::Finish() {
  if (int r = Flush(); r != RET_SUCCESS) return r;
  if (int r = Patch(fl_at_, flushed_, 12); r != RET_SUCCESS) return r;
  return kernel::flush_file(output_) ? RET_SUCCESS : RET_FILE_WRITE;
}

void KvNitfSaveFile::Commit() const {
  NitfFileHeaderData& h = document_->header;
  const std::pair<LengthTables*, const WrittenLengths*> kinds[] = {
      {&h.images, &images_}, {&h.graphics, &graphics_}, {&h.labels, &labels_},
      {&h.texts, &texts_},   {&h.des, &des_},           {&h.res, &res_}};
  for (const auto& [table, written] : kinds) {
    for (std::size_t i = 0; i < written->subheader.size(); ++i) {
      if (i < table->subheader_current.size()) table->subheader_current[i] = written->subheader[i];
      if (i < table->data_current.size()) table->data_current[i] = written->data[i];
    }
  }
  h.fl_current = flushed_;
  h.hl_current = header_length_;
}

int save_document(NitfDocument* document, const wchar_t* name) {
  if (!document) return RET_INVALID_DOCUMENT;
  std::string target;
  if (!name || !kernel::utf8_from_wide(name, &target) || target.empty()) return RET_FILE_WRITE;
  target = kernel::final_name(target.c_str());
  kernel::NewFile output;
  if (!kernel::create_file_beside(target.c_str(), &output)) {
    kernel::debug_output("save: no new file can be made beside the target\n");
    return RET_FILE_WRITE;
  }
  KvNitfSaveFile writer(document, output.handle);
  int r = writer.WriteFileHeader();
  if (r == RET_SUCCESS) r = writer.WriteSegments();
  if (r == RET_SUCCESS) r = writer.Finish();
  bool replaced = false;
  if (r == RET_SUCCESS && !kernel::replace_file(&output, target.c_str(), &replaced)) {
    kernel::debug_output(replaced ? "save: the folder of the new file could not be synced\n"
                                  : "save: the new file could not take the target's name\n");
    r = RET_FILE_WRITE;
  }
  kernel::discard_file(&output);
  if (!replaced) return r;
  // The file in place holds what was measured, even when its folder's sync failed.
  writer.Commit();
  return r;
}

}  // namespace nitf
