// Inside the simulated firmware: the handle database, events and protocol notifications behind the
// service tables. Only sim/ sources include this.
#pragma once

#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "sim/firmware.h"

namespace sim {

// A service or protocol member the simulation has no use for: it answers EFI_UNSUPPORTED rather
// than leave a null pointer to jump through.
template <typename... Args> EFI_STATUS EFIAPI Unsupported(Args...) {
  return EFI_UNSUPPORTED;
}

template <typename... Args> void SetUnsupported(EFI_STATUS(EFIAPI*& Slot)(Args...)) {
  Slot = Unsupported<Args...>;
}

struct EventRecord {
  UINT32 Type;
  EFI_TPL Tpl;
  EFI_EVENT_NOTIFY Notify;
  void* Context;
  bool Pending = false;      // its notify function waits for the TPL to drop below Tpl
  uint64_t PendingOrder = 0; // signalled events of one TPL run in the order they were signalled
  bool Signalled = false;    // for CheckEvent on events without a notify function
};

struct InterfaceRecord {
  EFI_GUID Guid;
  void* Interface;
  uint64_t InstallOrder;
};

struct HandleRecord {
  std::vector<InterfaceRecord> Protocols;
};

// One RegisterProtocolNotify: the handles installed with Guid since, not yet handed out.
struct Registration {
  EFI_GUID Guid;
  EventRecord* Event;
  std::deque<EFI_HANDLE> NewHandles;
};

struct Firmware::Impl {
  explicit Impl(Firmware& Owner) : F(Owner) {}

  Firmware& F;
  std::vector<std::unique_ptr<HandleRecord>> Handles; // in creation order
  std::vector<std::unique_ptr<EventRecord>> Events;
  std::vector<std::unique_ptr<Registration>> Registrations;
  uint64_t NextInstallOrder = 1;
  uint64_t NextPendingOrder = 1;
  uint64_t MonotonicCount = 0;
  NthCallFailures CreateEventFailures;
  NthCallFailures RegisterNotifyFailures;
  NthCallFailures LocateHandleBufferFailures;
  NthCallFailures HandleProtocolFailures;
  NthCallFailures LocateProtocolFailures;
  // Nonzero while an application processor runs a procedure (sim/mp_services.h): the number of
  // that processor, to which no firmware service is open.
  UINTN ApRunning = 0;

  // Lookups: null when the value is not a live handle, event or registration.
  HandleRecord* FindHandle(EFI_HANDLE Handle) const;
  EventRecord* FindEvent(EFI_EVENT Event) const;
  Registration* FindRegistration(const void* Key) const;
  static InterfaceRecord* FindInterface(HandleRecord& Handle, const EFI_GUID& Guid);

  void Record(ServiceCall Call) { F.Calls_.push_back(Call); }
  void Clear();
  EFI_HANDLE NewHandle();

  // Task priority and event notification (events.cpp).
  EFI_TPL RaiseTpl(EFI_TPL NewTpl);
  void RestoreTpl(EFI_TPL OldTpl);
  EFI_STATUS CreateEvent(UINT32 Type, EFI_TPL Tpl, EFI_EVENT_NOTIFY Notify, void* Context,
                         EFI_EVENT* Event);
  EFI_STATUS CloseEvent(EFI_EVENT Event);
  EFI_STATUS SignalEvent(EFI_EVENT Event);
  EFI_STATUS CheckEvent(EFI_EVENT Event);
  void MarkPending(EventRecord& Event);
  void DispatchAbove(EFI_TPL Level);
  // Puts the TPL back after an exception unwound out of a notify function.
  void AbandonTpl(EFI_TPL Tpl) { F.Tpl_ = Tpl; }

  // Handle database (handle_database.cpp).
  EFI_STATUS Install(EFI_HANDLE* Handle, const EFI_GUID* Guid, EFI_INTERFACE_TYPE Type,
                     void* Interface);
  EFI_STATUS InstallQuietly(EFI_HANDLE* Handle, const EFI_GUID& Guid, void* Interface);
  void NotifyInstalled(EFI_HANDLE Handle, const EFI_GUID& Guid);
  EFI_STATUS Uninstall(EFI_HANDLE Handle, const EFI_GUID* Guid, void* Interface);
  EFI_STATUS HandleProtocol(EFI_HANDLE Handle, const EFI_GUID* Guid, void** Interface);
  EFI_STATUS OpenProtocol(EFI_HANDLE Handle, const EFI_GUID* Guid, void** Interface,
                          UINT32 Attributes);
  EFI_STATUS RegisterProtocolNotify(const EFI_GUID* Guid, EFI_EVENT Event, void** Key);
  EFI_STATUS LocateHandle(EFI_LOCATE_SEARCH_TYPE Search, const EFI_GUID* Guid, void* Key,
                          UINTN* BufferSize, EFI_HANDLE* Buffer);
  EFI_STATUS LocateHandleBuffer(EFI_LOCATE_SEARCH_TYPE Search, const EFI_GUID* Guid, void* Key,
                                UINTN* Count, EFI_HANDLE** Buffer);
  EFI_STATUS FillHandleBuffer(EFI_LOCATE_SEARCH_TYPE Search, const EFI_GUID* Guid, void* Key,
                              UINTN* Count, EFI_HANDLE** Buffer);
  EFI_STATUS LocateProtocol(const EFI_GUID* Guid, void* Key, void** Interface);
  // The handles a search finds; a register-notify search hands out (consumes) at most one.
  EFI_STATUS Search(EFI_LOCATE_SEARCH_TYPE Search, const EFI_GUID* Guid, void* Key,
                    std::vector<EFI_HANDLE>& Found, bool Consume);
  std::vector<EFI_HANDLE> HandlesInInstallOrder(const EFI_GUID& Guid) const;
  // The interface installed first of those with Guid, or null.
  InterfaceRecord* FirstInstalled(const EFI_GUID& Guid) const;

  // Runtime services.
  [[noreturn]] void ResetSystem(EFI_RESET_TYPE Type, EFI_STATUS Status);
  EFI_STATUS Stall(UINTN Microseconds);
};

// The firmware the service-table thunks talk to: the current one (sim/current_instance.h).
Firmware::Impl& CurrentFirmware();

// Fills the tables with the thunks, header signatures, sizes and checksums.
void FillServiceTables(EFI_SYSTEM_TABLE& System, EFI_BOOT_SERVICES& Boot,
                       EFI_RUNTIME_SERVICES& Runtime);

// The CRC-32 that UEFI table headers and CalculateCrc32 use.
UINT32 Crc32(const void* Data, size_t Size);

std::string HexPointer(const void* P);

} // namespace sim
