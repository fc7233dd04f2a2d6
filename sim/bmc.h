// The simulated BMC: FRU devices and the IpmiTransportProtocol the driver talks through, with every
// request traced. It can misbehave in every way a real BMC can: busy answers, other completion
// codes and transport failures, answers that do not tell the truth, slow answers, writes of its own
// into the FRU devices (over virtual time or between two requests), and its side of the mailbox
// lock, scripted over time or reacting to the host.
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
  uint64_t Number = 0;           // its place among the requests of its boot: 1 for the first
  UINT8 ResponseSize = 0;        // *ResponseDataSize as the transport left it
};

// Which requests a misbehaviour applies to; unset fields match anything. FruId and Offset look at
// the request bytes of Read and Write FRU Data; Number is the request's place in its boot (1 for
// the first). Nth picks among the matching requests the first one it applies to: 1, the first
// matching request; 3, the third (the first two are answered truthfully).
struct RequestMatch {
  std::optional<UINT8> NetFn;
  std::optional<UINT8> Cmd;
  std::optional<UINT8> FruId;
  std::optional<UINT16> Offset;
  std::optional<uint64_t> Number = std::nullopt;
  unsigned Nth = 1;
};

// Answers that do not tell the truth. The first three and DifferentData are Read FRU Data answers;
// WriteNotStored is a Write FRU Data answer; LongerThanBuffer may be any answer.
enum class FruAnswerFault {
  ShorterThanCount,  // half the data bytes are missing behind a true count byte
  LongerThanCount,   // the count byte says half of the data bytes delivered
  CountAboveRequest, // the count byte says one more than the request asked for
  DifferentData,     // count and size are right, every data byte is not what the device holds
  LongerThanBuffer,  // one byte more than the response buffer holds: the transport fills the
                     // buffer and reports the size of the whole answer
  WriteNotStored,    // the write is acknowledged as whole, and the device keeps its bytes
};

// How the BMC's side of a mailbox lock answers the host.
enum class LockReaction {
  // The BMC holds the mailbox (BmcLockFlag 1, LockTurn 1). Once the host asks for it (HostLockFlag
  // 1), the BMC hands the turn back (LockTurn 0) and keeps its own flag: the host goes first.
  HandTurnBack,
  // The BMC holds the mailbox; once the host asks for it, the BMC lets go (BmcLockFlag 0).
  YieldWhenAsked,
  // Once the host holds the mailbox (HostLockFlag 1, BmcLockFlag 0), the BMC takes it as well
  // (BmcLockFlag 1, LockTurn 0) without waiting for its turn, against the lock's rules.
  TakeWhileHostHolds,
};

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

  // A new boot: request numbers start again at 1 (the blade calls it at power-on and power cycle).
  // Misbehaviours with times left carry over, and a request Number matches in every boot.
  void StartBoot() { BootRequests_ = 0; }

  // FRU devices. Reads and writes are clamped at the end of a device (fewer bytes returned); an
  // offset at or past the end answers 0xCC; an absent device answers 0xCB.
  void AddFruDevice(UINT8 FruId, size_t Size, UINT8 Fill = 0);
  bool HasFruDevice(UINT8 FruId) const;
  std::vector<uint8_t>& Fru(UINT8 FruId);
  std::vector<UINT8> FruIds() const;
  void WriteFru(UINT8 FruId, UINT16 Offset, const std::vector<uint8_t>& Bytes);
  std::vector<uint8_t> ReadFru(UINT8 FruId, UINT16 Offset, size_t Count) const;

  // Answers of the next Times matching requests (a negative Times: every one from the first on): a
  // completion code (EFI_DEVICE_ERROR with the code in byte 0), a transport status with no answer
  // at all, or an answer that does not tell the truth. A request takes the first misbehaviour, in
  // the order given, that matches it and has times left. The OEM messages about the host's wait
  // for its adapters (NetFn 0x30, command 0x30) are answered with success and no data unless an
  // injection matches them:
  //   Bmc.InjectCompletion(0xC0, 1, {ipmi::NetFnOem, ipmi::CmdOemAdapterWait, {}, {}});
  void InjectCompletion(UINT8 Code, int Times = 1, const RequestMatch& Match = {});
  void InjectStatus(EFI_STATUS Status, int Times = 1, const RequestMatch& Match = {});
  void InjectFruAnswerFault(FruAnswerFault Fault, int Times = 1, const RequestMatch& Match = {});

  // Time the BMC takes to answer. Every request costs Microseconds of virtual time (0 at first);
  // matching requests cost Microseconds more, whatever their answer (a transport that times out is
  // a delay and a status). Virtual time counts toward the watchdog, so a BMC slow enough ends the
  // boot as a hang.
  void SetRequestCost(uint64_t Microseconds) { RequestCost_ = Microseconds; }
  void InjectDelay(uint64_t Microseconds, int Times = 1, const RequestMatch& Match = {});

  // The BMC's own writes into its FRU devices: once virtual time reaches At, or just before it
  // answers the request that Before matches (between an id read and its text read, between a busy
  // answer and the retry, ...).
  void ScheduleFruWrite(UINT8 FruId, UINT16 Offset, UINT8 Value, uint64_t At);
  void ScheduleFruWriteBefore(const RequestMatch& Before, UINT8 FruId, UINT16 Offset,
                              std::vector<uint8_t> Bytes);

  // The BMC's side of the mailbox lock whose header is at HeaderOffset.
  // Holds it (BmcLockFlag 1, LockTurn kept at 1) until virtual time Until, then lets go
  // (BmcLockFlag 0). Until = UINT64_MAX: it never lets go.
  void HoldMailboxLock(UINT8 FruId, UINT16 HeaderOffset, uint64_t Until);
  // Reacts to the host as Reaction says, AfterRequests requests after the host gave it cause.
  void ReactToLock(UINT8 FruId, UINT16 HeaderOffset, LockReaction Reaction,
                   unsigned AfterRequests = 0);

  // Every request so far, in order. A request the boot ended in (a hang while the BMC took its
  // time) shows EFI_TIMEOUT and no answer.
  const std::vector<IpmiRequest>& Trace() const;
  size_t TraceSize() const { return Sent_.size(); }
  void ClearTrace();

  // The trace as it is kept while the boot runs, each request's bytes in one shared buffer, so
  // that a request costs no allocation of its own; Trace() lays these records out. For callers
  // that look at very many traces (the fuzz oracles).
  struct TraceRecord {
    uint64_t Time;
    uint64_t Number;
    UINT8 NetFn, Lun, Cmd, ResponseCapacity, CompletionCode, ResponseSize;
    EFI_STATUS Status;
    size_t RequestAt, RequestSize, ResponseAt, ResponseBytes;
  };
  const std::vector<TraceRecord>& TraceRecords() const { return Sent_; }
  const uint8_t* RequestBytes(const TraceRecord& R) const {
    return SentBytes_.data() + R.RequestAt;
  }
  const uint8_t* ResponseBytes(const TraceRecord& R) const {
    return SentBytes_.data() + R.ResponseAt;
  }
  // Requests of one kind, in order.
  std::vector<IpmiRequest> Requests(UINT8 NetFn, UINT8 Cmd) const;
  // Requests answered so far in this boot.
  uint64_t RequestsThisBoot() const { return BootRequests_; }

  // The transport's behaviour, callable directly.
  EFI_STATUS Send(UINT8 NetFn, UINT8 Lun, UINT8 Cmd, const UINT8* Request, UINT8 RequestSize,
                  UINT8* Response, UINT8* ResponseSize);

