// The traceback table: the build's map from code addresses to routine, source file and source line,
// stored in the ".trace" section of the image it describes, and the program-counter lookup over it.
//
// Encoding (all integers unsigned LEB128 unless noted, as in DWARF):
//   magic "TRC1" (4 bytes)                       -- an unfilled reservation holds kUnfilledMagic
//   reservation size (4 bytes, little-endian)    -- the bytes the image reserves for the table;
//                                                   nothing beyond them belongs to it
//   record count
//   per module record:
//     start, length                              -- the code range [start, start + length)
//     source path count, then per path: byte count, bytes
//     entry count, then per entry one kind byte and its operands:
//       kRoutine: start address, name byte count, name bytes   -- code of following lines starts here
//       kSource:  index into the record's source paths
//       kLine:    line change (signed LEB128), code byte count
//
// Every address in the table is relative to the module's load base (the image base of a PE file, the
// load bias of an ELF file), so the table stays valid wherever the loader places the module (ASLR,
// position-independent executables). The lookup takes program counters on the same footing.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pageout::diagnostics {

inline constexpr unsigned char kTraceMagic[4] = {'T', 'R', 'C', '1'};
// The bytes a reserved but not yet filled ".trace" section starts with.
inline constexpr unsigned char kUnfilledMagic[4] = {'T', 'R', 'C', '0'};

// The bytes reserved for the table in every image that links the traceback report; the build step
// fails when a table does not fit. The section that holds them may be larger (alignment, the
// sanitizer's guard zones), so the size travels in the table's own header.
inline constexpr std::size_t kTraceReservationSize = 8192;
inline constexpr std::size_t kTraceHeaderSize = 8;

enum class TraceEntryKind : unsigned char { kRoutine = 1, kSource = 2, kLine = 3 };

// The result of looking up a program counter; each text is NUL-terminated and "Unknown" where the
// table says nothing.
struct LookupResult {
  static constexpr std::size_t kMaxName = 259;

  char routine[kMaxName + 1];
  char source[kMaxName + 1];
  char line[11];  // the line number in unsigned decimal
};

// The sections of one module that the lookup reads.
struct TraceModule {
  bool image_ok = false;               // the image has its signature and at least one section
  const unsigned char* table = nullptr;  // the ".trace" section, nullptr when absent
  std::size_t table_size = 0;
  const unsigned char* code = nullptr;   // the ".text" section, nullptr when absent
  std::size_t code_size = 0;
};

// Looks up pc_offset (the program counter minus the module's load base) in module's table. Fills
// *result with the routine, the source path and the line of the first line entry whose code end is
// not below pc_offset, or with "Unknown" three times when the module has no usable table, the code
// section starts with a jump (after any 0xCC filler), no record holds pc_offset, or pc_offset lies
// below its routine's start or beyond the record's lines. A malformed table gives "Unknown" too.
void LookupProgramCounter(const TraceModule& module, std::uintptr_t pc_offset,
                          LookupResult* result);

}  // namespace pageout::diagnostics
