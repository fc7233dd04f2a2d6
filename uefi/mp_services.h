// EFI_MP_SERVICES_PROTOCOL (PI), which the firmware's processor driver installs to run procedures
// on the application processors. The driver uses only StartupAllAPs; every member is declared so
// that each sits at its offset.
#pragma once

#include "uefi/types.h"

// A procedure run on a processor. It returns nothing and may call no firmware service.
typedef void(EFIAPI* EFI_AP_PROCEDURE)(void* ProcedureArgument);

// Bits of EFI_PROCESSOR_INFORMATION.StatusFlag.
constexpr UINT32 PROCESSOR_AS_BSP_BIT = 0x00000001;
constexpr UINT32 PROCESSOR_ENABLED_BIT = 0x00000002;
constexpr UINT32 PROCESSOR_HEALTH_STATUS_BIT = 0x00000004;

// Ends the list of processors that StartupAllAPs hands back in FailedCpuList.
constexpr UINTN END_OF_CPU_LIST = 0xFFFFFFFF;

struct EFI_CPU_PHYSICAL_LOCATION {
  UINT32 Package;
  UINT32 Core;
  UINT32 Thread;
};

struct EFI_CPU_PHYSICAL_LOCATION2 {
  UINT32 Package;
  UINT32 Module;
  UINT32 Tile;
  UINT32 Die;
  UINT32 Core;
  UINT32 Thread;
};

struct EFI_PROCESSOR_INFORMATION {
  UINT64 ProcessorId; // the local APIC ID
  UINT32 StatusFlag;
  EFI_CPU_PHYSICAL_LOCATION Location;
  EFI_CPU_PHYSICAL_LOCATION2 ExtendedInformation;
};
static_assert(sizeof(EFI_PROCESSOR_INFORMATION) == 48, "EFI_PROCESSOR_INFORMATION");

struct EFI_MP_SERVICES_PROTOCOL;

typedef EFI_STATUS(EFIAPI* EFI_MP_SERVICES_GET_NUMBER_OF_PROCESSORS)(
    EFI_MP_SERVICES_PROTOCOL* This, UINTN* NumberOfProcessors, UINTN* NumberOfEnabledProcessors);
typedef EFI_STATUS(EFIAPI* EFI_MP_SERVICES_GET_PROCESSOR_INFO)(
    EFI_MP_SERVICES_PROTOCOL* This, UINTN ProcessorNumber,
    EFI_PROCESSOR_INFORMATION* ProcessorInfoBuffer);
// WaitEvent null: the call blocks until every processor has finished. TimeoutInMicroSeconds 0:
// no time limit. FailedCpuList, when asked for, is pool memory the caller frees.
typedef EFI_STATUS(EFIAPI* EFI_MP_SERVICES_STARTUP_ALL_APS)(
    EFI_MP_SERVICES_PROTOCOL* This, EFI_AP_PROCEDURE Procedure, BOOLEAN SingleThread,
    EFI_EVENT WaitEvent, UINTN TimeoutInMicroSeconds, void* ProcedureArgument,
    UINTN** FailedCpuList);
typedef EFI_STATUS(EFIAPI* EFI_MP_SERVICES_STARTUP_THIS_AP)(
    EFI_MP_SERVICES_PROTOCOL* This, EFI_AP_PROCEDURE Procedure, UINTN ProcessorNumber,
    EFI_EVENT WaitEvent, UINTN TimeoutInMicroseconds, void* ProcedureArgument, BOOLEAN* Finished);
typedef EFI_STATUS(EFIAPI* EFI_MP_SERVICES_SWITCH_BSP)(EFI_MP_SERVICES_PROTOCOL* This,
                                                       UINTN ProcessorNumber, BOOLEAN EnableOldBSP);
typedef EFI_STATUS(EFIAPI* EFI_MP_SERVICES_ENABLEDISABLEAP)(EFI_MP_SERVICES_PROTOCOL* This,
                                                            UINTN ProcessorNumber, BOOLEAN EnableAP,
                                                            UINT32* HealthFlag);
typedef EFI_STATUS(EFIAPI* EFI_MP_SERVICES_WHOAMI)(EFI_MP_SERVICES_PROTOCOL* This,
                                                   UINTN* ProcessorNumber);

struct EFI_MP_SERVICES_PROTOCOL {
  EFI_MP_SERVICES_GET_NUMBER_OF_PROCESSORS GetNumberOfProcessors;
  EFI_MP_SERVICES_GET_PROCESSOR_INFO GetProcessorInfo;
  EFI_MP_SERVICES_STARTUP_ALL_APS StartupAllAPs;
  EFI_MP_SERVICES_STARTUP_THIS_AP StartupThisAP;
  EFI_MP_SERVICES_SWITCH_BSP SwitchBSP;
  EFI_MP_SERVICES_ENABLEDISABLEAP EnableDisableAP;
  EFI_MP_SERVICES_WHOAMI WhoAmI;
};
static_assert(sizeof(EFI_MP_SERVICES_PROTOCOL) == 56, "EFI_MP_SERVICES_PROTOCOL");
static_assert(offsetof(EFI_MP_SERVICES_PROTOCOL, StartupAllAPs) == 16, "StartupAllAPs");

constexpr EFI_GUID EFI_MP_SERVICES_PROTOCOL_GUID = {
    0x3FDDA605, 0xA76E, 0x4F46, {0xAD, 0x29, 0x12, 0xF4, 0x53, 0x1B, 0x3D, 0x08}};
