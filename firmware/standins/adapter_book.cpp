#include "firmware/standins/adapter_book.h"

bool AdapterBook::Plan(const AdapterLocation& Location, const AdapterAnswer* Answers, UINTN Count) {
  if (Count == 0 || Count > AdapterAnswerMax) {
    return false;
  }
  ManagedAdapter* A = Find(Location);
  if (A == nullptr) {
    if (Count_ == AdapterBookMax) {
      return false;
    }
    A = &Adapters_[Count_++];
    A->Location = Location;
    A->ProtocolHandle = nullptr;
  }
  for (UINTN I = 0; I < Count; ++I) {
    A->Answers[I] = Answers[I];
  }
  A->AnswerCount = Count;
  A->Answered = 0;
  return true;
}

ManagedAdapter* AdapterBook::Find(const AdapterLocation& Location) {
  for (UINTN I = 0; I < Count_; ++I) {
    if (SameLocation(Adapters_[I].Location, Location)) {
      return &Adapters_[I];
    }
  }
  return nullptr;
}

bool AdapterBook::Holds(const ADAPTER_CLP_PROTOCOL* Record) const {
  for (UINTN I = 0; I < Count_; ++I) {
    if (Record == &Adapters_[I].Record) {
      return true;
    }
  }
  return false;
}

bool AdapterBook::NextAnswer(const AdapterLocation& Location, AdapterAnswer* Answer) {
  ManagedAdapter* A = Find(Location);
  if (A == nullptr) {
    return false;
  }
  const UINTN Index = A->Answered < A->AnswerCount ? A->Answered : A->AnswerCount - 1;
  *Answer = A->Answers[Index];
  ++A->Answered;
  return true;
}

void DescribeBuffers(const CHAR8* Command, const CHAR8* Response, AdapterExecuteRecord* Record) {
  UINTN Length = 0;
  while (Length < AdapterCommandBufferSize && Command[Length] != '\0') {
    Record->Text[Length] = Command[Length];
    ++Length;
  }
  Record->TextLength = static_cast<UINT16>(Length);
  bool Zeros = true;
  for (UINTN I = Length; I < AdapterCommandBufferSize; ++I) {
    Record->Text[I] = '\0';
    Zeros = Zeros && Command[I] == '\0';
  }
  Record->CommandZeroFilled = Zeros && Length < AdapterCommandBufferSize;
  bool Empty = true;
  for (UINTN I = 0; I < AdapterResponseBufferSize && Empty; ++I) {
    Empty = Response[I] == '\0';
  }
  Record->ResponseZeroed = Empty;
}
