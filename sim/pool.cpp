#include <algorithm>
#include <cstdlib>
#include <string>

#include "sim/firmware.h"
#include "sim/firmware_impl.h"
#include "sim/problems.h"

namespace sim {

Pool::~Pool() {
  for (const Block& Live : Live_) {
    std::free(Live.Buffer);
  }
}

void* Pool::Allocate(size_t Size, EFI_MEMORY_TYPE Type, EFI_STATUS* Status) {
  (void)Type;
  if (auto Injected = Failures_.NextCall()) {
    *Status = *Injected;
    return nullptr;
  }
  // Each buffer is its own malloc block so that the address sanitizer sees overruns past it.
  void* Buffer = std::malloc(Size != 0 ? Size : 1);
  if (Buffer == nullptr) {
    *Status = EFI_OUT_OF_RESOURCES;
    return nullptr;
  }
  Live_.push_back(Block{Buffer, Size, Failures_.Calls()});
  *Status = EFI_SUCCESS;
  return Buffer;
}

EFI_STATUS Pool::Free(void* Buffer) {
  // Buffers mostly go back newest first.
  auto It = std::find_if(Live_.rbegin(), Live_.rend(),
                         [Buffer](const Block& B) { return B.Buffer == Buffer; });
  if (It == Live_.rend()) {
    ReportProblem("FreePool of " + HexPointer(Buffer) +
                  ", which is not a live pool allocation (double or foreign free)");
    return EFI_INVALID_PARAMETER;
  }
  std::free(Buffer);
  Live_.erase(std::next(It).base());
  return EFI_SUCCESS;
}

void Pool::FailAllocation(unsigned Nth, EFI_STATUS Status) {
  if (Nth == 0) {
    ReportProblem("an allocation failure was armed for allocation 0; the next one is 1");
    return;
  }
  Failures_.Arm(Nth, Status);
}

size_t Pool::ReportLeaks(const char* When) {
  const size_t Count = Live_.size();
  for (const Block& Live : Live_) {
    ReportProblem("leak: " + std::to_string(Live.Size) + " bytes at " + HexPointer(Live.Buffer) +
                  " (allocation #" + std::to_string(Live.Number) + ") " + When);
    std::free(Live.Buffer);
  }
  Live_.clear();
  return Count;
}

} // namespace sim
