// The writer's NITF 2.0 layouts: a document read from a 2.0 file is saved as a 2.0
// file, its header and subheaders walked through the 2.0 tables, so an unchanged
// document comes out byte for byte as it went in, with lengths measured as for 2.1.
#include <algorithm>

#include <kvntfu.h>

#include "writing/savenitf.h"

namespace nitf {

int check_image_codes(const NitfImageSubheader& record);

std::size_t KvNitfSaveFile::CountOf(LengthTables NitfFileHeaderData::*tables) const {
  const NitfDocument& d = *document_;
  if (tables == &NitfFileHeaderData::images) return d.images.size();
  if (tables == &NitfFileHeaderData::graphics) return d.graphics.size();
  if (tables == &NitfFileHeaderData::labels) return d.labels.size();
  if (tables == &NitfFileHeaderData::texts) return d.texts.size();
  if (tables == &NitfFileHeaderData::des) return d.des.size();
  return static_cast<std::size_t>(std::max(d.header.res.count, 0));
}

WrittenLengths& KvNitfSaveFile::WrittenOf(LengthTables NitfFileHeaderData::*tables) {
  if (tables == &NitfFileHeaderData::images) return images_;
  if (tables == &NitfFileHeaderData::graphics) return graphics_;
  if (tables == &NitfFileHeaderData::labels) return labels_;
  if (tables == &NitfFileHeaderData::texts) return texts_;
  if (tables == &NitfFileHeaderData::des) return des_;
  return res_;
}

// FHDR to HL (FL and HL corrected once known), the six length tables, the two areas.
int KvNitfSaveFile::WriteFileHeader20() {
  using Id = Header20Id;
  NitfFileHeaderData& h = document_->header;
  const auto table = header20_fields();
  for (auto id = Id::FHDR; id <= Id::HL; id = Id(int(id) + 1)) {
    const HeaderField& f = field(table, id);
    if (id == Id::FL || id == Id::HL) (id == Id::FL ? fl_at_ : hl_at_) = position();
    const bool later = id == Id::FL || id == Id::HL;
    if (int r = later ? WriteNumber(0, f.width) : WriteTableField(f, h); r != RET_SUCCESS) return r;
  }
  for (const LengthGroup20& g : length_groups20()) {
    const std::size_t count = CountOf(g.tables);
    if (int r = WriteNumber(static_cast<std::int64_t>(count), field(table, g.count).width);
        r != RET_SUCCESS)
      return r;
    if (int r = WriteLengthTable(h.*g.tables, static_cast<std::uint32_t>(count),
                                 field(table, g.subheader).width, field(table, g.data).width,
                                 &WrittenOf(g.tables));
        r != RET_SUCCESS)
      return r;
  }
  for (const HeaderArea& a : header_areas())
    if (int r = WriteExtension(h.*a.tres, field(header_fields(), a.overflow).text(h));
        r != RET_SUCCESS)
      return r;
  header_length_ = position();
  return Patch(hl_at_, header_length_, 6);
}

int KvNitfSaveFile::WriteImageSubheader20(std::uint32_t i) {
  using Id = Image20Id;
  NitfImageSubheader& r = *document().images[i];
  const auto table = image20_fields();
  if (int x = check_image_codes(r); x != RET_SUCCESS) return x;
  if (int x = WriteRun(table, Id::IM, Id::IGEOLO, r); x != RET_SUCCESS) return x;
  if (int x = WriteComments(i); x != RET_SUCCESS) return x;
  if (int x = WriteRun(table, Id::IC, Id::COMRAT, r); x != RET_SUCCESS) return x;
  if (int x = WriteBands(i); x != RET_SUCCESS) return x;
  if (int x = WriteRun(table, Id::ISYNC, Id::IMAG, r); x != RET_SUCCESS) return x;
  if (int x = WriteExtension(r.udid, r.udofl); x != RET_SUCCESS) return x;
  return WriteExtension(r.ixshd, r.ixsofl);
}

int KvNitfSaveFile::WriteSymbolSubheader20(std::uint32_t i) {
  NitfGraphicSubheader& r = *document().graphics[i];
  if (int x = WriteRun(symbol20_fields(), Symbol20Id::SY, Symbol20Id::NELUT, r); x != RET_SUCCESS)
    return x;
  if (int x = WriteBytes(r.dlut.data(), r.dlut.size()); x != RET_SUCCESS) return x;
  return WriteExtension(r.sxshd, r.sxsofl);
}

int KvNitfSaveFile::WriteLabelSubheader(std::uint32_t i) {
  NitfLabelSubheader& r = *document().labels[i];
  if (int x = WriteRun(label_fields(), LabelId::LA, LabelId::LLOC, r); x != RET_SUCCESS) return x;
  if (int x = WriteBytes(r.ltc, 3); x != RET_SUCCESS) return x;
  if (int x = WriteBytes(r.lbc, 3); x != RET_SUCCESS) return x;
  return WriteExtension(r.lxshd, r.lxsofl);
}

int KvNitfSaveFile::WriteLabelData(std::uint32_t i) {
  const NitfDocument& d = document();
  return CopySource(segment_data_offset(d, SegmentKind::kLabel, i), d.header.labels.data(i));
}

}  // namespace nitf
