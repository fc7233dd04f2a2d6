#include "tools/report.h"

#include <cstdio>
#include <sstream>

#include "core/failure.h"
#include "core/ipmi.h"
#include "core/variables.h"

namespace tools {

namespace {

std::string Hex(uint64_t Value, int Width) {
  char Text[32];
  std::snprintf(Text, sizeof(Text), "%0*llX", Width, static_cast<unsigned long long>(Value));
  return Text;
}

std::string Bytes(const std::vector<uint8_t>& Data, size_t From, size_t Count) {
  std::string Out;
  for (size_t I = From; I < From + Count && I < Data.size(); ++I) {
    Out += (Out.empty() ? "" : " ") + Hex(Data[I], 2);
  }
  return Out;
}

std::string Seconds(uint64_t Microseconds) {
  char Text[32];
  std::snprintf(Text, sizeof(Text), "%llu.%06llu s",
                static_cast<unsigned long long>(Microseconds / 1000000),
                static_cast<unsigned long long>(Microseconds % 1000000));
  return Text;
}

struct Known {
  const char* Label;
  const PlatformVariable* Var;
};
const Known KnownVariables[] = {{"TalBladeData", &TalBladeData},
                                {"SystemSetup", &SystemSetup},
                                {"ServerSetup", &ServerSetup},
                                {"CLPFailureFlag", &CLPFailureFlag},
                                {"ClpCommandFruIdList", &ClpCommandFruIdList}};

// Consecutive changed bytes are shown as one run.
void DescribeByteRuns(const std::string& Label, const std::vector<uint8_t>& Old,
                      const std::vector<uint8_t>& New, std::vector<std::string>& Out) {
  size_t Size = std::max(Old.size(), New.size());
  for (size_t I = 0; I < Size;) {
    auto Differs = [&](size_t K) { return K >= Old.size() || K >= New.size() || Old[K] != New[K]; };
    if (!Differs(I)) {
      ++I;
      continue;
    }
    size_t End = I;
    while (End < Size && Differs(End)) {
      ++End;
    }
    Out.push_back(Label + " bytes " + std::to_string(I) + ".." + std::to_string(End - 1) + ": " +
                  Bytes(Old, I, End - I) + " -> " + Bytes(New, I, End - I));
    I = End;
  }
}

} // namespace

std::string StatusName(EFI_STATUS Status) {
  static const std::map<EFI_STATUS, const char*> Names = {
      {EFI_SUCCESS, "EFI_SUCCESS"},
      {EFI_INVALID_PARAMETER, "EFI_INVALID_PARAMETER"},
      {EFI_UNSUPPORTED, "EFI_UNSUPPORTED"},
      {EFI_BUFFER_TOO_SMALL, "EFI_BUFFER_TOO_SMALL"},
      {EFI_NOT_READY, "EFI_NOT_READY"},
      {EFI_DEVICE_ERROR, "EFI_DEVICE_ERROR"},
      {EFI_WRITE_PROTECTED, "EFI_WRITE_PROTECTED"},
      {EFI_OUT_OF_RESOURCES, "EFI_OUT_OF_RESOURCES"},
      {EFI_NOT_FOUND, "EFI_NOT_FOUND"},
      {EFI_ACCESS_DENIED, "EFI_ACCESS_DENIED"},
      {EFI_NO_RESPONSE, "EFI_NO_RESPONSE"},
      {EFI_TIMEOUT, "EFI_TIMEOUT"},
      {EFI_NOT_STARTED, "EFI_NOT_STARTED"},
      {EFI_ALREADY_STARTED, "EFI_ALREADY_STARTED"},
      {EFI_ABORTED, "EFI_ABORTED"},
      {EFI_PROTOCOL_ERROR, "EFI_PROTOCOL_ERROR"},
  };
  auto It = Names.find(Status);
  return It != Names.end() ? It->second : "0x" + Hex(Status, 16);
}

std::string GuidText(const EFI_GUID& G) {
  std::string Out = Hex(G.Data1, 8) + "-" + Hex(G.Data2, 4) + "-" + Hex(G.Data3, 4) + "-";
  for (int I = 0; I < 8; ++I) {
    Out += (I == 2 ? "-" : "") + Hex(G.Data4[I], 2);
  }
  return Out;
}

std::string DescribeRequest(const sim::IpmiRequest& R) {
  std::ostringstream Out;
  Out << Seconds(R.Time) << "  ";
  const bool Fru = R.NetFn == IpmiNetFnStorage &&
                   (R.Cmd == IpmiCmdReadFruData || R.Cmd == IpmiCmdWriteFruData) &&
                   R.Data.size() >= 3;
  if (Fru) {
    const unsigned Offset = R.Data[1] | (R.Data[2] << 8);
    if (R.Cmd == IpmiCmdReadFruData) {
      Out << "Read FRU Data   fru " << int(R.Data[0]) << " @0x" << Hex(Offset, 4) << " count "
          << (R.Data.size() > 3 ? int(R.Data[3]) : 0);
    } else {
      Out << "Write FRU Data  fru " << int(R.Data[0]) << " @0x" << Hex(Offset, 4) << " ["
          << Bytes(R.Data, 3, R.Data.size() - 3) << "]";
    }
  } else {
    Out << "NetFn 0x" << Hex(R.NetFn, 2) << " cmd 0x" << Hex(R.Cmd, 2) << " ["
        << Bytes(R.Data, 0, R.Data.size()) << "]";
  }
  if (EFI_ERROR(R.Status)) {
    Out << "  -> " << StatusName(R.Status);
    if (R.Status == EFI_DEVICE_ERROR) {
      Out << " (completion 0x" << Hex(R.CompletionCode, 2) << ")";
    }
  } else if (Fru && R.Cmd == IpmiCmdReadFruData && !R.Response.empty()) {
    Out << "  -> " << int(R.Response[0]) << " bytes ["
        << Bytes(R.Response, 1, R.Response.size() - 1) << "]";
  } else {
    Out << "  -> ok";
  }
  return Out.str();
}

VariableSnapshot TakeSnapshot(const sim::VariableStore& Store) {
  VariableSnapshot Snapshot;
  for (const Known& K : KnownVariables) {
    Snapshot.Entries.push_back({K.Label, Store.Value(K.Var->Name, K.Var->Guid)});
  }
  return Snapshot;
}

std::vector<std::string> DescribeVariableChanges(const VariableSnapshot& Before,
                                                 const VariableSnapshot& After) {
  std::vector<std::string> Out;
  for (size_t I = 0; I < Before.Entries.size() && I < After.Entries.size(); ++I) {
    const auto& Old = Before.Entries[I];
    const auto& New = After.Entries[I];
    if (!Old.Data && New.Data) {
      Out.push_back(New.Label + " created: " + Bytes(*New.Data, 0, New.Data->size()));
    } else if (Old.Data && !New.Data) {
      Out.push_back(Old.Label + " deleted");
    } else if (Old.Data && New.Data) {
      DescribeByteRuns(Old.Label, *Old.Data, *New.Data, Out);
    }
  }
  return Out;
}

std::string BootReport(const sim::Blade& Blade, const VariableSnapshot& Before,
                       const VariableSnapshot& After) {
  std::ostringstream Out;
  const auto& Trace = Blade.Bmc.Trace();
  Out << "IPMI trace (" << Trace.size() << " requests):\n";
  for (const sim::IpmiRequest& R : Trace) {
    Out << "  " << DescribeRequest(R) << "\n";
  }
  std::vector<std::string> Changes = DescribeVariableChanges(Before, After);
  Out << "Variables changed (" << Changes.size() << "):\n";
  for (const std::string& C : Changes) {
    Out << "  " << C << "\n";
  }
  const auto& Codes = Blade.Platform.StatusCodes();
  Out << "Status codes (" << Codes.size() << "):\n";
  for (const sim::StatusCodeRecord& C : Codes) {
    Out << "  " << Seconds(C.Time) << "  type 0x" << Hex(C.Type, 8) << " value 0x"
        << Hex(C.Value, 8) << (C.Value == ClpFailureCode ? " (command failure)" : "") << "\n";
  }
  const auto& Resets = Blade.Firmware.Resets();
  Out << "Resets (" << Resets.size() << "):\n";
  for (const sim::ResetRecord& R : Resets) {
    Out << "  " << Seconds(R.Time) << "  type " << R.Type << " status " << StatusName(R.Status)
        << "\n";
  }
  return Out.str();
}

} // namespace tools
