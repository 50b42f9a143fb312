#include "diagnostics/catalogue.h"

#include <iterator>

namespace pageout::diagnostics {
namespace {

// Channel entries take the channel number and the console device name ("unit %d, file %s"),
// entry 200 the event name, entry 172 the exception code twice (as unsigned long and as long).
constexpr CatalogueEntry kCatalogue[] = {
    {24, Severity::kSevere, "end-of-file during read, unit %d, file %s"},
    {30, Severity::kSevere, "open failure, unit %d, file %s"},
    {38, Severity::kSevere, "error during write, unit %d, file %s"},
    {39, Severity::kSevere, "error during read, unit %d, file %s"},
    {66, Severity::kSevere, "output statement overflows record, unit %d, file %s"},
    {98, Severity::kSevere,
     "cannot allocate memory for the file buffer - out of memory, unit %d, file %s"},
    {157, Severity::kSevere, "Program Exception - access violation"},
    {158, Severity::kSevere, "Program Exception - datatype misalignment"},
    {159, Severity::kSevere, "Program Exception - breakpoint"},
    {160, Severity::kSevere, "Program Exception - single step"},
    {161, Severity::kSevere, "Program Exception - array bounds exceeded"},
    {162, Severity::kSevere, "Program Exception - denormal floating-point operand"},
    {163, Severity::kSevere, "Program Exception - floating stack check"},
    {164, Severity::kSevere, "Program Exception - integer divide by zero"},
    {165, Severity::kSevere, "Program Exception - integer overflow"},
    {166, Severity::kSevere, "Program Exception - privileged instruction"},
    {167, Severity::kSevere, "Program Exception - in page error"},
    {168, Severity::kSevere, "Program Exception - illegal instruction"},
    {169, Severity::kSevere, "Program Exception - noncontinuable exception"},
    {170, Severity::kSevere, "Program Exception - stack overflow"},
    {171, Severity::kSevere, "Program Exception - invalid disposition"},
    {172, Severity::kSevere, "Program Exception - exception code = 0x%lx (%ld)"},
    {200, Severity::kError, "program aborting due to %s event"},
};

struct ExceptionRow {
  std::uint16_t low_code;
  std::uint16_t number;
};

// Selected by the low 16 bits of the Win32 exception code.
constexpr ExceptionRow kExceptionRows[] = {
    {0x0005, 157}, {0x0002, 158}, {0x0003, 159}, {0x0004, 160}, {0x008C, 161},
    {0x008D, 162}, {0x0092, 163}, {0x0094, 164}, {0x0095, 165}, {0x0096, 166},
    {0x0006, 167}, {0x001D, 168}, {0x0025, 169}, {0x00FD, 170}, {0x0026, 171},
};

constexpr const char* kSeverityPrefixes[] = {
    "apperr", "apperr: info", "apperr: warning", "apperr: error", "apperr: severe",
};

}  // namespace

const CatalogueEntry* FindMessage(unsigned number) {
  for (const CatalogueEntry& entry : kCatalogue) {
    if (entry.number == number) return &entry;
  }
  return nullptr;
}

const char* SeverityPrefix(Severity severity) {
  const auto index = static_cast<std::size_t>(severity);
  return index < std::size(kSeverityPrefixes) ? kSeverityPrefixes[index] : kSeverityPrefixes[4];
}

unsigned ExceptionMessageNumber(std::uint32_t exception_code) {
  const auto low = static_cast<std::uint16_t>(exception_code & 0xFFFFu);
  for (const ExceptionRow& row : kExceptionRows) {
    if (row.low_code == low) return row.number;
  }
  return msg::kOtherException;
}

}  // namespace pageout::diagnostics
