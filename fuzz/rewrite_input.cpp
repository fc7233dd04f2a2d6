#include "fuzz/rewrite_input.h"

#include <algorithm>

#include "fuzz/blade_input.h"

namespace fuzz {

namespace {

constexpr uint16_t Vendors[] = {0x8086, 0x14E4, 0x10DF};
constexpr uint8_t OtherVendorChoice = 3;

} // namespace

UINT32 RewriteInput::VendorDevice() const {
  const uint16_t Vendor =
      VendorChoice % 4 == OtherVendorChoice ? OtherVendor : Vendors[VendorChoice % 4];
  return (UINT32{Device} << 16) | Vendor;
}

RewriteInput DecodeRewrite(const uint8_t* Data, size_t Size) {
  ByteReader In(Data, Size);
  RewriteInput Input;
  Input.Row = In.U8();
  Input.VendorChoice = In.U8() % 4;
  if (Input.VendorChoice == OtherVendorChoice) {
    Input.OtherVendor = In.U16();
  }
  Input.Device = In.U16();
  Input.Flags = In.U8();
  Input.Failures = In.U8();
  Input.Cores = In.U8();
  Input.Text = In.Bytes(CommandBufferSize);
  return Input;
}

std::vector<uint8_t> EncodeRewrite(const RewriteInput& Input) {
  std::vector<uint8_t> Out = {Input.Row, static_cast<uint8_t>(Input.VendorChoice % 4)};
  if (Input.VendorChoice % 4 == OtherVendorChoice) {
    Out.push_back(static_cast<uint8_t>(Input.OtherVendor));
    Out.push_back(static_cast<uint8_t>(Input.OtherVendor >> 8));
  }
  Out.insert(Out.end(),
             {static_cast<uint8_t>(Input.Device), static_cast<uint8_t>(Input.Device >> 8),
              Input.Flags, Input.Failures, Input.Cores});
  Out.insert(Out.end(), Input.Text.begin(),
             Input.Text.begin() + std::min(Input.Text.size(), CommandBufferSize));
  return Out;
}

std::array<uint8_t, CommandBufferSize> CommandBuffer(const RewriteInput& Input) {
  std::array<uint8_t, CommandBufferSize> Buffer{};
  std::copy_n(Input.Text.begin(), std::min(Input.Text.size(), CommandBufferSize), Buffer.begin());
  return Buffer;
}

} // namespace fuzz
