// Writes the harness's report: lines of blank-separated words, ASCII, LF-terminated, sent one
// character at a time to a sink (the debug console port in the image, a string in host tests).
//
//   begin
//   load <path> <LoadImage status> <StartImage status> <resident 0|1>
//   completion <status>
//   snapshot <tag>
//   fru <tag> <fru> <offset> <status> <hex bytes, the BMC's completion code, or ->
//   var <tag> <name> <guid> <status> <hex bytes or ->
//   codes <tag> <count seen>
//   code <tag> <index> <type> <value> <instance>
//   pci <bus:device.function> <vendor and device ID> <bus-number register>
//   smbios <get|update|reget|table> <status> <structure bytes or ->
//   ipmi <netfn> <command> <status> <answer bytes, the completion code alone, or ->
//   clock <tag> <time-stamp counter> <ticks of the last StartImage> <ticks in ipmi requests>
//   inputs <tag> <port 0x50C> <port 0x548> <the timed rise of the adapter-ready input came 0|1>
//   execs <tag> <Execute calls seen>
//   exec <tag> <index> <bus:device.function or -> <location status> <own record 0|1>
//        <command buffer zero behind the text 0|1> <response buffer zeroed 0|1>
//        <returned status> <status word> <command text in hex or ->
//   mpcalls <tag> <StartupAllAPs calls seen; each call takes a snapshot "mpNN" (NN its index,
//           two digits) before the firmware runs it, in which its status is still EFI_NOT_READY>
//   mpcall <tag> <index> <image of the procedure or -> <its offset in the image> <SingleThread>
//          <timeout> <wait event 0|1> <argument 0|1> <failed-CPU list 0|1> <status>
//   pciio <index> <segment> <bus:device.function> <vendor and device ID> <status>
//   connecting <bus:device.function>
//   connect <bus:device.function> <ConnectController status> <adapter protocol installed 0|1>
//   execute <bus:device.function> <Execute's status> <status word>
//   ready-wait <milliseconds waited> <port 0x50C at the end>
//   mprun <status> <processors> <enabled processors> <application processors that ran>
//   reset <type> <status>
//   error <what> <status>
//   end <number of lines before this one>
//
// Statuses and code values are 16 and 8 hexadecimal digits, NetFn and command 2, port values,
// status words, IDs and offsets 8; other numbers are decimal.
#pragma once

#include "uefi/types.h"

class ReportWriter {
public:
  typedef void (*Sink)(void* Context, char C);

  constexpr ReportWriter(Sink Out, void* Context) : Out_(Out), Context_(Context) {}

  ReportWriter& Word(const char* Text);
  ReportWriter& Name(const CHAR16* Text); // UTF-16 name; units outside ASCII print as '?'
  ReportWriter& Decimal(UINT64 Value);
  ReportWriter& Hex(UINT64 Value, UINTN Digits);
  ReportWriter& Status(EFI_STATUS Value) { return Hex(Value, 16); }
  ReportWriter& Bytes(const UINT8* Data, UINTN Size); // "-" when empty
  ReportWriter& Guid(const EFI_GUID& Value);
  // Ends the line.
  void End();

  UINTN Lines() const { return Lines_; }

private:
  void Separate();
  void Put(char C) { Out_(Context_, C); }
  void Digits(UINT64 Value, UINTN Count);

  Sink Out_;
  void* Context_;
  UINTN Lines_ = 0;
  bool LineStarted_ = false;
};
