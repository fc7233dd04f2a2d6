// The firmware's multiprocessor services as the harness sees them: every StartupAllAPs call,
// through a wrapper put into the firmware's interface before anything is loaded, and a procedure
// of the harness's own run on every application processor.
#pragma once

// Reported as an error when the firmware has no multiprocessor services.
void WrapStartupAllAPs();
// mprun line.
void RunOnEveryProcessor();
// mpcalls and mpcall lines: each call with the image whose code the procedure is.
void ReportMpCalls(const char* Tag);
