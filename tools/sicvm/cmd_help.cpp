// SPDX-License-Identifier: MIT
// sicvm help commands | functions | reference: the command set and the
// function libraries, generated from the tables the library itself uses (the
// command table, the listing shapes, the libraries' function tables), so the
// reference cannot drift from the code. `reference` writes both as the
// Markdown of doc/reference.md.
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "asm/assembler.h"
#include "asm/constants.h"
#include "commands.h"
#include "interp/command_table.h"
#include "sicvm/library.h"
#include "sicvm/vm.h"
#include "stc/signature.h"
#include "text/listing.h"

namespace sicvm::tool {
namespace {

// What a command does, by its mnemonic or by the stem before its type suffix
// ("add" for add_int ... add_dt_time). Conversions are described by their
// names (X_to_Y, X_trunc_Y) below.
struct Meaning {
  std::string_view stem;
  const char *text;
};
constexpr Meaning kMeanings[] = {
    {"nop", "does nothing"},
    {"comment", "does nothing (a comment of the compiler)"},
    {"code_version", "states the command set version the code was compiled for"},
    {"mov", "DST := SRC1"},
    {"push_const", "pushes the constant SRC1 onto the param stack"},
    {"push_vars", "pushes N vars from SRC1 on (or an array's number) onto the param stack"},
    {"pop_vars", "pops N param stack entries into the vars from SRC1 on"},
    {"push_empty", "pushes N empty slots onto the param stack"},
    {"aget", "DST := ARRAY[INDEX]"},
    {"aput", "ARRAY[INDEX] := SRC2"},
    {"acopy", "copies all cells of the SRC1 array into the DST array (same size)"},
    {"acopy_abs", "copies all cells of the array with absolute number SRC1 into the DST array"},
    {"add", "DST := SRC1 + SRC2"},
    {"sub", "DST := SRC1 - SRC2"},
    {"mul", "DST := SRC1 * SRC2"},
    {"div", "DST := SRC1 / SRC2 (error 3 for an integer division by zero)"},
    {"mod", "DST := SRC1 modulo SRC2"},
    {"expt", "DST := SRC1 to the power SRC2"},
    {"neg", "DST := -SRC1"},
    {"abs", "DST := |SRC1|"},
    {"sqrt", "DST := square root of SRC1"},
    {"ln", "DST := natural logarithm of SRC1"},
    {"log", "DST := base-10 logarithm of SRC1"},
    {"exp", "DST := e to the power SRC1"},
    {"log2", "DST := base-2 logarithm of SRC1"},
    {"sin", "DST := sine of SRC1 (radians)"},
    {"cos", "DST := cosine of SRC1 (radians)"},
    {"tan", "DST := tangent of SRC1 (radians)"},
    {"asin", "DST := arc sine of SRC1"},
    {"acos", "DST := arc cosine of SRC1"},
    {"atan", "DST := arc tangent of SRC1"},
    {"round", "DST := SRC1 rounded to a whole number"},
    {"trunc", "DST := SRC1 truncated toward zero"},
    {"frac", "DST := the fractional part of SRC1"},
    {"shl", "DST := SRC1 shifted left by SRC2 bits"},
    {"shr", "DST := SRC1 shifted right by SRC2 bits"},
    {"rol", "DST := SRC1 rotated left by SRC2 bits"},
    {"ror", "DST := SRC1 rotated right by SRC2 bits"},
    {"not", "DST := NOT SRC1 (bitwise; logical for BOOL)"},
    {"and", "DST := SRC1 AND SRC2"},
    {"or", "DST := SRC1 OR SRC2"},
    {"xor", "DST := SRC1 XOR SRC2"},
    {"cmd", "compares SRC1 with SRC2 and keeps the result for the tests and conditional jumps"},
    {"test_eq", "DST := the last comparison found SRC1 = SRC2"},
    {"test_ne", "DST := the last comparison found SRC1 <> SRC2"},
    {"test_lt", "DST := the last comparison found SRC1 < SRC2"},
    {"test_le", "DST := the last comparison found SRC1 <= SRC2"},
    {"test_gt", "DST := the last comparison found SRC1 > SRC2"},
    {"test_ge", "DST := the last comparison found SRC1 >= SRC2"},
    {"jmp", "continues at TARGET"},
    {"jmp_eq", "continues at TARGET when the last comparison found equal"},
    {"jmp_ne", "continues at TARGET when the last comparison found not equal"},
    {"jmp_lt", "continues at TARGET when the last comparison found less"},
    {"jmp_le", "continues at TARGET when the last comparison found less or equal"},
    {"jmp_gt", "continues at TARGET when the last comparison found greater"},
    {"jmp_ge", "continues at TARGET when the last comparison found greater or equal"},
    {"if_eq", "continues at TARGET when SRC1 is TRUE"},
    {"if_ne", "continues at TARGET when SRC1 is FALSE"},
    {"set_ds", "selects data segment (var 0 of segment S) + K as the local segment"},
    {"load_points", "copies the linked points into their load vars and advances the timers"},
    {"save_points", "writes the save vars into their linked points"},
    {"call", "calls code at TARGET, or a library function (@stdlib.N, @vellib.N, @extlib.N)"},
    {"ret", "returns from a call; from the outermost level it ends the cycle"},
    {"timer_start", "starts the timer SRC1 (a TIME var or array cell)"},
    {"timer_stop", "stops the timer SRC1"},
    {"timer_started", "DST := the timer SRC1 runs"},
    {"timer_value", "DST := the time the timer SRC1 has run"},
};

std::string meaningOf(std::string_view mnemonic) {
  for (std::string_view marker : {"_trunc_", "_to_"})
    if (size_t at = mnemonic.find(marker); at != std::string_view::npos)
      return "DST := SRC1 converted to " + assembly::typeName(assembly::resultTypeOf(
                                               static_cast<uint32_t>(codeOf(mnemonic)))) +
             (marker == "_trunc_" ? " (truncated toward zero)" : "");
  for (const Meaning &m : kMeanings)
    if (m.stem == mnemonic) return m.text;
  size_t underscore = mnemonic.find('_');
  for (const Meaning &m : kMeanings)
    if (underscore != std::string_view::npos && m.stem == mnemonic.substr(0, underscore)) return m.text;
  return "";
}

// The operand shape of a command with the types of its operands:
// "DST:DINT,SRC1:DINT,SRC2:DINT".
std::string shapeText(const CommandInfo &info, const text::Shape &shape) {
  static const char *const kSlots[] = {"SRC1", "SRC2", "DST"};
  std::string out;
  const int result = assembly::resultTypeOf(info.code);
  for (const text::Part *part = shape.parts; part->piece != text::Piece::END; ++part) {
    switch (part->piece) {
      case text::Piece::END: break;
      case text::Piece::LITERAL: out += part->text; break;
      case text::Piece::OPERAND: {
        out += kSlots[part->slot];
        int type = part->slot == text::DST ? result
                   : part->type == text::ConstType::DINT ? int{VM_TYPE_DINT}
                   : part->type == text::ConstType::BOOL ? int{VM_TYPE_BOOL}
                   : part->slot == text::SRC1 ? int{info.src1Type}
                                              : int{info.src2Type};
        if (part->type == text::ConstType::MOV) type = 0;
        if (type > 0) {  // appended piece by piece: g++ 12 at -O3 warns falsely (-Wrestrict) about "x" + string
          out += ':';
          out += assembly::typeName(type);
        }
        break;
      }
      case text::Piece::ARRAY: out += "ARRAY"; break;
      case text::Piece::NUMBER: out += info.listing == Listing::SET_DS ? (part->slot == text::SRC1 ? "S" : "K") : "N"; break;
      case text::Piece::TARGET: out += "@TARGET"; break;
      case text::Piece::DATA_SEG: out += "GDS|LDS"; break;
      case text::Piece::CALL: out += "@TARGET"; break;
    }
  }
  return out;
}

void printCommands(bool markdown) {
  if (markdown) std::printf("| code | mnemonic | operands | meaning |\n|---|---|---|---|\n");
  for (const CommandInfo &info : kCommands) {
    if (info.mnemonic[0] == '\0') continue;
    std::string shape;
    if (info.listing == Listing::TIMER)
      shape = shapeText(info, text::kShapeTimerVar) + " | " + shapeText(info, text::kShapeTimerArray);
    else
      shape = shapeText(info, text::shapeOf(info.listing, 0));
    if (info.listing == Listing::SET_DS) shape += " | SEGMENT";
    std::string meaning = meaningOf(info.mnemonic);
    if (markdown) {
      for (size_t at = 0; (at = shape.find('|', at)) != std::string::npos; at += 2) shape.replace(at, 1, "\\|");
      std::printf("| %u | `%s` | `%s` | %s |\n", info.code, info.mnemonic, shape.c_str(), meaning.c_str());
    } else {
      std::printf("%3u  %-16s %-38s %s\n", info.code, info.mnemonic, shape.c_str(), meaning.c_str());
    }
  }
}

// One item as "NAME TYPE" or "TYPE"; a run of unnamed items of one type as "N x TYPE".
std::string itemsText(const std::vector<stc::SignatureItem> &items, const VmFunctionInfo &f) {
  std::string text;
  for (size_t k = 0; k < items.size();) {
    size_t run = 1;
    while (items[k].name.empty() && k + run < items.size() && items[k + run].name.empty() &&
           items[k + run].type == items[k].type && !items[k + run].repeats)
      ++run;
    if (!text.empty()) text += ", ";
    if (run > 1) text += std::to_string(run) + " x ";
    if (!items[k].name.empty()) text += items[k].name + " ";
    text += stc::typeText(items[k].type);
    if (items[k].repeats)
      text += " repeated (" + std::to_string(f.minInputs) + " to " + std::to_string(f.maxInputs) + " inputs in all)";
    k += run;
  }
  return text.empty() ? "none" : text;
}

// A function block's frame: "0 IN BOOL, 1 PT TIME, ..."; "" for a function.
std::string cellsText(const stc::Signature &sig) {
  if (!sig.block) return "";
  std::string text;
  size_t k = 0;
  for (const auto *list : {&sig.inputs, &sig.outputs, &sig.state})
    for (const stc::SignatureItem &item : *list) {
      text += (k ? ", " : "") + std::to_string(k) + " " + item.name + " " + stc::typeText(item.type);
      ++k;
    }
  return text;
}

void printFunctions(bool markdown) {
  struct Library {
    int32_t callClass;
    const char *title, *prefix;
  } libraries[] = {{VM_CALL_STANDARD, "standard library (call class 0x100)", "@stdlib"},
                   {VM_CALL_HOST, "host library (call class 0x800)", "@vellib"}};
  for (const Library &library : libraries) {
    if (markdown)
      std::printf("\n### The %s\n\n| call | name | inputs | outputs | cells of a function block | executes |\n"
                  "|---|---|---|---|---|---|\n",
                  library.title);
    else
      std::printf("\n%s\n", library.title);
    VmFunctionInfo f;
    for (int32_t i = 0; VmGetLibraryFunction(library.callClass, i, &f) == 1; ++i) {
      stc::Signature sig;
      const bool known = stc::signatureOf(f, sig);
      std::string call = std::string(library.prefix) + "." + std::to_string(f.number);
      std::string inputs = known ? itemsText(sig.inputs, f) : std::to_string(f.minInputs) + " inputs";
      std::string outputs = known ? itemsText(sig.outputs, f) : std::to_string(f.outputs) + " outputs";
      std::string cells = known ? cellsText(sig) : "";
      if (markdown) {
        std::printf("| `%s` | %s | %s | %s | %s | %s |\n", call.c_str(), f.name, inputs.c_str(), outputs.c_str(),
                    cells.c_str(), f.available ? "yes" : "no");
      } else {
        std::printf("%-14s %-18s %s -> %s%s\n", call.c_str(), f.name, inputs.c_str(), outputs.c_str(),
                    f.available ? "" : "  (the verifier knows it; this build does not execute it)");
        if (!cells.empty()) std::printf("%-33s cells: %s\n", "", cells.c_str());
      }
    }
  }
}

}  // namespace

int helpCommand(const std::vector<std::string> &args) {
  const std::string topic = args.size() == 1 ? args[0] : "";
  if (topic == "commands") {
    std::printf("Commands: code, mnemonic, operands (as a listing line shows them, with the\n"
                "types the command works on) and meaning.\n\n");
    printCommands(false);
  } else if (topic == "functions") {
    std::printf("Library functions: the call target, name, inputs -> outputs with their types,\n"
                "and for a function block its cells in frame order: the inputs, the outputs and\n"
                "the state cells (call type 2 takes them from the local segment from 'first' on).\n");
    printFunctions(false);
  } else if (topic == "reference") {
    std::printf("# sicvm reference\n\n"
                "Generated by `sicvm help reference` from the library's own tables; a test fails\n"
                "when this file is stale. `sicvm help commands` and `sicvm help functions` print\n"
                "the same as plain text.\n\n## Commands\n\n"
                "Operands are shown as a listing line shows them, with the types the command\n"
                "works on.\n\n");
    printCommands(true);
    std::printf("\n## Library functions\n\n"
                "Inputs come first in a call frame, then the outputs, then a function block's\n"
                "state cells (with call type 2 the cells of the local segment from `first` on).\n"
                "The variants of a typed family (SEL, MAX, MIN, LIMIT, MUX) differ in the type\n"
                "of their values.\n");
    printFunctions(true);
  } else {
    std::fprintf(topic.empty() && !args.empty() && (args[0] == "--help" || args[0] == "-h") ? stdout : stderr,
                 "usage: sicvm help commands | functions | reference\n\n"
                 "  commands    every command: code, mnemonic, operands with types, meaning\n"
                 "  functions   every standard and host library function: number, name,\n"
                 "              inputs and outputs with their types, a block's cells\n"
                 "  reference   both as Markdown (doc/reference.md)\n");
    return !args.empty() && (args[0] == "--help" || args[0] == "-h") ? kExitOk : kExitUsage;
  }
  return kExitOk;
}

}  // namespace sicvm::tool
