#include "services/existence.h"

#include <new>
#include <optional>
#include <string>

#include "platform/os.h"

namespace pageout::services {
namespace {

struct DeviceRow {
  std::string_view name;
  bool with_extension;  // still a device name when an extension follows
};

constexpr DeviceRow kDeviceNames[] = {
    {"CON", true},      {"USER", false},   {"PRN", true},   {"COM1", true},  {"COM2", true},
    {"COM3", true},     {"COM4", true},    {"LPT1", false}, {"LPT2", false}, {"LPT3", false},
    {"LPT4", false},    {"NUL", true},     {"AUX", true},   {"ERR", false},  {"LINE", false},
    {"CONOUT$", false}, {"CONIN$", false},
};

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Upper(a[i]) != Upper(b[i])) return false;
  }
  return true;
}

}  // namespace

bool IsDeviceName(std::string_view name) {
  const std::size_t dot = name.rfind('.');
  const std::string_view base = dot == std::string_view::npos ? name : name.substr(0, dot);
  const bool has_extension = dot != std::string_view::npos && dot + 1 < name.size();
  const std::size_t size = base.size();
  if (size != 3 && size != 4 && size != 6 && size != 7) return false;
  for (const DeviceRow& row : kDeviceNames) {
    if (EqualIgnoringCase(base, row.name)) return !has_extension || row.with_extension;
  }
  return false;
}

namespace {

Existence TestName(platform::Os& os, std::string_view text) {
  std::string_view name = text.substr(0, kMaxTestedName);
  while (!name.empty() && name.front() == ' ') name.remove_prefix(1);
  while (!name.empty() && (name.back() == ' ' || name.back() == '\0')) name.remove_suffix(1);
  // No file name holds a NUL. The platform would take the name only up to it, and a name
  // accepted that way would reach the command with its NUL, which cuts the command short there.
  if (name.find('\0') != std::string_view::npos) return {};
  const std::string tested(name);

  std::string resolved;
  if (IsDeviceName(tested)) {
    resolved = tested.substr(0, tested.rfind('.'));
  } else {
    const std::optional<std::string> full = os.FullPath(tested);
    resolved = full && !full->empty() && full->size() <= kMaxTestedName ? *full : tested;
  }

  Existence result;
  const platform::Attributes attributes = os.QueryAttributes(resolved);
  const bool exists = attributes.ok ? !attributes.directory : IsDeviceName(resolved);
  result.exists = exists ? -1 : 0;
  return result;
}

}  // namespace

Existence TestExistence(platform::Os& os, std::string_view text) {
  // The test reports nothing: a name that cannot even be copied does not exist.
  try {
    return TestName(os, text);
  } catch (const std::bad_alloc&) {
    return {};
  }
}

}  // namespace pageout::services
