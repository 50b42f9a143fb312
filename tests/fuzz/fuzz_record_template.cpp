// The record-template interpreter and list lines with arbitrary elements and items: literals of
// any bytes, column positions and right moves of any count, breaks, hold marks and ends in any
// order, templates without an end; output calls that fail and record buffers that cannot grow.
//
// Checks: every write call carries exactly the record that a plain model of the elements gives
// (columns from 1, skipped columns blank, CR LF unless held), list lines are a blank and at most 79
// bytes of the item each and together give back the item, and a failing call ends with diagnostic
// 38 or 66 on the output channel.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <string>
#include <vector>

#include "diagnostics/catalogue.h"
#include "services/console.h"
#include "services/record_template.h"
#include "tests/fuzz/fuzz_os.h"

namespace pageout::fuzz {
namespace {

using services::Element;
using services::ElementKind;

// The records a template writes, one string per write call.
std::vector<std::string> ModelRecords(const std::vector<Element>& elements) {
  std::vector<std::string> writes;
  std::string record;
  std::size_t position = 1;
  bool hold = false;
  auto put = [&] {
    // A held empty record has no bytes and makes no write call.
    if (!hold || !record.empty()) writes.push_back(hold ? record : record + "\r\n");
    record.clear();
    position = 1;
    hold = false;
  };
  for (const Element& element : elements) {
    switch (element.kind) {
      case ElementKind::kLiteral:
        if (record.size() < position - 1 + element.text.size()) {
          record.resize(position - 1 + element.text.size(), ' ');
        }
        record.replace(position - 1, element.text.size(), element.text);
        position += element.text.size();
        break;
      case ElementKind::kColumn:
        position = element.count > 0 ? static_cast<std::size_t>(element.count) : 1;
        break;
      case ElementKind::kRightMove:
        if (element.count > 0) position += static_cast<std::size_t>(element.count);
        break;
      case ElementKind::kRecordBreak:
        put();
        break;
      case ElementKind::kHoldMark:
        hold = true;
        break;
      case ElementKind::kEnd:
        put();
        return writes;
      case ElementKind::kBegin:
      case ElementKind::kTextField:
        break;
    }
  }
  return writes;
}

std::vector<std::string> ModelListLines(std::string_view item) {
  std::vector<std::string> writes;
  do {
    const std::string_view part = item.substr(0, services::kListLineWidth - 1);
    item.remove_prefix(part.size());
    writes.push_back(" " + std::string(part) + "\r\n");
  } while (!item.empty());
  return writes;
}

}  // namespace
}  // namespace pageout::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace pageout;
  using namespace pageout::fuzz;
  using services::ElementKind;
  FuzzedDataProvider input(data, size);

  FuzzOs os;
  std::size_t limit = SIZE_MAX;
  const bool failing = input.ConsumeIntegralInRange(0, 7) == 0;
  if (failing) {
    if (input.ConsumeBool()) {
      os.fail_write_at = input.ConsumeIntegralInRange<std::size_t>(0, 20);
      os.fail_write_error = input.PickValueInArray(kSomeErrors);
    } else {
      limit = input.ConsumeIntegralInRange<std::size_t>(1, 4096);
    }
  }
  BufferLimit::Reset(limit);
  services::SetBufferResize(&BufferLimit::Resize);

  // Literal texts must outlive the elements that view them.
  std::vector<std::string> texts;
  texts.reserve(64);
  std::vector<std::vector<services::Element>> templates;
  std::vector<std::string> items;
  std::vector<bool> is_list_line;  // per step: a list line (the next item) or a template
  std::vector<std::string> expected;
  while (input.remaining_bytes() > 0 && templates.size() + items.size() < 16) {
    if (input.ConsumeIntegralInRange(0, 3) == 0) {
      items.push_back(input.ConsumeRandomLengthString(300));
      if (items.back().empty()) items.back() = " ";  // an item has at least one byte
      for (std::string& line : ModelListLines(items.back())) expected.push_back(std::move(line));
      is_list_line.push_back(true);
      continue;
    }
    std::vector<services::Element> elements;
    const std::size_t count = input.ConsumeIntegralInRange<std::size_t>(0, 24);
    for (std::size_t i = 0; i < count && texts.size() < 64; ++i) {
      const auto kind = static_cast<ElementKind>(input.ConsumeIntegralInRange(0, 7));
      services::Element element{kind};
      if (kind == ElementKind::kLiteral) {
        texts.push_back(input.ConsumeRandomLengthString(120));
        element.text = texts.back();
      } else if (kind == ElementKind::kColumn || kind == ElementKind::kRightMove) {
        element.count = input.ConsumeIntegralInRange(-5, 600);
      }
      elements.push_back(element);
    }
    for (std::string& record : ModelRecords(elements)) expected.push_back(std::move(record));
    templates.push_back(std::move(elements));
    is_list_line.push_back(false);
  }

  int status = -1;
  try {
    std::size_t item = 0;
    std::size_t elements = 0;
    for (const bool list_line : is_list_line) {
      if (list_line) {
        services::WriteListLine(os, items[item++]);
      } else {
        services::WriteRecords(os, templates[elements++]);
      }
    }
  } catch (const testing::ExitCalled& exit) {
    status = exit.status;
  }
  services::CloseChannels();
  services::SetBufferResize(nullptr);

  const std::vector<std::string>& writes = os.writes[testing::FakeOs::kStdOutput];
  if (status == -1) {
    if (writes != expected) {
      for (const std::string& w : writes) std::fprintf(stderr, "wrote    [%s]\n", w.c_str());
      for (const std::string& w : expected) std::fprintf(stderr, "expected [%s]\n", w.c_str());
    }
    FUZZ_CHECK(writes == expected);
  } else {
    // A failure ends the run at the first record it hits; the records before it went out whole.
    FUZZ_CHECK(failing);
    FUZZ_CHECK(status == static_cast<int>(diagnostics::msg::kWriteError) ||
               status == static_cast<int>(diagnostics::msg::kOutputOverflow));
    FUZZ_CHECK(writes.size() <= expected.size());
    FUZZ_CHECK(std::equal(writes.begin(), writes.end(), expected.begin()));
    FUZZ_CHECK(os.standard_error.find("unit -1, file CONOUT$") != std::string::npos);
  }
  return 0;
}
