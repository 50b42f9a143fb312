#include "diagnostics/trace_table.h"

#include <cstdio>
#include <cstring>

namespace pageout::diagnostics {

namespace {

constexpr char kUnknown[] = "Unknown";

// A bounds-checked cursor over the table bytes. Every read fails once the table is exhausted or a
// number does not fit, so a damaged table ends the lookup instead of reading past the section.
class Reader {
 public:
  Reader(const unsigned char* data, std::size_t size) : data_(data), size_(size) {}

  bool Byte(unsigned char* value) {
    if (pos_ >= size_) return false;
    *value = data_[pos_++];
    return true;
  }

  bool Unsigned(std::uint64_t* value) {
    std::uint64_t result = 0;
    for (unsigned shift = 0; shift < 64; shift += 7) {
      unsigned char byte = 0;
      if (!Byte(&byte)) return false;
      result |= static_cast<std::uint64_t>(byte & 0x7F) << shift;
      if ((byte & 0x80) == 0) {
        *value = result;
        return true;
      }
    }
    return false;
  }

  bool Signed(std::int64_t* value) {
    std::uint64_t result = 0;
    unsigned shift = 0;
    unsigned char byte = 0;
    do {
      if (shift >= 64 || !Byte(&byte)) return false;
      result |= static_cast<std::uint64_t>(byte & 0x7F) << shift;
      shift += 7;
    } while ((byte & 0x80) != 0);
    if (shift < 64 && (byte & 0x40) != 0) result |= ~std::uint64_t{0} << shift;
    *value = static_cast<std::int64_t>(result);
    return true;
  }

  // A counted byte string, returned as a view into the table.
  bool Text(const unsigned char** text, std::size_t* length) {
    std::uint64_t count = 0;
    if (!Unsigned(&count) || count > size_ - pos_) return false;
    *text = data_ + pos_;
    *length = static_cast<std::size_t>(count);
    pos_ += static_cast<std::size_t>(count);
    return true;
  }

  bool Skip(std::size_t count) {
    if (count > size_ - pos_) return false;
    pos_ += count;
    return true;
  }

