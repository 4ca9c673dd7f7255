// The COUNTER example: counts its cycles in a global DINT and keeps the
// count within 0..999 by wrapping it. Writes the image to the file named on
// the command line.
#include <cstdio>
#include <fstream>

#include "builder/image_builder.h"
#include "interp/command_table.h"

using namespace sicvm;
using namespace sicvm::build;

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_counter OUTPUT.sic\n");
    return 1;
  }
  ImageBuilder b;
  b.name("COUNTER").number(1);
  uint32_t global = b.segment();
  uint32_t count = b.var(global, Var(Value::dint(0)));
  b.command(op("add_dint"), g(count), c(Value::dint(1)), g(count));   // count := count + 1
  b.command(op("cmd_dint"), g(count), c(Value::dint(1000)));          // compare with 1000
  b.command(op("jmp_lt"), num(4));                                    // below: done
  b.command(op("mov"), c(Value::dint(0)), num(VM_TYPE_DINT), g(count));  // else wrap to 0
  b.command(op("ret"));
  std::ofstream out(argv[1], std::ios::binary);
  auto bytes = b.build();
  out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return out ? 0 : 1;
}
