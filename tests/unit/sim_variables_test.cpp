// The simulated variable store through GetVariable and SetVariable, with firmware semantics.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "sim/firmware.h"

namespace {

constexpr EFI_GUID Vendor = {0x33333333, 0x3333, 0x3333, {3, 3, 3, 3, 3, 3, 3, 3}};
constexpr EFI_GUID OtherVendor = {0x44444444, 0x4444, 0x4444, {4, 4, 4, 4, 4, 4, 4, 4}};
constexpr UINT32 Nv =
    EFI_VARIABLE_NON_VOLATILE | EFI_VARIABLE_BOOTSERVICE_ACCESS | EFI_VARIABLE_RUNTIME_ACCESS;
constexpr UINT32 Volatile = EFI_VARIABLE_BOOTSERVICE_ACCESS | EFI_VARIABLE_RUNTIME_ACCESS;

CHAR16 Name[] = u"Thing";
EFI_GUID* V(const EFI_GUID& Guid) {
  return const_cast<EFI_GUID*>(&Guid);
}

class SimVariables : public ::testing::Test {
protected:
  SimVariables() { Store.Create(Name, Vendor, Volatile, {1, 2, 3, 4}); }
  sim::Firmware Fw;
  sim::VariableStore& Store = Fw.Variables;
  EFI_RUNTIME_SERVICES* Rt = Fw.SystemTable()->RuntimeServices;
};

TEST_F(SimVariables, GetVariableAnswers) {
  struct Case {
    const char* What;
    CHAR16* Name;
    const EFI_GUID* Guid;
    UINTN Size;
    bool NullData;
    EFI_STATUS Expected;
    UINTN SizeAfter;
  } const Cases[] = {
      {"whole", Name, &Vendor, 4, false, EFI_SUCCESS, 4},
      {"larger buffer", Name, &Vendor, 16, false, EFI_SUCCESS, 4},
      {"too small", Name, &Vendor, 3, false, EFI_BUFFER_TOO_SMALL, 4},
      {"size query", Name, &Vendor, 0, true, EFI_BUFFER_TOO_SMALL, 4},
      {"other vendor", Name, &OtherVendor, 4, false, EFI_NOT_FOUND, 4},
      {"no name", nullptr, &Vendor, 4, false, EFI_INVALID_PARAMETER, 4},
      {"no guid", Name, nullptr, 4, false, EFI_INVALID_PARAMETER, 4},
      {"no data with a size", Name, &Vendor, 4, true, EFI_INVALID_PARAMETER, 4},
  };
  for (const Case& C : Cases) {
    SCOPED_TRACE(C.What);
    std::vector<uint8_t> Buffer(16, 0xEE);
    UINTN Size = C.Size;
    UINT32 Attributes = 0;
    EXPECT_EQ(Rt->GetVariable(C.Name, C.Guid == nullptr ? nullptr : V(*C.Guid), &Attributes, &Size,
                              C.NullData ? nullptr : Buffer.data()),
              C.Expected);
    EXPECT_EQ(Size, C.SizeAfter);
    if (C.Expected == EFI_SUCCESS) {
      EXPECT_EQ(std::vector<uint8_t>(Buffer.begin(), Buffer.begin() + 5),
                (std::vector<uint8_t>{1, 2, 3, 4, 0xEE}));
      EXPECT_EQ(Attributes, Volatile);
    } else {
      EXPECT_EQ(Buffer[0], 0xEE) << "nothing is written on failure";
    }
  }
}

TEST_F(SimVariables, SetVariableAnswers) {
  struct Case {
    const char* What;
    const EFI_GUID* Guid;
    UINT32 Attributes;
    std::vector<uint8_t> Data;
    EFI_STATUS Expected;
    std::optional<std::vector<uint8_t>> After; // the variable afterwards
  } const Cases[] = {
      {"rewrite", &Vendor, Volatile, {9, 9}, EFI_SUCCESS, std::vector<uint8_t>{9, 9}},
      {"other attributes",
       &Vendor,
       Nv,
       {9},
       EFI_INVALID_PARAMETER,
       std::vector<uint8_t>{1, 2, 3, 4}},
      {"delete", &Vendor, Volatile, {}, EFI_SUCCESS, std::nullopt},
      {"delete by attributes 0", &Vendor, 0, {9}, EFI_SUCCESS, std::nullopt},
      {"delete absent", &OtherVendor, Volatile, {}, EFI_NOT_FOUND, std::nullopt},
      {"create", &OtherVendor, Nv, {7}, EFI_SUCCESS, std::vector<uint8_t>{7}},
      {"runtime without boot services",
       &OtherVendor,
       EFI_VARIABLE_RUNTIME_ACCESS,
       {7},
       EFI_INVALID_PARAMETER,
       std::nullopt},
  };
  for (const Case& C : Cases) {
    SCOPED_TRACE(C.What);
    sim::Firmware Local;
    Local.Variables.Create(Name, Vendor, Volatile, {1, 2, 3, 4});
    std::vector<uint8_t> Data = C.Data;
    EXPECT_EQ(
        Local.SystemTable()->RuntimeServices->SetVariable(
            Name, V(*C.Guid), C.Attributes, Data.size(), Data.empty() ? nullptr : Data.data()),
        C.Expected);
    EXPECT_EQ(Local.Variables.Value(Name, *C.Guid), C.After);
    ASSERT_EQ(Local.Variables.Writes().size(), 1u);
    EXPECT_EQ(Local.Variables.Writes()[0].Result, C.Expected);
    EXPECT_EQ(Local.Variables.Writes()[0].Data, C.Data);
  }
}

TEST_F(SimVariables, InjectedFailuresCountDownOrLastForever) {
  Store.FailGet(Name, Vendor, EFI_DEVICE_ERROR, 2);
  Store.FailSet(Name, Vendor, EFI_WRITE_PROTECTED);
  std::vector<EFI_STATUS> Gets;
  for (int I = 0; I < 3; ++I) {
    UINT8 Buffer[4];
    UINTN Size = sizeof Buffer;
    Gets.push_back(Rt->GetVariable(Name, V(Vendor), nullptr, &Size, Buffer));
  }
  EXPECT_EQ(Gets, (std::vector<EFI_STATUS>{EFI_DEVICE_ERROR, EFI_DEVICE_ERROR, EFI_SUCCESS}));
  EXPECT_EQ(Store.ReadCount(Name, Vendor), 3u);

  UINT8 Data = 5;
  for (int I = 0; I < 3; ++I) {
    EXPECT_EQ(Rt->SetVariable(Name, V(Vendor), Volatile, 1, &Data), EFI_WRITE_PROTECTED);
  }
  EXPECT_EQ(Store.WriteCount(Name, Vendor), 3u);
  EXPECT_EQ(Store.Value(Name, Vendor), (std::vector<uint8_t>{1, 2, 3, 4}));
}

TEST_F(SimVariables, FailuresAimAtTheKthReadOrTheNthAccessOverall) {
  Store.Create(u"Other", OtherVendor, Volatile, {9});
  CHAR16 Other[] = u"Other";
  auto Get = [this](CHAR16* N, const EFI_GUID& G) {
    UINT8 Buffer[4];
    UINTN Size = sizeof Buffer;
    return Rt->GetVariable(N, V(G), nullptr, &Size, Buffer);
  };
  UINT8 Data = 5;
  auto Set = [&](CHAR16* N, const EFI_GUID& G) {
    return Rt->SetVariable(N, V(G), Volatile, 1, &Data);
  };
  // The third read of Thing; the fourth access of any kind; the second write of any variable.
  Store.FailGet(Name, Vendor, EFI_DEVICE_ERROR, 1, 2);
  Store.FailAccess(4, EFI_NOT_READY);
  Store.FailAccess(2, EFI_WRITE_PROTECTED, sim::VariableAccess::Write);
  const std::vector<EFI_STATUS> Seen = {
      Get(Name, Vendor),       // 1: Thing read 1
      Get(Other, OtherVendor), // 2
      Get(Name, Vendor),       // 3: Thing read 2
      Set(Other, OtherVendor), // 4: the fourth access, also write 1
      Get(Name, Vendor),       // 5: Thing read 3
      Set(Name, Vendor),       // 6: write 2
      Get(Name, Vendor),       // 7: Thing read 4
  };
  EXPECT_EQ(Seen, (std::vector<EFI_STATUS>{EFI_SUCCESS, EFI_SUCCESS, EFI_SUCCESS, EFI_NOT_READY,
                                           EFI_DEVICE_ERROR, EFI_WRITE_PROTECTED, EFI_SUCCESS}));
  EXPECT_EQ(Store.Value(u"Other", OtherVendor), std::vector<uint8_t>{9})
      << "the failed write stored";
  EXPECT_EQ(Store.ReadCalls(), 5u);
  EXPECT_EQ(Store.WriteCalls(), 2u);
}

TEST_F(SimVariables, DropVolatileKeepsNonVolatileOnes) {
  Store.Create(u"Kept", Vendor, Nv, {1});
  Store.DropVolatile();
  EXPECT_FALSE(Store.Exists(Name, Vendor));
  EXPECT_TRUE(Store.Exists(u"Kept", Vendor));
}

} // namespace
