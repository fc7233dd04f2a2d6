#include <cstring>

#include "sim/firmware.h"

namespace sim {
namespace {

constexpr UINT32 KnownAttributes =
    EFI_VARIABLE_NON_VOLATILE | EFI_VARIABLE_BOOTSERVICE_ACCESS | EFI_VARIABLE_RUNTIME_ACCESS;

bool ValidName(const CHAR16* Name) {
  return Name != nullptr && Name[0] != 0;
}

// A status armed for the next call (after the calls to let through), consumed by it.
template <typename FailureMap, typename K>
bool TakeFailure(FailureMap& Failures, const K& Key, EFI_STATUS* Status) {
  auto It = Failures.find(Key);
  if (It == Failures.end()) {
    return false;
  }
  if (It->second.After > 0) {
    --It->second.After;
    return false;
  }
  *Status = It->second.Status;
  if (It->second.Times > 0 && --It->second.Times == 0) {
    Failures.erase(It);
  }
  return true;
}

} // namespace

bool VariableStore::Key::operator<(const Key& O) const {
  if (Name != O.Name) {
    return Name < O.Name;
  }
  return Guid < O.Guid;
}

VariableStore::Key VariableStore::MakeKey(const std::u16string& Name, const EFI_GUID& Guid) {
  return Key{Name, std::string(reinterpret_cast<const char*>(&Guid), sizeof Guid)};
}

void VariableStore::Create(const std::u16string& Name, const EFI_GUID& Guid, UINT32 Attributes,
                           std::vector<uint8_t> Data) {
  Vars_[MakeKey(Name, Guid)] = Entry{Attributes, std::move(Data)};
}

void VariableStore::Delete(const std::u16string& Name, const EFI_GUID& Guid) {
  Vars_.erase(MakeKey(Name, Guid));
}

bool VariableStore::Exists(const std::u16string& Name, const EFI_GUID& Guid) const {
  return Vars_.count(MakeKey(Name, Guid)) != 0;
}

std::optional<std::vector<uint8_t>> VariableStore::Value(const std::u16string& Name,
                                                         const EFI_GUID& Guid) const {
  auto It = Vars_.find(MakeKey(Name, Guid));
  if (It == Vars_.end()) {
    return std::nullopt;
  }
  return It->second.Data;
}

UINT32 VariableStore::Attributes(const std::u16string& Name, const EFI_GUID& Guid) const {
  auto It = Vars_.find(MakeKey(Name, Guid));
  return It == Vars_.end() ? 0 : It->second.Attributes;
}

void VariableStore::FailGet(const std::u16string& Name, const EFI_GUID& Guid, EFI_STATUS Status,
                            int Times, unsigned After) {
  GetFailures_[MakeKey(Name, Guid)] = Failure{Status, Times, After};
}

void VariableStore::FailSet(const std::u16string& Name, const EFI_GUID& Guid, EFI_STATUS Status,
                            int Times, unsigned After) {
  SetFailures_[MakeKey(Name, Guid)] = Failure{Status, Times, After};
}

size_t VariableStore::WriteCount(const std::u16string& Name, const EFI_GUID& Guid) const {
  size_t Count = 0;
  for (const auto& W : Writes_) {
    Count += W.Name == Name && GuidEquals(W.Guid, Guid) ? 1 : 0;
  }
  return Count;
}

size_t VariableStore::ReadCount(const std::u16string& Name, const EFI_GUID& Guid) const {
  auto It = Reads_.find(MakeKey(Name, Guid));
  return It == Reads_.end() ? 0 : It->second;
}

void VariableStore::DropVolatile() {
  for (auto It = Vars_.begin(); It != Vars_.end();) {
    It = (It->second.Attributes & EFI_VARIABLE_NON_VOLATILE) != 0 ? std::next(It) : Vars_.erase(It);
  }
}

EFI_STATUS VariableStore::Get(const CHAR16* Name, const EFI_GUID* Guid, UINT32* Attributes,
                              UINTN* DataSize, void* Data) {
  if (!ValidName(Name) || Guid == nullptr || DataSize == nullptr ||
      (Data == nullptr && *DataSize != 0)) {
    return EFI_INVALID_PARAMETER;
  }
  const Key K = MakeKey(Name, *Guid);
  ++Reads_[K];
  EFI_STATUS Injected;
  if (TakeFailure(GetFailures_, K, &Injected)) {
    return Injected;
  }
  auto It = Vars_.find(K);
  if (It == Vars_.end()) {
    return EFI_NOT_FOUND;
  }
  const std::vector<uint8_t>& Value = It->second.Data;
  if (Attributes != nullptr) {
    *Attributes = It->second.Attributes;
  }
  if (*DataSize < Value.size()) {
    *DataSize = Value.size();
    return EFI_BUFFER_TOO_SMALL;
  }
  if (!Value.empty()) {
    std::memcpy(Data, Value.data(), Value.size());
  }
  *DataSize = Value.size();
  return EFI_SUCCESS;
}

EFI_STATUS VariableStore::Set(const CHAR16* Name, const EFI_GUID* Guid, UINT32 Attributes,
                              UINTN DataSize, const void* Data) {
  VariableWrite Write{Name != nullptr ? std::u16string(Name) : std::u16string(),
                      Guid != nullptr ? *Guid : EFI_GUID{},
                      Attributes,
                      {},
                      EFI_SUCCESS};
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
    const Key K = MakeKey(Name, *Guid);
    if (!TakeFailure(SetFailures_, K, &Write.Result)) {
      Write.Result = Store(K, Attributes, Write.Data);
    }
  }
  Writes_.push_back(Write);
  return Write.Result;
}

EFI_STATUS VariableStore::Store(const Key& K, UINT32 Attributes, const std::vector<uint8_t>& Data) {
  auto It = Vars_.find(K);
  // Attributes 0 deletes whatever the variable's attributes; otherwise they must be the same.
  if (It != Vars_.end() && Attributes != 0 && Attributes != It->second.Attributes) {
    return EFI_INVALID_PARAMETER;
  }
  if (Data.empty() || Attributes == 0) {
    if (It == Vars_.end()) {
      return EFI_NOT_FOUND;
    }
    Vars_.erase(It);
    return EFI_SUCCESS;
  }
  Vars_[K] = Entry{Attributes, Data};
  return EFI_SUCCESS;
}

} // namespace sim
