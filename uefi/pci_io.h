// EFI_PCI_IO_PROTOCOL, which the PCI bus driver installs on the handle of every PCI function. The
// driver uses only GetLocation; the members before it are declared so that it sits at its offset.
#pragma once

#include "uefi/tables.h"

enum EFI_PCI_IO_PROTOCOL_WIDTH : UINT32 {
  EfiPciIoWidthUint8 = 0,
  EfiPciIoWidthUint16 = 1,
  EfiPciIoWidthUint32 = 2,
  EfiPciIoWidthUint64 = 3,
};

enum EFI_PCI_IO_PROTOCOL_OPERATION : UINT32 {
  EfiPciIoOperationBusMasterRead = 0,
  EfiPciIoOperationBusMasterWrite = 1,
  EfiPciIoOperationBusMasterCommonBuffer = 2,
};

struct EFI_PCI_IO_PROTOCOL;

typedef EFI_STATUS(EFIAPI* EFI_PCI_IO_PROTOCOL_POLL_IO_MEM)(EFI_PCI_IO_PROTOCOL* This,
                                                            EFI_PCI_IO_PROTOCOL_WIDTH Width,
                                                            UINT8 BarIndex, UINT64 Offset,
                                                            UINT64 Mask, UINT64 Value, UINT64 Delay,
                                                            UINT64* Result);
typedef EFI_STATUS(EFIAPI* EFI_PCI_IO_PROTOCOL_IO_MEM)(EFI_PCI_IO_PROTOCOL* This,
                                                       EFI_PCI_IO_PROTOCOL_WIDTH Width,
                                                       UINT8 BarIndex, UINT64 Offset, UINTN Count,
                                                       void* Buffer);
typedef EFI_STATUS(EFIAPI* EFI_PCI_IO_PROTOCOL_CONFIG)(EFI_PCI_IO_PROTOCOL* This,
                                                       EFI_PCI_IO_PROTOCOL_WIDTH Width,
                                                       UINT32 Offset, UINTN Count, void* Buffer);
typedef EFI_STATUS(EFIAPI* EFI_PCI_IO_PROTOCOL_COPY_MEM)(EFI_PCI_IO_PROTOCOL* This,
                                                         EFI_PCI_IO_PROTOCOL_WIDTH Width,
                                                         UINT8 DestBarIndex, UINT64 DestOffset,
                                                         UINT8 SrcBarIndex, UINT64 SrcOffset,
                                                         UINTN Count);
typedef EFI_STATUS(EFIAPI* EFI_PCI_IO_PROTOCOL_MAP)(EFI_PCI_IO_PROTOCOL* This,
                                                    EFI_PCI_IO_PROTOCOL_OPERATION Operation,
                                                    void* HostAddress, UINTN* NumberOfBytes,
                                                    EFI_PHYSICAL_ADDRESS* DeviceAddress,
                                                    void** Mapping);
typedef EFI_STATUS(EFIAPI* EFI_PCI_IO_PROTOCOL_UNMAP)(EFI_PCI_IO_PROTOCOL* This, void* Mapping);
typedef EFI_STATUS(EFIAPI* EFI_PCI_IO_PROTOCOL_ALLOCATE_BUFFER)(EFI_PCI_IO_PROTOCOL* This,
                                                                EFI_ALLOCATE_TYPE Type,
                                                                EFI_MEMORY_TYPE MemoryType,
                                                                UINTN Pages, void** HostAddress,
                                                                UINT64 Attributes);
typedef EFI_STATUS(EFIAPI* EFI_PCI_IO_PROTOCOL_FREE_BUFFER)(EFI_PCI_IO_PROTOCOL* This, UINTN Pages,
                                                            void* HostAddress);
typedef EFI_STATUS(EFIAPI* EFI_PCI_IO_PROTOCOL_FLUSH)(EFI_PCI_IO_PROTOCOL* This);
// All four outputs are UINTN.
typedef EFI_STATUS(EFIAPI* EFI_PCI_IO_PROTOCOL_GET_LOCATION)(EFI_PCI_IO_PROTOCOL* This,
                                                             UINTN* SegmentNumber, UINTN* BusNumber,
                                                             UINTN* DeviceNumber,
                                                             UINTN* FunctionNumber);

struct EFI_PCI_IO_PROTOCOL_ACCESS {
  EFI_PCI_IO_PROTOCOL_IO_MEM Read;
  EFI_PCI_IO_PROTOCOL_IO_MEM Write;
};

struct EFI_PCI_IO_PROTOCOL_CONFIG_ACCESS {
  EFI_PCI_IO_PROTOCOL_CONFIG Read;
  EFI_PCI_IO_PROTOCOL_CONFIG Write;
};

// The members up to GetLocation; a provider's record goes on past it (Attributes, the BAR
// operations and the option ROM), which the driver never touches.
struct EFI_PCI_IO_PROTOCOL {
  EFI_PCI_IO_PROTOCOL_POLL_IO_MEM PollMem;
  EFI_PCI_IO_PROTOCOL_POLL_IO_MEM PollIo;
  EFI_PCI_IO_PROTOCOL_ACCESS Mem;
  EFI_PCI_IO_PROTOCOL_ACCESS Io;
  EFI_PCI_IO_PROTOCOL_CONFIG_ACCESS Pci;
  EFI_PCI_IO_PROTOCOL_COPY_MEM CopyMem;
  EFI_PCI_IO_PROTOCOL_MAP Map;
  EFI_PCI_IO_PROTOCOL_UNMAP Unmap;
  EFI_PCI_IO_PROTOCOL_ALLOCATE_BUFFER AllocateBuffer;
  EFI_PCI_IO_PROTOCOL_FREE_BUFFER FreeBuffer;
  EFI_PCI_IO_PROTOCOL_FLUSH Flush;
  EFI_PCI_IO_PROTOCOL_GET_LOCATION GetLocation;
};
static_assert(offsetof(EFI_PCI_IO_PROTOCOL, Pci) == 48, "Pci");
static_assert(offsetof(EFI_PCI_IO_PROTOCOL, GetLocation) == 112, "GetLocation");

constexpr EFI_GUID EFI_PCI_IO_PROTOCOL_GUID = {
    0x4CF5B200, 0x68B8, 0x4CA5, {0x9E, 0xEC, 0xB2, 0x3E, 0x3F, 0x50, 0x02, 0x9A}};
