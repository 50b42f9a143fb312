#include "platform/path_posix.h"

#include <cstddef>
#include <vector>

namespace pageout::platform {

std::string LexicalAbsolutePath(const std::string& cwd, const std::string& name) {
  const std::string joined = !name.empty() && name.front() == '/' ? name : cwd + "/" + name;
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= joined.size()) {
    std::size_t end = joined.find('/', start);
    if (end == std::string::npos) end = joined.size();
    const std::string part = joined.substr(start, end - start);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    start = end + 1;
  }
  std::string result;
  for (const std::string& part : parts) result += "/" + part;
  if (result.empty()) return "/";
  if (!name.empty() && name.back() == '/') result += '/';
  return result;
}

}  // namespace pageout::platform
