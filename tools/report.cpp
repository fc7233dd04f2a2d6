#include "tools/report.h"

#include <cstdio>
#include <map>
#include <sstream>

#include "tools/json_view.h"
#include "tools/mailbox_json.h"
#include "tools/report_adapters.h"

namespace tools {

namespace {

using Json = nlohmann::ordered_json;

// The PI status codes the driver raises.
constexpr EFI_STATUS_CODE_VALUE CommandFailureCode = 0xC000B3A0;
constexpr EFI_STATUS_CODE_VALUE EmFailurePauseStatusCode = 0xC000B3A1;

const std::map<EFI_STATUS, const char*>& StatusNames() {
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
  return Names;
}

std::string Milliseconds(double Value) {
  char Text[32];
  std::snprintf(Text, sizeof(Text), "%.1f ms", Value);
  return Text;
}

std::string LockText(const std::array<uint8_t, mailbox_format::MailboxLockBytes>& L) {
  return "LockTurn " + std::to_string(L[0]) + ", BmcLockFlag " + std::to_string(L[1]) +
         ", HostLockFlag " + std::to_string(L[2]);
}

Json LockJson(const std::array<uint8_t, mailbox_format::MailboxLockBytes>& L) {
  return {{"turn", L[0]}, {"bmc", L[1]}, {"host", L[2]}};
}

void MailboxText(const MailboxOutcome& M, std::ostream& Out) {
  Out << (M.Platform ? "Platform mailbox" : "Mailbox") << ": FRU device " << FruName(M.Fru)
      << ", header at " << HexNumber(M.HeaderOffset, 4) << ", result area at "
      << HexNumber(M.ResultAreaOffset, 4) << "\n";
  Out << "  lock before:           " << LockText(M.LockBefore) << "\n";
  Out << "  lock after the entry:  " << LockText(M.LockAfterEntry) << "\n";
  Out << "  lock at the end:       " << LockText(M.LockAtEnd) << "\n";
  int List = -1;
  for (const CommandOutcome& C : M.Commands) {
    if (C.List != List) {
      List = C.List;
      Out << "  list " << List << ":\n";
      Out << "    #   id      status      meaning\n";
    }
    char Line[64];
    std::snprintf(Line, sizeof(Line), "    %-3zu %-7s %-11s ", C.Index, HexNumber(C.Id, 4).c_str(),
                  C.Record ? HexNumber(C.Record->Status, 4).c_str() : "-");
    Out << Line << C.Meaning << "\n        " << ReadableText(C.Text) << "\n";
    if (C.TextAsRead) {
      Out << "        the host read: " << ReadableText(*C.TextAsRead) << "\n";
    }
  }
}

Json MailboxJson(const MailboxOutcome& M) {
  Json Commands = Json::array();
  for (const CommandOutcome& C : M.Commands) {
    Json J = {{"list", C.List}, {"index", C.Index}, {"id", HexNumber(C.Id, 4)}};
    PutCommandText(J, C.Text);
    J["executions"] = C.Executions;
    if (C.TextAsRead) {
      Json AsRead;
      PutCommandText(AsRead, *C.TextAsRead);
      J["as_read"] = AsRead;
    }
    if (C.Record) {
      J["record"] = {{"id", HexNumber(C.Record->Id, 4)},
                     {"status", HexNumber(C.Record->Status, 4)}};
    } else {
      J["record"] = nullptr;
    }
    J["meaning"] = C.Meaning;
    Commands.push_back(J);
  }
  return {{"fru", M.Fru},
          {"platform", M.Platform},
          {"header_offset", HexNumber(M.HeaderOffset, 4)},
          {"result_area", HexNumber(M.ResultAreaOffset, 4)},
          {"lock_before", LockJson(M.LockBefore)},
          {"lock_after_entry", LockJson(M.LockAfterEntry)},
          {"lock_at_end", LockJson(M.LockAtEnd)},
          {"overflow_marker_in_lists", M.OverflowLists},
          {"commands", Commands}};
}

void ChangesText(const std::vector<FieldChange>& Changes, const char* Indent, std::ostream& Out) {
  for (const FieldChange& C : Changes) {
    Out << Indent << C.Variable << (C.Field.empty() ? "" : "." + C.Field) << ": " << C.Before
        << " -> " << C.After << "\n";
  }
}

Json ChangesJson(const std::vector<FieldChange>& Changes) {
  Json Out = Json::array();
  for (const FieldChange& C : Changes) {
    Out.push_back(
        {{"variable", C.Variable}, {"field", C.Field}, {"before", C.Before}, {"after", C.After}});
  }
  return Out;
}

Json StatusCodesJson(const std::vector<sim::StatusCodeRecord>& Codes) {
  Json Out = Json::array();
  for (const sim::StatusCodeRecord& C : Codes) {
    Out.push_back({{"time_us", C.Time},
                   {"type", HexNumber(C.Type, 8)},
                   {"value", HexNumber(C.Value, 8)},
                   {"meaning", StatusCodeMeaning(C)}});
  }
  return Out;
}

// One call into the driver: how it ended, its requests, the variables it changed, its status
// codes; for an adapter driver's start, what its arrival did.
void StepText(const RunOutcome& Run, size_t Index, bool WithTrace, std::ostream& Out) {
  const StepOutcome& Step = Run.Steps[Index];
  Out << "Step " << Index + 1 << ", " << Step.Name << ": ";
  if (!Step.Ran) {
    Out << "not run, the boot had ended\n";
    return;
  }
  Out << Outcome(Step.Outcome) << "; " << Step.EndRequest - Step.FirstRequest << " IPMI requests"
      << (WithTrace ? " (below)" : "") << "; " << Step.Changes.size() << " variable changes; "
      << Step.StatusCodes.size() << " status codes\n";
  if (Step.Arrival) {
    ArrivalText(Run.Arrivals[*Step.Arrival], Out); // its writes and status codes among the rest
    return;
  }
  ChangesText(Step.Changes, "  ", Out);
  for (const sim::StatusCodeRecord& C : Step.StatusCodes) {
    const std::string Meaning = StatusCodeMeaning(C);
    Out << "  status code " << HexNumber(C.Value, 8)
        << (Meaning.empty() ? "" : " (" + Meaning + ")") << "\n";
  }
}

} // namespace

std::string Seconds(uint64_t Microseconds) {
  char Text[32];
  std::snprintf(Text, sizeof(Text), "%llu.%06llu s",
                static_cast<unsigned long long>(Microseconds / 1000000),
                static_cast<unsigned long long>(Microseconds % 1000000));
  return Text;
}

std::string Outcome(const sim::BootOutcome& O) {
  if (O.Reset) {
    return "ended by a system reset";
  }
  if (O.Hang) {
    return "hung (" + O.HangReason + ")";
  }
  return "returned " + StatusName(O.Status);
}

Json OutcomeJson(const sim::BootOutcome& O) {
  Json J = {{"returned", O.Returned}, {"reset", O.Reset}, {"hang", O.Hang}};
  if (O.Returned) {
    J["status"] = StatusName(O.Status);
  }
  if (O.Hang) {
    J["hang_reason"] = O.HangReason;
  }
  return J;
}

std::string StatusCodeMeaning(const sim::StatusCodeRecord& C) {
  if (C.Value == CommandFailureCode) {
    return "command failure report";
  }
  if (C.Value == EmFailurePauseStatusCode) {
    return "EMFailurePause";
  }
  return "";
}

std::string FruName(UINT8 Id) {
  return Id < 10 ? std::to_string(Id) : HexNumber(Id, 2);
}

std::string StatusName(EFI_STATUS Status) {
  auto It = StatusNames().find(Status);
  return It != StatusNames().end() ? It->second : HexNumber(Status, 16);
}

std::optional<EFI_STATUS> StatusFromName(const std::string& Name) {
  for (const auto& [Status, Text] : StatusNames()) {
    if (Name == Text) {
      return Status;
    }
  }
  return std::nullopt;
}

std::string DescribeRequest(const sim::IpmiRequest& R) {
  std::ostringstream Out;
  Out << Seconds(R.Time) << "  ";
  const bool Fru = R.NetFn == sim::ipmi::NetFnStorage &&
                   (R.Cmd == sim::ipmi::CmdReadFruData || R.Cmd == sim::ipmi::CmdWriteFruData) &&
                   R.Data.size() >= 3;
  if (Fru) {
    const unsigned Offset = R.Data[1] | (R.Data[2] << 8);
    if (R.Cmd == sim::ipmi::CmdReadFruData) {
      Out << "Read FRU Data   fru " << int(R.Data[0]) << " @" << HexNumber(Offset, 4) << " count "
          << (R.Data.size() > 3 ? int(R.Data[3]) : 0);
    } else {
      Out << "Write FRU Data  fru " << int(R.Data[0]) << " @" << HexNumber(Offset, 4) << " ["
          << HexBytesText({R.Data.begin() + 3, R.Data.end()}) << "]";
    }
  } else {
    Out << "NetFn " << HexNumber(R.NetFn, 2) << " cmd " << HexNumber(R.Cmd, 2) << " ["
        << HexBytesText(R.Data) << "]";
  }
  if (EFI_ERROR(R.Status)) {
    Out << "  -> " << StatusName(R.Status);
    if (R.Status == EFI_DEVICE_ERROR) {
      Out << " (completion " << HexNumber(R.CompletionCode, 2)
          << (R.CompletionCode == sim::ipmi::CompletionFruBusy ? ", busy" : "") << ")";
    }
  } else if (Fru && R.Cmd == sim::ipmi::CmdReadFruData && !R.Response.empty()) {
    Out << "  -> " << int(R.Response[0]) << " bytes ["
        << HexBytesText({R.Response.begin() + 1, R.Response.end()}) << "]";
  } else {
    Out << "  -> ok";
  }
  return Out.str();
}

std::string TextReport(const RunOutcome& Run, bool WithTrace) {
  std::ostringstream Out;
  Out << "Scenario: " << Run.Scenario << "\n";
  if (!Run.Description.empty()) {
    Out << "  " << Run.Description << "\n";
  }
  Out << "DriverEntry: " << Outcome(Run.Entry) << "\n";
  if (!Run.Arrivals.empty()) {
    Out << "Adapter arrivals: " << ArrivalsSummary(Run.Arrivals) << "\n";
  }
  Out << "Completion signal: "
      << (Run.Completion      ? Outcome(*Run.Completion)
          : Run.CompletionDue ? "not reached (the boot had ended)"
                              : "not given")
      << "\n\n";
  for (const MailboxOutcome& M : Run.Mailboxes) {
    MailboxText(M, Out);
    Out << "\n";
  }
  for (size_t I = 0; I < Run.Steps.size(); ++I) {
    StepText(Run, I, WithTrace, Out);
  }
  Out << "\nVariables changed (" << Run.Changes.size() << "):\n";
  ChangesText(Run.Changes, "  ", Out);
  Out << "Status codes (" << Run.StatusCodes.size() << "):\n";
  for (const sim::StatusCodeRecord& C : Run.StatusCodes) {
    const std::string Meaning = StatusCodeMeaning(C);
    Out << "  " << Seconds(C.Time) << "  type " << HexNumber(C.Type, 8) << " value "
        << HexNumber(C.Value, 8) << (Meaning.empty() ? "" : " (" + Meaning + ")") << "\n";
  }
  Out << "Resets (" << Run.Resets.size() << "):\n";
  for (const sim::ResetRecord& R : Run.Resets) {
    Out << "  " << Seconds(R.Time) << "  type " << R.Type << ", status " << StatusName(R.Status)
        << "\n";
  }
  const IpmiCounts& I = Run.Ipmi;
  Out << "IPMI requests: " << I.Requests << " (FRU reads " << I.FruReads << ", FRU writes "
      << I.FruWrites << ", other " << I.Other << "; busy answers retried " << I.BusyRetried
      << ", other failures " << I.Failed << ")\n";
  Out << "Virtual time: " << Seconds(Run.VirtualMicroseconds) << " (" << Run.Stalls
      << " stalls); real time " << Milliseconds(Run.RealMilliseconds) << "\n";
  for (const std::string& P : Run.Problems) {
    Out << "simulated blade: " << P << "\n";
  }
  if (WithTrace) {
    Out << "\nIPMI trace:\n";
    for (const StepOutcome& Step : Run.Steps) {
      if (!Step.Ran) {
        continue;
      }
      Out << "  " << Step.Name << ":\n";
      for (size_t R = Step.FirstRequest; R < Step.EndRequest && R < Run.Trace.size(); ++R) {
        Out << "    " << DescribeRequest(Run.Trace[R]) << "\n";
      }
    }
  }
  return Out.str();
}

Json JsonReport(const RunOutcome& Run, bool WithTrace) {
  Json J = {{"scenario", Run.Scenario}, {"description", Run.Description}};
  J["entry"] = OutcomeJson(Run.Entry);
  J["completion_signal"] = Run.Completion ? OutcomeJson(*Run.Completion) : Json(nullptr);
  Json Mailboxes = Json::array();
  for (const MailboxOutcome& M : Run.Mailboxes) {
    Mailboxes.push_back(MailboxJson(M));
  }
  J["mailboxes"] = Mailboxes;
  J["variables_changed"] = ChangesJson(Run.Changes);
  J["status_codes"] = StatusCodesJson(Run.StatusCodes);
  Json Steps = Json::array();
  for (const StepOutcome& Step : Run.Steps) {
    Json One = {{"step", Step.Name}, {"ran", Step.Ran}};
    if (Step.Ran) {
      One["outcome"] = OutcomeJson(Step.Outcome);
    }
    // The step's requests are these entries of "trace" (with --trace).
    One["requests"] = {{"first", Step.FirstRequest},
                       {"count", Step.EndRequest - Step.FirstRequest}};
    One["variables_changed"] = ChangesJson(Step.Changes);
    One["status_codes"] = StatusCodesJson(Step.StatusCodes);
    if (Step.Arrival) {
      One["arrival"] = ArrivalJson(Run.Arrivals[*Step.Arrival]);
    }
    Steps.push_back(One);
  }
  J["steps"] = Steps;
  Json Resets = Json::array();
  for (const sim::ResetRecord& R : Run.Resets) {
    Resets.push_back({{"time_us", R.Time}, {"type", R.Type}, {"status", StatusName(R.Status)}});
  }
  J["resets"] = Resets;
  const IpmiCounts& I = Run.Ipmi;
  J["ipmi"] = {{"requests", I.Requests},        {"fru_reads", I.FruReads},
               {"fru_writes", I.FruWrites},     {"other", I.Other},
               {"busy_retried", I.BusyRetried}, {"failed", I.Failed}};
  J["virtual_time_us"] = Run.VirtualMicroseconds;
  J["stalls"] = Run.Stalls;
  J["real_time_ms"] = Run.RealMilliseconds;
  J["problems"] = Run.Problems;
  if (WithTrace) {
    Json Trace = Json::array();
    for (const sim::IpmiRequest& R : Run.Trace) {
      Trace.push_back(DescribeRequest(R));
    }
    J["trace"] = Trace;
  }
  return J;
}

} // namespace tools
