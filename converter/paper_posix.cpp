#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "converter/paper.h"

namespace pageout::converter {
namespace {

std::optional<PaperSize> PaperFromFile(const char* path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  std::ostringstream contents;
  contents << file.rdbuf();
  return PaperFromConfigFile(contents.str());
}

}  // namespace

// Debian's paper tools look at the PAPERSIZE variable first, then at the file named by PAPERCONF,
// then at /etc/papersize; a source that names no size we know gives way to the next one.
PaperSize SystemDefaultPaper() {
  if (const char* name = std::getenv("PAPERSIZE"); name != nullptr) {
    if (auto paper = PaperByName(name)) return *paper;
  }
  if (const char* path = std::getenv("PAPERCONF"); path != nullptr && *path != '\0') {
    if (auto paper = PaperFromFile(path)) return *paper;
  }
  if (auto paper = PaperFromFile("/etc/papersize")) return *paper;
  return kLetter;
}

}  // namespace pageout::converter
