#include <cstring>

#include "sim/firmware.h"

namespace sim {
namespace {

constexpr UINT32 KnownAttributes =
    EFI_VARIABLE_NON_VOLATILE | EFI_VARIABLE_BOOTSERVICE_ACCESS | EFI_VARIABLE_RUNTIME_ACCESS;

bool ValidName(const CHAR16* Name) {
  return Name != nullptr && Name[0] != 0;
}

bool SameName(const std::u16string& Known, const CHAR16* Name) {
  size_t I = 0;
  for (; I < Known.size(); ++I) {
    if (Known[I] != Name[I]) {
      return false;
    }
  }
  return Name[I] == 0;
}

} // namespace

const VariableStore::Slot* VariableStore::Find(const CHAR16* Name, const EFI_GUID& Guid) const {
  for (const Slot& S : Slots_) {
    if (std::memcmp(&S.Guid, &Guid, sizeof Guid) == 0 && SameName(S.Name, Name)) {
      return &S;
    }
  }
  return nullptr;
}

VariableStore::Slot& VariableStore::SlotFor(const CHAR16* Name, const EFI_GUID& Guid) {
  if (const Slot* Found = Find(Name, Guid)) {
    return const_cast<Slot&>(*Found);
  }
  Slots_.emplace_back();
  Slots_.back().Name = Name;
  Slots_.back().Guid = Guid;
  return Slots_.back();
}

void VariableStore::Create(const std::u16string& Name, const EFI_GUID& Guid, UINT32 Attributes,
                           std::vector<uint8_t> Data) {
  Slot& S = SlotFor(Name.c_str(), Guid);
  S.Present = true;
  S.Attributes = Attributes;
  S.Data = std::move(Data);
}

void VariableStore::Delete(const std::u16string& Name, const EFI_GUID& Guid) {
  Slot& S = SlotFor(Name.c_str(), Guid);
  S.Present = false;
  S.Data.clear();
}

bool VariableStore::Exists(const std::u16string& Name, const EFI_GUID& Guid) const {
  const Slot* S = Find(Name.c_str(), Guid);
  return S != nullptr && S->Present;
}

std::optional<std::vector<uint8_t>> VariableStore::Value(const std::u16string& Name,
                                                         const EFI_GUID& Guid) const {
  const Slot* S = Find(Name.c_str(), Guid);
  if (S == nullptr || !S->Present) {
    return std::nullopt;
  }
  return S->Data;
}

UINT32 VariableStore::Attributes(const std::u16string& Name, const EFI_GUID& Guid) const {
  const Slot* S = Find(Name.c_str(), Guid);
  return S != nullptr && S->Present ? S->Attributes : 0;
}

void VariableStore::FailGet(const std::u16string& Name, const EFI_GUID& Guid, EFI_STATUS Status,
                            int Times, unsigned After) {
  SlotFor(Name.c_str(), Guid).GetFailure = Failure{Status, Times, After};
}

void VariableStore::FailSet(const std::u16string& Name, const EFI_GUID& Guid, EFI_STATUS Status,
                            int Times, unsigned After) {
  SlotFor(Name.c_str(), Guid).SetFailure = Failure{Status, Times, After};
}

void VariableStore::FailAccess(unsigned Nth, EFI_STATUS Status, VariableAccess Kind) {
  switch (Kind) {
  case VariableAccess::Any:
    AnyFailures_.Arm(Nth, Status);
    return;
  case VariableAccess::Read:
    ReadFailures_.Arm(Nth, Status);
    return;
  case VariableAccess::Write:
    WriteFailures_.Arm(Nth, Status);
    return;
  }
}

size_t VariableStore::WriteCount(const std::u16string& Name, const EFI_GUID& Guid) const {
  size_t Count = 0;
  for (const auto& W : Writes_) {
    Count += W.Name == Name && GuidEquals(W.Guid, Guid) ? 1 : 0;
  }
  return Count;
}

size_t VariableStore::ReadCount(const std::u16string& Name, const EFI_GUID& Guid) const {
  const Slot* S = Find(Name.c_str(), Guid);
  return S == nullptr ? 0 : S->Reads;
}

size_t VariableStore::FailedReadCount(const std::u16string& Name, const EFI_GUID& Guid) const {
  const Slot* S = Find(Name.c_str(), Guid);
  return S == nullptr ? 0 : S->FailedReads;
}

void VariableStore::DropVolatile() {
  for (Slot& S : Slots_) {
    if (S.Present && (S.Attributes & EFI_VARIABLE_NON_VOLATILE) == 0) {
      S.Present = false;
      S.Data.clear();
    }
  }
}

// A failure armed for this variable and due at this call (after the calls to let through), used
// up by it.
bool VariableStore::TakeFailure(std::optional<Failure>& Armed, EFI_STATUS* Status) {
  if (!Armed) {
    return false;
  }
  if (Armed->After > 0) {
    --Armed->After;
    return false;
  }
  *Status = Armed->Status;
  if (Armed->Times > 0 && --Armed->Times == 0) {
    Armed.reset();
  }
  return true;
}

// Both counters of a call move, whichever of them fails it.
std::optional<EFI_STATUS> VariableStore::AccessFailure(VariableAccess Kind) {
  std::optional<EFI_STATUS> Any = AnyFailures_.NextCall();
  std::optional<EFI_STATUS> OfKind =
      (Kind == VariableAccess::Read ? ReadFailures_ : WriteFailures_).NextCall();
  return Any ? Any : OfKind;
}

EFI_STATUS VariableStore::Get(const CHAR16* Name, const EFI_GUID* Guid, UINT32* Attributes,
                              UINTN* DataSize, void* Data) {
  const std::optional<EFI_STATUS> Injected = AccessFailure(VariableAccess::Read);
  if (!ValidName(Name) || Guid == nullptr || DataSize == nullptr ||
      (Data == nullptr && *DataSize != 0)) {
    return EFI_INVALID_PARAMETER;
  }
  Slot& S = SlotFor(Name, *Guid);
  ++S.Reads;
  const EFI_STATUS Status = Read(S, Injected, Attributes, DataSize, Data);
  if (Status != EFI_SUCCESS && (Status != EFI_NOT_FOUND || S.Present)) {
    ++S.FailedReads; // a warning read nothing either
  }
  return Status;
}

EFI_STATUS VariableStore::Read(Slot& S, std::optional<EFI_STATUS> Injected, UINT32* Attributes,
                               UINTN* DataSize, void* Data) {
  EFI_STATUS Status;
  if (TakeFailure(S.GetFailure, &Status)) {
    return Status;
  }
  if (Injected) {
    return *Injected;
  }
  if (!S.Present) {
    return EFI_NOT_FOUND;
  }
  if (Attributes != nullptr) {
    *Attributes = S.Attributes;
  }
  if (*DataSize < S.Data.size()) {
    *DataSize = S.Data.size();
    return EFI_BUFFER_TOO_SMALL;
  }
  if (!S.Data.empty()) {
    std::memcpy(Data, S.Data.data(), S.Data.size());
  }
  *DataSize = S.Data.size();
  return EFI_SUCCESS;
}

EFI_STATUS VariableStore::Set(const CHAR16* Name, const EFI_GUID* Guid, UINT32 Attributes,
                              UINTN DataSize, const void* Data) {
  const std::optional<EFI_STATUS> Injected = AccessFailure(VariableAccess::Write);
  Writes_.push_back(VariableWrite{Name != nullptr ? std::u16string(Name) : std::u16string(),
                                  Guid != nullptr ? *Guid : EFI_GUID{},
                                  Attributes,
                                  {},
                                  EFI_SUCCESS});
  VariableWrite& Write = Writes_.back();
  if (Data != nullptr) {
    const auto* Bytes = static_cast<const uint8_t*>(Data);
    Write.Data.assign(Bytes, Bytes + DataSize);
  }
  if (!ValidName(Name) || Guid == nullptr || (DataSize != 0 && Data == nullptr) ||
      (Attributes & ~KnownAttributes) != 0 ||
      ((Attributes & EFI_VARIABLE_RUNTIME_ACCESS) != 0 &&
       (Attributes & EFI_VARIABLE_BOOTSERVICE_ACCESS) == 0)) {
    Write.Result = EFI_INVALID_PARAMETER;
  } else {
    Slot& S = SlotFor(Name, *Guid);
    if (!TakeFailure(S.SetFailure, &Write.Result)) {
      Write.Result = Injected ? *Injected : Store(S, Attributes, Write.Data);
    }
  }
  return Write.Result;
}

EFI_STATUS VariableStore::Store(Slot& S, UINT32 Attributes, const std::vector<uint8_t>& Data) {
  // Attributes 0 deletes whatever the variable's attributes; otherwise they must be the same.
  if (S.Present && Attributes != 0 && Attributes != S.Attributes) {
    return EFI_INVALID_PARAMETER;
  }
  if (Data.empty() || Attributes == 0) {
    if (!S.Present) {
      return EFI_NOT_FOUND;
    }
    S.Present = false;
    S.Data.clear();
    return EFI_SUCCESS;
  }
  S.Present = true;
  S.Attributes = Attributes;
  S.Data = Data;
  return EFI_SUCCESS;
}

} // namespace sim
