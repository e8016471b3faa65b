// The document, its parse driver and segment positioning.
#include "core/nitffile.h"

#include <cstdio>

#include <kvntfu.h>

#include "kernel.h"

NitfDocument::~NitfDocument() {
  nitf::release_document_objects(this);
}

namespace nitf {
namespace {

// Subheader plus data lengths of segments [0, n) of one kind.
std::uint64_t span_of(const LengthTables& t, std::uint32_t n) {
  std::uint64_t sum = 0;
  std::uint32_t limit = t.count < 0 ? 0 : static_cast<std::uint32_t>(t.count);
  for (std::uint32_t i = 0; i < n && i < limit; ++i) sum += t.subheader(i) + t.data(i);
  return sum;
}

template <class Record>
int build_list(SegmentList<Record>* list, NitfDocument* document, std::uint32_t count) {
  list->clear();
  list->reserve(count);
  for (std::uint32_t i = 0; i < count; ++i) {
    auto record = kernel::make_tracked<Record>(document, i);
    if (!record) return RET_NO_MEMORY;
    list->push_back(std::move(record));
  }
  return RET_SUCCESS;
}

template <class Record, class Reader>
int read_list(NitfDocument* document, SegmentList<Record>& list, SegmentKind kind,
              StreamingFileHeader* sfh, Reader read) {
  for (std::uint32_t i = 0; i < list.size(); ++i) {
    if (position_at_segment(document, kind, i) < 0) return RET_FILE_READ;
    int r = read(list[i].get(), document, sfh, ReadMode::kNormal);
    if (r < 1) {
      char line[96];
      std::snprintf(line, sizeof line, "segment %u of kind %d ends the parse with %d\n", i,
                    static_cast<int>(kind), r);
      kernel::debug_output(line);
      return r;
    }
  }
  return RET_SUCCESS;
}

}  // namespace

int release_document_objects(NitfDocument* d) {
  kernel::debug_output("\nFreeObjects\n");
  if (d->file != -1) {
    kernel::close_file(d->file);
    d->file = -1;
  }
  d->images.clear();
  d->graphics.clear();
  d->texts.clear();
  d->des.clear();
  d->labels.clear();
  d->res.clear();
  d->header.labels.reset();
  d->header.images.reset();
  d->header.graphics.reset();
  d->header.texts.reset();
  d->header.des.reset();
  d->header.res.reset();
  d->header.udhd.clear();
  d->header.xhd.clear();
  return RET_SUCCESS;
}

int allocate_segment_objects(NitfDocument* d) {
  kernel::debug_output("\nAllocateObjects\n");
  if (int r = build_list(&d->images, d, d->image_count); r != RET_SUCCESS) return r;
  if (int r = build_list(&d->graphics, d, d->graphic_count); r != RET_SUCCESS) return r;
  if (int r = build_list(&d->texts, d, d->text_count); r != RET_SUCCESS) return r;
  if (int r = build_list(&d->labels, d, d->label_count); r != RET_SUCCESS) return r;
  if (int r = build_list(&d->res, d, d->res_count); r != RET_SUCCESS) return r;
  return build_list(&d->des, d, d->des_count);
}

int parse_file(NitfDocument* d, const wchar_t* name) {
  StreamingFileHeader sfh;
  // An unusable handle is not an error here: the first header read fails instead.
  d->file = kernel::open_file(name, kernel::kModeRead, kernel::kPermRead);
  d->file_size = kernel::file_size(d->file);
  HeaderSource source{d->file, d->file_size, &d->streaming, &sfh, d->extended != 0};
  if (int r = read_file_header(&d->header, source, ReadMode::kNormal); r < 1) return r;

  const NitfFileHeaderData& h = d->header;
  d->header_present = h.valid;
  d->image_count = d->source_image_count = static_cast<std::uint32_t>(h.images.count);
  d->graphic_count = d->source_graphic_count = static_cast<std::uint32_t>(h.graphics.count);
  d->text_count = d->source_text_count = static_cast<std::uint32_t>(h.texts.count);
  d->label_count = static_cast<std::uint32_t>(h.labels.count);
  d->des_count = static_cast<std::uint32_t>(h.des.count);
  d->res_count = static_cast<std::uint32_t>(h.res.count);
  d->background = h.background;

  if (int r = allocate_segment_objects(d); r < 1) return r;
  if (int r = read_list(d, d->images, SegmentKind::kImage, &sfh, read_imsubhdr); r < 1) return r;
  if (int r = read_list(d, d->graphics, SegmentKind::kGraphic, &sfh, read_grsubhdr); r < 1)
    return r;
  auto read_label = [](NitfLabelSubheader* r, NitfDocument* doc, StreamingFileHeader*,
                       ReadMode mode) { return read_lasubhdr(r, doc, mode); };
  if (int r = read_list(d, d->labels, SegmentKind::kLabel, &sfh, read_label); r < 1) return r;
  if (int r = read_list(d, d->texts, SegmentKind::kText, &sfh, read_txsubhdr); r < 1) return r;
  if (int r = read_list(d, d->des, SegmentKind::kDataExtension, &sfh, read_dexsbhdr); r < 1)
    return r;
  // A reserved extension that does not read keeps the fields read before the fault: the
  // writer copies these segments as they are, so they never stop a file from opening.
  for (auto& record : d->res) {
    if (int r = read_resubhdr(record.get(), d); r != RET_SUCCESS) {
      char line[80];
      std::snprintf(line, sizeof line, "reserved extension %u not read: %d\n", record->index, r);
      kernel::debug_output(line);
    }
  }
  return RET_SUCCESS;
}

const LengthTables* tables_of(const NitfFileHeaderData& h, SegmentKind kind) {
  switch (kind) {
    case SegmentKind::kImage:
      return &h.images;
    case SegmentKind::kGraphic:
      return &h.graphics;
    case SegmentKind::kLabel:
      return h.nitf20 ? &h.labels : nullptr;  // only NITF 2.0 has labels
    case SegmentKind::kText:
      return &h.texts;
    case SegmentKind::kDataExtension:
      return &h.des;
  }
  return nullptr;
}

std::int64_t segment_offset(const NitfDocument& d, SegmentKind kind, std::uint32_t index) {
  const NitfFileHeaderData& h = d.header;
  const LengthTables* own = tables_of(h, kind);
  if (!own) return -1;
  // Kinds before this one count over the segments of the source file only.
  std::uint64_t at = static_cast<std::uint64_t>(h.hl_source);
  if (kind != SegmentKind::kImage && d.image_count != 0)
    at += span_of(h.images, d.source_image_count);
  const bool after_graphics = kind == SegmentKind::kLabel || kind == SegmentKind::kText ||
                              kind == SegmentKind::kDataExtension;
  if (after_graphics && d.graphic_count != 0) at += span_of(h.graphics, d.source_graphic_count);
  // Labels lie between symbols and texts; only NITF 2.0 files have any.
  if ((kind == SegmentKind::kText || kind == SegmentKind::kDataExtension) && d.label_count != 0)
    at += span_of(h.labels, d.label_count);
  if (kind == SegmentKind::kDataExtension && d.text_count != 0)
    at += span_of(h.texts, d.source_text_count);
  at += span_of(*own, index);
  return static_cast<std::int64_t>(at);
}

std::int64_t segment_data_offset(const NitfDocument& d, SegmentKind kind, std::uint32_t index) {
  std::int64_t at = segment_offset(d, kind, index);
  if (at < 0) return at;
  const LengthTables* own = tables_of(d.header, kind);
  std::uint32_t limit = own->count < 0 ? 0 : static_cast<std::uint32_t>(own->count);
  return at + static_cast<std::int64_t>(index < limit ? own->subheader(index) : 0);
}

std::int64_t position_at_segment(NitfDocument* d, SegmentKind kind, std::uint32_t index) {
  std::int64_t at = segment_offset(*d, kind, index);
  return at < 0 ? at : kernel::seek_file(d->file, at, kernel::kSeekSet);
}

}  // namespace nitf
