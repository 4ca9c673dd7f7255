// SPDX-License-Identifier: MIT
// Reads the structure of a SIC image from its bytes as the compiler wrote
// them: header, machine block, data segments with their var records and
// cells, arrays with their cells, and commands. It walks the image the way
// set-up does (segments one after another from segmentsOffset, cells one
// after another from segmentVarsOffset and arrayVarsOffset) and does not need
// the locations set-up writes, so it works on image files as they are stored.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sicvm/image.h"

namespace sicvm::assembly {

struct ImageView {
  struct Var {
    VmVarRecord record;
    VmCell cell;
  };
  struct Segment {
    uint32_t offset;  // of its var count word
    std::vector<Var> vars;
  };
  struct Array {
    VmArrayRecord record;
    std::vector<VmCell> cells;  // element count x element size
  };

  uint32_t size = 0;
  VmHeader header{};
  VmMachine machine{};
  std::vector<Segment> segments;
  std::vector<Array> arrays;
  std::vector<VmCommand> code;

  std::string programName() const;  // up to the first NUL
};

// Reads the image; false with a message when a block it needs lies outside
// the image (set-up would refuse such an image too).
bool readImage(const std::vector<uint8_t> &bytes, ImageView &view, std::string &error);

}  // namespace sicvm::assembly
