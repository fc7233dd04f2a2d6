#include "tools/report_adapters.h"

#include <algorithm>
#include <sstream>

#include "tools/mailbox_json.h"
#include "tools/report.h"

namespace tools {

namespace {

using Json = nlohmann::ordered_json;

// A JSON array of Item (Each) for each item.
template <typename T, typename F> Json ArrayOf(const std::vector<T>& Items, F Item) {
  Json Out = Json::array();
  for (const T& Each : Items) {
    Out.push_back(Item(Each));
  }
  return Out;
}

std::string Hex(uint64_t Value, unsigned Digits) {
  return HexNumber(Value, Digits);
}

std::string AnswerText(const sim::ClpAnswer& A) {
  std::string Text = Hex(A.StatusWord, 4) + " " + mailbox_format::StatusWordName(A.StatusWord);
  if (A.Status != EFI_SUCCESS) {
    Text += ", Execute returned " + StatusName(A.Status);
  }
  return Text;
}

std::string AdapterName(const ArrivalOutcome& A) {
  std::string Text = A.Driver + " starts on " + A.Function.Text();
  if (A.VendorId != 0) {
    Text += " (vendor " + Hex(A.VendorId, 4) + ", device " + Hex(A.DeviceId, 4) + ")";
  }
  return Text;
}

std::string PassHeading(const AdapterPass& P) {
  std::ostringstream Out;
  Out << "adapter " << (P.Location ? P.Location->Text() : std::string("(unknown)"));
  if (P.VendorId != 0) {
    Out << " (" << Hex(P.VendorId, 4) << ":" << Hex(P.DeviceId, 4) << ")";
  }
  if (P.Row) {
    Out << ", slot row " << *P.Row << ", pending bit " << Hex(P.PendingBit, 8);
  }
  if (P.Port) {
    Out << ", port " << *P.Port;
  }
  Out << ": FRU device " << FruName(P.Fru) << ", mailbox at " << Hex(P.HeaderOffset, 4)
      << ", result area " << (P.ResultArea ? Hex(*P.ResultArea, 4) : std::string("-"));
  if (P.ResultArea && *P.ResultArea == 0) {
    Out << " (none: no command runs)";
  }
  Out << (P.Released ? "; released at its end" : "; left locked");
  return Out.str();
}

void CommandText(const AdapterCommandOutcome& C, std::ostream& Out) {
  Out << "        " << C.Index << "  " << Hex(C.Id, 4) << "  " << ReadableText(C.Read)
      << (C.ReadWhole ? "" : " ...") << "\n";
  if (C.Sent) {
    Out << "              sent: " << ReadableText(*C.Sent);
    if (C.Answer) {
      Out << " -> " << AnswerText(*C.Answer);
    }
    Out << "\n";
    if (C.Record) {
      Out << "              record " << Hex(C.Record->Id, 4) << " " << Hex(C.Record->Status, 8)
          << (C.RecordWritten ? " written" : " (the slot held it already)") << "\n";
    } else {
      Out << "              no record: the run stopped\n";
    }
  } else {
    Out << "              not sent: " << C.NotSent << "\n";
  }
}

void PassText(const AdapterPass& P, std::ostream& Out) {
  Out << "    " << PassHeading(P) << "\n";
  int List = -1;
  for (const AdapterCommandOutcome& C : P.Commands) {
    if (C.List != List) {
      List = C.List;
      Out << "      list " << List << ":\n";
    }
    CommandText(C, Out);
  }
  for (UINT8 L : P.OverflowLists) {
    Out << "      list " << int(L)
        << ": more than 32 commands, so the OverflowMarker; no later list is run for this "
           "adapter\n";
  }
}

void ClockText(const ClockPhase& Phase, std::ostream& Out) {
  Out << "      " << Seconds(Phase.Time) << "  " << (Phase.Throttle ? "slowed down" : "restored")
      << ":";
  for (const auto& [Cpu, Value] : Phase.Writes) {
    Out << " cpu" << Cpu << " " << Hex(Value, 2);
  }
  if (Phase.Startup) {
    const sim::ApStartup& S = *Phase.Startup;
    Out << "; StartupAllAPs (" << (S.Blocking ? "blocking" : "with an event")
        << (S.SingleThread ? ", one AP at a time" : ", all APs at once") << ") ran on "
        << S.Ran.size() << (S.Ran.size() == 1 ? " AP" : " APs") << ", " << StatusName(S.Result);
  }
  Out << "\n";
}

std::string WaitText(const ArrivalOutcome& A) {
  if (!A.WaitBegan) {
    return "";
  }
  if (A.WaitEnded) {
    return Seconds(*A.WaitEnded - *A.WaitBegan) + " (" + std::to_string(A.Polls) +
           " reads of the adapter-ready input)";
  }
  return "never ended (" + std::to_string(A.Polls) + " reads of the adapter-ready input)";
}

} // namespace

void ArrivalText(const ArrivalOutcome& A, std::ostream& Out) {
  Out << "  " << AdapterName(A) << " at " << Seconds(A.At);
  if (!A.Ran) {
    Out << ": not run, the boot had ended\n";
    return;
  }
  if (A.Started != A.At) {
    Out << " (started at " << Seconds(A.Started) << ", after the call before it)";
  }
  if (A.Row) {
    Out << ": slot row " << *A.Row;
  }
  if (A.Fru) {
    Out << ", FRU device " << FruName(*A.Fru);
  }
  Out << "\n    branch: " << BranchName(A.Branch) << " (" << A.Why << ")\n";
  const std::string Wait = WaitText(A);
  if (!Wait.empty()) {
    Out << "    wait: " << Wait << "\n";
  }
  for (const OemMessage& M : A.Messages) {
    Out << "    " << Seconds(M.Time) << "  OEM message " << M.What << " [" << HexBytesText(M.Data)
        << "] -> "
        << (EFI_ERROR(M.Status)
                ? StatusName(M.Status) + (M.Status == EFI_DEVICE_ERROR
                                              ? " (completion " + Hex(M.CompletionCode, 2) + ")"
                                              : "")
                : "ok")
        << "\n";
  }
  if (!A.Clock.empty()) {
    Out << "    clock modulation (MSR 0x19A):\n";
    for (const ClockPhase& Phase : A.Clock) {
      ClockText(Phase, Out);
    }
  }
  for (const RestoreCall& R : A.Restore) {
    Out << "    restore: " << ReadableText(R.Text) << " -> " << AnswerText(R.Answer) << "\n";
  }
  for (const AdapterPass& P : A.Passes) {
    PassText(P, Out);
  }
  for (const VariableWriteOutcome& W : A.Writes) {
    Out << "    " << W.Variable << " written";
    if (EFI_ERROR(W.Result)) {
      Out << ": " << StatusName(W.Result) << "\n";
      continue;
    }
    Out << (W.Changes.empty() ? ", nothing changed" : ":") << "\n";
    for (const FieldChange& C : W.Changes) {
      Out << "      " << (C.Field.empty() ? "(variable)" : C.Field) << ": " << C.Before << " -> "
          << C.After << "\n";
    }
  }
  for (const sim::StatusCodeRecord& C : A.StatusCodes) {
    const std::string Meaning = StatusCodeMeaning(C);
    Out << "    " << Seconds(C.Time) << "  status code " << Hex(C.Value, 8)
        << (Meaning.empty() ? "" : " (" + Meaning + ")") << "\n";
  }
  for (const sim::ResetRecord& R : A.Resets) {
    Out << "    " << Seconds(R.Time) << "  ResetSystem "
        << (R.Type == EfiResetCold ? std::string("EfiResetCold") : "type " + std::to_string(R.Type))
        << "\n";
  }
  for (const std::string& Note : A.Notes) {
    Out << "    note: " << Note << "\n";
  }
  Out << "    " << Outcome(A.Outcome) << " at " << Seconds(A.Ended) << " after " << A.Requests
      << " IPMI requests\n";
}

namespace {

Json TextJson(const std::string& Text) {
  Json J = Json::object();
  PutCommandText(J, Text);
  return J;
}

Json AnswerJson(const sim::ClpAnswer& A) {
  return {{"status_word", Hex(A.StatusWord, 4)},
          {"meaning", mailbox_format::StatusWordName(A.StatusWord)},
          {"efi_status", StatusName(A.Status)}};
}

Json CommandJson(const AdapterCommandOutcome& C) {
  Json J = {{"list", C.List},
            {"index", C.Index},
            {"id", Hex(C.Id, 4)},
            {"read", TextJson(C.Read)},
            {"read_whole", C.ReadWhole}};
  J["sent"] = C.Sent ? TextJson(*C.Sent) : Json(nullptr);
  J["answer"] = C.Answer ? AnswerJson(*C.Answer) : Json(nullptr);
  J["not_sent"] = C.Sent ? Json(nullptr) : Json(C.NotSent);
  J["record"] = C.Record ? Json{{"id", Hex(C.Record->Id, 4)},
                                {"status", Hex(C.Record->Status, 8)},
                                {"written", C.RecordWritten}}
                         : Json(nullptr);
  return J;
}

Json PassJson(const AdapterPass& P) {
  return {{"adapter", P.Location ? Json(P.Location->Text()) : Json(nullptr)},
          {"vendor", Hex(P.VendorId, 4)},
          {"device", Hex(P.DeviceId, 4)},
          {"slot_row", P.Row ? Json(*P.Row) : Json(nullptr)},
          {"pending_bit", Hex(P.PendingBit, 8)},
          {"port", P.Port ? Json(*P.Port) : Json(nullptr)},
          {"fru", P.Fru},
          {"header_offset", Hex(P.HeaderOffset, 4)},
          {"result_area", P.ResultArea ? Json(Hex(*P.ResultArea, 4)) : Json(nullptr)},
          {"released", P.Released},
          {"overflow_marker_in_lists", P.OverflowLists},
          {"commands", ArrayOf(P.Commands, CommandJson)}};
}

Json ClockJson(const ClockPhase& Phase) {
  const Json Writes = ArrayOf(Phase.Writes, [](const std::pair<UINTN, UINT64>& W) {
    return Json{{"processor", W.first}, {"value", Hex(W.second, 2)}};
  });
  Json J = {{"time_us", Phase.Time}, {"throttle", Phase.Throttle}, {"msr_writes", Writes}};
  if (Phase.Startup) {
    J["startup_all_aps"] = {{"blocking", Phase.Startup->Blocking},
                            {"single_thread", static_cast<bool>(Phase.Startup->SingleThread)},
                            {"timeout_us", Phase.Startup->Timeout},
                            {"ran_on", Phase.Startup->Ran},
                            {"status", StatusName(Phase.Startup->Result)}};
  } else {
    J["startup_all_aps"] = nullptr;
  }
  return J;
}

} // namespace

Json ArrivalJson(const ArrivalOutcome& A) {
  Json J = {{"driver", A.Driver},
            {"function", A.Function.Text()},
            {"vendor", Hex(A.VendorId, 4)},
            {"device", Hex(A.DeviceId, 4)},
            {"at_us", A.At},
            {"ran", A.Ran}};
  if (!A.Ran) {
    return J;
  }
  J["started_us"] = A.Started;
  J["ended_us"] = A.Ended;
  J["outcome"] = OutcomeJson(A.Outcome);
  J["slot_row"] = A.Row ? Json(*A.Row) : Json(nullptr);
  J["fru"] = A.Fru ? Json(*A.Fru) : Json(nullptr);
  J["adapter_ready"] = A.AdapterReady ? Json(*A.AdapterReady) : Json(nullptr);
  J["wait_enable"] = A.WaitEnable ? Json(*A.WaitEnable) : Json(nullptr);
  J["branch"] = BranchName(A.Branch);
  J["why"] = A.Why;
  if (A.WaitBegan) {
    J["wait"] = {{"began_us", *A.WaitBegan},
                 {"ended_us", A.WaitEnded ? Json(*A.WaitEnded) : Json(nullptr)},
                 {"length_us", A.WaitEnded ? Json(*A.WaitEnded - *A.WaitBegan) : Json(nullptr)},
                 {"polls", A.Polls}};
  } else {
    J["wait"] = nullptr;
  }
  J["oem_messages"] = ArrayOf(A.Messages, [](const OemMessage& M) {
    return Json{{"time_us", M.Time},
                {"what", M.What},
                {"hex", HexBytesText(M.Data)},
                {"status", StatusName(M.Status)},
                {"completion", Hex(M.CompletionCode, 2)}};
  });
  J["clock_modulation"] = ArrayOf(A.Clock, ClockJson);
  J["restore"] = ArrayOf(A.Restore, [](const RestoreCall& R) {
    Json Call = TextJson(R.Text);
    Call["answer"] = AnswerJson(R.Answer);
    return Call;
  });
  J["passes"] = ArrayOf(A.Passes, PassJson);
  J["variables_written"] = ArrayOf(A.Writes, [](const VariableWriteOutcome& W) {
    return Json{{"variable", W.Variable},
                {"result", StatusName(W.Result)},
                {"changes", ArrayOf(W.Changes, [](const FieldChange& C) {
                   return Json{{"field", C.Field}, {"before", C.Before}, {"after", C.After}};
                 })}};
  });
  J["status_codes"] = ArrayOf(A.StatusCodes, [](const sim::StatusCodeRecord& C) {
    return Json{{"time_us", C.Time}, {"value", Hex(C.Value, 8)}, {"meaning", StatusCodeMeaning(C)}};
  });
  J["resets"] = ArrayOf(A.Resets, [](const sim::ResetRecord& R) {
    return Json{{"time_us", R.Time}, {"type", R.Type}, {"status", StatusName(R.Status)}};
  });
  J["ipmi_requests"] = A.Requests;
  J["notes"] = A.Notes;
  return J;
}

std::string BranchName(ArrivalBranch Branch) {
  switch (Branch) {
  case ArrivalBranch::RunNow:
    return "run now";
  case ArrivalBranch::Restore:
    return "default restore";
  case ArrivalBranch::Wait:
    return "wait";
  case ArrivalBranch::None:
    break;
  }
  return "none";
}

std::string ArrivalsSummary(const std::vector<ArrivalOutcome>& Arrivals) {
  const ArrivalBranch Order[] = {ArrivalBranch::Wait, ArrivalBranch::RunNow, ArrivalBranch::Restore,
                                 ArrivalBranch::None};
  std::string Parts;
  for (ArrivalBranch B : Order) {
    const auto N = std::count_if(Arrivals.begin(), Arrivals.end(),
                                 [B](const ArrivalOutcome& A) { return A.Ran && A.Branch == B; });
    if (N != 0) {
      Parts += (Parts.empty() ? "" : ", ") + std::to_string(N) + " " + BranchName(B);
    }
  }
  const auto NotRun = std::count_if(Arrivals.begin(), Arrivals.end(),
                                    [](const ArrivalOutcome& A) { return !A.Ran; });
  if (NotRun != 0) {
    Parts += (Parts.empty() ? "" : ", ") + std::to_string(NotRun) + " not run";
  }
  return std::to_string(Arrivals.size()) + (Parts.empty() ? "" : " (" + Parts + ")");
}

bool AnyArrivalHung(const std::vector<ArrivalOutcome>& Arrivals) {
  return std::any_of(Arrivals.begin(), Arrivals.end(),
                     [](const ArrivalOutcome& A) { return A.Outcome.Hang; });
}

} // namespace tools
