// What the runner needs from the host: files, programs on PATH, private directories, and child
// processes that never outlive their limit or the runner.
#pragma once

#include <filesystem>
#include <string>
#include <sys/types.h>
#include <vector>

namespace fw {

std::string ReadFile(const std::filesystem::path& Path);
bool WriteFile(const std::filesystem::path& Path, const std::string& Bytes);

// The full path of Program on PATH; empty when it is not there.
std::string FindOnPath(const std::string& Program);

// A fresh directory under TMPDIR (Prefix-XXXXXX), removed with everything in it on destruction.
// Path() is empty when it could not be made.
class RunDirectory {
public:
  explicit RunDirectory(const std::string& Prefix = "bladecfg-fw");
  ~RunDirectory();
  RunDirectory(const RunDirectory&) = delete;
  RunDirectory& operator=(const RunDirectory&) = delete;
  const std::filesystem::path& Path() const { return Path_; }

private:
  std::filesystem::path Path_;
};

// Starts Argv in a process group of its own, standard input from /dev/null, standard output and
// error into Log. The child is sent SIGTERM when the runner dies. Returns its pid, or -1.
pid_t StartChild(const std::vector<std::string>& Argv, const std::filesystem::path& Log);

// Ends a child of StartChild: SIGTERM, and after GraceSeconds SIGKILL to its whole group; reaps it.
// Returns its exit status (128 + signal when a signal ended it), or -1.
int StopChild(pid_t Child, int GraceSeconds);

// The exit status of a child that has ended (reaped here), or -1 while it runs.
int ChildExitStatus(pid_t Child);

// Runs Argv to its end, killed outright (with its group) past DeadlineSeconds. Returns its exit
// status (128 + signal when a signal ended it), or -1 when it could not be started.
int RunBounded(const std::vector<std::string>& Argv, const std::filesystem::path& Log,
               int DeadlineSeconds, bool* KilledByRunner);

} // namespace fw
