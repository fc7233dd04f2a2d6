// What the adapter-driver stand-in knows about the PCI functions it manages: the answers planned
// for each, the AdapterClpProtocol record it installs for each, and how the command buffers it is
// handed look. Plain code, so that the host tests run it too.
#pragma once

#include "firmware/common/adapter_standin.h"

constexpr UINTN AdapterBookMax = 24; // as many as the blade has adapter positions

struct ManagedAdapter {
  AdapterLocation Location;
  UINTN AnswerCount;
  AdapterAnswer Answers[AdapterAnswerMax];
  UINTN Answered;
  EFI_HANDLE ProtocolHandle; // where Start installed Record; null before
  ADAPTER_CLP_PROTOCOL Record;
};

class AdapterBook {
public:
  // Names the function and its answers; a second plan for the same function replaces the answers
  // and starts them over. False when Count is 0 or above AdapterAnswerMax, or the book is full.
  bool Plan(const AdapterLocation& Location, const AdapterAnswer* Answers, UINTN Count);
  ManagedAdapter* Find(const AdapterLocation& Location);
  // Whether Record is one of the records the book holds (not a copy of one).
  bool Holds(const ADAPTER_CLP_PROTOCOL* Record) const;
  // The answer to the next command for the function at Location: the planned answers in order,
  // then the last one again. False when the book does not name the function.
  bool NextAnswer(const AdapterLocation& Location, AdapterAnswer* Answer);

private:
  ManagedAdapter Adapters_[AdapterBookMax] = {};
  UINTN Count_ = 0;
};

// The text of a command buffer of AdapterCommandBufferSize bytes and whether it, and the response
// buffer of AdapterResponseBufferSize bytes, came as the driver must hand them over: zeros behind
// the text, a response buffer of zeros.
void DescribeBuffers(const CHAR8* Command, const CHAR8* Response, AdapterExecuteRecord* Record);