 private:
  const unsigned char* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

struct TextView {
  const unsigned char* data = nullptr;
  std::size_t length = 0;
};

void CopyName(char* target, TextView text) {
  std::size_t length = text.length < LookupResult::kMaxName ? text.length : LookupResult::kMaxName;
  if (text.data == nullptr) {
    std::memcpy(target, kUnknown, sizeof kUnknown);
    return;
  }
  std::memcpy(target, text.data, length);
  target[length] = '\0';
}

void SetUnknown(LookupResult* result) {
  std::memcpy(result->routine, kUnknown, sizeof kUnknown);
  std::memcpy(result->source, kUnknown, sizeof kUnknown);
  std::memcpy(result->line, kUnknown, sizeof kUnknown);
}

// A table compiled for other code: a code section that opens with a jump (after the 0xCC filler
// some linkers put in front) is the sign of an incrementally linked image, whose routines sit
// behind jump thunks at addresses the table does not describe.
bool CodeStartsWithJump(const unsigned char* code, std::size_t size) {
  std::size_t i = 0;
  while (i < size && code[i] == 0xCC) ++i;
  return i < size && code[i] == 0xE9;
}

// Walks one record's entries for pc_offset. Returns false when the record says nothing about it.
bool LookupInRecord(Reader& reader, std::uint64_t record_start, std::uint64_t pc_offset,
                    LookupResult* result) {
  std::uint64_t path_count = 0;
  if (!reader.Unsigned(&path_count)) return false;
  // The paths are few (one per source file of the record); keep views of the first ones and refuse
  // a selection beyond them.
  constexpr std::size_t kMaxPaths = 64;
  TextView paths[kMaxPaths];
  for (std::uint64_t i = 0; i < path_count; ++i) {
    TextView path;
    if (!reader.Text(&path.data, &path.length)) return false;
    if (i < kMaxPaths) paths[i] = path;
  }

  std::uint64_t entry_count = 0;
  if (!reader.Unsigned(&entry_count)) return false;
  TextView routine;
  TextView source = path_count > 0 ? paths[0] : TextView{};
  std::uint64_t routine_start = record_start;
  std::uint64_t address = record_start;
  std::uint64_t line = 0;
  for (std::uint64_t i = 0; i < entry_count; ++i) {
    unsigned char kind = 0;
    if (!reader.Byte(&kind)) return false;
    switch (static_cast<TraceEntryKind>(kind)) {
      case TraceEntryKind::kRoutine: {
        std::uint64_t start = 0;
        if (!reader.Unsigned(&start) || !reader.Text(&routine.data, &routine.length)) return false;
        routine_start = start;
        address = start;
        break;
      }
      case TraceEntryKind::kSource: {
        std::uint64_t index = 0;
        if (!reader.Unsigned(&index) || index >= path_count || index >= kMaxPaths) return false;
        source = paths[index];
        break;
      }
      case TraceEntryKind::kLine: {
        std::int64_t delta = 0;
        std::uint64_t bytes = 0;
        if (!reader.Signed(&delta) || !reader.Unsigned(&bytes)) return false;
        line += static_cast<std::uint64_t>(delta);
        address += bytes;
        // The end of a line's code counts as part of that line: for every frame but the innermost
        // the program counter is a return address, the byte after the call.
        if (address >= pc_offset) {
          if (pc_offset < routine_start) return false;
          CopyName(result->routine, routine);
          CopyName(result->source, source);
          std::snprintf(result->line, sizeof result->line, "%lu",
                        static_cast<unsigned long>(line & 0xFFFFFFFFu));
          return true;
        }
        break;
      }
      default:
        return false;
    }
  }
  return false;
}

bool Lookup(const TraceModule& module, std::uint64_t pc_offset, LookupResult* result) {
  if (!module.image_ok || module.table == nullptr || module.table_size < kTraceHeaderSize) {
    return false;
  }
  if (std::memcmp(module.table, kTraceMagic, sizeof kTraceMagic) != 0) return false;
  if (module.code != nullptr && CodeStartsWithJump(module.code, module.code_size)) return false;

  std::size_t reservation = 0;
  for (std::size_t i = 0; i < 4; ++i) {
    reservation |= static_cast<std::size_t>(module.table[sizeof kTraceMagic + i]) << (8 * i);
  }
  Reader reader(module.table, reservation < module.table_size ? reservation : module.table_size);
  if (!reader.Skip(kTraceHeaderSize)) return false;
  std::uint64_t record_count = 0;
  if (!reader.Unsigned(&record_count)) return false;
  for (std::uint64_t i = 0; i < record_count; ++i) {
    std::uint64_t start = 0;
    std::uint64_t length = 0;
    if (!reader.Unsigned(&start) || !reader.Unsigned(&length)) return false;
    if (pc_offset >= start && pc_offset - start < length) {
      return LookupInRecord(reader, start, pc_offset, result);
    }
    // Skip the record that does not hold the program counter: its paths, then its entries.
    std::uint64_t path_count = 0;
    if (!reader.Unsigned(&path_count)) return false;
    for (std::uint64_t p = 0; p < path_count; ++p) {
      const unsigned char* text = nullptr;
      std::size_t text_length = 0;
      if (!reader.Text(&text, &text_length)) return false;
    }
    std::uint64_t entry_count = 0;
    if (!reader.Unsigned(&entry_count)) return false;
    for (std::uint64_t e = 0; e < entry_count; ++e) {
      unsigned char kind = 0;
      std::uint64_t number = 0;
      std::int64_t delta = 0;
      const unsigned char* text = nullptr;
      std::size_t text_length = 0;
      if (!reader.Byte(&kind)) return false;
      bool ok = false;
      switch (static_cast<TraceEntryKind>(kind)) {
        case TraceEntryKind::kRoutine:
          ok = reader.Unsigned(&number) && reader.Text(&text, &text_length);
          break;
        case TraceEntryKind::kSource:
          ok = reader.Unsigned(&number);
          break;
        case TraceEntryKind::kLine:
          ok = reader.Signed(&delta) && reader.Unsigned(&number);
          break;
      }
      if (!ok) return false;
    }
  }
  return false;
}

}  // namespace

void LookupProgramCounter(const TraceModule& module, std::uintptr_t pc_offset,
                          LookupResult* result) {
  if (!Lookup(module, pc_offset, result)) SetUnknown(result);
}

}  // namespace pageout::diagnostics
