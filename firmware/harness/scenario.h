// The scenario file the host runner puts next to the harness on the FAT drive: one directive per
// line, carried out in file order. Blank lines and lines starting with '#' are skipped.
//
//   variable <name> <guid> <attributes> <hex bytes or ->  create a UEFI variable (and report it)
//   platform <item> <value>                               platform-information answer (29 or 30)
//   watch <name> <guid> <size>                            report this variable in every snapshot
//   readback <fru> <offset> <count>                       report these FRU bytes in every snapshot
//   load <path>                                           LoadImage and StartImage a file
//   completion                                            install CompletionSignalProtocol
//   snapshot <tag>                                        report watched variables, FRU bytes and
//                                                         status codes seen so far
//   pci <bus> <device> <function>                         report a function's IDs and bus numbers
//   smbios-uuid <32 hex digits>                           put this UUID into the System Information
//                                                         structure through SmbiosEditProtocol
//   smbios-table                                          report the System Information structure
//                                                         of the published SMBIOS table
//   ipmi <netfn> <command> <hex bytes or ->               send one request to the BMC over KCS and
//                                                         report its answer
//   clock <tag>                                           report the time-stamp counter, the ticks
//                                                         the last StartImage took and the ticks
//                                                         spent in ipmi requests so far
//   stall <microseconds>                                  wait with the Stall boot service
//   adapter <bus> <device> <function> <answers>           the adapter stand-in manages this PCI
//                                                         function and answers its commands with
//                                                         <answers>: status words and "error"
//                                                         (Execute fails) separated by commas, in
//                                                         order, the last one for every later
//                                                         command
//   connect <bus> <device> <function>                     ConnectController of that function's PCI
//                                                         I/O handle to the stand-in: its adapter
//                                                         arrives
//   execute <bus> <device> <function> <hex text>          call Execute of the first adapter that
//                                                         arrived, as the driver calls it, for
//                                                         that function
//   ready-input <0|1>                                     drive the adapter-ready input now
//   ready-input-rises <milliseconds>                      raise it from a timer, that long from now
//   wait-ready <milliseconds>                             at TPL_CALLBACK, as a notification runs,
//                                                         read it every 100 ms until it is 1, at
//                                                         most that long
//   pci-handles                                           report every PCI I/O handle, in the order
//                                                         the firmware hands them out
//   mp-run                                                run a procedure of the harness on every
//                                                         application processor
//
// Numbers are decimal, or hexadecimal with 0x; attributes are hexadecimal.
//
// The parser is plain code over byte ranges so that the host tests can run it too.
#pragma once

#include "firmware/common/adapter_standin.h"
#include "uefi/types.h"

enum class DirectiveKind : UINT8 {
  Variable,
  Platform,
  Watch,
  Readback,
  Load,
  Completion,
  Snapshot,
  Pci,
  SmbiosUuid,
  SmbiosTable,
  Ipmi,
  Clock,
  Stall,
  Adapter,
  Connect,
  Execute,
  ReadyInput,
  ReadyInputRises,
  WaitReady,
  PciHandles,
  MpRun,
};

constexpr UINTN ScenarioNameMax = 64; // UTF-16 units, NUL included
constexpr UINTN ScenarioDataMax = 1024;
constexpr UINTN ScenarioTagMax = 16; // NUL included
constexpr UINTN ScenarioIpmiDataMax = 64;
constexpr UINT64 StallMaxMicroseconds = 10000000;
constexpr UINT64 ScenarioRiseMaxMilliseconds = 600000;

struct Directive {
  DirectiveKind Kind;
  CHAR16 Name[ScenarioNameMax]; // variable name, or the image's path on the drive
  EFI_GUID Guid;
  UINT32 Attributes;
  UINT64 Numbers[3]; // platform: item, value; watch: size; readback: fru, offset, count;
                     // pci, adapter, connect, execute: bus, device, function;
                     // ipmi: netfn, command; stall: microseconds;
                     // ready-input: level; ready-input-rises, wait-ready: milliseconds
  UINTN DataSize;
  UINT8 Data[ScenarioDataMax];
  char Tag[ScenarioTagMax];
  AdapterAnswer Answers[AdapterAnswerMax];
  UINTN AnswerCount;
};

enum class ParseOutcome : UINT8 { Directive, Blank, Error };

// Parses one line (without its line end). On Error, Message names what is wrong.
ParseOutcome ParseDirective(const char* Line, UINTN Length, Directive* Out, const char** Message);

// Walks Text line by line: gives the next line (CR and LF removed) and advances Position. False at
// the end of Text.
bool NextLine(const char* Text, UINTN Size, UINTN* Position, const char** Line, UINTN* Length);

// "3C095E8C-7653-11E1-A8EB-080027FA6E7F" to its in-memory layout.
bool ParseGuid(const char* Text, UINTN Length, EFI_GUID* Guid);
