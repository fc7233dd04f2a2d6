// The BMC's side of a KCS interface, as QEMU's isa-ipmi-kcs behaves, with faults a test can script:
// an input buffer that stays busy for a while or for ever, an error state in the middle of a
// write, no interface at all, a BMC that never raises OBF for the closing byte, and a BMC that
// answers late. Late is how a BMC outside the interface answers (QEMU's ipmi-bmc-extern, a real
// BMC): after the request's last byte IBF stays set and the state stays WRITE until the answer
// comes, and the interface ignores every host write in the meantime.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "firmware/common/kcs.h"

namespace fwtest {

class KcsDeviceModel {
public:
  // The BMC's answer to one whole request.
  std::function<std::vector<uint8_t>(const std::vector<uint8_t>&)> Handler =
      [](const std::vector<uint8_t>& Request) { return Request; };

  int IbfBusyReads = 0;                // status reads that still show IBF after each write
  std::optional<int> StuckAfterWrites; // from this many host writes on, IBF never clears
  std::optional<int> ErrorAtDataByte;  // this data byte of the next write phase goes to ERROR
  bool ErrorEveryTime = false;         // ... and of every write phase after it
  bool Absent = false;                 // every port reads 0xFF
  bool NoClosingObf = false;           // the BMC never raises OBF when it goes idle
  std::optional<int> AnswerAfterPolls; // the answer comes after this many status reads

  std::vector<std::vector<uint8_t>> Requests; // every request the BMC carried out
  int Aborts = 0;
  int StatusReads = 0;
  int IgnoredWrites = 0; // host writes that met a full input buffer
  uint64_t DelayMicroseconds = 0;

  KcsPorts Ports() {
    return KcsPorts{this,       ReadThunk,          WriteThunk,
                    DelayThunk, KcsDefaultDataPort, KcsDefaultStatusPort};
  }

  KcsState State() const { return static_cast<KcsState>(Status_ >> KcsStateShift); }

private:
  static UINT8 ReadThunk(void* C, UINT16 Port) {
    return static_cast<KcsDeviceModel*>(C)->Read(Port);
  }
  static void WriteThunk(void* C, UINT16 Port, UINT8 V) {
    static_cast<KcsDeviceModel*>(C)->Write(Port, V);
  }
  static void DelayThunk(void* C, UINT32 Us) {
    static_cast<KcsDeviceModel*>(C)->DelayMicroseconds += Us;
  }

  void SetState(KcsState S) {
    Status_ = static_cast<uint8_t>((Status_ & 0x3F) | (S << KcsStateShift));
  }
  void SetObf() { Status_ |= KcsStatusObf; }

  UINT8 Read(UINT16 Port) {
    if (Absent) {
      return 0xFF;
    }
    if (Port == KcsDefaultDataPort) {
      Status_ &= static_cast<uint8_t>(~KcsStatusObf);
      return DataOut_;
    }
    ++StatusReads;
    if (Pending_) {
      if (PendingPolls_ > 0) {
        --PendingPolls_;
        return static_cast<UINT8>(Status_ | KcsStatusIbf);
      }
      Pending_ = false;
      Answer();
    }
    const bool Stuck = StuckAfterWrites && Writes_ >= *StuckAfterWrites;
    if (BusyLeft_ > 0 || Stuck) {
      if (BusyLeft_ > 0) {
        --BusyLeft_;
      }
      return static_cast<UINT8>(Status_ | KcsStatusIbf);
    }
    return Status_;
  }

  void Write(UINT16 Port, UINT8 Value) {
    if (Absent) {
      return;
    }
    if (Pending_) {
      ++IgnoredWrites;
      return;
    }
    ++Writes_;
    BusyLeft_ = IbfBusyReads;
    if (Port == KcsDefaultStatusPort) {
      Command_ = Value;
    } else {
      DataIn_ = Value;
    }
    Event();
  }

  void ErrorState() {
    Out_ = {0x02}; // illegal control code
    OutPos_ = 0;
    SetState(KcsError);
  }

  void Respond() {
    Requests.push_back(In_);
    Out_ = Handler(In_);
    if (AnswerAfterPolls) {
      Pending_ = true;
      PendingPolls_ = *AnswerAfterPolls;
      return;
    }
    Answer();
  }

  // The answer reaches the interface: the first byte goes out at once.
  void Answer() {
    OutPos_ = 0;
    SetState(KcsRead);
    DataIn_ = KcsReadByte;
    ReadStep();
  }

  void ReadStep() {
    if (OutPos_ >= Out_.size()) {
      SetState(KcsIdle);
      if (!NoClosingObf) {
        SetObf();
      }
    } else if (DataIn_ == KcsReadByte) {
      DataOut_ = Out_[OutPos_++];
      SetObf();
    } else {
      ErrorState();
      SetObf();
    }
  }

  // One host write, handled as QEMU's model handles it.
  void Event() {
    if (Command_ == KcsGetStatusAbort) {
      ++Aborts;
      if (State() != KcsError) {
        Out_ = {0x01}; // aborted by command
        OutPos_ = 0;
        SetState(KcsError);
        SetObf();
      }
      return Done();
    }
    switch (State()) {
    case KcsIdle:
      if (Command_ == KcsWriteStart) {
        SetState(KcsWrite);
        Command_ = -1;
        WriteEnd_ = false;
        In_.clear();
        SetObf();
      }
      break;
    case KcsRead:
      ReadStep();
      break;
    case KcsWrite:
      if (DataIn_ >= 0) {
        if (ErrorAtDataByte && static_cast<int>(In_.size()) == *ErrorAtDataByte) {
          if (!ErrorEveryTime) {
            ErrorAtDataByte.reset();
          }
          ErrorState();
          return Done();
        }
        In_.push_back(static_cast<uint8_t>(DataIn_));
      }
      if (WriteEnd_) {
        WriteEnd_ = false;
        Command_ = -1;
        DataIn_ = -1;
        return Respond();
      }
      if (Command_ == KcsWriteEnd) {
        Command_ = -1;
        WriteEnd_ = true;
      }
      SetObf();
      break;
    case KcsError:
      if (DataIn_ >= 0) {
        SetState(KcsRead);
        DataIn_ = KcsReadByte;
        ReadStep();
      }
      break;
    }
    if (Command_ >= 0) {
      ErrorState();
    }
    Done();
  }

  void Done() {
    Command_ = -1;
    DataIn_ = -1;
  }

  uint8_t Status_ = 0;
  uint8_t DataOut_ = 0;
  int DataIn_ = -1;
  int Command_ = -1;
  bool WriteEnd_ = false;
  std::vector<uint8_t> In_;
  std::vector<uint8_t> Out_;
  size_t OutPos_ = 0;
  int Writes_ = 0;
  int BusyLeft_ = 0;
  bool Pending_ = false; // a request is being carried out: IBF stays set
  int PendingPolls_ = 0;
};

} // namespace fwtest
