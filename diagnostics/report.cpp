#include "diagnostics/report.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "diagnostics/catalogue.h"
#include "diagnostics/traceback.h"
#include "platform/fault_context.h"
#include "platform/os.h"

namespace pageout::diagnostics {
namespace {

char* ObtainFromFreeStore(std::size_t size) { return new (std::nothrow) char[size]; }
void ReleaseToFreeStore(char* block) { delete[] block; }

constexpr TextMemory kFreeStore = {&ObtainFromFreeStore, &ReleaseToFreeStore};

// Composes "%s (%i): %s\r\n" into text (capacity bytes, NUL included; capacity 0 only measures).
// Returns the length the whole line has, as snprintf does.
std::size_t ComposeLine(char* text, std::size_t capacity, const char* prefix, unsigned number,
                        const char* message, std::va_list values) {
  char head[64];
  const int head_length =
      std::snprintf(head, sizeof head, "%s (%i): ", prefix, static_cast<int>(number));
  const auto head_size = static_cast<std::size_t>(head_length > 0 ? head_length : 0);

  std::va_list copy;
  va_copy(copy, values);
  const int body_length = std::vsnprintf(nullptr, 0, message, copy);
  va_end(copy);
  const auto body_size = static_cast<std::size_t>(body_length > 0 ? body_length : 0);

  const std::size_t total = head_size + body_size + 2;
  if (capacity == 0) return total;

  std::size_t used = 0;
  auto append = [&](const char* bytes, std::size_t size) {
    const std::size_t room = capacity - 1 - used;
    const std::size_t take = size < room ? size : room;
    std::memcpy(text + used, bytes, take);
    used += take;
  };
  append(head, head_size);
  if (used < capacity - 1) {
    va_copy(copy, values);
    std::vsnprintf(text + used, capacity - used, message, copy);
    va_end(copy);
    used += body_size < capacity - 1 - used ? body_size : capacity - 1 - used;
  }
  append("\r\n", 2);
  text[used] = '\0';
  return total;
}

// Writes used bytes of text (room for capacity) to standard error in one piece when the text has
// room to be widened in place, else piecewise through the text stream.
void WriteDiagnosticText(platform::Os& os, char* text, std::size_t used, std::size_t capacity) {
  std::size_t line_feeds = 0;
  for (std::size_t i = 0; i < used; ++i) line_feeds += text[i] == '\n' ? 1 : 0;
  if (used + line_feeds > capacity) {
    WriteStandardErrorText(os, text, used);
    return;
  }
  // Widen from the end so that every byte moves only once.
  std::size_t to = used + line_feeds;
  for (std::size_t from = used; from > 0; --from) {
    const char c = text[from - 1];
    text[--to] = c;
    if (c == '\n') text[--to] = '\r';
  }
  os.WriteStandardError(text, used + line_feeds);
}

void ReportWithFault(platform::Os& os, const TextMemory& memory,
                     const platform::FaultContext* fault, unsigned number, ...) {
  std::va_list values;
  va_start(values, number);
  ReportDiagnosticWith(os, memory, fault, number, values);
  va_end(values);
}

}  // namespace

const TextMemory& DefaultTextMemory() { return kFreeStore; }

void ReportDiagnostic(platform::Os& os, unsigned number, ...) {
  std::va_list values;
  va_start(values, number);
  ReportDiagnosticWith(os, kFreeStore, nullptr, number, values);
  va_end(values);
}

void ReportDiagnosticWith(platform::Os& os, const TextMemory& memory,
                          const platform::FaultContext* fault, unsigned number,
                          std::va_list values) {
  const CatalogueEntry* entry = FindMessage(number);
  const Severity severity = entry != nullptr ? entry->severity : Severity::kSevere;
  const char* message = entry != nullptr ? entry->text : kMessageNotFound;
  const char* prefix = SeverityPrefix(severity);

  if (char* text = memory.obtain(kDiagnosticTextSize)) {
    std::size_t used = ComposeLine(text, kDiagnosticTextSize, prefix, number, message, values);
    if (used > kDiagnosticTextSize - 1) used = kDiagnosticTextSize - 1;
    if (severity == Severity::kSevere) {
      used = AppendTracebackReport(fault, text, used, kDiagnosticTextSize);
    }
    WriteDiagnosticText(os, text, used, kDiagnosticTextSize);
    memory.release(text);
  } else {
    // Without the full text there is no room for a traceback: the line alone, in a buffer of
    // exactly its size, and when even that is refused a notice that names the number.
    const std::size_t size = ComposeLine(nullptr, 0, prefix, number, message, values) + 1;
    if (char* line = memory.obtain(size)) {
      ComposeLine(line, size, prefix, number, message, values);
      WriteStandardErrorText(os, line, size - 1);
      memory.release(line);
    } else {
      char notice[96];
      const int length =
          std::snprintf(notice, sizeof notice,
                        "apperr: no message buffer available for message number %u\r\n", number);
      if (length > 0) WriteStandardErrorText(os, notice, static_cast<std::size_t>(length));
    }
  }

  if (severity == Severity::kSevere) SevereEnd(os, number);
}

void ReportChannelDiagnostic(platform::Os& os, unsigned number, const ChannelFailure& channel) {
  if (channel.platform_error != 0) WritePlatformErrorLine(os, channel.platform_error);
  ReportWithFault(os, kFreeStore, nullptr, number, channel.channel_number, channel.device_name);
  SevereEnd(os, number);
}

void ReportException(platform::Os& os, const platform::FaultContext& fault) {
  ReportExceptionWith(os, kFreeStore, fault);
}

void ReportExceptionWith(platform::Os& os, const TextMemory& memory,
                         const platform::FaultContext& fault) {
  const unsigned number = ExceptionMessageNumber(fault.code);
  // Entry 172 shows the 32-bit code twice: in hex, and as the signed value it is on Win32, where
  // long has 32 bits; the casts give the same text where long is wider.
  const auto as_unsigned = static_cast<unsigned long>(fault.code);
  const auto as_signed = static_cast<long>(static_cast<std::int32_t>(fault.code));
  ReportWithFault(os, memory, &fault, number, as_unsigned, as_signed);
  SevereEnd(os, number);
}

void WritePlatformErrorLine(platform::Os& os, std::uint32_t code) {
  std::string line = "apperr: ";
  if (std::optional<std::string> text = os.SystemMessage(code)) {
    line += *text;
  } else {
    line +=
        "FormatMessage failed for sysmem message number " + std::to_string(static_cast<int>(code));
  }
  WriteStandardErrorText(os, line.data(), line.size());
}

void WriteStandardErrorText(platform::Os& os, const char* text, std::size_t size) {
  char chunk[1024];
  std::size_t filled = 0;
  for (std::size_t i = 0; i < size; ++i) {
    if (filled + 2 > sizeof chunk) {
      os.WriteStandardError(chunk, filled);
      filled = 0;
    }
    if (text[i] == '\n') chunk[filled++] = '\r';
    chunk[filled++] = text[i];
  }
  if (filled > 0) os.WriteStandardError(chunk, filled);
}

void SevereEnd(platform::Os& os, unsigned number) {
  // Closing the console channels writes nothing (every record went out when it was finished) and
  // leaves the standard handles open, so the ordinary process exit is all that remains.
  os.Exit(static_cast<int>(number));
  std::abort();  // Exit does not return; this keeps the promise should an Os break its own
}

}  // namespace pageout::diagnostics
