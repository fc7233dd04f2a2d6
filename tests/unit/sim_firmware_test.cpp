// The simulated firmware as the driver sees it: everything goes through the service tables.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "sim/firmware.h"
#include "sim/problems.h"

namespace {

constexpr EFI_GUID GuidA = {0x11111111, 0x1111, 0x1111, {1, 1, 1, 1, 1, 1, 1, 1}};
constexpr EFI_GUID GuidB = {0x22222222, 0x2222, 0x2222, {2, 2, 2, 2, 2, 2, 2, 2}};

EFI_GUID* G(const EFI_GUID& Guid) {
  return const_cast<EFI_GUID*>(&Guid);
}

class SimFirmware : public ::testing::Test {
protected:
  sim::Firmware Fw;
  EFI_BOOT_SERVICES* Bs = Fw.SystemTable()->BootServices;

  EFI_HANDLE Install(const EFI_GUID& Guid, void* Interface, EFI_HANDLE Handle = nullptr) {
    EXPECT_EQ(Bs->InstallProtocolInterface(&Handle, G(Guid), EFI_NATIVE_INTERFACE, Interface),
              EFI_SUCCESS);
    return Handle;
  }
};

// What a protocol notify function saw, the way driver notify functions drain their registration.
struct Watcher {
  explicit Watcher(EFI_BOOT_SERVICES* Services) : Bs(Services) {}
  EFI_BOOT_SERVICES* Bs;
  void* Registration = nullptr;
  std::vector<std::vector<EFI_HANDLE>> Runs; // handles found, per run
  std::vector<EFI_TPL> Tpls;
};

void EFIAPI DrainNewHandles(EFI_EVENT, void* Context) {
  auto* W = static_cast<Watcher*>(Context);
  const EFI_TPL Tpl = W->Bs->RaiseTPL(TPL_HIGH_LEVEL);
  W->Bs->RestoreTPL(Tpl);
  W->Tpls.push_back(Tpl);
  W->Runs.emplace_back();
  for (;;) {
    EFI_HANDLE Handle = nullptr;
    UINTN Size = sizeof Handle;
    if (W->Bs->LocateHandle(ByRegisterNotify, nullptr, W->Registration, &Size, &Handle) !=
        EFI_SUCCESS) {
      return;
    }
    W->Runs.back().push_back(Handle);
  }
}

void Arm(Watcher& W, const EFI_GUID& Guid, EFI_TPL Tpl, EFI_EVENT* Event = nullptr) {
  EFI_EVENT Local = nullptr;
  EFI_EVENT* E = Event != nullptr ? Event : &Local;
  ASSERT_EQ(W.Bs->CreateEvent(EVT_NOTIFY_SIGNAL, Tpl, DrainNewHandles, &W, E), EFI_SUCCESS);
  ASSERT_EQ(W.Bs->RegisterProtocolNotify(G(Guid), *E, &W.Registration), EFI_SUCCESS);
}

TEST_F(SimFirmware, ServiceTablesCarryHeadersAndNoNullServices) {
  EFI_SYSTEM_TABLE* St = Fw.SystemTable();
  EXPECT_EQ(St->Hdr.Signature, EFI_SYSTEM_TABLE_SIGNATURE);
  EXPECT_EQ(St->Hdr.HeaderSize, sizeof(EFI_SYSTEM_TABLE));
  EXPECT_EQ(St->BootServices->Hdr.Signature, EFI_BOOT_SERVICES_SIGNATURE);
  EXPECT_EQ(St->BootServices->Hdr.HeaderSize, sizeof(EFI_BOOT_SERVICES));
  EXPECT_EQ(St->RuntimeServices->Hdr.Signature, EFI_RUNTIME_SERVICES_SIGNATURE);
  EXPECT_EQ(St->RuntimeServices->Hdr.HeaderSize, sizeof(EFI_RUNTIME_SERVICES));

  // Every member after the header is a function, except the boot services' reserved slot.
  auto Members = [](const void* Table, size_t Size) {
    std::vector<const void*> Out(Size / sizeof(void*));
    std::memcpy(Out.data(), Table, Size);
    return std::vector<const void*>(Out.begin() + sizeof(EFI_TABLE_HEADER) / sizeof(void*),
                                    Out.end());
  };
  const size_t ReservedSlot =
      (offsetof(EFI_BOOT_SERVICES, Reserved) - sizeof(EFI_TABLE_HEADER)) / sizeof(void*);
  auto Boot = Members(St->BootServices, sizeof(EFI_BOOT_SERVICES));
  for (size_t I = 0; I < Boot.size(); ++I) {
    EXPECT_EQ(Boot[I] == nullptr, I == ReservedSlot) << "boot service slot " << I;
  }
  for (const void* P : Members(St->RuntimeServices, sizeof(EFI_RUNTIME_SERVICES))) {
    EXPECT_NE(P, nullptr);
  }
  EXPECT_EQ(St->BootServices->AllocatePages(AllocateAnyPages, EfiBootServicesData, 1, nullptr),
            EFI_UNSUPPORTED);

  // The CRC-32 of the table headers and CalculateCrc32, by its check value.
  char Check[] = "123456789";
  UINT32 Crc = 0;
  EXPECT_EQ(St->BootServices->CalculateCrc32(Check, 9, &Crc), EFI_SUCCESS);
  EXPECT_EQ(Crc, 0xCBF43926u);
}

TEST_F(SimFirmware, RegisterNotifyHandsOutEachNewHandleOnce) {
  int Iface1 = 0, Iface2 = 0, Earlier = 0;
  EFI_HANDLE Before = Install(GuidA, &Earlier);
  Watcher First(Bs), Second(Bs);
  Arm(First, GuidA, TPL_CALLBACK);
  Arm(Second, GuidA, TPL_CALLBACK);

  EFI_HANDLE H1 = Install(GuidA, &Iface1);
  Install(GuidB, &Iface2, H1); // another protocol: nobody is told
  EFI_HANDLE H2 = Install(GuidA, &Iface2);

  using Runs = std::vector<std::vector<EFI_HANDLE>>;
  for (Watcher* W : {&First, &Second}) {
    EXPECT_EQ(W->Runs, (Runs{{H1}, {H2}}));
    EXPECT_EQ(W->Tpls, (std::vector<EFI_TPL>{TPL_CALLBACK, TPL_CALLBACK}));
  }
  EXPECT_NE(Before, H1);
  EXPECT_EQ(Fw.CurrentTpl(), TPL_APPLICATION);
}

TEST_F(SimFirmware, RegisterNotifyTooSmallBufferKeepsTheHandle) {
  Watcher W(Bs);
  Arm(W, GuidA, TPL_CALLBACK);
  EFI_TPL Old = Bs->RaiseTPL(TPL_NOTIFY); // keep the notify function from draining the queue
  int Iface = 0;
  EFI_HANDLE H = Install(GuidA, &Iface);

  EFI_HANDLE Found = nullptr;
  UINTN Size = 0;
  EXPECT_EQ(Bs->LocateHandle(ByRegisterNotify, nullptr, W.Registration, &Size, nullptr),
            EFI_BUFFER_TOO_SMALL);
  EXPECT_EQ(Size, sizeof(EFI_HANDLE));
  EXPECT_EQ(Bs->LocateHandle(ByRegisterNotify, nullptr, W.Registration, &Size, &Found),
            EFI_SUCCESS);
  EXPECT_EQ(Found, H);
  EXPECT_EQ(Bs->LocateHandle(ByRegisterNotify, nullptr, W.Registration, &Size, &Found),
            EFI_NOT_FOUND);
  Bs->RestoreTPL(Old);
  EXPECT_EQ(W.Runs, (std::vector<std::vector<EFI_HANDLE>>{{}}));
}

TEST_F(SimFirmware, NotifyWaitsWhileTplIsAtOrAboveItsLevel) {
  struct Case {
    EFI_TPL Raised;
    EFI_TPL EventTpl;
    bool RunsInsideInstall;
  } const Cases[] = {
      {TPL_APPLICATION, TPL_CALLBACK, true},
      {TPL_CALLBACK, TPL_CALLBACK, false},
      {TPL_NOTIFY, TPL_CALLBACK, false},
      {TPL_CALLBACK, TPL_NOTIFY, true},
  };
  for (const Case& C : Cases) {
    SCOPED_TRACE("raised to " + std::to_string(C.Raised) + ", event at " +
                 std::to_string(C.EventTpl));
    sim::Firmware Local;
    EFI_BOOT_SERVICES* LBs = Local.SystemTable()->BootServices;
    Watcher W(LBs);
    EFI_EVENT Event = nullptr;
    Arm(W, GuidA, C.EventTpl, &Event);

    EFI_TPL Old = LBs->RaiseTPL(C.Raised);
    EFI_HANDLE H = nullptr;
    int Iface = 0;
    LBs->InstallProtocolInterface(&H, G(GuidA), EFI_NATIVE_INTERFACE, &Iface);
    EXPECT_EQ(W.Runs.size(), C.RunsInsideInstall ? 1u : 0u);
    LBs->RestoreTPL(Old);

    ASSERT_EQ(W.Runs.size(), 1u);
    EXPECT_EQ(W.Runs[0], std::vector<EFI_HANDLE>{H});
    EXPECT_EQ(W.Tpls[0], C.EventTpl);
    EXPECT_EQ(Local.CurrentTpl(), TPL_APPLICATION);
  }
}

// A notify function that installs a protocol watched at its own level: the second notify runs
// after the first returns, not inside it.
struct Chain {
  explicit Chain(EFI_BOOT_SERVICES* Services) : Bs(Services) {}
  EFI_BOOT_SERVICES* Bs;
  std::vector<std::string> Log;
  int Iface = 0;
};

void EFIAPI InstallB(EFI_EVENT, void* Context) {
  auto* C = static_cast<Chain*>(Context);
  C->Log.push_back("A begins");
  EFI_HANDLE H = nullptr;
  C->Bs->InstallProtocolInterface(&H, G(GuidB), EFI_NATIVE_INTERFACE, &C->Iface);
  C->Log.push_back("A ends");
}

void EFIAPI NoteB(EFI_EVENT, void* Context) {
  static_cast<Chain*>(Context)->Log.push_back("B");
}

TEST_F(SimFirmware, NotifyAtTheSameLevelRunsAfterTheOneThatCausedIt) {
  Chain C(Bs);
  EFI_EVENT A = nullptr, B = nullptr;
  void *KeyA = nullptr, *KeyB = nullptr;
  ASSERT_EQ(Bs->CreateEvent(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, InstallB, &C, &A), EFI_SUCCESS);
  ASSERT_EQ(Bs->CreateEvent(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, NoteB, &C, &B), EFI_SUCCESS);
  Bs->RegisterProtocolNotify(G(GuidA), A, &KeyA);
  Bs->RegisterProtocolNotify(G(GuidB), B, &KeyB);

  Install(GuidA, &C.Iface);

  EXPECT_EQ(C.Log, (std::vector<std::string>{"A begins", "A ends", "B"}));
  std::vector<std::string> Services;
  for (const sim::ServiceCall& Call : Fw.Calls()) {
    Services.push_back(Call.Service);
  }
  EXPECT_EQ(Services,
            (std::vector<std::string>{"CreateEvent", "CreateEvent", "RegisterProtocolNotify",
                                      "RegisterProtocolNotify", "InstallProtocolInterface",
                                      "Notify", "InstallProtocolInterface", "Notify"}));
  EXPECT_EQ(Fw.Calls()[5].Event, A);
  EXPECT_EQ(Fw.Calls()[7].Event, B);
}

TEST_F(SimFirmware, ClosedEventIsNoLongerNotified) {
  Watcher W(Bs);
  EFI_EVENT Event = nullptr;
  Arm(W, GuidA, TPL_CALLBACK, &Event);
  EXPECT_EQ(Fw.EventCount(), 1u);
  EXPECT_EQ(Bs->CloseEvent(Event), EFI_SUCCESS);
  int Iface = 0;
  Install(GuidA, &Iface);
  EXPECT_TRUE(W.Runs.empty());
  EXPECT_EQ(Fw.EventCount(), 0u);
  EXPECT_EQ(Bs->CloseEvent(Event), EFI_INVALID_PARAMETER);
}

TEST_F(SimFirmware, LocateProtocolFindsTheFirstInstalledOrTheRegistrationsNext) {
  int First = 1, Second = 2, Third = 3;
  void* Found = nullptr;
  EXPECT_EQ(Bs->LocateProtocol(G(GuidA), nullptr, &Found), EFI_NOT_FOUND);
  EFI_HANDLE H1 = Install(GuidA, &First);
  Install(GuidA, &Second);
  EXPECT_EQ(Bs->LocateProtocol(G(GuidA), nullptr, &Found), EFI_SUCCESS);
  EXPECT_EQ(Found, &First);
  EXPECT_EQ(Bs->UninstallProtocolInterface(H1, G(GuidA), &First), EFI_SUCCESS);
  EXPECT_EQ(Bs->LocateProtocol(G(GuidA), nullptr, &Found), EFI_SUCCESS);
  EXPECT_EQ(Found, &Second);

  Watcher W(Bs);
  Arm(W, GuidA, TPL_CALLBACK);
  EFI_TPL Old = Bs->RaiseTPL(TPL_NOTIFY);
  Install(GuidA, &Third);
  EXPECT_EQ(Bs->LocateProtocol(G(GuidA), W.Registration, &Found), EFI_SUCCESS);
  EXPECT_EQ(Found, &Third);
  EXPECT_EQ(Bs->LocateProtocol(G(GuidA), W.Registration, &Found), EFI_NOT_FOUND);
  Bs->RestoreTPL(Old);
}

TEST_F(SimFirmware, HandleDatabaseRefusesDuplicatesAndAnswersMissingProtocols) {
  int Iface = 0;
  EFI_HANDLE H = Install(GuidA, &Iface);
  EXPECT_EQ(Bs->InstallProtocolInterface(&H, G(GuidA), EFI_NATIVE_INTERFACE, &Iface),
            EFI_INVALID_PARAMETER);
  void* Found = nullptr;
  EXPECT_EQ(Bs->HandleProtocol(H, G(GuidB), &Found), EFI_UNSUPPORTED);
  EXPECT_EQ(Bs->HandleProtocol(H, G(GuidA), &Found), EFI_SUCCESS);
  EXPECT_EQ(Found, &Iface);

  // ByProtocol with the usual size protocol; the buffer from LocateHandleBuffer is pool memory.
  Install(GuidA, &Iface);
  UINTN Size = sizeof(EFI_HANDLE);
  EFI_HANDLE One[1];
  EXPECT_EQ(Bs->LocateHandle(ByProtocol, G(GuidA), nullptr, &Size, One), EFI_BUFFER_TOO_SMALL);
  EXPECT_EQ(Size, 2 * sizeof(EFI_HANDLE));
  UINTN Count = 0;
  EFI_HANDLE* Buffer = nullptr;
  ASSERT_EQ(Bs->LocateHandleBuffer(ByProtocol, G(GuidA), nullptr, &Count, &Buffer), EFI_SUCCESS);
  EXPECT_EQ(Count, 2u);
  EXPECT_EQ(Buffer[0], H);
  EXPECT_EQ(Fw.Pool.LiveCount(), 1u);
  EXPECT_EQ(Bs->FreePool(Buffer), EFI_SUCCESS);
}

TEST_F(SimFirmware, InjectedFailuresHitTheNthCallOnly) {
  struct Case {
    const char* Service;
    void (sim::Firmware::*Arm)(unsigned, EFI_STATUS);
  } const Cases[] = {{"CreateEvent", &sim::Firmware::FailCreateEvent},
                     {"RegisterProtocolNotify", &sim::Firmware::FailRegisterProtocolNotify}};
  for (const Case& C : Cases) {
    SCOPED_TRACE(C.Service);
    sim::Firmware Local;
    EFI_BOOT_SERVICES* LBs = Local.SystemTable()->BootServices;
    (Local.*C.Arm)(2, EFI_OUT_OF_RESOURCES);
    Watcher W(LBs);
    std::vector<EFI_STATUS> Results;
    for (int I = 0; I < 3; ++I) {
      EFI_EVENT E = nullptr;
      EFI_STATUS S = LBs->CreateEvent(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, DrainNewHandles, &W, &E);
      if (S == EFI_SUCCESS) {
        S = LBs->RegisterProtocolNotify(G(GuidA), E, &W.Registration);
      }
      Results.push_back(S);
    }
    EXPECT_EQ(Results, (std::vector<EFI_STATUS>{EFI_SUCCESS, EFI_OUT_OF_RESOURCES, EFI_SUCCESS}));
  }
}

TEST_F(SimFirmware, PoolReportsLeaksAndBadFrees) {
  sim::ProblemCollector Problems;
  void* Kept = nullptr;
  void* Freed = nullptr;
  ASSERT_EQ(Bs->AllocatePool(EfiBootServicesData, 24, &Kept), EFI_SUCCESS);
  ASSERT_EQ(Bs->AllocatePool(EfiBootServicesData, 8, &Freed), EFI_SUCCESS);
  EXPECT_EQ(Bs->FreePool(Freed), EFI_SUCCESS);
  EXPECT_TRUE(Problems.Messages.empty());

  int NotPool = 0;
  EXPECT_EQ(Bs->FreePool(Freed), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Bs->FreePool(&NotPool), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Fw.Pool.ReportLeaks("now"), 1u);
  EXPECT_EQ(Fw.Pool.LiveCount(), 0u);
  ASSERT_EQ(Problems.Messages.size(), 3u);
  EXPECT_NE(Problems.Messages[0].find("not a live pool allocation"), std::string::npos);
  EXPECT_EQ(Problems.Messages[2].rfind("leak: 24 bytes", 0), 0u) << Problems.Messages[2];
}

TEST_F(SimFirmware, FailAllocationFailsOnlyTheNthAllocation) {
  Fw.Pool.FailAllocation(2);
  std::vector<EFI_STATUS> Results;
  std::vector<void*> Buffers;
  for (int I = 0; I < 3; ++I) {
    void* B = nullptr;
    Results.push_back(Bs->AllocatePool(EfiBootServicesData, 4, &B));
    if (B != nullptr) {
      Buffers.push_back(B);
    }
  }
  EXPECT_EQ(Results, (std::vector<EFI_STATUS>{EFI_SUCCESS, EFI_OUT_OF_RESOURCES, EFI_SUCCESS}));
  for (void* B : Buffers) {
    Bs->FreePool(B);
  }

  // Allocations the firmware makes for the caller count too.
  int Iface = 0;
  Install(GuidA, &Iface);
  Fw.Pool.FailAllocation(1);
  UINTN Count = 0;
  EFI_HANDLE* Handles = nullptr;
  EXPECT_EQ(Bs->LocateHandleBuffer(ByProtocol, G(GuidA), nullptr, &Count, &Handles),
            EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(Handles, nullptr);
}

TEST_F(SimFirmware, StallAdvancesVirtualTimeUntilTheWatchdog) {
  Fw.Clock.SetWatchdog(1000);
  EXPECT_EQ(Bs->Stall(400), EFI_SUCCESS);
  EXPECT_EQ(Bs->Stall(600), EFI_SUCCESS); // exactly at the limit is still alive
  EXPECT_EQ(Fw.Clock.Now(), 1000u);
  EXPECT_THROW(Bs->Stall(1), sim::SimulatedHang);
  EXPECT_EQ(Fw.Stalls(), (std::vector<uint64_t>{400, 600, 1}));

  // A new boot gets the whole limit again; virtual time itself goes on.
  Fw.NewBoot();
  EXPECT_EQ(Bs->Stall(1000), EFI_SUCCESS);
  EXPECT_EQ(Fw.Clock.Now(), 2001u);
}

TEST_F(SimFirmware, CopyMemHandlesOverlapAndSetMemTakesSizeBeforeValue) {
  UINT8 Bytes[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  Bs->CopyMem(Bytes + 2, Bytes, 4);
  EXPECT_EQ(std::vector<UINT8>(Bytes, Bytes + 8), (std::vector<UINT8>{1, 2, 1, 2, 3, 4, 7, 8}));
  Bs->SetMem(Bytes, 3, 0xAB);
  EXPECT_EQ(std::vector<UINT8>(Bytes, Bytes + 4), (std::vector<UINT8>{0xAB, 0xAB, 0xAB, 2}));
}

TEST_F(SimFirmware, NewBootForgetsTheLastBootsHandlesAndRegistrations) {
  int Iface = 0;
  Install(GuidA, &Iface);
  Watcher W(Bs);
  Arm(W, GuidA, TPL_CALLBACK);

  Fw.NewBoot();
  EXPECT_TRUE(Fw.HandlesWith(GuidA).empty());
  EXPECT_EQ(Fw.EventCount(), 0u);
  EXPECT_TRUE(Fw.Calls().empty());
  Install(GuidA, &Iface);
  EXPECT_TRUE(W.Runs.empty());
}

} // namespace
