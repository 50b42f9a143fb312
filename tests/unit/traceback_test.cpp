// The traceback report over a fake stack, and the program-counter lookup over hand-built tables.
#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "diagnostics/trace_table.h"
#include "diagnostics/traceback_report.h"

namespace pageout::diagnostics {
namespace {

// --- Hand-built tables ----------------------------------------------------------------------------

class TableBuilder {
 public:
  // reservation: the size the table's header declares for it.
  explicit TableBuilder(std::uint32_t reservation = 0xFFFFFFFF) {
    bytes_.assign(std::begin(kTraceMagic), std::end(kTraceMagic));
    for (int i = 0; i < 4; ++i) bytes_.push_back(static_cast<unsigned char>(reservation >> (8 * i)));
  }

  TableBuilder& Records(std::uint64_t count) { return Unsigned(count); }
  TableBuilder& Record(std::uint64_t start, std::uint64_t length,
                       const std::vector<std::string>& paths, std::uint64_t entries) {
    Unsigned(start).Unsigned(length).Unsigned(paths.size());
    for (const std::string& path : paths) Text(path);
    return Unsigned(entries);
  }
  TableBuilder& Routine(std::uint64_t start, const std::string& name) {
    bytes_.push_back(static_cast<unsigned char>(TraceEntryKind::kRoutine));
    return Unsigned(start).Text(name);
  }
  TableBuilder& Source(std::uint64_t index) {
    bytes_.push_back(static_cast<unsigned char>(TraceEntryKind::kSource));
    return Unsigned(index);
  }
  TableBuilder& Line(std::int64_t delta, std::uint64_t code_bytes) {
    bytes_.push_back(static_cast<unsigned char>(TraceEntryKind::kLine));
    Signed(delta);
    return Unsigned(code_bytes);
  }
  const std::vector<unsigned char>& bytes() const { return bytes_; }

 private:
  TableBuilder& Unsigned(std::uint64_t value) {
    do {
      unsigned char byte = value & 0x7F;
      value >>= 7;
      bytes_.push_back(value != 0 ? byte | 0x80 : byte);
    } while (value != 0);
    return *this;
  }
  TableBuilder& Signed(std::int64_t value) {
    for (;;) {
      const auto byte = static_cast<unsigned char>(value & 0x7F);
      value >>= 7;
      const bool done = (value == 0 && (byte & 0x40) == 0) || (value == -1 && (byte & 0x40) != 0);
      bytes_.push_back(done ? byte : byte | 0x80);
      if (done) return *this;
    }
  }
  TableBuilder& Text(const std::string& text) {
    Unsigned(text.size());
    bytes_.insert(bytes_.end(), text.begin(), text.end());
    return *this;
  }

