// Events and task priority levels. A notify function runs at its event's TPL, never while the TPL
// is already at or above it: it then waits for the RestoreTPL that drops below, as firmware does.
#include <algorithm>

#include "sim/firmware_impl.h"
#include "sim/problems.h"

namespace sim {
namespace {

bool ValidNotifyTpl(EFI_TPL Tpl) {
  return Tpl > TPL_APPLICATION && Tpl < TPL_HIGH_LEVEL;
}

} // namespace

EFI_TPL Firmware::Impl::RaiseTpl(EFI_TPL NewTpl) {
  const EFI_TPL Old = F.Tpl_;
  if (NewTpl < Old || NewTpl > TPL_HIGH_LEVEL) {
    ReportProblem("RaiseTPL(" + std::to_string(NewTpl) + ") at TPL " + std::to_string(Old));
  }
  F.Tpl_ = NewTpl;
  return Old;
}

void Firmware::Impl::RestoreTpl(EFI_TPL OldTpl) {
  if (OldTpl > F.Tpl_) {
    ReportProblem("RestoreTPL(" + std::to_string(OldTpl) + ") at TPL " + std::to_string(F.Tpl_));
  }
  F.Tpl_ = OldTpl;
  DispatchAbove(OldTpl);
}

EFI_STATUS Firmware::Impl::CreateEvent(UINT32 Type, EFI_TPL Tpl, EFI_EVENT_NOTIFY Notify,
                                       void* Context, EFI_EVENT* Event) {
  ServiceCall Call{"CreateEvent", {}, nullptr, Notify, Type, Tpl, EFI_SUCCESS};
  const UINT32 NotifyKinds = Type & (EVT_NOTIFY_SIGNAL | EVT_NOTIFY_WAIT);
  if (Event == nullptr || NotifyKinds == (EVT_NOTIFY_SIGNAL | EVT_NOTIFY_WAIT) ||
      (NotifyKinds != 0 && (Notify == nullptr || !ValidNotifyTpl(Tpl)))) {
    Call.Result = EFI_INVALID_PARAMETER;
  } else if (auto Injected = CreateEventFailures.NextCall()) {
    Call.Result = *Injected;
  } else {
    Events.push_back(std::make_unique<EventRecord>(EventRecord{Type, Tpl, Notify, Context}));
    *Event = Call.Event = Events.back().get();
  }
  Record(Call);
  return Call.Result;
}

EFI_STATUS Firmware::Impl::CloseEvent(EFI_EVENT Event) {
  EventRecord* E = FindEvent(Event);
  if (E == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  // Closing an event also ends the protocol notifications it was registered for.
  Registrations.erase(std::remove_if(Registrations.begin(), Registrations.end(),
                                     [E](const auto& R) { return R->Event == E; }),
                      Registrations.end());
  Events.erase(std::find_if(Events.begin(), Events.end(),
                            [E](const auto& Owned) { return Owned.get() == E; }));
  return EFI_SUCCESS;
}

EFI_STATUS Firmware::Impl::SignalEvent(EFI_EVENT Event) {
  EventRecord* E = FindEvent(Event);
  if (E == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  MarkPending(*E);
  DispatchAbove(F.Tpl_);
  return EFI_SUCCESS;
}

EFI_STATUS Firmware::Impl::CheckEvent(EFI_EVENT Event) {
  EventRecord* E = FindEvent(Event);
  if (E == nullptr || (E->Type & EVT_NOTIFY_SIGNAL) != 0) {
    return EFI_INVALID_PARAMETER;
  }
  if (!E->Signalled) {
    return EFI_NOT_READY;
  }
  E->Signalled = false;
  return EFI_SUCCESS;
}

void Firmware::Impl::MarkPending(EventRecord& E) {
  if ((E.Type & EVT_NOTIFY_SIGNAL) == 0) {
    E.Signalled = true;
    return;
  }
  // A signal while the notify function still waits to run adds nothing: it runs once.
  if (!E.Pending) {
    E.Pending = true;
    E.PendingOrder = NextPendingOrder++;
  }
}

void Firmware::Impl::DispatchAbove(EFI_TPL Level) {
  for (;;) {
    // Highest TPL first; within a TPL, in the order signalled. Searched afresh each time because a
    // notify function may create, signal or close events.
    EventRecord* Next = nullptr;
    for (const auto& E : Events) {
      if (E->Pending && E->Tpl > Level &&
          (Next == nullptr || E->Tpl > Next->Tpl ||
           (E->Tpl == Next->Tpl && E->PendingOrder < Next->PendingOrder))) {
        Next = E.get();
      }
    }
    if (Next == nullptr) {
      return;
    }
    Next->Pending = false;
    const EFI_TPL Saved = F.Tpl_;
    F.Tpl_ = Next->Tpl;
    Record(ServiceCall{"Notify", {}, Next, Next->Notify, Next->Type, Next->Tpl, EFI_SUCCESS});
    Next->Notify(Next, Next->Context);
    F.Tpl_ = Saved;
  }
}

} // namespace sim
