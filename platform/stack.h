// Stack walking and module queries for the traceback report.
//
// The walk delivers the frames of the current thread innermost first; the module query tells which
// executable or library holds a program counter and where that module's traceback table and code
// section lie in memory. Neither allocates from the heap, so both may run while a fault is being
// reported. No OS type appears here.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/fault_context.h"

namespace pageout::platform {

// One step of the walk. The program counter of every frame but the innermost is a return address.
struct StackFrame {
  std::uintptr_t program_counter = 0;
  std::uintptr_t return_address = 0;  // 0 marks the outermost frame
  std::uintptr_t frame_pointer = 0;
  std::uintptr_t stack_pointer = 0;
};

// How a walk ended.
enum class WalkEnd {
  kNormal,           // the frames ran out, or the visitor asked to stop
  kAbnormal,         // a step of the walk failed, or a fault was caught during the walk
  kNoSymbolHandler,  // the walk could not start; no frame was visited
};

class FrameVisitor {
 public:
  // Called once per frame, innermost first. Returns false to end the walk normally.
  virtual bool OnFrame(const StackFrame& frame) = 0;

 protected:
  ~FrameVisitor() = default;
};

// What the platform knows about the module holding a program counter.
struct ModuleView {
  static constexpr std::size_t kMaxFileName = 260;

  // File name and extension of the module, without directory; empty when the platform cannot tell.
  char file_name[kMaxFileName + 1] = {};
  // Subtracted from a program counter for the report's PC column (0 where the column shows the
  // address itself).
  std::uintptr_t column_origin = 0;
  // Subtracted from a program counter before it is compared with the table's addresses, which are
  // stored relative to the module's load base.
  std::uintptr_t load_bias = 0;
  // The module's image has the expected signature and at least one section.
  bool image_ok = false;
  // The module's ".trace" section in memory; nullptr when it has none.
  const unsigned char* table = nullptr;
  std::size_t table_size = 0;
  // The module's ".text" section in memory; nullptr when it has none.
  const unsigned char* code = nullptr;
  std::size_t code_size = 0;
};

class Stack {
 public:
  virtual ~Stack() = default;

  // Walks the current thread's stack, starting at the fault's instruction when fault carries a
  // register state, else at a point inside the walk itself (so the first frames are the caller's
  // own). Visits each frame until the visitor stops, a frame's return address is 0, or a step fails.
  virtual WalkEnd Walk(const FaultContext* fault, FrameVisitor& visitor) = 0;

  // Fills *view for the module holding pc. Never fails: what cannot be determined stays empty.
  virtual void QueryModule(std::uintptr_t pc, ModuleView* view) = 0;
};

// The real stack of this process.
Stack& SystemStack();

}  // namespace pageout::platform
