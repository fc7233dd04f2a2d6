// The adapter stand-in's book of the functions it manages, and the QEMU machine the adapter boots
// run on, as the host builds their descriptions.
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "firmware/runner/image_map.h"
#include "firmware/runner/slot_machine.h"
#include "firmware/standins/adapter_book.h"

namespace {

constexpr AdapterLocation Port0{0x42, 0, 0};
constexpr AdapterLocation Port1{0x42, 0, 1};

using Answers = std::vector<std::pair<EFI_STATUS, UINT32>>;

Answers AnswersFor(AdapterBook& Book, const AdapterLocation& L, int Count) {
  Answers Out;
  for (int I = 0; I < Count; ++I) {
    AdapterAnswer A{};
    EXPECT_TRUE(Book.NextAnswer(L, &A));
    Out.emplace_back(A.Returned, A.StatusWord);
  }
  return Out;
}

TEST(AdapterBook, EachFunctionGetsItsAnswersInOrderThenTheLastAgain) {
  auto Book = std::make_unique<AdapterBook>();
  const AdapterAnswer First[] = {
      {EFI_SUCCESS, 0x0500}, {EFI_DEVICE_ERROR, 0}, {EFI_SUCCESS, 0xF0FF}};
  const AdapterAnswer Second[] = {{EFI_SUCCESS, 0x0E00}};
  ASSERT_TRUE(Book->Plan(Port0, First, 3));
  ASSERT_TRUE(Book->Plan(Port1, Second, 1));
  EXPECT_EQ(AnswersFor(*Book, Port0, 2), (Answers{{EFI_SUCCESS, 0x0500}, {EFI_DEVICE_ERROR, 0}}));
  EXPECT_EQ(AnswersFor(*Book, Port1, 2), (Answers{{EFI_SUCCESS, 0x0E00}, {EFI_SUCCESS, 0x0E00}}));
  EXPECT_EQ(AnswersFor(*Book, Port0, 3), Answers(3, {EFI_SUCCESS, 0xF0FF}));
  AdapterAnswer Unused{};
  EXPECT_FALSE(Book->NextAnswer(AdapterLocation{0x42, 0, 2}, &Unused)) << "not managed";
  // A new plan replaces the answers and starts them over; the installed record stays.
  ManagedAdapter* A = Book->Find(Port0);
  ASSERT_NE(A, nullptr);
  A->ProtocolHandle = A;
  ASSERT_TRUE(Book->Plan(Port0, Second, 1));
  EXPECT_EQ(AnswersFor(*Book, Port0, 1), (Answers{{EFI_SUCCESS, 0x0E00}}));
  EXPECT_EQ(Book->Find(Port0)->ProtocolHandle, A);
  EXPECT_TRUE(Book->Holds(&A->Record));
  ADAPTER_CLP_PROTOCOL Copy = A->Record;
  EXPECT_FALSE(Book->Holds(&Copy));
}

TEST(AdapterBook, RefusesEmptyOrLongPlansAndMoreFunctionsThanPositions) {
  auto Book = std::make_unique<AdapterBook>();
  AdapterAnswer Many[AdapterAnswerMax + 1] = {};
  EXPECT_FALSE(Book->Plan(Port0, Many, 0));
  EXPECT_FALSE(Book->Plan(Port0, Many, AdapterAnswerMax + 1));
  EXPECT_TRUE(Book->Plan(Port0, Many, AdapterAnswerMax));
  for (UINT8 I = 1; I < AdapterBookMax; ++I) {
    EXPECT_TRUE(Book->Plan(AdapterLocation{I, 0, 0}, Many, 1));
  }
  EXPECT_FALSE(Book->Plan(AdapterLocation{0xF0, 0, 0}, Many, 1)) << "the book is full";
  EXPECT_TRUE(Book->Plan(Port0, Many, 2)) << "a function already named can be planned again";
}

TEST(AdapterBuffers, TextAndZeroChecksComeFromTheWholeBuffers) {
  struct Case {
    std::string Command; // the buffer's first bytes; the rest is zero unless Dirty
    bool DirtyCommandTail;
    bool DirtyResponseEnd;
    UINT16 Length;
    bool ZeroFilled;
    bool Zeroed;
  };
  const Case Cases[] = {
      {"exit", false, false, 4, true, true},
      {"exit", true, false, 4, false, true},
      {"", false, true, 0, true, false},
      {std::string(256, 'A'), false, false, 256, false, true}, // no NUL within the buffer
  };
  for (const Case& C : Cases) {
    std::vector<CHAR8> Command(AdapterCommandBufferSize, 0);
    std::copy(C.Command.begin(), C.Command.end(), Command.begin());
    if (C.DirtyCommandTail) {
      Command.back() = 'x';
    }
    std::vector<CHAR8> Response(AdapterResponseBufferSize, 0);
    if (C.DirtyResponseEnd) {
      Response.back() = 's';
    }
    auto R = std::make_unique<AdapterExecuteRecord>();
    DescribeBuffers(Command.data(), Response.data(), R.get());
    EXPECT_EQ(R->TextLength, C.Length) << C.Command;
    EXPECT_EQ(std::string(R->Text, R->TextLength), C.Command.substr(0, C.Length));
    EXPECT_EQ(static_cast<bool>(R->CommandZeroFilled), C.ZeroFilled) << C.Command;
    EXPECT_EQ(static_cast<bool>(R->ResponseZeroed), C.Zeroed) << C.Command;
  }
}

// The -device arguments, in order.
std::vector<std::string> Devices(const std::vector<std::string>& Arguments) {
  std::vector<std::string> Out;
  for (size_t I = 0; I + 1 < Arguments.size(); ++I) {
    if (Arguments[I] == "-device") {
      Out.push_back(Arguments[I + 1]);
    }
  }
  return Out;
}

TEST(SlotMachine, RootPortsOfTheSlotTableAndTheFunctionsBehindThem) {
  std::vector<std::string> A;
  ASSERT_EQ(fw::SlotMachineArguments({{"00:03.0", 0, "e1000e"},
                                      {"00:03.0", 2, "e1000e"},
                                      {"41:09.0", 0, "edu"},
                                      {"41:06.0", 1, "e1000"}},
                                     &A),
            "");
  const std::vector<std::string> Expected = {
      "pxb-pcie,id=pxb41,bus_nr=0x41,bus=pcie.0,addr=05.0",
      "pcie-root-port,id=rp0020,bus=pcie.0,addr=02.0,multifunction=on,chassis=1",
      "pcie-root-port,id=rp0022,bus=pcie.0,addr=02.2,chassis=2",
      "pcie-root-port,id=rp0030,bus=pcie.0,addr=03.0,multifunction=on,chassis=3",
      "pcie-root-port,id=rp0031,bus=pcie.0,addr=03.1,chassis=4",
      "pcie-root-port,id=rp4110,bus=pxb41,addr=01.0,chassis=5",
      "pcie-root-port,id=rp4160,bus=pxb41,addr=06.0,chassis=6",
      "pcie-root-port,id=rp4180,bus=pxb41,addr=08.0,chassis=7",
      "pcie-root-port,id=rp4190,bus=pxb41,addr=09.0,chassis=8",
      "e1000e,bus=rp0030,addr=00.0,romfile=,multifunction=on",
      "e1000e,bus=rp0030,addr=00.2,romfile=",
      "edu,bus=rp4190,addr=00.0,romfile=",
      "e1000,bus=rp4160,addr=00.1,romfile=",
  };
  EXPECT_EQ(Devices(A), Expected);
  EXPECT_EQ(A.size(), 2 * Expected.size());
}

TEST(SlotMachine, FunctionsTheMachineCannotHoldAreRefused) {
  const std::vector<std::vector<fw::SlotFunction>> Bad = {
      {{"00:04.0", 0, "e1000e"}},                          // no such bridge in the table
      {{"00:02.0", 8, "e1000e"}},                          // function number
      {{"00:02.0", 0, "e1000e,addr=01.0"}},                // not a plain model name
      {{"00:02.0", 0, ""}},                                //
      {{"00:02.0", 1, "e1000e"}, {"00:02.0", 1, "e1000"}}, // two at one place
  };
  for (const auto& Functions : Bad) {
    std::vector<std::string> A = {"untouched"};
    EXPECT_NE(fw::SlotMachineArguments(Functions, &A), "") << Functions[0].Model;
    EXPECT_EQ(A, std::vector<std::string>{"untouched"});
  }
}

TEST(SlotMachine, InputLevelsComeFromUartsAtTheirPorts) {
  EXPECT_TRUE(fw::InputLevelArguments({}).empty()) << "nothing there: both inputs read 1";
  EXPECT_EQ(Devices(fw::InputLevelArguments({true, false})),
            std::vector<std::string>{"isa-serial,iobase=0x508,irq=10,chardev=readyinput"});
  EXPECT_EQ(Devices(fw::InputLevelArguments({false, true})),
            std::vector<std::string>{"isa-serial,iobase=0x548,irq=11,chardev=waitinput"});
  EXPECT_EQ(fw::InputLevelArguments({true, true}).size(), 8u) << "each with its null chardev";
}

TEST(ImageMap, SymbolsByTheirOffsetFromTheImageBase) {
  const std::string Map = R"( BladeCfgDxe

 Preferred load address is 0000000140000000

 Start         Length     Name                   Class
 0001:00000000 00004567H .text                   CODE

  Address         Publics by Value              Rva+Base               Lib:Object

 0001:00000030       DriverEntry                0000000140001030     entry.cpp.obj
 0001:00004220       ?HandleAdapterArrival@@YAXPEAX0@Z 0000000140005220     adapter_arrival.cpp.obj
 0003:00000010       gSomething                 0000000140008010     state.cpp.obj
)";
  const std::map<uint32_t, std::string> Symbols = fw::ReadImageMap(Map);
  EXPECT_EQ(Symbols, (std::map<uint32_t, std::string>{{0x1030, "DriverEntry"},
                                                      {0x5220, "?HandleAdapterArrival@@YAXPEAX0@Z"},
                                                      {0x8010, "gSomething"}}));
  EXPECT_TRUE(fw::ReadImageMap("0001:00000030 DriverEntry 0000000140001030 x.obj").empty())
      << "no load address, no symbols";
}

} // namespace
