// SPDX-License-Identifier: MIT
// Walks over the vars of every data segment of a machine, in table order and
// var order, with every record checked against the image.
//
// Every table slot and record is checked before it is followed (Image): a
// segment whose slot does not locate a var count in the data segments is
// skipped, and a segment stops at the first record that does not lie in them.
#pragma once

#include <cstdint>

#include "image/image.h"

namespace sicvm {

// Calls visit(k, location) for each data segment k with a usable location.
template <class Visit>
void forEachSegment(const Image &image, Visit visit) {
  const uint32_t segments = image.header()->segmentCount;
  for (uint32_t k = 0; k < segments; ++k) {
    const uint32_t location = image.segmentLocation(k);
    if (location != 0) visit(k, location);
  }
}

// Calls visit(i, record) for each var i of the segment at `location`.
template <class Visit>
void forEachVar(const Image &image, uint32_t location, Visit visit) {
  for (uint32_t i = 0;; ++i) {
    VmVarRecord *record = image.varRecord(location, i);
    if (record == nullptr) return;
    visit(i, *record);
  }
}

// Both walks at once: visit(k, i, record).
template <class Visit>
void forEachSegmentVar(const Image &image, Visit visit) {
  forEachSegment(image, [&](uint32_t k, uint32_t location) {
    forEachVar(image, location, [&](uint32_t i, VmVarRecord &record) { visit(k, i, record); });
  });
}

}  // namespace sicvm
