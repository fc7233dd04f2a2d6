// The IPMI transport of the simulated BMC: tracing, injected answers, and how an answer reaches
// the caller's response buffer.
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

bool Matches(const RequestMatch& M, UINT8 NetFn, UINT8 Cmd, const std::vector<uint8_t>& Request) {
  if ((M.NetFn && *M.NetFn != NetFn) || (M.Cmd && *M.Cmd != Cmd)) {
    return false;
  }
  if (M.FruId && (!IsFruRequest(NetFn, Cmd) || Request.empty() || Request[0] != *M.FruId)) {
    return false;
  }
  if (M.Offset) {
    const bool HasOffset =
        IsFruRequest(NetFn, Cmd) && Cmd != ipmi::CmdGetFruInventoryAreaInfo && Request.size() >= 3;
    if (!HasOffset || (Request[1] | (Request[2] << 8)) != *M.Offset) {
      return false;
    }
  }
  return true;
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
  }
}

} // namespace

Bmc::Bmc(VirtualClock& Clock) : Clock_(Clock) {
  Protocol_.Iface.Reserved = nullptr;
  Protocol_.Iface.SendIpmiCommand = SendThunk;
  Protocol_.Owner = this;
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
      Injection{Match, Injection::CompletionCode, Code, EFI_SUCCESS, FruAnswerFault{}, Times});
}

void Bmc::InjectStatus(EFI_STATUS Status, int Times, const RequestMatch& Match) {
  Injections_.push_back(
      Injection{Match, Injection::TransportStatus, 0, Status, FruAnswerFault{}, Times});
}

void Bmc::InjectFruAnswerFault(FruAnswerFault Fault, int Times, const RequestMatch& Match) {
  Injections_.push_back(Injection{Match, Injection::FaultyFruAnswer, 0, EFI_SUCCESS, Fault, Times});
}

std::vector<IpmiRequest> Bmc::Requests(UINT8 NetFn, UINT8 Cmd) const {
  std::vector<IpmiRequest> Found;
  for (const auto& R : Trace_) {
    if (R.NetFn == NetFn && R.Cmd == Cmd) {
      Found.push_back(R);
    }
  }
  return Found;
}

Bmc::Injection* Bmc::FindInjection(UINT8 NetFn, UINT8 Cmd, const std::vector<uint8_t>& Request) {
  const bool FruRead = NetFn == ipmi::NetFnStorage && Cmd == ipmi::CmdReadFruData;
  for (auto& I : Injections_) {
    if (I.What == Injection::FaultyFruAnswer && !FruRead) {
      continue; // only a Read FRU Data answer has a count byte to get wrong
    }
    if (I.Remaining != 0 && Matches(I.Match, NetFn, Cmd, Request)) {
      if (I.Remaining > 0) {
        --I.Remaining;
      }
      return &I;
    }
  }
  return nullptr;
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
  IpmiRequest R{Clock_.Now(), NetFn, Lun, Cmd, {}, 0, EFI_SUCCESS, ipmi::CompletionOk, {}};
  if (Request != nullptr) {
    R.Data.assign(Request, Request + RequestSize);
  }
  R.ResponseCapacity = ResponseSize != nullptr ? *ResponseSize : 0;
  if (ResponseSize == nullptr || (RequestSize != 0 && Request == nullptr) ||
      (R.ResponseCapacity != 0 && Response == nullptr)) {
    R.Status = EFI_INVALID_PARAMETER;
    Trace_.push_back(R);
    return R.Status;
  }

  ApplyScheduledWrites();
  std::vector<uint8_t> Out;
  Injection* I = FindInjection(NetFn, Cmd, R.Data);
  if (I != nullptr && I->What == Injection::TransportStatus) {
    // No answer at all: the FRU is not touched.
    *ResponseSize = 0;
    R.Status = I->Status;
    Trace_.push_back(R);
    return R.Status;
  }
  if (I != nullptr && I->What == Injection::CompletionCode) {
    R.CompletionCode = I->Code; // stands in for the BMC's answer: the FRU is not touched
  } else {
    R.CompletionCode = Answer(NetFn, Cmd, R.Data, Out);
    if (I != nullptr && R.CompletionCode == ipmi::CompletionOk) {
      Distort(I->Fault, R.Data, Out);
    }
  }
  if (R.CompletionCode == ipmi::CompletionOk && Out.size() > R.ResponseCapacity) {
    R.CompletionCode = ipmi::CompletionCannotReturnCount;
  }

  if (R.CompletionCode != ipmi::CompletionOk) {
    // The code goes into byte 0 only when there is room for it.
    R.Response.assign(R.ResponseCapacity >= 1 ? 1 : 0, R.CompletionCode);
    R.Status = EFI_DEVICE_ERROR;
  } else {
    R.Response = Out;
  }
  if (!R.Response.empty()) {
    std::memcpy(Response, R.Response.data(), R.Response.size());
  }
  *ResponseSize = static_cast<UINT8>(R.Response.size());
  Trace_.push_back(R);
  return R.Status;
}

} // namespace sim
