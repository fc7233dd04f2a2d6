// Firmware protocols that only the stand-in drivers and the harness use: the firmware's own SMBIOS
// table, the status-code router, loaded images, device paths, the FAT volume the harness boots
// from, and the driver model. The driver itself never touches them, so they live here and not
// under uefi/ (where the multiprocessor services are, which the driver uses).
#pragma once

#include "uefi/mp_services.h"
#include "uefi/status_code.h"
#include "uefi/tables.h"

// SMBIOS records as the firmware's SMBIOS protocol keeps them: the formatted area (Length bytes,
// starting with this header), then the strings, each NUL-terminated, then one more NUL.
#pragma pack(push, 1)
struct EFI_SMBIOS_TABLE_HEADER {
  UINT8 Type;
  UINT8 Length;
  UINT16 Handle;
};
#pragma pack(pop)
static_assert(sizeof(EFI_SMBIOS_TABLE_HEADER) == 4, "SMBIOS structure header");

typedef UINT16 EFI_SMBIOS_HANDLE;
typedef UINT8 EFI_SMBIOS_TYPE;
constexpr EFI_SMBIOS_HANDLE SMBIOS_HANDLE_PI_RESERVED = 0xFFFE;

struct EFI_SMBIOS_PROTOCOL;
typedef EFI_STATUS(EFIAPI* EFI_SMBIOS_ADD)(EFI_SMBIOS_PROTOCOL* This, EFI_HANDLE ProducerHandle,
                                           EFI_SMBIOS_HANDLE* SmbiosHandle,
                                           EFI_SMBIOS_TABLE_HEADER* Record);
typedef EFI_STATUS(EFIAPI* EFI_SMBIOS_UPDATE_STRING)(EFI_SMBIOS_PROTOCOL* This,
                                                     EFI_SMBIOS_HANDLE* SmbiosHandle,
                                                     UINTN* StringNumber, CHAR8* String);
typedef EFI_STATUS(EFIAPI* EFI_SMBIOS_REMOVE)(EFI_SMBIOS_PROTOCOL* This,
                                              EFI_SMBIOS_HANDLE SmbiosHandle);
typedef EFI_STATUS(EFIAPI* EFI_SMBIOS_GET_NEXT)(EFI_SMBIOS_PROTOCOL* This,
                                                EFI_SMBIOS_HANDLE* SmbiosHandle,
                                                EFI_SMBIOS_TYPE* Type,
                                                EFI_SMBIOS_TABLE_HEADER** Record,
                                                EFI_HANDLE* ProducerHandle);
struct EFI_SMBIOS_PROTOCOL {
  EFI_SMBIOS_ADD Add;
  EFI_SMBIOS_UPDATE_STRING UpdateString;
  EFI_SMBIOS_REMOVE Remove;
  EFI_SMBIOS_GET_NEXT GetNext;
  UINT8 MajorVersion;
  UINT8 MinorVersion;
};
static_assert(sizeof(EFI_SMBIOS_PROTOCOL) == 40, "EFI_SMBIOS_PROTOCOL");

constexpr EFI_GUID EFI_SMBIOS_PROTOCOL_GUID = {
    0x03583FF6, 0xCB36, 0x4940, {0x94, 0x7E, 0xB9, 0xB3, 0x9F, 0x4A, 0xFA, 0xF7}};

// The status-code router: a registered callback sees every ReportStatusCode call.
typedef EFI_STATUS(EFIAPI* EFI_RSC_HANDLER_CALLBACK)(EFI_STATUS_CODE_TYPE CodeType,
                                                     EFI_STATUS_CODE_VALUE Value, UINT32 Instance,
                                                     EFI_GUID* CallerId,
                                                     EFI_STATUS_CODE_DATA* Data);
typedef EFI_STATUS(EFIAPI* EFI_RSC_HANDLER_REGISTER)(EFI_RSC_HANDLER_CALLBACK Callback,
                                                     EFI_TPL Tpl);
typedef EFI_STATUS(EFIAPI* EFI_RSC_HANDLER_UNREGISTER)(EFI_RSC_HANDLER_CALLBACK Callback);
struct EFI_RSC_HANDLER_PROTOCOL {
  EFI_RSC_HANDLER_REGISTER Register;
  EFI_RSC_HANDLER_UNREGISTER Unregister;
};
static_assert(sizeof(EFI_RSC_HANDLER_PROTOCOL) == 16, "EFI_RSC_HANDLER_PROTOCOL");

constexpr EFI_GUID EFI_RSC_HANDLER_PROTOCOL_GUID = {
    0x86212936, 0x0E76, 0x41C8, {0xA0, 0x3A, 0x2A, 0xF2, 0xFC, 0x1C, 0x39, 0xE2}};

// Device paths: packed nodes of any alignment; Length covers the whole node.
struct EFI_DEVICE_PATH_PROTOCOL {
  UINT8 Type;
  UINT8 SubType;
  UINT8 Length[2];
};
static_assert(sizeof(EFI_DEVICE_PATH_PROTOCOL) == 4, "device path node header");
constexpr UINT8 MEDIA_DEVICE_PATH = 0x04;
constexpr UINT8 MEDIA_FILEPATH_DP = 0x04;
constexpr UINT8 END_DEVICE_PATH_TYPE = 0x7F;
constexpr UINT8 END_ENTIRE_DEVICE_PATH_SUBTYPE = 0xFF;

constexpr EFI_GUID EFI_DEVICE_PATH_PROTOCOL_GUID = {
    0x09576E91, 0x6D3F, 0x11D2, {0x8E, 0x39, 0x00, 0xA0, 0xC9, 0x69, 0x72, 0x3B}};