  std::vector<unsigned char> bytes_;
};

// Two records. The first covers [0x1000, 0x1040); its routine starts at 0x1010 and its lines fill
// [0x1010, 0x1030): line 11 in [0x1010, 0x1015), 14 in [0x1015, 0x101C), line 4 of the header in
// [0x101C, 0x1020), 104 in [0x1020, 0x1030). The second covers [0x2000, 0x2010) with line 7 and no
// routine entry.
std::vector<unsigned char> SampleTable(std::uint32_t reservation = 0xFFFFFFFF) {
  TableBuilder table(reservation);
  table.Records(2)
      .Record(0x1000, 0x40, {"/build/src/frontend/pageout.cpp", "/build/src/include/inline.h"}, 7)
      .Routine(0x1010, "_MAIN__")
      .Line(11, 5)
      .Line(3, 7)
      .Source(1)
      .Line(-10, 4)
      .Source(0)
      .Line(100, 0x10)
      .Record(0x2000, 0x10, {"C:\\work\\other.cpp"}, 1)
      .Line(7, 0x10);
  return table.bytes();
}

const unsigned char kPlainCode[] = {0x55, 0x89, 0xE5};

TraceModule ModuleOver(const std::vector<unsigned char>& table) {
  TraceModule module;
  module.image_ok = true;
  module.table = table.data();
  module.table_size = table.size();
  module.code = kPlainCode;
  module.code_size = sizeof kPlainCode;
  return module;
}

struct Found {
  std::string routine, source, line;
  bool operator==(const Found&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Found& found) {
  return out << found.routine << " | " << found.source << " | " << found.line;
}

Found Look(const TraceModule& module, std::uintptr_t pc) {
  LookupResult result;
  std::memset(&result, 'x', sizeof result);
  LookupProgramCounter(module, pc, &result);
  return {result.routine, result.source, result.line};
}

const Found kUnknown{"Unknown", "Unknown", "Unknown"};

TEST(TraceTableLookup, LinesAtTheirBoundaries) {
  const std::vector<unsigned char> table = SampleTable();
  const TraceModule module = ModuleOver(table);
  const std::string main_source = "/build/src/frontend/pageout.cpp";
  const struct {
    std::uintptr_t pc;
    Found expected;
  } cases[] = {
      {0x1010, {"_MAIN__", main_source, "11"}},  // the routine's first byte
      {0x1015, {"_MAIN__", main_source, "11"}},  // the byte after line 11's code: a return address
      {0x1016, {"_MAIN__", main_source, "14"}},  // one byte further: the next line
      {0x101C, {"_MAIN__", main_source, "14"}},
      {0x101D, {"_MAIN__", "/build/src/include/inline.h", "4"}},  // a source selection
      {0x1021, {"_MAIN__", main_source, "104"}},                  // and back
      {0x1030, {"_MAIN__", main_source, "104"}},                  // the last line's end
      {0x1031, kUnknown},   // inside the record, beyond its lines
      {0x100F, kUnknown},   // inside the record, below the routine entry
      {0x1000, kUnknown},
      {0x0FFF, kUnknown},   // outside every record
      {0x1040, kUnknown},
      {0x1FFF, kUnknown},
      {0x2000, {"Unknown", "C:\\work\\other.cpp", "7"}},  // no routine entry in this record
      {0x200F, {"Unknown", "C:\\work\\other.cpp", "7"}},
      {0x2010, kUnknown},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Look(module, c.pc), c.expected) << std::hex << "pc 0x" << c.pc;
  }
}

TEST(TraceTableLookup, ModulesWithoutAUsableTableGiveUnknown) {
  const std::vector<unsigned char> table = SampleTable();
  std::vector<unsigned char> unfilled = table;
  std::memcpy(unfilled.data(), kUnfilledMagic, sizeof kUnfilledMagic);
  const unsigned char jump[] = {0xE9, 0x10, 0x00, 0x00, 0x00};
  const unsigned char filler_then_jump[] = {0xCC, 0xCC, 0xCC, 0xE9, 0x10, 0x00, 0x00, 0x00};
  const unsigned char filler_then_code[] = {0xCC, 0xCC, 0x55, 0xE9};

  EXPECT_EQ(Look(ModuleOver(table), 0x1012).line, "11");

  TraceModule no_table = ModuleOver(table);
  no_table.table = nullptr;
  no_table.table_size = 0;
  TraceModule bad_image = ModuleOver(table);
  bad_image.image_ok = false;
  TraceModule starts_with_jump = ModuleOver(table);
  starts_with_jump.code = jump;
  starts_with_jump.code_size = sizeof jump;
  TraceModule filler_jump = ModuleOver(table);
  filler_jump.code = filler_then_jump;
  filler_jump.code_size = sizeof filler_then_jump;
  for (const TraceModule& module :
       {no_table, bad_image, ModuleOver(unfilled), starts_with_jump, filler_jump}) {
    EXPECT_EQ(Look(module, 0x1012), kUnknown);
  }

  // Filler alone does not hide the table; only a jump after it does.
  TraceModule filler_code = ModuleOver(table);
  filler_code.code = filler_then_code;
  filler_code.code_size = sizeof filler_then_code;
  EXPECT_EQ(Look(filler_code, 0x1012).line, "11");
}

TEST(TraceTableLookup, DamagedTablesNeverReadPastTheirEnd) {
  const std::vector<unsigned char> table = SampleTable();
  // Every cut of the table, each in a buffer of exactly its size (the sanitizer build catches a
  // read beyond it): the lookup either still finds the line before the cut or says Unknown.
  for (std::size_t size = 0; size < table.size(); ++size) {
    std::vector<unsigned char> cut(table.begin(), table.begin() + static_cast<long>(size));
    TraceModule module = ModuleOver(cut);
    module.table = cut.empty() ? nullptr : cut.data();
    for (std::uintptr_t pc : {0x1012u, 0x101Du, 0x2005u}) {
      const Found found = Look(module, pc);
      EXPECT_TRUE(found == kUnknown || found == Look(ModuleOver(table), pc)) << size;
    }
  }
  // The header's reservation size bounds the table even where the section goes on: a table that
  // runs past it ends there.
  const std::vector<unsigned char> overrun = SampleTable(static_cast<std::uint32_t>(table.size() - 3));
  EXPECT_EQ(Look(ModuleOver(overrun), 0x1012).line, "11");
  EXPECT_EQ(Look(ModuleOver(overrun), 0x2005), kUnknown);
  EXPECT_EQ(Look(ModuleOver(SampleTable(4)), 0x1012), kUnknown);

  // A source selection beyond the record's paths, and an entry of no known kind.
  for (const std::vector<unsigned char>& bad :
       {TableBuilder().Records(1).Record(0, 8, {"a.cpp"}, 2).Source(1).Line(1, 8).bytes(),
        [] {
          std::vector<unsigned char> bytes = TableBuilder().Records(1).Record(0, 8, {}, 1).bytes();
          bytes.push_back(9);
          return bytes;
        }()}) {
    EXPECT_EQ(Look(ModuleOver(bad), 4), kUnknown);
  }
}

TEST(TraceTableLookup, LongNamesAreCutTo259Characters) {
  const std::string routine(300, 'r');
  const std::string path = "/" + std::string(299, 'p');
  TableBuilder table;
  table.Records(1).Record(0, 4, {path}, 2).Routine(0, routine).Line(5, 4);
  const Found found = Look(ModuleOver(table.bytes()), 2);
  EXPECT_EQ(found.routine, routine.substr(0, 259));
  EXPECT_EQ(found.source, path.substr(0, 259));
  EXPECT_EQ(found.line, "5");
}

// --- The report over a fake stack -----------------------------------------------------------------

struct FakeModule {
  std::string file_name;
  std::uintptr_t column_origin = 0;
  std::uintptr_t load_bias = 0;
  const std::vector<unsigned char>* table = nullptr;
};

class FakeStack final : public platform::Stack {
 public:
  std::vector<platform::StackFrame> frames;
  platform::WalkEnd end = platform::WalkEnd::kNormal;  // how the walk ends when the frames run out
  std::map<std::uintptr_t, FakeModule> modules;        // by the lowest pc each one holds

