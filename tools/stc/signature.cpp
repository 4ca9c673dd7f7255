// SPDX-License-Identifier: MIT
// Reading the signature texts of the libraries' tables.
#include "stc/signature.h"

#include <cstdlib>
#include <string_view>

#include "sicvm/image.h"

namespace sicvm::stc {
namespace {

struct TypeName {
  const char *name;
  uint8_t type;
};
constexpr TypeName kTypes[] = {{"BOOL", VM_TYPE_BOOL}, {"INT", VM_TYPE_INT},     {"DINT", VM_TYPE_DINT},
                               {"REAL", VM_TYPE_REAL}, {"LREAL", VM_TYPE_LREAL}, {"TIME", VM_TYPE_TIME},
                               {"DT", VM_TYPE_DT}};

std::string_view trim(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

// One comma-separated list of items; an empty list is fine.
bool parseList(std::string_view text, uint8_t valueType, std::vector<SignatureItem> &out) {
  text = trim(text);
  while (!text.empty()) {
    size_t comma = text.find(',');
    std::string_view item = trim(text.substr(0, comma));
    text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
    long count = 1;
    if (size_t star = item.find('*'); star != std::string_view::npos) {
      std::string digits(item.substr(0, star));
      char *end = nullptr;
      count = std::strtol(digits.c_str(), &end, 10);
      if (digits.empty() || *end != '\0' || count < 1 || count > 255) return false;
      item.remove_prefix(star + 1);
    }
    SignatureItem parsed;
    if (item.size() > 3 && item.substr(item.size() - 3) == "...") {
      parsed.repeats = true;
      item.remove_suffix(3);
    }
    if (size_t colon = item.find(':'); colon != std::string_view::npos) {
      parsed.name = std::string(item.substr(0, colon));
      item.remove_prefix(colon + 1);
    }
    if (item == "ANY") {
      parsed.type = valueType;
      parsed.any = true;
    }
    for (const TypeName &t : kTypes)
      if (item == t.name) parsed.type = t.type;
    if (parsed.type == 0) return false;
    out.insert(out.end(), static_cast<size_t>(count), parsed);
  }
  return true;
}

}  // namespace

bool parseSignature(const char *text, uint8_t valueType, Signature &out) {
  out = Signature{};
  if (text == nullptr) return false;
  std::string_view s(text);
  size_t arrow = s.find("->");
  if (arrow == std::string_view::npos) return false;
  std::string_view outputs = s.substr(arrow + 2), state;
  if (size_t semi = outputs.find(';'); semi != std::string_view::npos) {
    out.block = true;
    state = outputs.substr(semi + 1);
    outputs = outputs.substr(0, semi);
  }
  if (!parseList(s.substr(0, arrow), valueType, out.inputs) || !parseList(outputs, valueType, out.outputs) ||
      !parseList(state, valueType, out.state))
    return false;
  // Only the last input may repeat.
  for (size_t k = 0; k < out.inputs.size(); ++k)
    if (out.inputs[k].repeats && k + 1 != out.inputs.size()) return false;
  for (const auto *list : {&out.outputs, &out.state})
    for (const SignatureItem &item : *list)
      if (item.repeats) return false;
  return true;
}

bool signatureOf(const VmFunctionInfo &f, Signature &out) { return parseSignature(f.signature, f.valueType, out); }

const char *typeText(uint8_t type) {
  for (const TypeName &t : kTypes)
    if (t.type == type) return t.name;
  return "?";
}

}  // namespace sicvm::stc
