// SPDX-License-Identifier: MIT
#include "runner/image_check.h"

#include <cstdio>
#include <cstring>

#include "sicvm/image.h"

namespace sicvm::runner {

std::string imageProblem(const std::vector<uint8_t> &bytes) {
  const size_t least = VM_HEADER_SIZE + VM_MACHINE_SIZE;
  if (bytes.empty()) return "the file is empty";
  if (bytes.size() >= 4) {
    uint32_t label;
    std::memcpy(&label, bytes.data(), sizeof label);
    if (label != VM_SIC_LABEL)
      return "it starts with \"" + escaped(std::string_view(reinterpret_cast<const char *>(bytes.data()), 4)) +
             "\", an image with \"SIC4\": not a SIC image";
  }
  if (bytes.size() < least)
    return "the file has " + std::to_string(bytes.size()) + " byte" + (bytes.size() == 1 ? "" : "s") +
           "; an image has at least " + std::to_string(least) + " (header and machine block)";
  uint32_t version;
  std::memcpy(&version, bytes.data() + 4, sizeof version);
  if (version != VM_SIC_VERSION)
    return "image format version " + std::to_string(version) + "; this library reads version " +
           std::to_string(VM_SIC_VERSION);
  return {};
}

std::string escaped(std::string_view bytes) {
  std::string text;
  for (char c : bytes) {
    auto u = static_cast<unsigned char>(c);
    if (c == '\\') {
      text += "\\\\";
    } else if (c == '\n') {
      text += "\\n";
    } else if (c == '\t') {
      text += "\\t";
    } else if (u >= 0x20 && u < 0x7F) {
      text += c;
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", u);
      text += hex;
    }
  }
  return text;
}

}  // namespace sicvm::runner
