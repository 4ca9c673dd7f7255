// SPDX-License-Identifier: MIT
// sicvm gas FUNCTION NAME=VALUE ... [--json]: evaluates one of the gas
// metering functions on named inputs, as a commissioning check, and prints
// the named outputs with their units and the result code in words.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "commands.h"
#include "options.h"
#include "sicvm/gas.h"
#include "sicvm/image.h"

namespace sicvm::tool {
namespace {

enum class Kind { Real, Bool, Dint };

struct Field {
  const char *name;
  const char *unit;
  const char *range;     // accepted values, as the function checks them
  const char *meaning;
  Kind kind = Kind::Real;
  const char *fallback = nullptr;  // default value; null: the input is required
};

// The fields that several functions share. T and p are checked against the
// range of each function's method.
constexpr Field temperature(const char *range) { return {"T", "K", range, "absolute temperature"}; }
constexpr Field pressure(const char *range) { return {"p", "MPa", range, "absolute pressure"}; }
constexpr Field kRho = {"rho", "kg/m3", "1e-6 .. 2", "density at standard conditions (20 degC, 0.101325 MPa)"};
constexpr Field kXa = {"xa", "1", ">= 0", "molar fraction of nitrogen"};
constexpr Field kXy = {"xy", "1", ">= 0, xa + xy <= 1", "molar fraction of carbon dioxide"};
constexpr Field kK = {"K", "1", "1e-6 .. 10", "compressibility coefficient"};
constexpr Field kDp = {"dp", "MPa", ">= 0, dp / p <= 0.25", "differential pressure"};
constexpr Field kCode = {"code", "", "", "result code", Kind::Dint};
constexpr Field kRhoW = {"rho_w", "kg/m3", "", "density at the working state"};
constexpr Field kMu = {"mu", "uPa s", "", "dynamic viscosity"};
constexpr Field kKappa = {"kappa", "1", "", "isentropic exponent"};

constexpr Field kNx19Inputs[] = {temperature("250 .. 290"), pressure("1e-6 .. 3"), kRho, kXa, kXy};
constexpr Field kGerg91Inputs[] = {temperature("250 .. 330"), pressure("1e-6 .. 12"), kRho, kXa, kXy};
constexpr Field kKOutputs[] = {kCode, {"K", "1", "", "compressibility coefficient z / zc"}};

constexpr Field kOrificeInputs[] = {
    temperature("240 .. 360"), pressure("1e-6 .. 10"), kRho, kXa, kXy, kK, kDp,
    {"D", "mm", "50 .. 1000 at T", "pipe inner diameter at 20 degC"},
    {"alphaD", "1/K", "0 .. 0.001", "linear expansion coefficient of the pipe", Kind::Real, "0"},
    {"Rsh", "mm", "any", "equivalent roughness of the pipe wall", Kind::Real, "0"},
    {"d", "mm", ">= 12.5 at T, beta 0.2 .. 0.75", "orifice diameter at 20 degC"},
    {"alphad", "1/K", "0 .. 0.001", "linear expansion coefficient of the orifice", Kind::Real, "0"},
    {"rn", "mm", "0 .. 0.05", "initial radius of the orifice inlet edge", Kind::Real, "0"},
    {"tau", "years", "0 .. 20", "interval between orifice inspections", Kind::Real, "0"},
};
constexpr Field kOrificeOutputs[] = {
    kCode, kRhoW, kMu, kKappa,
    {"Qc", "m3/h", "", "volume flow at standard conditions"},
    {"Qm", "kg/h", "", "mass flow"},
};

constexpr Field kFlowInputs[] = {
    temperature("240 .. 360"), pressure("1e-6 .. 10"), kRho, kXa, kXy, kK, kDp,
    {"D", "mm", "by device", "pipe inner diameter at 20 degC"},
    {"a0", "1e-6/K", "any", "pipe expansion: alpha = (a0 + a1 t + a2 t^2) 1e-6, t = (T - 273.15) / 1000", Kind::Real, "0"},
    {"a1", "1e-6/K", "any", "pipe expansion, linear term", Kind::Real, "0"},
    {"a2", "1e-6/K", "any", "pipe expansion, quadratic term", Kind::Real, "0"},
    {"equivalent", "", "0 or 1", "1: roughness is the equivalent roughness, 0: the mean roughness Ra", Kind::Bool, "0"},
    {"roughness", "mm", ">= 0", "pipe wall roughness", Kind::Real, "0"},
    {"device", "", "1 .. 6", "1/2/3 orifice with corner/flange/D and D/2 tappings, 4 ISA 1932 nozzle, 5 long radius nozzle, 6 Venturi nozzle", Kind::Dint},
    {"d", "mm", "by device", "throat or orifice diameter at 20 degC"},
    {"b0", "1e-6/K", "any", "device expansion, constant term", Kind::Real, "0"},
    {"b1", "1e-6/K", "any", "device expansion, linear term", Kind::Real, "0"},
    {"b2", "1e-6/K", "any", "device expansion, quadratic term", Kind::Real, "0"},
    {"rn", "mm", ">= 0", "initial radius of the orifice inlet edge", Kind::Real, "0"},
    {"mean-edge", "", "0 or 1", "1: edge radius averaged over the interval, 0: at its end", Kind::Bool, "0"},
    {"tau", "years", ">= 0", "interval between orifice inspections", Kind::Real, "0"},
    {"max-iter", "", "any", "most passes of the Reynolds iteration; 0 or below: until it converges", Kind::Dint, "0"},
};
constexpr Field kFlowOutputs[] = {
    kCode,
    {"Qc", "m3/h", "", "volume flow at standard conditions"},
    {"Qv", "m3/h", "", "volume flow at the working state"},
    {"Qm", "kg/h", "", "mass flow"},
    kRhoW, kMu, kKappa,
    {"alphaD", "1e-6/K", "", "linear expansion coefficient of the pipe"},
    {"D_T", "mm", "", "pipe diameter at T"},
    {"alphad", "1e-6/K", "", "linear expansion coefficient of the device"},
    {"d_T", "mm", "", "device diameter at T"},
    {"beta", "1", "", "diameter ratio d / D"},
    {"E", "1", "", "velocity of approach factor"},
    {"Cd", "1", "", "discharge coefficient"},
    {"Kp", "1", "", "edge-sharpness factor"},
    {"eps", "1", "", "expansion factor"},
    {"Ksh", "1", "", "roughness factor"},
    {"Re", "1", "", "Reynolds number of the last pass"},
    {"passes", "", "", "iterations made", Kind::Dint},
};

using GasExport = int32_t (*)(int32_t, int32_t, void *, int32_t, int32_t);

struct Function {
  const char *command;
  const char *exportName;
  int32_t number;
  GasExport run;
  std::span<const Field> inputs, outputs;
  const char *summary;
};

const Function kFunctions[] = {
    {"k-nx19", "GasK_NX19", 6100, &GasK_NX19, kNx19Inputs, kKOutputs, "compressibility coefficient, modified NX19"},
    {"k-gerg91", "GasK_GERG91", 6101, &GasK_GERG91, kGerg91Inputs, kKOutputs, "compressibility coefficient, modified GERG-91"},
    {"flow-da", "GasFlowrate_DA", 6102, &GasFlowrate_DA, kOrificeInputs, kOrificeOutputs, "orifice flow, corner tappings, one step"},
    {"flow-df", "GasFlowrate_DF", 6103, &GasFlowrate_DF, kOrificeInputs, kOrificeOutputs, "orifice flow, flange tappings, one step"},
    {"flow-dt", "GasFlowrate_DT", 6104, &GasFlowrate_DT, kOrificeInputs, kOrificeOutputs, "orifice flow, D and D/2 tappings, one step"},
    {"flow", "GasFlowrate", GAS_FLOWRATE_FULL, &GasFlowrate, kFlowInputs, kFlowOutputs, "flow through any of six devices, Reynolds iteration"},
};

const char *codeText(const Function &f, int32_t code) {
  switch (code) {
    case GAS_COMPUTED: return "computed";
    case GAS_REYNOLDS_OUT_OF_RANGE:
      return f.number == GAS_FLOWRATE_FULL
                 ? "computed, but the Reynolds number or the roughness lies outside the device's range"
                 : "computed, but the Reynolds number lies outside the range of the discharge coefficient";
    case GAS_INPUT_OUT_OF_RANGE: return "an input or the geometry lies outside the accepted range";
  }
  return "unknown result code";
}

// The shortest decimal text that reads back as the same double, without an
// exponent for whole numbers up to 17 digits (200, not 2e+02).
std::string number(double v) {
  if (std::isnan(v)) return "nan";
  if (std::isinf(v)) return v > 0 ? "inf" : "-inf";
  char text[40];
  int precision = 1;
  for (; precision < 17; ++precision) {
    std::snprintf(text, sizeof text, "%.*g", precision, v);
    if (std::strtod(text, nullptr) == v) break;
  }
  const double magnitude = std::fabs(v);
  if (magnitude >= 1 && magnitude < 1e17) {
    int digits = int(std::floor(std::log10(magnitude))) + 1;
    if (digits > precision) precision = digits;
  }
  std::snprintf(text, sizeof text, "%.*g", precision, v);
  return text;
}

void printFields(std::span<const Field> fields, bool withRange) {
  for (const Field &f : fields) {
    std::string unit = *f.unit ? std::string("[") + f.unit + "]" : "";
    std::printf("    %-11s %-9s", f.name, unit.c_str());
    if (withRange) std::printf(" %-32s", f.range);
    std::printf(" %s", f.meaning);
    if (f.fallback) std::printf(" (default %s)", f.fallback);
    std::printf("\n");
  }
}

void help(const Function *only) {
  std::printf("usage: sicvm gas FUNCTION NAME=VALUE ... [--json]\n\n"
              "Evaluates a gas metering function of the library on named inputs and prints\n"
              "its outputs with units and the result code in words (--json: one JSON object;\n"
              "values that are not numbers are null). Inputs without a default are required.\n"
              "Lengths are in mm, pressures in MPa. Exit status 0 when the function ran\n"
              "(whatever its result code), %d for usage errors.\n",
              kExitUsage);
  for (const Function &f : kFunctions) {
    if (only && only != &f) continue;
    std::printf("\n%s: %s (%s, host library function %d)\n  inputs:\n", f.command, f.summary, f.exportName,
                f.number);
    printFields(f.inputs, true);
    std::printf("  outputs:\n");
    printFields(f.outputs, false);
  }
}

bool parseValue(const Field &field, const std::string &text, double &out, std::string &error) {
  char *end = nullptr;
  errno = 0;
  if (field.kind == Kind::Real) {
    out = std::strtod(text.c_str(), &end);
  } else {
    long long v = std::strtoll(text.c_str(), &end, 10);
    if (field.kind == Kind::Bool && (text == "true" || text == "false")) {
      out = text == "true";
      return true;
    }
    bool fits = field.kind == Kind::Bool ? (v == 0 || v == 1) : (v >= INT32_MIN && v <= INT32_MAX);
    if (!fits) end = nullptr;
    out = double(v);
  }
  if (text.empty() || end == nullptr || *end != '\0' || (errno == ERANGE && field.kind != Kind::Real)) {
    error = std::string(field.name) + " needs " +
            (field.kind == Kind::Real ? "a number" : field.kind == Kind::Bool ? "0 or 1" : "a whole number") +
            ", found '" + text + "'";
    return false;
  }
  return true;
}

void setCell(VmCell &cell, Kind kind, double v) {
  std::memset(&cell, 0, sizeof cell);
  switch (kind) {
    case Kind::Real: cell.type = VM_TYPE_LREAL; cell.v.f64 = v; break;
    case Kind::Bool: cell.type = VM_TYPE_BOOL; cell.v.b = v != 0; break;
    case Kind::Dint: cell.type = VM_TYPE_DINT; cell.v.i32 = int32_t(v); break;
  }
}

double cellValue(const VmCell &cell, Kind kind) {
  return kind == Kind::Real ? cell.v.f64 : kind == Kind::Dint ? double(cell.v.i32) : double(cell.v.b);
}

std::string jsonNumber(double v) { return std::isfinite(v) ? number(v) : "null"; }

}  // namespace

int gasCommand(const std::vector<std::string> &args) {
  Options options;
  std::string error;
  if (!parseOptions(args, {{"--json", false}}, options, error)) return usageError(error, "gas");
  const Function *function = nullptr;
  if (!options.positional.empty())
    for (const Function &f : kFunctions)
      if (options.positional[0] == f.command) function = &f;
  if (options.help) {
    help(function);
    return kExitOk;
  }
  if (options.positional.empty()) return usageError("name a function (k-nx19, k-gerg91, flow-da, flow-df, flow-dt, flow)", "gas");
  if (!function) return usageError("unknown function '" + options.positional[0] + "'", "gas");

  std::map<std::string, std::string> given;
  for (size_t i = 1; i < options.positional.size(); ++i) {
    const std::string &arg = options.positional[i];
    size_t eq = arg.find('=');
    if (eq == std::string::npos) return usageError("expected NAME=VALUE, found '" + arg + "'", "gas");
    std::string name = arg.substr(0, eq);
    bool known = false;
    for (const Field &f : function->inputs) known = known || name == f.name;
    if (!known) return usageError(std::string("'") + name + "' is not an input of " + function->command, "gas");
    if (given.count(name)) return usageError("'" + name + "' is given twice", "gas");
    given[name] = arg.substr(eq + 1);
  }

  const int nin = int(function->inputs.size()), nout = int(function->outputs.size());
  std::vector<VmCell> frame(size_t(nin + nout));
  std::vector<double> inputs;
  for (int i = 0; i < nin; ++i) {
    const Field &f = function->inputs[size_t(i)];
    auto it = given.find(f.name);
    if (it == given.end() && !f.fallback)
      return usageError(std::string("missing input ") + f.name + " (" + f.meaning + ")", "gas");
    double v;
    if (!parseValue(f, it == given.end() ? f.fallback : it->second, v, error)) return usageError(error, "gas");
    inputs.push_back(v);
    setCell(frame[size_t(i)], f.kind, v);
  }
  if (function->run(1, function->number, frame.data(), nin, nout) != 0) {
    std::fprintf(stderr, "sicvm gas: %s refused the call\n", function->exportName);
    return kExitRunError;
  }
  const int32_t code = frame[size_t(nin)].v.i32;

  if (options.has("--json")) {
    std::printf("{\"function\":\"%s\",\"number\":%d,\"inputs\":{", function->exportName, function->number);
    for (int i = 0; i < nin; ++i)
      std::printf("%s\"%s\":%s", i ? "," : "", function->inputs[size_t(i)].name, jsonNumber(inputs[size_t(i)]).c_str());
    std::printf("},\"result\":%d,\"result_text\":\"%s\",\"outputs\":{", code, codeText(*function, code));
    for (int j = 1; j < nout; ++j) {
      const Field &f = function->outputs[size_t(j)];
      std::printf("%s\"%s\":%s", j > 1 ? "," : "", f.name, jsonNumber(cellValue(frame[size_t(nin + j)], f.kind)).c_str());
    }
    std::printf("},\"units\":{");
    for (int j = 1; j < nout; ++j)
      std::printf("%s\"%s\":\"%s\"", j > 1 ? "," : "", function->outputs[size_t(j)].name, function->outputs[size_t(j)].unit);
    std::printf("}}\n");
    return kExitOk;
  }
  std::printf("%s (host library function %d)\n", function->exportName, function->number);
  std::printf("  %-8s %d: %s\n", "result", code, codeText(*function, code));
  for (int j = 1; j < nout; ++j) {
    const Field &f = function->outputs[size_t(j)];
    std::printf("  %-8s %-24s %-8s %s\n", f.name, number(cellValue(frame[size_t(nin + j)], f.kind)).c_str(), f.unit,
                f.meaning);
  }
  return kExitOk;
}

}  // namespace sicvm::tool
