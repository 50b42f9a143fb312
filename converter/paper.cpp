#include "converter/paper.h"

#include <array>
#include <cctype>
#include <string>

namespace pageout::converter {
namespace {

struct NamedPaper {
  std::string_view name;
  PaperSize size;
};

// The names Debian's paper configuration uses for the common sizes.
constexpr std::array<NamedPaper, 10> kNamedPapers{{
    {"letter", kLetter},
    {"a4", kA4},
    {"a3", kA3},
    {"a5", {420000, 595000}},
    {"b5", {499000, 709000}},
    {"legal", {612000, 1008000}},
    {"executive", {522000, 756000}},
    {"tabloid", {792000, 1224000}},
    {"ledger", {1224000, 792000}},
    {"halfletter", {396000, 612000}},
}};

std::string_view Trim(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) {
    text.remove_prefix(1);
  }
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) {
    text.remove_suffix(1);
  }
  return text;
}

}  // namespace

std::optional<PaperSize> PaperByName(std::string_view name) {
  name = Trim(name);
  std::string lower;
  for (char c : name) {
    lower.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
  }
  for (const NamedPaper& paper : kNamedPapers) {
    if (paper.name == lower) return paper.size;
  }
  return std::nullopt;
}

std::optional<PaperSize> PaperFromConfigFile(std::string_view contents) {
  while (!contents.empty()) {
    std::size_t end = contents.find('\n');
    std::string_view line = Trim(contents.substr(0, end));
    contents = end == std::string_view::npos ? std::string_view() : contents.substr(end + 1);
    if (line.empty() || line.front() == '#') continue;
    return PaperByName(line);
  }
  return std::nullopt;
}

}  // namespace pageout::converter
