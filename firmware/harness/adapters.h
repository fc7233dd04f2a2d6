// The harness's side of the adapters: the PCI I/O handles the firmware made, and the adapter
// stand-in (firmware/standins/adapter_clp_dxe.cpp) told which functions it manages, connected to
// them and asked for its log of Execute calls.
#pragma once

#include "firmware/harness/scenario.h"

// pciio lines: every PCI I/O handle in the order the firmware hands them out.
void ReportPciHandles();
// The stand-in manages the directive's function with its answers. False (reported) when the
// stand-in is not loaded or refuses.
bool PlanAdapter(const Directive& D);
// ConnectController of the directive's function to the stand-in.
void ConnectAdapter(const Directive& D);
// Execute of the first adapter that arrived, for the directive's function, with its text.
void ExecuteFor(const Directive& D);
// execs and exec lines: every Execute call the stand-in saw.
void ReportExecutes(const char* Tag);
