#include "diagnostics/traceback.h"

#include <cstdio>
#include <cstring>

#include "diagnostics/trace_table.h"
#include "diagnostics/traceback_report.h"

// The reservation for this image's traceback table. The build writes the table into the file after
// linking (cmake/trace_table.py, which looks for the placeholder magic). The report never reads this
// array by name: it finds the ".trace" section through the module that holds a program counter, so
// what it reads is what the image holds, never a value the compiler could fold in. The section is
// allocated, so stripping the debugging information from a release build keeps the table.
extern "C" {
__attribute__((section(".trace"), used))
const unsigned char pageout_trace_table[pageout::diagnostics::kTraceReservationSize] = {
    pageout::diagnostics::kUnfilledMagic[0],
    pageout::diagnostics::kUnfilledMagic[1],
    pageout::diagnostics::kUnfilledMagic[2],
    pageout::diagnostics::kUnfilledMagic[3],
    pageout::diagnostics::kTraceReservationSize & 0xFF,
    (pageout::diagnostics::kTraceReservationSize >> 8) & 0xFF,
    (pageout::diagnostics::kTraceReservationSize >> 16) & 0xFF,
    (pageout::diagnostics::kTraceReservationSize >> 24) & 0xFF};
}

namespace pageout::diagnostics {

namespace {

const char* FileNamePart(const char* path) {
  const char* name = path;
  for (const char* p = path; *p != '\0'; ++p) {
    if (*p == '/' || *p == '\\') name = p + 1;
  }
  return name;
}

// Writes the report into the text area that starts at the end of the diagnostic text.
class ReportWriter final : public platform::FrameVisitor {
 public:
  ReportWriter(platform::Stack& stack, char* area, std::size_t room)
      : stack_(stack), area_(area), room_(room) {}

  bool OnFrame(const platform::StackFrame& frame) override {
    if (frames_ == 0) {
      char header[kTracebackHeaderLength + 1];
      std::snprintf(header, sizeof header, kTracebackHeaderFormat, "Image", "PC", "Routine",
                    "Line", "Source");
      if (!Put(header, kTracebackHeaderLength)) return false;
    }
    if (frame.program_counter == 0) return false;

    platform::ModuleView view;
    stack_.QueryModule(frame.program_counter, &view);
    TraceModule module;
    module.image_ok = view.image_ok;
    module.table = view.table;
    module.table_size = view.table_size;
    module.code = view.code;
    module.code_size = view.code_size;
    LookupResult found;
    LookupProgramCounter(module, frame.program_counter - view.load_bias, &found);

    const auto pc_column =
        static_cast<unsigned>((frame.program_counter - view.column_origin) & 0xFFFFFFFFu);
    const char* source = std::strcmp(found.source, "Unknown") == 0 ? found.source
                                                                   : FileNamePart(found.source);
    // A row is 61 characters, the source name and the LF.
    char row[64 + LookupResult::kMaxName + 1];
    const int length = std::snprintf(row, sizeof row, kTracebackRowFormat, view.file_name,
                                     pc_column, found.routine, found.line, source);
    if (length < 0) return false;
    const std::size_t row_length =
        static_cast<std::size_t>(length) < sizeof row ? static_cast<std::size_t>(length)
                                                      : sizeof row - 1;
    if (!Put(row, row_length)) return false;
    ++frames_;
    return true;
  }

  // Appends as much of text as the room takes with the terminating NUL; false when it was cut.
  bool Put(const char* text, std::size_t length) {
    const std::size_t left = room_ - written_;  // room_ > written_ always: the NUL has its byte
    const std::size_t take = length < left ? length : left - 1;
    std::memcpy(area_ + written_, text, take);
    written_ += take;
    area_[written_] = '\0';
    return take == length;
  }

  std::size_t written() const { return written_; }

 private:
  platform::Stack& stack_;
  char* area_;
  std::size_t room_;
  std::size_t written_ = 0;
  std::size_t frames_ = 0;
};

}  // namespace

std::size_t AppendTracebackReport(platform::Stack& stack, const platform::FaultContext* fault,
                                  char* text, std::size_t used, std::size_t capacity) {
  if (capacity == 0) return 0;
  if (used >= capacity) {
    text[capacity - 1] = '\0';
    return capacity - 1;
  }
  ReportWriter writer(stack, text + used, capacity - used);
  text[used] = '\0';
  const platform::WalkEnd end = stack.Walk(fault, writer);
  if (end != platform::WalkEnd::kNormal) {
    writer.Put(kTracebackAbnormalText, sizeof kTracebackAbnormalText - 1);
  }
  return used + writer.written();
}

std::size_t AppendTracebackReport(const platform::FaultContext* fault, char* text, std::size_t used,
                                  std::size_t capacity) {
  return AppendTracebackReport(platform::SystemStack(), fault, text, used, capacity);
}

}  // namespace pageout::diagnostics
