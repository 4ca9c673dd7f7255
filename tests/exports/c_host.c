// SPDX-License-Identifier: MIT
/* A host written in C: includes only the public headers, lays out a tiny
 * image with the C structs, sets it up and uses the error record. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "sicvm/sicvm.h"

#define CHECK(cond)                                              \
  do {                                                           \
    if (!(cond)) {                                               \
      fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
      return 1;                                                  \
    }                                                            \
  } while (0)

enum {
  MACHINE = 216,
  STATE = MACHINE + VM_MACHINE_SIZE,
  CALLS = STATE + VM_STATE_SIZE,
  PARAMS = CALLS + 4 * VM_CALL_ENTRY_SIZE,
  CODE = PARAMS + 4 * VM_CELL_SIZE,
  TABLE = CODE + VM_COMMAND_SIZE,
  SEGMENTS = TABLE + 4,
  CELLS = SEGMENTS + 4 + 2 * VM_VAR_RECORD_SIZE,
  ARRAYS = CELLS + 2 * VM_CELL_SIZE,
  SIZE = ARRAYS
};

int main(void) {
  unsigned char *image = calloc(1, SIZE);
  VmHeader header;
  VmMachine *machine = NULL;
  uint32_t count = 2, address = 0;
  CHECK(image != NULL);
  memset(&header, 0, sizeof header);
  memcpy(&header.label, "SIC4", 4);
  header.version = VM_SIC_VERSION;
  header.programNumber = 3;
  strcpy(header.programName, "C HOST");
  header.machineOffset = MACHINE;
  header.stateOffset = STATE;
  header.callStackOffset = CALLS;
  header.callStackSize = 4;
  header.paramStackOffset = PARAMS;
  header.paramStackSize = 4;
  header.codeOffset = CODE;
  header.commandCount = 1;
  header.segmentTableOffset = TABLE;
  header.segmentsOffset = SEGMENTS;
  header.segmentCount = 1;
  header.segmentVarsOffset = CELLS;
  header.segmentVarCount = 2;
  header.arraysOffset = ARRAYS;
  header.replicationOffset = ARRAYS;
  memcpy(image, &header, sizeof header);
  memcpy(image + SEGMENTS, &count, 4);
  ((VmCommand *)(image + CODE))->code = 220; /* ret */

  CHECK(VmInitMachine(image, SIZE, &machine) == 0);
  CHECK((unsigned char *)machine == image + MACHINE);
  CHECK(machine->image == MACHINE);
  CHECK(VmSetLastError(machine, 34, 7, 0, 0) == 0);
  CHECK(VmGetLastError(machine, &address, NULL, NULL) == 34);
  CHECK(address == 7);
  CHECK(VmClearLastError(machine) == 34);
  CHECK(VmResetMachine(machine) == 0);
  CHECK(VmHostLocation(NULL) == 0);
  {
    /* The loaded library is the one these headers describe. */
    uint32_t major = 99, minor = 99, patch = 99;
    char text[40];
    const char *version = VmGetVersion(&major, &minor, &patch);
    snprintf(text, sizeof text, "%u.%u.%u", (unsigned)major, (unsigned)minor, (unsigned)patch);
    CHECK(strcmp(version, SICVM_VERSION_STRING) == 0);
    CHECK(strcmp(text, SICVM_VERSION_STRING) == 0);
    CHECK(major == SICVM_VERSION_MAJOR && minor == SICVM_VERSION_MINOR && patch == SICVM_VERSION_PATCH);
    CHECK(VmGetVersion(NULL, NULL, NULL) == version);
  }
  {
    /* The calendar in the zone the test runs in, UTC: day 0 is Saturday 1899-12-30. */
    int32_t record[DT_RECORD_WORDS];
    CHECK(DtUnpack(0.75, record) == record);
    CHECK(record[DT_WORD_YEAR] == 1899 && record[DT_WORD_DAY] == 30 && record[DT_WORD_HOUR] == 18);
    CHECK(DtDayOfWeek(0.0) == 6);
    CHECK(DtPack(record) == 0.75);
  }
  free(image);
  puts("c_host: ok");
  return 0;
}
