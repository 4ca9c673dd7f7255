// SPDX-License-Identifier: MIT
/* The SIC program image: the byte layout that the compiler writes, the host
 * loads and the library runs in place.
 *
 * All integers are little-endian; every record is packed and may lie at any
 * byte offset. A *location* is a 32-bit word. Locations into the image hold
 * the offset of their target from the image start (0 = none; no block starts
 * below offset 216, so 0 never names a real target). The machine's `image`
 * field holds the Machine Block's own offset, so a machine finds its image
 * start as (char *)machine - machine->image, wherever the image was copied or
 * mapped. Locations of host memory (`pointConfig`, `pointValues`,
 * `hostRecord`) hold tokens from VmHostLocation (0 = none).
 */
#ifndef SICVM_IMAGE_H
#define SICVM_IMAGE_H

#include <stddef.h>
#include <stdint.h>

#include "sicvm/export.h"

SICVM_BEGIN_DECLS

enum {
  VM_SIC_LABEL = 0x34434953u, /* "SIC4" read as a little-endian word */
  VM_SIC_VERSION = 406,
  VM_HEADER_SIZE = 216,
  VM_MACHINE_SIZE = 120,
  VM_STATE_SIZE = 24,
  VM_CALL_ENTRY_SIZE = 8,
  VM_CELL_SIZE = 12,
  VM_COMMAND_SIZE = 44,
  VM_VAR_RECORD_SIZE = 16,
  VM_ARRAY_RECORD_SIZE = 44,
  VM_PROGRAM_NAME_SIZE = 92,
  VM_COMMAND_CODES = 281
};

/* Value type codes. */
enum {
  VM_TYPE_BOOL = 1,
  VM_TYPE_DINT = 2,
  VM_TYPE_LREAL = 3,
  VM_TYPE_INT = 4,
  VM_TYPE_REAL = 5,
  VM_TYPE_TIME = 6,
  VM_TYPE_DT = 7
};

/* Operand kinds of a command record, and entry kinds of the param stack. */
enum { VM_KIND_CONST = 1, VM_KIND_VAR = 2, VM_KIND_ARRAY = 3 };
enum { VM_ENTRY_VALUE = 1, VM_ENTRY_ARRAY = 4, VM_ENTRY_EMPTY = 5 };

/* Var record class byte. */
enum {
  VM_CLASS_MASK = 0x0F,
  VM_CLASS_ARRAY_REF = 5,
  VM_VAR_LOAD = 0x10,
  VM_VAR_SAVE = 0x20
};

/* statusFlags bits. */
enum {
  VM_STATUS_ERROR = 0x1,
  VM_STATUS_LINK_DROPPED = 0x2,
  VM_STATUS_HOST_TYPES = 0x100,
  VM_STATUS_LINKS = 0x200,
  VM_STATUS_TIMERS = 0x400
};

/* runStatus values. */
enum { VM_RUNNING = 0, VM_CYCLE_COMPLETE = 1, VM_END_MARKER = 2, VM_STOPPED = 3 };

/* Header Block, at offset 0. */
typedef struct SICVM_PACKED VmHeader {
  uint32_t label;
  uint32_t version;
  uint8_t reserved8[16];
  int32_t programNumber;
  uint8_t reserved28[4];
  char programName[VM_PROGRAM_NAME_SIZE];
  uint32_t machineOffset;
  uint32_t stateOffset;
  uint32_t callStackOffset;
  uint32_t callStackSize;
  uint32_t paramStackOffset;
  uint32_t paramStackSize;
  uint32_t codeOffset;
  uint32_t commandCount;
  uint32_t segmentTableOffset;
  uint32_t segmentsOffset;
  uint32_t segmentCount;
  uint32_t segmentVarsOffset;
  uint32_t segmentVarCount;
  uint32_t arraysOffset;
  uint32_t arrayCount;
  uint32_t arrayVarsOffset;
  uint32_t arrayVarCount;
  uint32_t replicationOffset;
  uint32_t replicationSize;
  uint8_t reserved200[16];
} VmHeader;

