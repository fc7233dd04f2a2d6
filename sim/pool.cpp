#include <cstdlib>
#include <string>

#include "sim/firmware.h"
#include "sim/firmware_impl.h"
#include "sim/problems.h"

namespace sim {

Pool::~Pool() {
  for (auto& Live : Live_) {
    std::free(Live.first);
  }
}

void* Pool::Allocate(size_t Size, EFI_MEMORY_TYPE Type, EFI_STATUS* Status) {
  (void)Type;
  const uint64_t Number = ++Total_;
  auto Failure = Failures_.find(Number);
  if (Failure != Failures_.end()) {
    *Status = Failure->second;
    Failures_.erase(Failure);
    return nullptr;
  }
  // Each buffer is its own malloc block so that the address sanitizer sees overruns past it.
  void* Buffer = std::malloc(Size != 0 ? Size : 1);
  if (Buffer == nullptr) {
    *Status = EFI_OUT_OF_RESOURCES;
    return nullptr;
  }
  Live_[Buffer] = Block{Size, Number};
  *Status = EFI_SUCCESS;
  return Buffer;
}

EFI_STATUS Pool::Free(void* Buffer) {
  auto It = Live_.find(Buffer);
  if (It == Live_.end()) {
    ReportProblem("FreePool of " + HexPointer(Buffer) +
                  ", which is not a live pool allocation (double or foreign free)");
    return EFI_INVALID_PARAMETER;
  }
  std::free(It->first);
  Live_.erase(It);
  return EFI_SUCCESS;
}

void Pool::FailAllocation(unsigned Nth, EFI_STATUS Status) {
  if (Nth == 0) {
    ReportProblem("an allocation failure was armed for allocation 0; the next one is 1");
    return;
  }
  Failures_[Total_ + Nth] = Status;
}

size_t Pool::ReportLeaks(const char* When) {
  const size_t Count = Live_.size();
  for (auto& Live : Live_) {
    ReportProblem("leak: " + std::to_string(Live.second.Size) + " bytes at " +
                  HexPointer(Live.first) + " (allocation #" + std::to_string(Live.second.Number) +
                  ") " + When);
    std::free(Live.first);
  }
  Live_.clear();
  return Count;
}

} // namespace sim