private:
  struct Injection {
    enum Kind { CompletionCode, TransportStatus, FaultyAnswer, Delay };
    RequestMatch Match;
    Kind What;
    UINT8 Code;
    EFI_STATUS Status;
    FruAnswerFault Fault;
    uint64_t Microseconds;
    int Remaining;
    unsigned Seen = 0; // matching requests so far, for Match.Nth
  };
  struct TriggeredWrite {
    RequestMatch Before;
    UINT8 FruId;
    UINT16 Offset;
    std::vector<uint8_t> Bytes;
    unsigned Seen = 0;
  };
  struct LockWatch {
    UINT8 FruId;
    UINT16 HeaderOffset;
    LockReaction Reaction;
    unsigned AfterRequests; // counts down once the host gave it cause
    bool Caused = false;
    bool Done = false;
  };
  struct ProtocolBlock {
    IPMI_TRANSPORT_PROTOCOL Iface;
    Bmc* Owner;
  };
  static EFI_STATUS EFIAPI SendThunk(IPMI_TRANSPORT_PROTOCOL* This, UINT8 NetFn, UINT8 Lun,
                                     UINT8 Cmd, UINT8* Request, UINT8 RequestSize, UINT8* Response,
                                     UINT8* ResponseSize);
  void Record(const IpmiRequest& R);
  void ApplyScheduledWrites();
  // What the BMC does of its own accord before it answers Request: writes that come due, lock
  // reactions, the time the answer takes.
  void BeforeAnswer(const IpmiRequest& Request);
  void ApplyTriggeredWrites(const IpmiRequest& Request);
  void ReactToHost();
  void Wait(const IpmiRequest& Request);
  Injection* FindInjection(const IpmiRequest& Request);
  // Counts a matching request toward Nth and answers whether the misbehaviour applies to it.
  static bool Applies(const RequestMatch& Match, unsigned& Seen, const IpmiRequest& Request);
  // The BMC's own answer: the completion code, and the bytes after it in Out.
  UINT8 Answer(UINT8 NetFn, UINT8 Cmd, const std::vector<uint8_t>& Request,
               std::vector<uint8_t>& Out);
  UINT8 FruInventoryInfo(const std::vector<uint8_t>& Request, std::vector<uint8_t>& Out);
  UINT8 ReadFruData(const std::vector<uint8_t>& Request, std::vector<uint8_t>& Out);
  // Store false acknowledges the write as if it were stored, and stores nothing.
  UINT8 WriteFruData(const std::vector<uint8_t>& Request, std::vector<uint8_t>& Out,
                     bool Store = true);
  // Delivers the answer in Answer_ into the caller's buffer as the transport does, and records it.
  EFI_STATUS Deliver(IpmiRequest& R, bool LongerThanBuffer, UINT8* Response, UINT8* ResponseSize);

  VirtualClock& Clock_;
  ProtocolBlock Protocol_;
  std::map<UINT8, std::vector<uint8_t>> Frus_;
  std::vector<Injection> Injections_;
  std::vector<ScheduledFruWrite> Scheduled_;
  std::vector<TriggeredWrite> Triggered_;
  std::vector<LockWatch> LockWatches_;
  std::vector<TraceRecord> Sent_;
  std::vector<uint8_t> SentBytes_;
  mutable std::vector<IpmiRequest> Trace_; // Sent_ laid out, as far as Trace() was asked for
  IpmiRequest Current_;                    // the request being answered; its buffers are reused
  std::vector<uint8_t> Answer_;
  uint64_t RequestCost_ = 0;
  uint64_t BootRequests_ = 0;
};

} // namespace sim
