// The existence test over arbitrary name fields (any bytes, any length, NULs, blanks, dots, device
// names in any case) on both hosts, against a file system that holds the name as a file, a
// directory, an object it may not query or nothing, with full paths that fit, that do not and that
// cannot be formed.
//
// Checks, against a plain model of the rules: the name asked about (cut to 256 characters, blanks
// and trailing NULs removed), the device check, which name is resolved and queried (never longer
// than 256 characters, never with a NUL), exactly one attribute query, and the answer: status 0
// always; exists when the query finds something that is not a directory, or when it fails for a
// device name.
#include <fuzzer/FuzzedDataProvider.h>

#include <optional>
#include <string>

#include "services/existence.h"
#include "tests/fuzz/fuzz_os.h"

namespace pageout::fuzz {
namespace {

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// The device check, written from its rule: the base before the last dot is one of the reserved
// names; names beginning with E, L or U, and the two console names, lose that meaning when an
// extension follows.
bool ModelDevice(std::string_view name) {
  static constexpr std::string_view kNames[] = {"CON",  "USER", "PRN",  "COM1",    "COM2",  "COM3",
                                                "COM4", "LPT1", "LPT2", "LPT3",    "LPT4",  "NUL",
                                                "AUX",  "ERR",  "LINE", "CONOUT$", "CONIN$"};
  const std::size_t dot = name.rfind('.');
  const std::string_view base = name.substr(0, dot);
  const bool extension = dot != std::string_view::npos && dot + 1 < name.size();
  std::string upper;
  for (char c : base) upper += Upper(c);
  for (std::string_view device : kNames) {
    if (upper != device) continue;
    if (!extension) return true;
    const bool loses = device[0] == 'E' || device[0] == 'L' || device[0] == 'U' ||
                       device == "CONOUT$" || device == "CONIN$";
    return !loses;
  }
  return false;
}

// The tested name, or nullopt when it holds a NUL: no file name does, so the test asks nothing.
std::optional<std::string> TestedName(std::string_view text) {
  std::string_view name = text.substr(0, 256);
  while (!name.empty() && name.front() == ' ') name.remove_prefix(1);
  while (!name.empty() && (name.back() == ' ' || name.back() == '\0')) name.remove_suffix(1);
  if (name.find('\0') != std::string_view::npos) return std::nullopt;
  return std::string(name);
}

}  // namespace
}  // namespace pageout::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace pageout;
  using namespace pageout::fuzz;
  FuzzedDataProvider input(data, size);

  const bool windows = input.ConsumeBool();
  FuzzOs os(windows ? platform::Host::kWindows : platform::Host::kLinux);
  const int full_path_kind = input.ConsumeIntegralInRange(0, 4);
  const std::size_t long_path = input.ConsumeIntegralInRange<std::size_t>(240, 300);
  const int object_kind = input.ConsumeIntegralInRange(0, 4);
  const std::string text = input.ConsumeRemainingBytesAsString();
  const std::optional<std::string> name = TestedName(text);
  if (!name) {
    const services::Existence result = services::TestExistence(os, text);
    FUZZ_CHECK(result.status == 0 && result.exists == 0);
    FUZZ_CHECK(os.attribute_queries.empty() && os.full_path_calls.empty());
    return 0;
  }
  const std::string& tested = *name;

  switch (full_path_kind) {
    case 1:  // the platform cannot form a full path
      os.full_path_hook = [](const std::string&) { return std::nullopt; };
      break;
    case 2:  // one around the limit of 256 characters
      os.full_path_hook = [long_path](const std::string& name) {
        std::string path = "/" + name;
        if (path.size() < long_path) path.insert(1, long_path - path.size(), 'd');
        return std::optional<std::string>(path);
      };
      break;
    case 3:  // an empty answer
      os.full_path_hook = [](const std::string&) { return std::optional<std::string>(""); };
      break;
    default:
      break;
  }
  // What the file system holds under the name the test will ask about.
  const std::optional<std::string> full =
      full_path_kind == 0 || full_path_kind == 4 ? os.FullPath(tested) : std::nullopt;
  os.full_path_calls.clear();
  const std::string target = full ? *full : tested;
  switch (object_kind) {
    case 1:
      os.AddFile(target);
      break;
    case 2:
      os.AddDirectory(target);
      break;
    case 3:
      os.AttributeError(target, platform::err::kAccessDenied);
      break;
    case 4:
      os.AddFile(tested);
      break;
    default:
      break;
  }

  const services::Existence result = services::TestExistence(os, text);

  FUZZ_CHECK(result.status == 0);
  FUZZ_CHECK(result.exists == 0 || result.exists == -1);
  FUZZ_CHECK(services::IsDeviceName(tested) == ModelDevice(tested));
  FUZZ_CHECK(os.attribute_queries.size() == 1);
  const std::string queried = os.attribute_queries[0];
  FUZZ_CHECK(queried.size() <= services::kMaxTestedName);
  FUZZ_CHECK(queried.find('\0') == std::string::npos);
  if (ModelDevice(tested)) {
    FUZZ_CHECK(os.full_path_calls.empty());
    FUZZ_CHECK(queried == tested.substr(0, tested.rfind('.')));
  } else {
    FUZZ_CHECK(os.full_path_calls.size() == 1 && os.full_path_calls[0] == tested);
    const std::optional<std::string> formed = os.FullPath(tested);
    const bool fits = formed && !formed->empty() && formed->size() <= services::kMaxTestedName;
    FUZZ_CHECK(queried == (fits ? *formed : tested));
  }
  const platform::Attributes answer = os.QueryAttributes(queried);
  const bool exists = answer.ok ? !answer.directory : ModelDevice(queried);
  FUZZ_CHECK(result.exists == (exists ? -1 : 0));
  // The test only asks: it writes nothing and starts nothing.
  FUZZ_CHECK(os.writes.empty() && os.starts.empty() && os.standard_error.empty());
  return 0;
}
