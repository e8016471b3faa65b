// The description tables, by family; dictionary.cpp makes one sorted index of them.
#pragma once

#include <cstddef>

#include "tre/tre.h"

namespace nitf::tre {

extern const Description kSensorDescriptions[];
extern const std::size_t kSensorDescriptionCount;
extern const Description kGeoDescriptions[];
extern const std::size_t kGeoDescriptionCount;
extern const Description kImageryDescriptions[];
extern const std::size_t kImageryDescriptionCount;

}  // namespace nitf::tre