/* Machine Block: the machine itself. Fields marked "host" are the host's to
 * write after VmInitMachine; the library never writes them. */
typedef struct SICVM_PACKED VmMachine {
  int32_t commandLimit;    /* host */
  int32_t commandsRun;
  uint32_t lastClock;
  int32_t cycleCount;
  uint32_t pc;
  uint32_t callDepth;
  uint32_t paramDepth;
  uint32_t compareFlags;
  uint32_t globalSegment;  /* location */
  uint32_t localSegment;   /* location, 0 = none */
  uint32_t localSegmentNo;
  uint32_t callStack;      /* location */
  uint32_t paramStack;     /* location */
  uint32_t statusFlagsRef; /* location of State Block word 0 */
  uint32_t errorCodeRef;
  uint32_t errorAddressRef;
  uint32_t errorArg1Ref;
  uint32_t errorArg2Ref;
  uint32_t runStatusRef;
  int32_t pointCount;      /* host */
  uint32_t pointConfig;    /* host location token */
  uint32_t pointValues;    /* host location token */
  uint32_t imageSize;      /* set-up: the size of the image it accepted; 0 = not set up */
  uint32_t storeHandle;    /* host */
  uint32_t hostRecord;     /* host location token */
  uint32_t image;          /* the Machine Block's offset from the image start */
  uint32_t stateBlock;     /* location */
  uint32_t code;           /* location */
  uint32_t segmentTable;   /* location */
  uint32_t arrays;         /* location */
} VmMachine;

/* State Block. */
typedef struct SICVM_PACKED VmStateBlock {
  uint32_t statusFlags;
  int32_t errorCode;
  uint32_t errorAddress;
  uint32_t errorArg1;
  uint32_t errorArg2;
  uint32_t runStatus;
} VmStateBlock;

/* Call Stack entry. */
typedef struct SICVM_PACKED VmCallEntry {
  uint32_t returnAddress;
  uint32_t savedSegmentNo;
} VmCallEntry;

/* Value of a cell: read and written only at the width of its type. The
 * byte array comes first so that an empty initializer ({0} in C, {} in C++)
 * clears all eight bytes. */
typedef union SICVM_PACKED VmValue {
  uint8_t bytes[8];
  uint8_t b;
  int16_t i16;
  uint16_t u16;
  int32_t i32;
  uint32_t u32;
  float f32;
  double f64;
  uint32_t w[2];
} VmValue;

/* Value cell; also the shape of an operand, a param stack entry and a
 * library parameter. For an operand, w[0] and w[1] are its words 1 and 2. */
typedef struct SICVM_PACKED VmCell {
  uint8_t type; /* value type, or the entry kind on the param stack */
  uint8_t flags; /* bit 0 of a TIME cell: the timer runs */
  uint8_t spare[2];
  VmValue v;
} VmCell;

/* Command record. */
typedef struct SICVM_PACKED VmCommand {
  uint32_t code; /* bits 0..15 command code; bit 31 marks the end */
  uint8_t src1Kind;
  uint8_t src2Kind;
  uint8_t dstKind;
  uint8_t reserved;
  VmCell src1;
  VmCell src2;
  VmCell dst;
} VmCommand;

/* Var record of a data segment. */
typedef struct SICVM_PACKED VmVarRecord {
  uint16_t type;
  uint8_t classByte;
  int8_t pointField;
  int32_t pointId;
  int32_t pointIndex;
  uint32_t cell; /* location of the value cell */
} VmVarRecord;

/* Array record. */
typedef struct SICVM_PACKED VmArrayRecord {
  uint32_t type;
  uint32_t elementSize;
  uint32_t elementCount;
  uint32_t dimensions;
  uint8_t reserved16[24];
  uint32_t firstCell; /* location of the first value cell */
} VmArrayRecord;

