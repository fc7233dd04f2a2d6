// A module for ipmi_sim (lan.conf: loadlib "<path>" "<options>") that answers requests ipmi_sim
// does not know itself, as a blade's BMC would, and logs every request it answers: the chassis
// request Set Power Restore Policy and the OEM requests, for example.
//
// Options, separated by ';':
//   log=<file>                      append "<netfn> <command> <request data>" (hex) per request
//   <netfn>/<command>=<hex answer>  answer this request with these bytes: the completion code
//                                   first, then the response data (at most 32 bytes)
// for example: log=/tmp/requests.log;0x00/0x06=0007;0x30/0x41=00
// OpenIPMI's simulator headers are C without C++ guards.
extern "C" {
#include <OpenIPMI/mcserv.h>
#include <OpenIPMI/msg.h>
#include <OpenIPMI/serv.h>
}

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr size_t AnswerMax = 32;

struct Answer {
  unsigned char NetFn;
  unsigned char Command;
  std::vector<unsigned char> Bytes;
};

std::string LogPath;
std::vector<Answer> Answers; // filled once at load, never resized after registration

void LogRequest(const msg_t* Msg) {
  if (LogPath.empty()) {
    return;
  }
  FILE* Log = std::fopen(LogPath.c_str(), "a");
  if (Log == nullptr) {
    return;
  }
  std::fprintf(Log, "%02x %02x ", Msg->netfn, Msg->cmd);
  for (unsigned I = 0; I < Msg->len; ++I) {
    std::fprintf(Log, "%02x", Msg->data[I]);
  }
  std::fprintf(Log, "\n");
  std::fclose(Log);
}

void AnswerRequest(lmc_data_t*, msg_t* Msg, unsigned char* Response, unsigned int* Length,
                   void* Context) {
  const Answer* A = static_cast<const Answer*>(Context);
  LogRequest(Msg);
  for (size_t I = 0; I < A->Bytes.size(); ++I) {
    Response[I] = A->Bytes[I];
  }
  *Length = static_cast<unsigned int>(A->Bytes.size());
}

bool ParseByte(const std::string& Text, unsigned char* Value) {
  char* End = nullptr;
  const unsigned long V = std::strtoul(Text.c_str(), &End, 0);
  if (Text.empty() || *End != '\0' || V > 0xFF) {
    return false;
  }
  *Value = static_cast<unsigned char>(V);
  return true;
}

bool ParseHexBytes(const std::string& Text, std::vector<unsigned char>* Bytes) {
  if (Text.empty() || Text.size() % 2 != 0 || Text.size() / 2 > AnswerMax) {
    return false;
  }
  for (size_t I = 0; I < Text.size(); I += 2) {
    unsigned char B = 0;
    if (!ParseByte("0x" + Text.substr(I, 2), &B)) {
      return false;
    }
    Bytes->push_back(B);
  }
  return true;
}

// One "key=value" option; false when it cannot be understood.
bool TakeOption(const std::string& Option) {
  const size_t Equals = Option.find('=');
  if (Equals == std::string::npos) {
    return false;
  }
  const std::string Key = Option.substr(0, Equals);
  const std::string Value = Option.substr(Equals + 1);
  if (Key == "log") {
    LogPath = Value;
    return !Value.empty();
  }
  const size_t Slash = Key.find('/');
  Answer A;
  return Slash != std::string::npos && ParseByte(Key.substr(0, Slash), &A.NetFn) &&
         ParseByte(Key.substr(Slash + 1), &A.Command) && ParseHexBytes(Value, &A.Bytes) &&
         (Answers.push_back(A), true);
}

} // namespace

extern "C" int ipmi_sim_module_print_version(sys_data_t*, char*) {
  std::printf("bladecfg answers module 1\n");
  return 0;
}

extern "C" int ipmi_sim_module_init(sys_data_t*, const char* Options) {
  const std::string Text = Options != nullptr ? Options : "";
  for (size_t Start = 0; Start <= Text.size();) {
    size_t End = Text.find(';', Start);
    if (End == std::string::npos) {
      End = Text.size();
    }
    const std::string Option = Text.substr(Start, End - Start);
    if (!Option.empty() && !TakeOption(Option)) {
      std::fprintf(stderr, "bladecfg answers module: cannot understand \"%s\"\n", Option.c_str());
      return 1;
    }
    Start = End + 1;
  }
  for (Answer& A : Answers) {
    const int Error = ipmi_emu_register_cmd_handler(A.NetFn, A.Command, AnswerRequest, &A);
    if (Error != 0) {
      std::fprintf(stderr, "bladecfg answers module: NetFn 0x%02x command 0x%02x: error %d\n",
                   A.NetFn, A.Command, Error);
      return 1;
    }
  }
  return 0;
}
