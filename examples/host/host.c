// SPDX-License-Identifier: MIT
/* A small host for one control program, written in C against the installed
 * sicvm and hostrt libraries.
 *
 *   sicvm_host IMAGE POINTS.csv [CYCLES]
 *
 * It does what a process-control host does with a compiled program:
 *   1. loads the SIC image file into memory it owns;
 *   2. lays the point tables out from a points file (hostrt's PointDbLoad);
 *   3. runs the set-up sequence: VmInitMachine; the host's fields of the
 *      machine (command limit, point tables, no store, no host record);
 *      VmSetExternalProc (none); the three verifiers; VmInitHostTypes,
 *      VmInitTimers, VmInitVarLinks;
 *   4. runs CYCLES control cycles (default 10), each VmResetMachine and
 *      VmRunProgram, printing one line per cycle;
 *   5. prints every var linked to a point: its value and the point's.
 * The library's log goes to standard error.
 *
 * Exit status: 0 success, 1 usage or file error, 2 set-up failed, 3 a
 * verifier found errors, 4 a cycle stopped with a fatal error.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <hostrt/points.h>
#include <sicvm/sicvm.h>

enum { EXIT_USAGE = 1, EXIT_SETUP = 2, EXIT_VERIFY = 3, EXIT_RUN = 4 };

/* The image file, read whole into memory the host owns. */
static unsigned char *read_image(const char *path, uint32_t *size) {
  FILE *file = fopen(path, "rb");
  unsigned char *image = NULL;
  long length;
  if (file == NULL) {
    perror(path);
    return NULL;
  }
  if (fseek(file, 0, SEEK_END) == 0 && (length = ftell(file)) > 0 && (unsigned long)length <= UINT32_MAX &&
      fseek(file, 0, SEEK_SET) == 0) {
    image = malloc((size_t)length);
    if (image != NULL && fread(image, 1, (size_t)length, file) == (size_t)length) {
      *size = (uint32_t)length;
    } else {
      free(image);
      image = NULL;
    }
  }
  if (image == NULL) fprintf(stderr, "%s: cannot read the image file\n", path);
  fclose(file);
  return image;
}

/* A 32-bit word at a location (an offset from the image start). */
static uint32_t word_at(const unsigned char *image, uint32_t location) {
  uint32_t word;
  memcpy(&word, image + location, sizeof word);
  return word;
}

static void print_linked_points(const unsigned char *image, VmMachine *machine) {
  VmHeader header;
  uint32_t k, i;
  memcpy(&header, image, sizeof header);
  printf("%-9s %-9s %-7s %-5s %-24s %s\n", "var", "point id", "index", "field", "var value", "point value");
  for (k = 0; k < header.segmentCount; ++k) {
    /* After set-up, slot k of the Data Segment Table locates segment k: its
     * var count, then one var record per var. */
    uint32_t segment = word_at(image, machine->segmentTable + 4 * k);
    uint32_t count = word_at(image, segment);
    for (i = 0; i < count; ++i) {
      VmVarRecord record;
      VmCell cell;
      double point = 0.0;
      char value[VM_VALUE_TEXT_SIZE], var[VM_VAR_ADDR_TEXT_SIZE];
      memcpy(&record, image + segment + 4 + i * VM_VAR_RECORD_SIZE, sizeof record);
      if (record.pointId == 0) continue;
      memcpy(&cell, image + record.cell, sizeof cell);
      snprintf(var, sizeof var, "%u:%05u", k, i);
      printf("%-9s %-9d %-7d %-5d %-24s ", var, record.pointId, record.pointIndex, record.pointField,
             VmValueToStr(&cell, record.type, value));
      if (record.pointIndex > 0 &&
          VmGetPointFieldValue(machine, record.pointIndex, record.pointField, &point) >= 0)
        printf("%g\n", point);
      else
        printf("-\n");
    }
  }
}

int main(int argc, char **argv) {
  unsigned char *image;
  uint32_t size = 0, configToken = 0, valuesToken = 0;
  char error[2048];
  PointDb *points;
  VmMachine *machine = NULL;
  long cycles = 10, cycle;
  int status = EXIT_SUCCESS;
  char *end;

  if (argc < 3 || argc > 4) {
    fprintf(stderr, "usage: %s IMAGE POINTS.csv [CYCLES]\n", argv[0]);
    return EXIT_USAGE;
  }
  if (argc == 4) {
    cycles = strtol(argv[3], &end, 10);
    if (*argv[3] == '\0' || *end != '\0' || cycles < 0) {
      fprintf(stderr, "CYCLES must be a whole number of at least 0, found '%s'\n", argv[3]);
      return EXIT_USAGE;
    }
  }
  image = read_image(argv[1], &size);
  if (image == NULL) return EXIT_USAGE;
  points = PointDbLoad(argv[2], NULL, error, sizeof error);
  if (points == NULL) {
    fprintf(stderr, "%s\n", error);
    free(image);
    return EXIT_USAGE;
  }

  /* Set-up. The log says why a step failed. */
  if (VmInitMachine(image, size, &machine) != 0) {
    fprintf(stderr, "set-up refused the image\n");
    status = EXIT_SETUP;
    goto done;
  }
  if (machine->commandLimit <= 0) machine->commandLimit = 100000;
  configToken = VmHostLocation(PointDbConfig(points));
  valuesToken = VmHostLocation(PointDbValues(points));
  if (configToken == 0 || valuesToken == 0) {
    fprintf(stderr, "no room for the point tables in the host location registry\n");
    status = EXIT_SETUP;
    goto release;
  }
  machine->pointCount = PointDbCount(points);
  machine->pointConfig = configToken;
  machine->pointValues = valuesToken;
  machine->storeHandle = 0;
  machine->hostRecord = 0;
  VmSetExternalProc(NULL);
  {
    /* All three verifiers run, so that every fault is logged. */
    int code = VmVerifyCode(machine), vars = VmVerifyVars(machine), arrays = VmVerifyArrays(machine);
    if (code != 0 || vars != 0 || arrays != 0) {
      fprintf(stderr, "verification failed\n");
      status = EXIT_VERIFY;
      goto release;
    }
  }
  VmInitHostTypes(machine);
  VmInitTimers(machine);
  VmInitVarLinks(machine);

  /* Cycles. */
  for (cycle = 1; cycle <= cycles; ++cycle) {
    uint32_t address = 0, runStatus;
    int32_t commands, errorCode;
    VmResetMachine(machine);
    commands = VmRunProgram(machine, 0, 0);
    runStatus = word_at(image, machine->runStatusRef);
    errorCode = VmGetLastError(machine, &address, NULL, NULL);
    printf("cycle %ld: %d commands, run status %u, error %d at %05u\n", cycle, commands, runStatus, errorCode,
           address);
    if (runStatus == VM_STOPPED || errorCode > 100) {
      status = EXIT_RUN;
      break;
    }
  }
  printf("\n");
  print_linked_points(image, machine);

release:
  VmReleaseHostLocation(configToken);
  VmReleaseHostLocation(valuesToken);
done:
  PointDbClose(points);
  free(image);
  return status;
}
