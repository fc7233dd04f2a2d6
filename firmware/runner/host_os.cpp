#include "firmware/runner/host_os.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <signal.h>
#include <sstream>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fw {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& Path) {
  std::ifstream In(Path, std::ios::binary);
  std::ostringstream Out;
  Out << In.rdbuf();
  return Out.str();
}

bool WriteFile(const fs::path& Path, const std::string& Bytes) {
  std::ofstream Out(Path, std::ios::binary);
  Out.write(Bytes.data(), static_cast<std::streamsize>(Bytes.size()));
  return static_cast<bool>(Out);
}

std::string FindOnPath(const std::string& Program) {
  const char* Path = std::getenv("PATH");
  std::istringstream Dirs(Path != nullptr ? Path : "");
  for (std::string Dir; std::getline(Dirs, Dir, ':');) {
    const fs::path Candidate = fs::path(Dir.empty() ? "." : Dir) / Program;
    if (access(Candidate.c_str(), X_OK) == 0) {
      return Candidate.string();
    }
  }
  return "";
}

RunDirectory::RunDirectory(const std::string& Prefix) {
  const char* Tmp = std::getenv("TMPDIR");
  std::string Template = std::string(Tmp != nullptr ? Tmp : "/tmp") + "/" + Prefix + "-XXXXXX";
  if (mkdtemp(Template.data()) != nullptr) {
    Path_ = Template;
  }
}

RunDirectory::~RunDirectory() {
  std::error_code Ignored;
  if (!Path_.empty()) {
    fs::remove_all(Path_, Ignored);
  }
}

namespace {

int ExitStatusOf(int Status) {
  return WIFEXITED(Status) ? WEXITSTATUS(Status) : 128 + WTERMSIG(Status);
}

} // namespace

pid_t StartChild(const std::vector<std::string>& Argv, const fs::path& Log) {
  const pid_t Child = fork();
  if (Child != 0) {
    return Child; // the child's pid, or -1
  }
  setpgid(0, 0);
  prctl(PR_SET_PDEATHSIG, SIGTERM);
  const int In = open("/dev/null", O_RDONLY);
  const int Out = open(Log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (In < 0 || Out < 0) {
    _exit(126);
  }
  dup2(In, 0);
  dup2(Out, 1);
  dup2(Out, 2);
  std::vector<char*> Args;
  for (const std::string& A : Argv) {
    Args.push_back(const_cast<char*>(A.c_str()));
  }
  Args.push_back(nullptr);
  execvp(Args[0], Args.data());
  _exit(127);
}

int ChildExitStatus(pid_t Child) {
  int Status = 0;
  const pid_t Done = waitpid(Child, &Status, WNOHANG);
  if (Done == Child) {
    return ExitStatusOf(Status);
  }
  return Done < 0 ? 255 : -1; // 255: reaped already, its status is lost
}

int StopChild(pid_t Child, int GraceSeconds) {
  if (Child <= 0) {
    return -1;
  }
  if (const int Ended = ChildExitStatus(Child); Ended >= 0) {
    return Ended;
  }
  kill(Child, SIGTERM);
  const auto Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(GraceSeconds);
  while (std::chrono::steady_clock::now() < Deadline) {
    if (const int Ended = ChildExitStatus(Child); Ended >= 0) {
      kill(-Child, SIGKILL); // anything the child left in its group
      return Ended;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  kill(-Child, SIGKILL);
  kill(Child, SIGKILL);
  int Status = 0;
  while (waitpid(Child, &Status, 0) < 0 && errno == EINTR) {
  }
  return ExitStatusOf(Status);
}

int RunBounded(const std::vector<std::string>& Argv, const fs::path& Log, int DeadlineSeconds,
               bool* KilledByRunner) {
  *KilledByRunner = false;
  const pid_t Child = StartChild(Argv, Log);
  if (Child < 0) {
    return -1;
  }
  const auto Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(DeadlineSeconds);
  for (;;) {
    if (const int Ended = ChildExitStatus(Child); Ended >= 0) {
      return Ended;
    }
    if (std::chrono::steady_clock::now() > Deadline) {
      *KilledByRunner = true;
      return StopChild(Child, 0);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

} // namespace fw