  platform::WalkEnd Walk(const platform::FaultContext*, platform::FrameVisitor& visitor) override {
    if (end == platform::WalkEnd::kNoSymbolHandler) return end;
    for (const platform::StackFrame& frame : frames) {
      if (!visitor.OnFrame(frame)) return platform::WalkEnd::kNormal;
    }
    return end;
  }

  void QueryModule(std::uintptr_t pc, platform::ModuleView* view) override {
    auto it = modules.upper_bound(pc);
    if (it == modules.begin()) return;
    const FakeModule& module = std::prev(it)->second;
    std::strncpy(view->file_name, module.file_name.c_str(), platform::ModuleView::kMaxFileName);
    view->column_origin = module.column_origin;
    view->load_bias = module.load_bias;
    if (module.table != nullptr) {
      view->image_ok = true;
      view->table = module.table->data();
      view->table_size = module.table->size();
      view->code = kPlainCode;
      view->code_size = sizeof kPlainCode;
    }
  }

  void AddFrame(std::uintptr_t pc) { frames.push_back({pc, pc + 1, 0, 0}); }
};

const std::string kHeader =
    "Image              PC        Routine            Line        Source             \n";

std::string Report(FakeStack& stack, std::size_t capacity, const std::string& line = "line\n") {
  std::vector<char> text(capacity, '#');
  std::memcpy(text.data(), line.data(), line.size());
  const std::size_t used =
      AppendTracebackReport(stack, nullptr, text.data(), line.size(), capacity);
  EXPECT_LT(used, capacity);
  EXPECT_EQ(text[used], '\0');
  EXPECT_EQ(std::strlen(text.data()), used);  // bytes counted are bytes written
  return std::string(text.data() + line.size(), used - line.size());
}

class TracebackReport : public ::testing::Test {
 protected:
  void SetUp() override {
    // A program image loaded at 0x400000 with the sample table (addresses relative to its base),
    // a library with a long name, and a module the platform cannot name.
    stack_.modules[0x400000] = {"pageout.exe", 0, 0x400000, &table_};
    stack_.modules[0x7B000000] = {"a_library_with_a_long_name.dll", 0, 0x7B000000, nullptr};
    stack_.modules[0x7F000000] = {"", 0, 0, nullptr};
  }

