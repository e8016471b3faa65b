// Raw samples: a window of one image's stored samples, at a reduction, for chosen bands,
// into the caller's buffer (Kv_NITFReadSamples, Kv_NITFGetImageInfo).
//
// Only the blocks that meet the window are read: uncompressed data through the block walk
// of imgmodes_blocks, JPEG blocks through the JPEG family reader's block target, JPEG 2000
// through the codec's own window and resolution levels. Everything but JPEG 2000 is
// reduced by one rule, the nearest sample: output (r, c) is the stored sample at
// (first_row + r x reduction, first_column + c x reduction), the top-left one of its cell.
#pragma once

#include <cstddef>
#include <cstdint>

#include <kvntfu.h>

#include "image/imsubhdr.h"

namespace nitf {

// The raw form of a subheader's samples. RET_NOT_SUPPORTED for a type without one.
int image_sample_info(const NitfImageSubheader& subheader, KvImageInfo* info);

// Checks the request against the image and the buffer (RET_INVALID_PARAMETER, nothing
// written), then reads. RET_BAD_ARGUMENT for an index not below the image count.
int read_samples(::NitfDocument* document, std::uint32_t index, const KvSampleRequest& request,
                 void* buffer, std::size_t size, std::size_t stride);

}  // namespace nitf
