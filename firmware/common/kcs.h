// A polled client of the IPMI KCS system interface: one request/response transaction through the
// data and status/command ports, with a bounded wait at every step so that a BMC that stops
// answering cannot hang the boot. The ports are reached through KcsPorts, so the same state machine
// drives real ports in the images and a scripted device model in the host tests.
#pragma once

#include "uefi/types.h"

struct KcsPorts {
  void* Context;
  UINT8 (*Read)(void* Context, UINT16 Port);
  void (*Write)(void* Context, UINT16 Port, UINT8 Value);
  // Waits between two polls that found the interface not ready.
  void (*Delay)(void* Context, UINT32 Microseconds);
  UINT16 DataPort;   // 0xCA2 on the usual base
  UINT16 StatusPort; // status when read, command when written
};

struct KcsLimits {
  UINT32 PollDelayMicroseconds;
  UINT32 PollsPerWait; // a wait gives up after this many polls that found the interface busy
  // The wait for the BMC to carry out a request, from the request's last byte to the first byte
  // of the answer. A BMC behind the interface (a real one, or one reached over a socket) takes
  // this long; the interface itself answers every other step at once.
  UINT32 PollsPerAnswer;
};

// About a second per step and five for the BMC's answer, the KCS recommendation. A BMC that
// gives up on a request itself (QEMU's link to an outside BMC does after 4 s) then still gets
// its own answer, a completion code, through to the caller.
constexpr KcsLimits KcsDefaultLimits = {10, 100000, 500000};

constexpr UINT16 KcsDefaultDataPort = 0xCA2;
constexpr UINT16 KcsDefaultStatusPort = 0xCA3;

// Status register.
constexpr UINT8 KcsStatusObf = 0x01;
constexpr UINT8 KcsStatusIbf = 0x02;
constexpr UINT8 KcsStateShift = 6;
enum KcsState : UINT8 { KcsIdle = 0, KcsRead = 1, KcsWrite = 2, KcsError = 3 };

// Control codes.
constexpr UINT8 KcsGetStatusAbort = 0x60;
constexpr UINT8 KcsWriteStart = 0x61;
constexpr UINT8 KcsWriteEnd = 0x62;
constexpr UINT8 KcsReadByte = 0x68;

// The longest response taken off the interface: NetFn, command, completion code and 255 data
// bytes. A BMC that sends more is out of step and the transaction is aborted.
constexpr UINT16 KcsMaxResponse = 258;

// One transaction: writes the RequestSize bytes of Request (at least 2: NetFn/LUN and command) and
// reads the response into Response (Capacity bytes). ResponseSize receives the number of bytes the
// BMC sent.
//   EFI_SUCCESS           the whole response is in Response
//   EFI_BUFFER_TOO_SMALL  the BMC sent more than Capacity bytes; the first Capacity are kept
//   EFI_TIMEOUT           a step did not complete in time (the interface is then aborted)
//   EFI_DEVICE_ERROR      the interface left the expected state, or answered with no interface
//                         (status 0xFF); the interface is aborted back to idle before returning
//   EFI_INVALID_PARAMETER a request shorter than 2 bytes or missing buffers
// A transaction that goes out of step is tried once more after the abort.
EFI_STATUS KcsTransact(const KcsPorts& Ports, const KcsLimits& Limits, const UINT8* Request,
                       UINT16 RequestSize, UINT8* Response, UINT16 Capacity, UINT16* ResponseSize);

// The interface's error exit (GET_STATUS/ABORT): brings the BMC's side back to idle. Interface
// Status receives the BMC's error byte.
EFI_STATUS KcsAbort(const KcsPorts& Ports, const KcsLimits& Limits, UINT8* InterfaceStatus);