SICVM_STATIC_ASSERT(sizeof(VmHeader) == VM_HEADER_SIZE, "header is 216 bytes");
SICVM_STATIC_ASSERT(offsetof(VmHeader, programNumber) == 24, "programNumber at 24");
SICVM_STATIC_ASSERT(offsetof(VmHeader, programName) == 32, "programName at 32");
SICVM_STATIC_ASSERT(offsetof(VmHeader, machineOffset) == 124, "machineOffset at 124");
SICVM_STATIC_ASSERT(offsetof(VmHeader, commandCount) == 152, "commandCount at 152");
SICVM_STATIC_ASSERT(offsetof(VmHeader, segmentVarCount) == 172, "segmentVarCount at 172");
SICVM_STATIC_ASSERT(offsetof(VmHeader, arrayVarCount) == 188, "arrayVarCount at 188");
SICVM_STATIC_ASSERT(offsetof(VmHeader, replicationSize) == 196, "replicationSize at 196");
SICVM_STATIC_ASSERT(offsetof(VmHeader, reserved200) == 200, "reserved tail at 200");
SICVM_STATIC_ASSERT(sizeof(VmMachine) == VM_MACHINE_SIZE, "machine block is 120 bytes");
SICVM_STATIC_ASSERT(offsetof(VmMachine, globalSegment) == 8 * 4, "globalSegment is word 8");
SICVM_STATIC_ASSERT(offsetof(VmMachine, statusFlagsRef) == 13 * 4, "statusFlagsRef is word 13");
SICVM_STATIC_ASSERT(offsetof(VmMachine, pointCount) == 19 * 4, "pointCount is word 19");
SICVM_STATIC_ASSERT(offsetof(VmMachine, storeHandle) == 23 * 4, "storeHandle is word 23");
SICVM_STATIC_ASSERT(offsetof(VmMachine, image) == 25 * 4, "image is word 25");
SICVM_STATIC_ASSERT(offsetof(VmMachine, arrays) == 29 * 4, "arrays is word 29");
SICVM_STATIC_ASSERT(sizeof(VmStateBlock) == VM_STATE_SIZE, "state block is 24 bytes");
SICVM_STATIC_ASSERT(sizeof(VmCallEntry) == VM_CALL_ENTRY_SIZE, "call entry is 8 bytes");
SICVM_STATIC_ASSERT(sizeof(VmValue) == 8, "value field is 8 bytes");
SICVM_STATIC_ASSERT(sizeof(VmCell) == VM_CELL_SIZE, "cell is 12 bytes");
SICVM_STATIC_ASSERT(offsetof(VmCell, v) == 4, "value at byte 4");
SICVM_STATIC_ASSERT(sizeof(VmCommand) == VM_COMMAND_SIZE, "command is 44 bytes");
SICVM_STATIC_ASSERT(offsetof(VmCommand, src1) == 8, "SRC1 at 8");
SICVM_STATIC_ASSERT(offsetof(VmCommand, src2) == 20, "SRC2 at 20");
SICVM_STATIC_ASSERT(offsetof(VmCommand, dst) == 32, "DST at 32");
SICVM_STATIC_ASSERT(sizeof(VmVarRecord) == VM_VAR_RECORD_SIZE, "var record is 16 bytes");
SICVM_STATIC_ASSERT(offsetof(VmVarRecord, pointIndex) == 8, "point index at 8");
SICVM_STATIC_ASSERT(offsetof(VmVarRecord, cell) == 12, "cell location at 12");
SICVM_STATIC_ASSERT(sizeof(VmArrayRecord) == VM_ARRAY_RECORD_SIZE, "array record is 44 bytes");
SICVM_STATIC_ASSERT(offsetof(VmArrayRecord, firstCell) == 40, "first cell at 40");

SICVM_END_DECLS

#endif
