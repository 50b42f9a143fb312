#include "converter/progress.h"

#include <string>

namespace pageout::converter {
namespace {

constexpr auto kInterval = std::chrono::milliseconds(250);

}  // namespace

std::string FormatProgress(std::uint64_t done, std::uint64_t total, double seconds) {
  std::uint64_t percent = total == 0 ? 100 : done * 100 / total;
  if (percent > 100) percent = 100;
  double rate = seconds > 0 ? static_cast<double>(done) / (1024.0 * 1024.0) / seconds : 0.0;
  auto tenths = static_cast<std::uint64_t>(rate * 10 + 0.5);
  return "text2pdf: " + std::to_string(percent) + "% " + std::to_string(tenths / 10) + "." +
         std::to_string(tenths % 10) + " MB/s";
}

Progress::Progress(Host& host, bool enabled, std::uint64_t total)
    : host_(host),
      enabled_(enabled),
      total_(total),
      start_(std::chrono::steady_clock::now()),
      last_(start_) {}

void Progress::Update(std::uint64_t done) {
  if (!enabled_) return;
  auto now = std::chrono::steady_clock::now();
  // The line shows from the first update on, so that a large file that converts within one
  // interval still shows it; after that it is rewritten once an interval.
  if (shown_ != 0 && now - last_ < kInterval) return;
  last_ = now;
  std::string line =
      FormatProgress(done, total_, std::chrono::duration<double>(now - start_).count());
  // Carriage return rewrites the line; blanks cover what a longer previous line left behind.
  std::string text = "\r" + line;
  if (line.size() < shown_) text.append(shown_ - line.size(), ' ');
  shown_ = line.size();
  host_.WriteError(text);
}

void Progress::Clear() {
  if (!enabled_ || shown_ == 0) return;
  host_.WriteError("\r" + std::string(shown_, ' ') + "\r");
  shown_ = 0;
}

}  // namespace pageout::converter