struct EFI_LOADED_IMAGE_PROTOCOL {
  UINT32 Revision;
  EFI_HANDLE ParentHandle;
  EFI_SYSTEM_TABLE* SystemTable;
  EFI_HANDLE DeviceHandle;
  EFI_DEVICE_PATH_PROTOCOL* FilePath;
  void* Reserved;
  UINT32 LoadOptionsSize;
  void* LoadOptions;
  void* ImageBase;
  UINT64 ImageSize;
  EFI_MEMORY_TYPE ImageCodeType;
  EFI_MEMORY_TYPE ImageDataType;
  EFI_IMAGE_UNLOAD Unload;
};
static_assert(sizeof(EFI_LOADED_IMAGE_PROTOCOL) == 96, "EFI_LOADED_IMAGE_PROTOCOL");
static_assert(offsetof(EFI_LOADED_IMAGE_PROTOCOL, DeviceHandle) == 24, "DeviceHandle");

constexpr EFI_GUID EFI_LOADED_IMAGE_PROTOCOL_GUID = {
    0x5B1B31A1, 0x9562, 0x11D2, {0x8E, 0x3F, 0x00, 0xA0, 0xC9, 0x69, 0x72, 0x3B}};

// The FAT volume the harness was loaded from.
struct EFI_FILE_PROTOCOL;
typedef EFI_STATUS(EFIAPI* EFI_FILE_OPEN)(EFI_FILE_PROTOCOL* This, EFI_FILE_PROTOCOL** NewHandle,
                                          CHAR16* FileName, UINT64 OpenMode, UINT64 Attributes);
typedef EFI_STATUS(EFIAPI* EFI_FILE_CLOSE)(EFI_FILE_PROTOCOL* This);
typedef EFI_STATUS(EFIAPI* EFI_FILE_READ)(EFI_FILE_PROTOCOL* This, UINTN* BufferSize, void* Buffer);
struct EFI_FILE_PROTOCOL {
  UINT64 Revision;
  EFI_FILE_OPEN Open;
  EFI_FILE_CLOSE Close;
  void* Delete;
  EFI_FILE_READ Read;
  void* Write;
  void* GetPosition;
  void* SetPosition;
  void* GetInfo;
  void* SetInfo;
  void* Flush;
};
static_assert(offsetof(EFI_FILE_PROTOCOL, Read) == 32, "EFI_FILE_PROTOCOL Read");
constexpr UINT64 EFI_FILE_MODE_READ = 0x1;

struct EFI_SIMPLE_FILE_SYSTEM_PROTOCOL;
typedef EFI_STATUS(EFIAPI* EFI_SIMPLE_FILE_SYSTEM_OPEN_VOLUME)(
    EFI_SIMPLE_FILE_SYSTEM_PROTOCOL* This, EFI_FILE_PROTOCOL** Root);
struct EFI_SIMPLE_FILE_SYSTEM_PROTOCOL {
  UINT64 Revision;
  EFI_SIMPLE_FILE_SYSTEM_OPEN_VOLUME OpenVolume;
};

constexpr EFI_GUID EFI_SIMPLE_FILE_SYSTEM_PROTOCOL_GUID = {
    0x964E5B22, 0x6459, 0x11D2, {0x8E, 0x39, 0x00, 0xA0, 0xC9, 0x69, 0x72, 0x3B}};

// The UEFI driver model: ConnectController asks a driver's binding whether it supports a
// controller and starts it there.
struct EFI_DRIVER_BINDING_PROTOCOL;
typedef EFI_STATUS(EFIAPI* EFI_DRIVER_BINDING_SUPPORTED)(EFI_DRIVER_BINDING_PROTOCOL* This,
                                                         EFI_HANDLE ControllerHandle,
                                                         EFI_DEVICE_PATH_PROTOCOL* RemainingPath);
typedef EFI_STATUS(EFIAPI* EFI_DRIVER_BINDING_START)(EFI_DRIVER_BINDING_PROTOCOL* This,
                                                     EFI_HANDLE ControllerHandle,
                                                     EFI_DEVICE_PATH_PROTOCOL* RemainingPath);
typedef EFI_STATUS(EFIAPI* EFI_DRIVER_BINDING_STOP)(EFI_DRIVER_BINDING_PROTOCOL* This,
                                                    EFI_HANDLE ControllerHandle,
                                                    UINTN NumberOfChildren,
                                                    EFI_HANDLE* ChildHandleBuffer);
struct EFI_DRIVER_BINDING_PROTOCOL {
  EFI_DRIVER_BINDING_SUPPORTED Supported;
  EFI_DRIVER_BINDING_START Start;
  EFI_DRIVER_BINDING_STOP Stop;
  UINT32 Version;
  EFI_HANDLE ImageHandle;
  EFI_HANDLE DriverBindingHandle;
};
static_assert(sizeof(EFI_DRIVER_BINDING_PROTOCOL) == 48, "EFI_DRIVER_BINDING_PROTOCOL");

constexpr EFI_GUID EFI_DRIVER_BINDING_PROTOCOL_GUID = {
    0x18A031AB, 0xB443, 0x4D1A, {0xA5, 0xC0, 0x0C, 0x09, 0x26, 0x1E, 0x9F, 0x71}};

// OpenProtocol's attributes.
constexpr UINT32 EFI_OPEN_PROTOCOL_GET_PROTOCOL = 0x02;
constexpr UINT32 EFI_OPEN_PROTOCOL_BY_CHILD_CONTROLLER = 0x08;
constexpr UINT32 EFI_OPEN_PROTOCOL_BY_DRIVER = 0x10;
