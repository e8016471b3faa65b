// The writer's graphic, text and data extension segments: subheaders regenerated from
// the records through their field tables, extension areas written back as held, and
// the data taken from memory (appended segments) or copied from the source.
#include <cstring>

#include <kvntfu.h>

#include "writing/savenitf.h"

namespace nitf {

int KvNitfSaveFile::WriteGraphicSubheader(std::uint32_t i) {
  if (document().header.nitf20) return WriteSymbolSubheader20(i);
  NitfGraphicSubheader& r = *document().graphics[i];
  if (int x = WriteRun(graphic_fields(), GraphicId::SY, GraphicId::SRES2, r); x != RET_SUCCESS)
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
  const auto table = text_fields(r);
  // TXTFMT is the last entry before the extension area in both layouts.
  const auto last = static_cast<std::size_t>(find_field(table, "TXTFMT")->id);
  if (int x = WriteRun(table, std::size_t{0}, last, r); x != RET_SUCCESS) return x;
  return WriteExtension(r.txshd, r.txsofl);
}

// Appended text with every byte of its file; text of the source as many bytes as LT
// says, none for 0.
int KvNitfSaveFile::WriteTextData(std::uint32_t i) {
  const NitfDocument& d = document();
  const NitfTextSubheader& r = *d.texts[i];
  if (r.has_memory_text) {
    const kernel::Buffer<char>& text = r.memory_text;
    return WriteBytes(text.data(), text.empty() ? 0 : text.size() - 1);
  }
  if (i >= d.source_text_count) return RET_SUCCESS;
  return CopySource(segment_data_offset(d, SegmentKind::kText, i), d.header.texts.data(i));
}

int KvNitfSaveFile::WriteDesSubheader(std::uint32_t i) {
  NitfDesSubheader& r = *document().des[i];
  const auto table = des_fields(r);
  // DESITEM is the last entry before DESSHL in both layouts.
  const auto last = static_cast<std::size_t>(find_field(table, "DESITEM")->id);
  if (int x = WriteRun(table, std::size_t{0}, last, r); x != RET_SUCCESS) return x;
  std::size_t n = r.desshf.empty() ? 0 : r.desshf.size() - 1;
  if (int x = WriteNumber(static_cast<std::int64_t>(n), field(table, last + 1).width);
      x != RET_SUCCESS)
    return x;
  return WriteBytes(r.desshf.data(), n);
}

int KvNitfSaveFile::WriteDesData(std::uint32_t i) {
  const NitfDocument& d = document();
  if (d.header.des.count < 0 || i >= static_cast<std::uint32_t>(d.header.des.count))
    return RET_SUCCESS;
  return CopySource(segment_data_offset(d, SegmentKind::kDataExtension, i), d.header.des.data(i));
}

}  // namespace nitf
