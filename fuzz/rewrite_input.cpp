#include "fuzz/rewrite_input.h"

#include <algorithm>

#include "fuzz/blade_input.h"

namespace fuzz {

UINT32 RewriteInput::VendorDevice() const {
  return (UINT32{Device} << 16) | Vendor.Id();
}

RewriteInput DecodeRewrite(const uint8_t* Data, size_t Size) {
  ByteReader In(Data, Size);
  RewriteInput Input;
  Input.Row = In.U8();
  Input.Vendor = ReadVendor(In);
  Input.Device = In.U16();
  Input.Flags = In.U8();
  Input.Failures = In.U8();
  Input.Cores = In.U8();
  Input.Text = In.Bytes(CommandBufferSize);
  return Input;
}

std::vector<uint8_t> EncodeRewrite(const RewriteInput& Input) {
  std::vector<uint8_t> Out = {Input.Row};
  PutVendor(Out, Input.Vendor);
  PutU16(Out, Input.Device);
  Out.insert(Out.end(), {Input.Flags, Input.Failures, Input.Cores});
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
