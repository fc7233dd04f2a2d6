// The simulated BMC: FRU devices and the IpmiTransportProtocol the driver talks through, with every
// request traced, injectable busy answers and errors, and the BMC's own side of the mailbox lock
// scripted over virtual time.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "core/protocols.h"
#include "sim/ipmi_codes.h"

namespace sim {

class VirtualClock;

struct IpmiRequest {
  uint64_t Time; // virtual microseconds when it was sent
  UINT8 NetFn;
  UINT8 Lun;
  UINT8 Cmd;
  std::vector<uint8_t> Data; // request bytes
  UINT8 ResponseCapacity;    // *ResponseDataSize as the caller passed it
  EFI_STATUS Status;         // what SendIpmiCommand returned
  UINT8 CompletionCode;
  std::vector<uint8_t> Response; // bytes the transport put into the response buffer
};

// Which requests an injection applies to; unset fields match anything. FruId and Offset look at the
// request bytes of Read and Write FRU Data.
struct RequestMatch {
  std::optional<UINT8> NetFn;
  std::optional<UINT8> Cmd;
  std::optional<UINT8> FruId;
  std::optional<UINT16> Offset;
};

// Read FRU Data answers that do not hold together: fewer data bytes behind the count byte than it
// says, more data bytes than it says, or a count byte that claims more than the request asked for.
enum class FruAnswerFault { ShorterThanCount, LongerThanCount, CountAboveRequest };

// A byte the BMC itself writes into a FRU device once virtual time reaches At.
struct ScheduledFruWrite {
  uint64_t At;
  UINT8 FruId;
  UINT16 Offset;
  UINT8 Value;
};

class Bmc {
public:
  explicit Bmc(VirtualClock& Clock);
  Bmc(const Bmc&) = delete;
  Bmc& operator=(const Bmc&) = delete;

  IPMI_TRANSPORT_PROTOCOL* Transport() { return &Protocol_.Iface; }

  // FRU devices. Reads and writes are clamped at the end of a device (fewer bytes returned); an
  // offset at or past the end answers 0xCC; an absent device answers 0xCB.
  void AddFruDevice(UINT8 FruId, size_t Size, UINT8 Fill = 0);
  bool HasFruDevice(UINT8 FruId) const;
  std::vector<uint8_t>& Fru(UINT8 FruId);
  void WriteFru(UINT8 FruId, UINT16 Offset, const std::vector<uint8_t>& Bytes);
  std::vector<uint8_t> ReadFru(UINT8 FruId, UINT16 Offset, size_t Count) const;

  // Answers of the next Times matching requests: a completion code (EFI_DEVICE_ERROR with the code
  // in byte 0) or a transport status with no answer at all. Injections are consumed in the order
  // given. The OEM messages about the host's wait for its adapters (NetFn 0x30, command 0x30) are
  // answered with success and no data unless an injection matches them:
  //   Bmc.InjectCompletion(0xC0, 1, {ipmi::NetFnOem, ipmi::CmdOemAdapterWait, {}, {}});
  void InjectCompletion(UINT8 Code, int Times = 1, const RequestMatch& Match = {});
  void InjectStatus(EFI_STATUS Status, int Times = 1, const RequestMatch& Match = {});
  // The next Times matching Read FRU Data answers come back with Fault: half the data bytes are
  // missing, the count byte says half of those delivered, or it says one more than was asked for.
  void InjectFruAnswerFault(FruAnswerFault Fault, int Times = 1, const RequestMatch& Match = {});

  // The BMC's side of the mailbox, over virtual time.
  void ScheduleFruWrite(UINT8 FruId, UINT16 Offset, UINT8 Value, uint64_t At);
  // The BMC holds the mailbox whose header is at HeaderOffset (BmcLockFlag 1, LockTurn kept at 1)
  // until virtual time Until, then lets go (BmcLockFlag 0). Until = UINT64_MAX: it never lets go.
  void HoldMailboxLock(UINT8 FruId, UINT16 HeaderOffset, uint64_t Until);

  const std::vector<IpmiRequest>& Trace() const { return Trace_; }
  void ClearTrace() { Trace_.clear(); }
  // Requests of one kind, in order.
  std::vector<IpmiRequest> Requests(UINT8 NetFn, UINT8 Cmd) const;

  // The transport's behaviour, callable directly.
  EFI_STATUS Send(UINT8 NetFn, UINT8 Lun, UINT8 Cmd, const UINT8* Request, UINT8 RequestSize,
                  UINT8* Response, UINT8* ResponseSize);

private:
  struct Injection {
    enum Kind { CompletionCode, TransportStatus, FaultyFruAnswer };
    RequestMatch Match;
    Kind What;
    UINT8 Code;
    EFI_STATUS Status;
    FruAnswerFault Fault;
    int Remaining;
  };
  struct ProtocolBlock {
    IPMI_TRANSPORT_PROTOCOL Iface;
    Bmc* Owner;
  };
  static EFI_STATUS EFIAPI SendThunk(IPMI_TRANSPORT_PROTOCOL* This, UINT8 NetFn, UINT8 Lun,
                                     UINT8 Cmd, UINT8* Request, UINT8 RequestSize, UINT8* Response,
                                     UINT8* ResponseSize);
  void ApplyScheduledWrites();
  Injection* FindInjection(UINT8 NetFn, UINT8 Cmd, const std::vector<uint8_t>& Request);
  // The BMC's own answer: the completion code, and the bytes after it in Out.
  UINT8 Answer(UINT8 NetFn, UINT8 Cmd, const std::vector<uint8_t>& Request,
               std::vector<uint8_t>& Out);
  UINT8 FruInventoryInfo(const std::vector<uint8_t>& Request, std::vector<uint8_t>& Out);
  UINT8 ReadFruData(const std::vector<uint8_t>& Request, std::vector<uint8_t>& Out);
  UINT8 WriteFruData(const std::vector<uint8_t>& Request, std::vector<uint8_t>& Out);

  VirtualClock& Clock_;
  ProtocolBlock Protocol_;
  std::map<UINT8, std::vector<uint8_t>> Frus_;
  std::vector<Injection> Injections_;
  std::vector<ScheduledFruWrite> Scheduled_;
  std::vector<IpmiRequest> Trace_;
};

} // namespace sim
