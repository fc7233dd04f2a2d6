// The IPMI transport of the simulated BMC: tracing, misbehaviours, and how an answer reaches the
// caller's response buffer.
#include "sim/bmc.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "sim/firmware.h"

namespace sim {
namespace {

constexpr UINT8 SupportedRestorePolicies = 0x07; // always off, restore previous, always on

bool IsFruRequest(UINT8 NetFn, UINT8 Cmd) {
  return NetFn == ipmi::NetFnStorage &&
         (Cmd == ipmi::CmdGetFruInventoryAreaInfo || Cmd == ipmi::CmdReadFruData ||
          Cmd == ipmi::CmdWriteFruData);
}

bool Matches(const RequestMatch& M, const IpmiRequest& R) {
  if ((M.NetFn && *M.NetFn != R.NetFn) || (M.Cmd && *M.Cmd != R.Cmd) ||
      (M.Number && *M.Number != R.Number)) {
    return false;
  }
  const std::vector<uint8_t>& Request = R.Data;
  if (M.FruId && (!IsFruRequest(R.NetFn, R.Cmd) || Request.empty() || Request[0] != *M.FruId)) {
    return false;
  }
  if (M.Offset) {
    const bool HasOffset = IsFruRequest(R.NetFn, R.Cmd) &&
                           R.Cmd != ipmi::CmdGetFruInventoryAreaInfo && Request.size() >= 3;
    if (!HasOffset || (Request[1] | (Request[2] << 8)) != *M.Offset) {
      return false;
    }
  }
  return true;
}

// Only a Read FRU Data answer has a count byte and data to get wrong, only a write can go unstored.
bool FaultFits(FruAnswerFault Fault, const IpmiRequest& R) {
  const bool Storage = R.NetFn == ipmi::NetFnStorage;
  switch (Fault) {
  case FruAnswerFault::LongerThanBuffer:
    return true;
  case FruAnswerFault::WriteNotStored:
    return Storage && R.Cmd == ipmi::CmdWriteFruData;
  default:
    return Storage && R.Cmd == ipmi::CmdReadFruData;
  }
}

// Out is a Read FRU Data answer: the count byte, then the data.
void Distort(FruAnswerFault Fault, const std::vector<uint8_t>& Request, std::vector<uint8_t>& Out) {
  const size_t DataBytes = Out.size() - 1;
  switch (Fault) {
  case FruAnswerFault::ShorterThanCount:
    Out.resize(1 + DataBytes / 2);
    return;
  case FruAnswerFault::LongerThanCount:
    Out[0] = static_cast<uint8_t>(DataBytes / 2);
    return;
  case FruAnswerFault::CountAboveRequest:
    Out[0] = static_cast<uint8_t>(std::min<int>(Request[3] + 1, 0xFF));
    return;
  case FruAnswerFault::DifferentData:
    for (size_t I = 1; I < Out.size(); ++I) {
      Out[I] = static_cast<uint8_t>(~Out[I]);
    }
    return;
  case FruAnswerFault::LongerThanBuffer:
  case FruAnswerFault::WriteNotStored:
    return; // handled where the answer is delivered and where the write is stored
  }
}

} // namespace

Bmc::Bmc(VirtualClock& Clock) : Clock_(Clock) {
  Protocol_.Iface.Reserved = nullptr;
  Protocol_.Iface.SendIpmiCommand = SendThunk;
  Protocol_.Owner = this;
  // A platform pass of 32 commands sends about 200 requests.
  Sent_.reserve(256);
  SentBytes_.reserve(256 * 24);
}

void Bmc::Record(const IpmiRequest& R) {
  const size_t At = SentBytes_.size();
  Sent_.push_back(TraceRecord{R.Time, R.Number, R.NetFn, R.Lun, R.Cmd, R.ResponseCapacity,
                              R.CompletionCode, R.ResponseSize, R.Status, At, R.Data.size(),
                              At + R.Data.size(), R.Response.size()});
  SentBytes_.resize(At + R.Data.size() + R.Response.size());
  std::copy(R.Data.begin(), R.Data.end(), SentBytes_.begin() + At);
  std::copy(R.Response.begin(), R.Response.end(), SentBytes_.begin() + At + R.Data.size());
}

const std::vector<IpmiRequest>& Bmc::Trace() const {
  for (size_t I = Trace_.size(); I < Sent_.size(); ++I) {
    const TraceRecord& S = Sent_[I];
    const auto Bytes = SentBytes_.begin();
    Trace_.push_back(IpmiRequest{
        S.Time, S.NetFn, S.Lun, S.Cmd,
        std::vector<uint8_t>(Bytes + S.RequestAt, Bytes + S.RequestAt + S.RequestSize),
        S.ResponseCapacity, S.Status, S.CompletionCode,
        std::vector<uint8_t>(Bytes + S.ResponseAt, Bytes + S.ResponseAt + S.ResponseBytes),
        S.Number, S.ResponseSize});
  }
  return Trace_;
}

void Bmc::ClearTrace() {
  Sent_.clear();
  SentBytes_.clear();
  Trace_.clear();
}

EFI_STATUS EFIAPI Bmc::SendThunk(IPMI_TRANSPORT_PROTOCOL* This, UINT8 NetFn, UINT8 Lun, UINT8 Cmd,
                                 UINT8* Request, UINT8 RequestSize, UINT8* Response,
                                 UINT8* ResponseSize) {
  static_assert(offsetof(ProtocolBlock, Iface) == 0, "the interface starts its block");
  if (This == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  Bmc* Owner = reinterpret_cast<ProtocolBlock*>(This)->Owner;
  return Owner->Send(NetFn, Lun, Cmd, Request, RequestSize, Response, ResponseSize);
}

void Bmc::InjectCompletion(UINT8 Code, int Times, const RequestMatch& Match) {
  Injections_.push_back(
      Injection{Match, Injection::CompletionCode, Code, EFI_SUCCESS, FruAnswerFault{}, 0, Times});
}

void Bmc::InjectStatus(EFI_STATUS Status, int Times, const RequestMatch& Match) {
  Injections_.push_back(
      Injection{Match, Injection::TransportStatus, 0, Status, FruAnswerFault{}, 0, Times});
}

void Bmc::InjectFruAnswerFault(FruAnswerFault Fault, int Times, const RequestMatch& Match) {
  Injections_.push_back(Injection{Match, Injection::FaultyAnswer, 0, EFI_SUCCESS, Fault, 0, Times});
}

void Bmc::InjectDelay(uint64_t Microseconds, int Times, const RequestMatch& Match) {
  Injections_.push_back(
      Injection{Match, Injection::Delay, 0, EFI_SUCCESS, FruAnswerFault{}, Microseconds, Times});
}

std::vector<IpmiRequest> Bmc::Requests(UINT8 NetFn, UINT8 Cmd) const {
  std::vector<IpmiRequest> Found;
  for (const auto& R : Trace()) {
    if (R.NetFn == NetFn && R.Cmd == Cmd) {
      Found.push_back(R);
    }
  }
  return Found;
}

bool Bmc::Applies(const RequestMatch& Match, unsigned& Seen, const IpmiRequest& Request) {
  if (!Matches(Match, Request)) {
    return false;
  }
  if (Seen < Match.Nth) {
    ++Seen;
  }
  return Seen >= Match.Nth;
}

// Every misbehaviour sees every request, so that each counts its own matches toward Nth; the first
// one in order that applies and has times left answers.
Bmc::Injection* Bmc::FindInjection(const IpmiRequest& Request) {
  Injection* Found = nullptr;
  for (auto& I : Injections_) {
    if (I.What == Injection::Delay ||
        (I.What == Injection::FaultyAnswer && !FaultFits(I.Fault, Request))) {
      continue;
    }
    if (Applies(I.Match, I.Seen, Request) && I.Remaining != 0 && Found == nullptr) {
      Found = &I;
    }
  }
  if (Found != nullptr && Found->Remaining > 0) {
    --Found->Remaining;
  }
  return Found;
}

void Bmc::Wait(const IpmiRequest& Request) {
  uint64_t Microseconds = RequestCost_;
  for (auto& I : Injections_) {
    if (I.What == Injection::Delay && Applies(I.Match, I.Seen, Request) && I.Remaining != 0) {
      Microseconds += I.Microseconds;
      if (I.Remaining > 0) {
        --I.Remaining;
      }
    }
  }
  if (Microseconds != 0) {
    Clock_.Advance(Microseconds);
  }
}

// Each step is looked at only when there is something to do: most requests find nothing.
void Bmc::BeforeAnswer(const IpmiRequest& Request) {
  if (RequestCost_ != 0 || !Injections_.empty()) {
    Wait(Request);
  }
  if (!Scheduled_.empty()) {
    ApplyScheduledWrites();
  }
  if (!Triggered_.empty()) {
    ApplyTriggeredWrites(Request);
  }
  if (!LockWatches_.empty()) {
    ReactToHost();
  }
}

UINT8 Bmc::Answer(UINT8 NetFn, UINT8 Cmd, const std::vector<uint8_t>& Request,
                  std::vector<uint8_t>& Out) {
  if (NetFn == ipmi::NetFnStorage) {
    switch (Cmd) {
    case ipmi::CmdGetFruInventoryAreaInfo:
      return FruInventoryInfo(Request, Out);
    case ipmi::CmdReadFruData:
      return ReadFruData(Request, Out);
    case ipmi::CmdWriteFruData:
      return WriteFruData(Request, Out);
    }
  } else if (NetFn == ipmi::NetFnChassis && Cmd == ipmi::CmdSetPowerRestorePolicy) {
    Out.push_back(SupportedRestorePolicies);
    return ipmi::CompletionOk;
  } else if (NetFn == ipmi::NetFnOem &&
             (Cmd == ipmi::CmdOemAdapterWait || Cmd == ipmi::CmdOemSystemUuid)) {
    return ipmi::CompletionOk;
  }
  return ipmi::CompletionInvalidCommand;
}

EFI_STATUS Bmc::Send(UINT8 NetFn, UINT8 Lun, UINT8 Cmd, const UINT8* Request, UINT8 RequestSize,
                     UINT8* Response, UINT8* ResponseSize) {
  IpmiRequest& R = Current_;
  R.Time = Clock_.Now();
  R.NetFn = NetFn;
  R.Lun = Lun;
  R.Cmd = Cmd;
  R.Data.clear();
  if (Request != nullptr) {
    R.Data.assign(Request, Request + RequestSize);
  }
  R.ResponseCapacity = ResponseSize != nullptr ? *ResponseSize : 0;
  R.Status = EFI_TIMEOUT; // until an answer comes
  R.CompletionCode = ipmi::CompletionOk;
  R.Response.clear();
  R.Number = ++BootRequests_;
  R.ResponseSize = 0;
  if (ResponseSize == nullptr || (RequestSize != 0 && Request == nullptr) ||
      (R.ResponseCapacity != 0 && Response == nullptr)) {
    R.Status = EFI_INVALID_PARAMETER;
    Record(R);
    return R.Status;
  }

  try {
    BeforeAnswer(R);
  } catch (const SimulatedHang&) {
    Record(R); // the request the boot hung in, with no answer
    throw;
  }
  R.Status = EFI_SUCCESS;
  Injection* I = Injections_.empty() ? nullptr : FindInjection(R);
  if (I != nullptr && I->What == Injection::TransportStatus) {
    // No answer at all: the FRU is not touched.
    *ResponseSize = 0;
    R.Status = I->Status;
    Record(R);
    return R.Status;
  }
  Answer_.clear();
  const bool Faulty = I != nullptr && I->What == Injection::FaultyAnswer;
  if (I != nullptr && I->What == Injection::CompletionCode) {
    R.CompletionCode = I->Code; // stands in for the BMC's answer: the FRU is not touched
  } else if (Faulty && I->Fault == FruAnswerFault::WriteNotStored) {
    R.CompletionCode = WriteFruData(R.Data, Answer_, /*Store=*/false);
  } else {
    R.CompletionCode = Answer(NetFn, Cmd, R.Data, Answer_);
    if (Faulty && R.CompletionCode == ipmi::CompletionOk) {
      Distort(I->Fault, R.Data, Answer_);
    }
  }
  const EFI_STATUS Status =
      Deliver(R, Faulty && I->Fault == FruAnswerFault::LongerThanBuffer, Response, ResponseSize);
  Record(R);
  return Status;
}

EFI_STATUS Bmc::Deliver(IpmiRequest& R, bool LongerThanBuffer, UINT8* Response,
                        UINT8* ResponseSize) {
  size_t Reported = 0;
  if (R.CompletionCode == ipmi::CompletionOk && LongerThanBuffer) {
    // The answer runs one byte past the buffer: the buffer is filled, the whole size reported.
    Answer_.resize(std::max<size_t>(Answer_.size(), R.ResponseCapacity + 1u), 0);
    R.Response.assign(Answer_.begin(), Answer_.begin() + R.ResponseCapacity);
    Reported = std::min<size_t>(Answer_.size(), 0xFF);
  } else {
    if (R.CompletionCode == ipmi::CompletionOk && Answer_.size() > R.ResponseCapacity) {
      R.CompletionCode = ipmi::CompletionCannotReturnCount;
    }
    if (R.CompletionCode != ipmi::CompletionOk) {
      // The code goes into byte 0 only when there is room for it.
      R.Response.assign(R.ResponseCapacity >= 1 ? 1 : 0, R.CompletionCode);
      R.Status = EFI_DEVICE_ERROR;
    } else {
      R.Response.swap(Answer_); // Answer_ takes the old buffer, to be cleared for the next answer
    }
    Reported = R.Response.size();
  }
  if (!R.Response.empty()) {
    std::memcpy(Response, R.Response.data(), R.Response.size());
  }
  *ResponseSize = R.ResponseSize = static_cast<UINT8>(Reported);
  return R.Status;
}

} // namespace sim
