// The handle database: protocol install and uninstall, lookups, and protocol notifications. Each
// registration keeps the handles installed with its protocol since it was made, and hands each one
// out once, oldest first, through LocateHandle(ByRegisterNotify) or LocateProtocol.
#include <algorithm>
#include <cstring>

#include "sim/firmware_impl.h"

namespace sim {
namespace {

constexpr UINT32 OpenTestProtocol = 0x04;

} // namespace

EFI_STATUS Firmware::Impl::Install(EFI_HANDLE* Handle, const EFI_GUID* Guid,
                                   EFI_INTERFACE_TYPE Type, void* Interface) {
  ServiceCall Call{"InstallProtocolInterface"};
  if (Guid != nullptr) {
    Call.Guid = *Guid;
  }
  if (Handle == nullptr || Guid == nullptr || Type != EFI_NATIVE_INTERFACE) {
    Call.Result = EFI_INVALID_PARAMETER;
  } else {
    Call.Result = InstallQuietly(Handle, *Guid, Interface);
  }
  Record(Call);
  if (Call.Result == EFI_SUCCESS) {
    NotifyInstalled(*Handle, *Guid);
  }
  return Call.Result;
}

EFI_STATUS Firmware::Impl::InstallQuietly(EFI_HANDLE* Handle, const EFI_GUID& Guid,
                                          void* Interface) {
  HandleRecord* H = nullptr;
  if (*Handle != nullptr) {
    H = FindHandle(*Handle);
    if (H == nullptr || FindInterface(*H, Guid) != nullptr) {
      return EFI_INVALID_PARAMETER;
    }
  } else {
    *Handle = NewHandle();
    H = static_cast<HandleRecord*>(*Handle);
  }
  H->Protocols.push_back(InterfaceRecord{Guid, Interface, NextInstallOrder++});
  return EFI_SUCCESS;
}

void Firmware::Impl::NotifyInstalled(EFI_HANDLE Handle, const EFI_GUID& Guid) {
  // Every registration learns of the handle before any notify function runs.
  for (auto& R : Registrations) {
    if (GuidEquals(R->Guid, Guid)) {
      R->NewHandles.push_back(Handle);
      MarkPending(*R->Event);
    }
  }
  DispatchAbove(F.Tpl_);
}

EFI_STATUS Firmware::Impl::Uninstall(EFI_HANDLE Handle, const EFI_GUID* Guid, void* Interface) {
  HandleRecord* H = FindHandle(Handle);
  if (H == nullptr || Guid == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  InterfaceRecord* P = FindInterface(*H, *Guid);
  if (P == nullptr || P->Interface != Interface) {
    return EFI_NOT_FOUND;
  }
  H->Protocols.erase(H->Protocols.begin() + (P - H->Protocols.data()));
  for (auto& R : Registrations) {
    if (GuidEquals(R->Guid, *Guid)) {
      auto& Queue = R->NewHandles;
      Queue.erase(std::remove(Queue.begin(), Queue.end(), Handle), Queue.end());
    }
  }
  // A handle lives only while it carries a protocol; the image handle stays.
  if (H->Protocols.empty() && Handle != F.ImageHandle_) {
    Handles.erase(std::find_if(Handles.begin(), Handles.end(),
                               [H](const auto& Owned) { return Owned.get() == H; }));
  }
  return EFI_SUCCESS;
}

EFI_STATUS Firmware::Impl::HandleProtocol(EFI_HANDLE Handle, const EFI_GUID* Guid,
                                          void** Interface) {
  if (auto Injected = HandleProtocolFailures.NextCall()) {
    return *Injected;
  }
  return OpenProtocol(Handle, Guid, Interface, 0);
}

EFI_STATUS Firmware::Impl::OpenProtocol(EFI_HANDLE Handle, const EFI_GUID* Guid, void** Interface,
                                        UINT32 Attributes) {
  HandleRecord* H = FindHandle(Handle);
  if (H == nullptr || Guid == nullptr || (Interface == nullptr && Attributes != OpenTestProtocol)) {
    return EFI_INVALID_PARAMETER;
  }
  InterfaceRecord* P = FindInterface(*H, *Guid);
  if (P == nullptr) {
    return EFI_UNSUPPORTED;
  }
  if (Interface != nullptr && Attributes != OpenTestProtocol) {
    *Interface = P->Interface;
  }
  return EFI_SUCCESS;
}

EFI_STATUS Firmware::Impl::RegisterProtocolNotify(const EFI_GUID* Guid, EFI_EVENT Event,
                                                  void** Key) {
  ServiceCall Call{"RegisterProtocolNotify"};
  Call.Event = Event;
  if (Guid != nullptr) {
    Call.Guid = *Guid;
  }
  EventRecord* E = FindEvent(Event);
  if (Guid == nullptr || E == nullptr || Key == nullptr) {
    Call.Result = EFI_INVALID_PARAMETER;
  } else if (auto Injected = RegisterNotifyFailures.NextCall()) {
    Call.Result = *Injected;
  } else {
    Registrations.push_back(std::make_unique<Registration>(Registration{*Guid, E, {}}));
    *Key = Registrations.back().get();
    Call.Notify = E->Notify;
    Call.Tpl = E->Tpl;
  }
  Record(Call);
  return Call.Result;
}

std::vector<EFI_HANDLE> Firmware::Impl::HandlesInInstallOrder(const EFI_GUID& Guid) const {
  std::vector<std::pair<uint64_t, EFI_HANDLE>> Ordered;
  for (const auto& H : Handles) {
    if (InterfaceRecord* P = FindInterface(*H, Guid)) {
      Ordered.emplace_back(P->InstallOrder, H.get());
    }
  }
  std::sort(Ordered.begin(), Ordered.end());
  std::vector<EFI_HANDLE> Found;
  for (const auto& O : Ordered) {
    Found.push_back(O.second);
  }
  return Found;
}

InterfaceRecord* Firmware::Impl::FirstInstalled(const EFI_GUID& Guid) const {
  InterfaceRecord* First = nullptr;
  for (const auto& H : Handles) {
    InterfaceRecord* P = FindInterface(*H, Guid);
    if (P != nullptr && (First == nullptr || P->InstallOrder < First->InstallOrder)) {
      First = P;
    }
  }
  return First;
}

EFI_STATUS Firmware::Impl::Search(EFI_LOCATE_SEARCH_TYPE SearchType, const EFI_GUID* Guid,
                                  void* Key, std::vector<EFI_HANDLE>& Found, bool Consume) {
  switch (SearchType) {
  case AllHandles:
    for (const auto& H : Handles) {
      Found.push_back(H.get());
    }
    break;
  case ByProtocol:
    if (Guid == nullptr) {
      return EFI_INVALID_PARAMETER;
    }
    Found = HandlesInInstallOrder(*Guid);
    break;
  case ByRegisterNotify: {
    Registration* R = FindRegistration(Key);
    if (R == nullptr) {
      return EFI_INVALID_PARAMETER;
    }
    if (!R->NewHandles.empty()) {
      Found.push_back(R->NewHandles.front());
      if (Consume) {
        R->NewHandles.pop_front();
      }
    }
    break;
  }
  default:
    return EFI_INVALID_PARAMETER;
  }
  return Found.empty() ? EFI_NOT_FOUND : EFI_SUCCESS;
}

EFI_STATUS Firmware::Impl::LocateHandle(EFI_LOCATE_SEARCH_TYPE SearchType, const EFI_GUID* Guid,
                                        void* Key, UINTN* BufferSize, EFI_HANDLE* Buffer) {
  if (BufferSize == nullptr || (*BufferSize != 0 && Buffer == nullptr)) {
    return EFI_INVALID_PARAMETER;
  }
  std::vector<EFI_HANDLE> Found;
  // A handle is handed out only when it fits, so a too-small buffer does not lose it.
  EFI_STATUS Status = Search(SearchType, Guid, Key, Found, false);
  if (Status != EFI_SUCCESS) {
    return Status;
  }
  const UINTN Needed = Found.size() * sizeof(EFI_HANDLE);
  if (*BufferSize < Needed) {
    *BufferSize = Needed;
    return EFI_BUFFER_TOO_SMALL;
  }
  if (SearchType == ByRegisterNotify) {
    Found.clear();
    Search(SearchType, Guid, Key, Found, true);
  }
  std::memcpy(Buffer, Found.data(), Needed);
  *BufferSize = Needed;
  return EFI_SUCCESS;
}

EFI_STATUS Firmware::Impl::LocateHandleBuffer(EFI_LOCATE_SEARCH_TYPE SearchType,
                                              const EFI_GUID* Guid, void* Key, UINTN* Count,
                                              EFI_HANDLE** Buffer) {
  ServiceCall Call{"LocateHandleBuffer"};
  if (Guid != nullptr) {
    Call.Guid = *Guid;
  }
  Call.Result = FillHandleBuffer(SearchType, Guid, Key, Count, Buffer);
  Record(Call);
  return Call.Result;
}

EFI_STATUS Firmware::Impl::FillHandleBuffer(EFI_LOCATE_SEARCH_TYPE SearchType, const EFI_GUID* Guid,
                                            void* Key, UINTN* Count, EFI_HANDLE** Buffer) {
  if (Count == nullptr || Buffer == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  *Count = 0;
  *Buffer = nullptr;
  if (auto Injected = LocateHandleBufferFailures.NextCall()) {
    return *Injected;
  }
  std::vector<EFI_HANDLE> Found;
  EFI_STATUS Status = Search(SearchType, Guid, Key, Found, false);
  if (Status != EFI_SUCCESS) {
    return Status;
  }
  const UINTN Bytes = Found.size() * sizeof(EFI_HANDLE);
  void* Block = F.Pool.Allocate(Bytes, EfiBootServicesData, &Status);
  if (Block == nullptr) {
    return Status;
  }
  if (SearchType == ByRegisterNotify) {
    Found.clear();
    Search(SearchType, Guid, Key, Found, true);
  }
  std::memcpy(Block, Found.data(), Bytes);
  *Buffer = static_cast<EFI_HANDLE*>(Block);
  *Count = Found.size();
  return EFI_SUCCESS;
}

EFI_STATUS Firmware::Impl::LocateProtocol(const EFI_GUID* Guid, void* Key, void** Interface) {
  ServiceCall Call{"LocateProtocol"};
  if (Guid != nullptr) {
    Call.Guid = *Guid;
  }
  if (Guid == nullptr || Interface == nullptr) {
    Call.Result = EFI_INVALID_PARAMETER;
  } else if (auto Injected = LocateProtocolFailures.NextCall()) {
    *Interface = nullptr;
    Call.Result = *Injected;
  } else {
    *Interface = nullptr;
    InterfaceRecord* P = nullptr;
    if (Key != nullptr) {
      // With a registration: the next handle it has not handed out yet.
      std::vector<EFI_HANDLE> Found;
      if (FindRegistration(Key) != nullptr &&
          Search(ByRegisterNotify, Guid, Key, Found, true) == EFI_SUCCESS) {
        P = FindInterface(*static_cast<HandleRecord*>(Found.front()), *Guid);
      }
    } else {
      P = FirstInstalled(*Guid);
    }
    Call.Result = P != nullptr ? EFI_SUCCESS : EFI_NOT_FOUND;
    if (P != nullptr) {
      *Interface = P->Interface;
    }
  }
  Record(Call);
  return Call.Result;
}

} // namespace sim