  std::vector<unsigned char> table_ = SampleTable();
  FakeStack stack_;
};

TEST_F(TracebackReport, HeaderAndRowsInTheirColumns) {
  stack_.AddFrame(0x7B001234);  // innermost: a library frame
  stack_.AddFrame(0x401015);    // a return address at the end of line 11's code
  stack_.AddFrame(0x7F00ABCD);  // a module without a name
  const std::string report = Report(stack_, 16384);

  const std::string expected = kHeader +
      "a_library_with_a_  7B001234  Unknown               Unknown  Unknown\n"
      "pageout.exe        00401015  _MAIN__                    11  pageout.cpp\n"
      "                   7F00ABCD  Unknown               Unknown  Unknown\n";
  EXPECT_EQ(report, expected);

  // The header is 80 characters with its LF, ending in 13 blanks; every column of every row
  // begins where the header's does (positions 1, 20, 30, 49 and 61).
  EXPECT_EQ(kHeader.size(), 80u);
  EXPECT_EQ(kHeader.substr(60, 19), "Source" + std::string(13, ' '));
  // Two blanks end each of the first four columns; the PC, routine and source columns begin with
  // text (the image may be blank, the line is right-aligned).
  for (std::size_t header_column : {0u, 19u, 29u, 48u, 60u}) {
    EXPECT_NE(kHeader[header_column], ' ');
  }
  std::size_t start = kHeader.size();
  while (start < report.size()) {
    const std::size_t end = report.find('\n', start);
    const std::string row = report.substr(start, end - start);
    ASSERT_GT(row.size(), 60u);
    for (std::size_t separator : {17u, 27u, 46u, 58u}) {
      EXPECT_EQ(row.substr(separator, 2), "  ") << row;
    }
    for (std::size_t column : {19u, 29u, 60u}) {
      EXPECT_NE(row[column], ' ') << row << " column " << column + 1;
    }
    EXPECT_NE(row[57], ' ') << row;  // the line's last digit ends its column
    start = end + 1;
  }
}

TEST_F(TracebackReport, ColumnValues) {
  // The PC column counts from the module's column origin; the routine name is cut to 17; the
  // source column drops the directory of either kind of separator; the line is right-aligned.
  std::vector<unsigned char> long_routine =
      TableBuilder()
          .Records(1)
          .Record(0x10, 0x100, {"D:\\src\\deep\\dir\\main_routine.cpp"}, 2)
          .Routine(0x10, "A_ROUTINE_NAME_LONGER_THAN_17")
          .Line(1234567890, 0x100)
          .bytes();
  stack_.modules[0x55550000] = {"libprobe.so", 0x55550000, 0x55550000, &long_routine};
  stack_.AddFrame(0x555500AB);
  stack_.AddFrame(0x5555FFFF);  // in the same module, outside the record
  EXPECT_EQ(Report(stack_, 16384),
            kHeader +
                "libprobe.so        000000AB  A_ROUTINE_NAME_LO  1234567890  main_routine.cpp\n"
                "libprobe.so        0000FFFF  Unknown               Unknown  Unknown\n");
}

TEST_F(TracebackReport, FrameWithoutAProgramCounterEndsTheWalk) {
  stack_.AddFrame(0x401012);
  stack_.frames.push_back({0, 0x401000, 0, 0});
  stack_.AddFrame(0x401016);
  stack_.end = platform::WalkEnd::kAbnormal;  // never reached: the zero frame stops the walk
  EXPECT_EQ(Report(stack_, 16384),
            kHeader + "pageout.exe        00401012  _MAIN__                    11  pageout.cpp\n");
}

TEST_F(TracebackReport, FitRuleCutsTheLastRowAtTheEndOfTheRoom) {
  const std::string row_a = "pageout.exe        00401012  _MAIN__                    11  pageout.cpp\n";
  const std::string row_b = "pageout.exe        00401016  _MAIN__                    14  pageout.cpp\n";
  for (int i = 0; i < 3; ++i) {
    stack_.AddFrame(0x401012);
    stack_.AddFrame(0x401016);
  }
  // The walk would end abnormally after its frames, but the room runs out first: that is a normal
  // end, so no abnormal-termination text follows the cut row.
  stack_.end = platform::WalkEnd::kAbnormal;
  const std::string line = "apperr: severe (24): end of input\r\n";
  const std::size_t before_rows = line.size() + kHeader.size();
  const struct {
    std::size_t capacity;
    std::string expected;
  } cases[] = {
      // Room for the header, row A and row B with the NUL exactly: both whole, nothing more.
      {before_rows + row_a.size() + row_b.size() + 1, kHeader + row_a + row_b},
      // One byte less: row B loses its LF.
      {before_rows + row_a.size() + row_b.size(),
       kHeader + row_a + row_b.substr(0, row_b.size() - 1)},
      // Room ending inside row B.
      {before_rows + row_a.size() + 20, kHeader + row_a + row_b.substr(0, 19)},
      // The header itself cut: no row follows.
      {line.size() + 50, kHeader.substr(0, 49)},
      {line.size() + kHeader.size(), kHeader.substr(0, kHeader.size() - 1)},
      // No room but the NUL.
      {line.size() + 1, ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Report(stack_, c.capacity, line), c.expected) << "capacity " << c.capacity;
  }
}

TEST_F(TracebackReport, AbnormalEndOfTheWalk) {
  const std::string abnormal = "\nStack trace terminated abnormally.\n";
  const std::string row = "pageout.exe        00401012  _MAIN__                    11  pageout.cpp\n";
  stack_.AddFrame(0x401012);
  stack_.end = platform::WalkEnd::kAbnormal;
  EXPECT_EQ(Report(stack_, 16384), kHeader + row + abnormal);
  // The text is cut like a row when the room ends inside it.
  EXPECT_EQ(Report(stack_, 5 + kHeader.size() + row.size() + 11), kHeader + row + abnormal.substr(0, 10));

  // A walk that fails at its first step writes the text after nothing at all; so does a symbol
  // handler that cannot start.
  stack_.frames.clear();
  EXPECT_EQ(Report(stack_, 16384), abnormal);
  stack_.AddFrame(0x401012);
  stack_.end = platform::WalkEnd::kNoSymbolHandler;
  EXPECT_EQ(Report(stack_, 16384), abnormal);
}

TEST_F(TracebackReport, FullDiagnosticTextIsLeftAlone) {
  stack_.AddFrame(0x401012);
  std::vector<char> text(32, 'x');
  text[31] = '\0';
  EXPECT_EQ(AppendTracebackReport(stack_, nullptr, text.data(), 31, 32), 31u);
  EXPECT_EQ(std::string(text.data()), std::string(31, 'x'));
}

}  // namespace
}  // namespace pageout::diagnostics
