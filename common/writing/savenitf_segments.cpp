// The writer's graphic, text and data extension segments: subheaders regenerated from
// the records through their field tables, extension areas written back as held, and
// the data taken from memory (appended segments) or copied from the source.
#include <cstring>
#include <string_view>

#include <kvntfu.h>

#include "writing/savenitf.h"

namespace nitf {
namespace {

// A number the record keeps converted, by field name; null for a plain text field.
struct Converted {
  const char* name;
  std::int64_t value;
};

template <class Fields, class Record>
int write_fields(KvNitfSaveFile& w, const Fields& fields, Record& r,
                 std::initializer_list<Converted> numbers) {
  for (const auto& f : fields) {
    int x = RET_SUCCESS;
    const Converted* number = nullptr;
    for (const Converted& c : numbers) {
      if (std::strcmp(c.name, f.name) == 0) number = &c;
    }
    if (number) {
      x = w.WriteNumber(number->value, f.width);
    } else if (std::strcmp(f.name, "SCOLOR") == 0) {
      // The NITF 2.1 profile knows colour CGM only.
      x = w.WriteField("C", 1, " ");
    } else {
      x = w.WriteField(f.text(r), f.width, f.numeric ? "0" : " ");
    }
    if (x != RET_SUCCESS) return x;
  }
  return RET_SUCCESS;
}

}  // namespace

int KvNitfSaveFile::WriteGraphicSubheader(std::uint32_t i) {
  NitfGraphicSubheader& r = *document().graphics[i];
  if (int x = write_fields(*this, graphic_fields(), r, {{"SDLVL", r.sdlvl}, {"SALVL", r.salvl}});
      x != RET_SUCCESS)
    return x;
  return WriteExtension(r.sxshd, r.sxsofl);
}

int KvNitfSaveFile::WriteGraphicData(std::uint32_t i) {
  const NitfDocument& d = document();
  const NitfGraphicSubheader& r = *d.graphics[i];
  if (r.has_cgm && !r.cgm.empty()) return WriteBytes(r.cgm.data(), r.cgm.size());
  if (i >= d.source_graphic_count) return RET_SUCCESS;
  return CopySource(segment_data_offset(d, SegmentKind::kGraphic, i), d.header.graphics.data(i));
}

int KvNitfSaveFile::WriteTextSubheader(std::uint32_t i) {
  NitfTextSubheader& r = *document().texts[i];
  if (int x = write_fields(*this, text_fields(), r, {{"TXTALVL", r.txtalvl}}); x != RET_SUCCESS)
    return x;
  return WriteExtension(r.txshd, r.txsofl);
}

// Appended text up to its NUL; text of the source as many bytes as LT says, none for 0.
int KvNitfSaveFile::WriteTextData(std::uint32_t i) {
  const NitfDocument& d = document();
  const NitfTextSubheader& r = *d.texts[i];
  if (r.has_memory_text) {
    const kernel::Buffer<char>& text = r.memory_text;
    return WriteBytes(text.data(), text.empty() ? 0 : strnlen(text.data(), text.size()));
  }
  if (i >= d.source_text_count) return RET_SUCCESS;
  return CopySource(segment_data_offset(d, SegmentKind::kText, i), d.header.texts.data(i));
}

// DESOFLW and DESITEM exactly where the reader reads them; DESSHL is the length of the
// user-defined fields the record holds.
int KvNitfSaveFile::WriteDesSubheader(std::uint32_t i) {
  NitfDesSubheader& r = *document().des[i];
  if (int x = write_fields(*this, des_fields(), r, {}); x != RET_SUCCESS) return x;
  if (des_has_overflow_fields(r)) {
    if (int x = WriteField(r.desoflw, 6, " "); x != RET_SUCCESS) return x;
    if (int x = WriteField(r.desitem, 3, "0"); x != RET_SUCCESS) return x;
  }
  std::size_t n = r.desshf.empty() ? 0 : r.desshf.size() - 1;
  if (int x = WriteNumber(static_cast<std::int64_t>(n), 4); x != RET_SUCCESS) return x;
  return WriteBytes(r.desshf.data(), n);
}

int KvNitfSaveFile::WriteDesData(std::uint32_t i) {
  const NitfDocument& d = document();
  if (d.header.des.count < 0 || i >= static_cast<std::uint32_t>(d.header.des.count))
    return RET_SUCCESS;
  return CopySource(segment_data_offset(d, SegmentKind::kDataExtension, i), d.header.des.data(i));
}

}  // namespace nitf
