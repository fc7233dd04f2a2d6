// Seeds of the rewrite target: each vendor's port forms and keywords, the platform settings before
// and after the wait, texts at the edges of the buffer.
#include <string>

#include "fuzz/rewrite_input.h"
#include "fuzz/seeds.h"

namespace fuzz {

namespace {

constexpr uint8_t Vendor8086 = VendorPick::Pick8086, Vendor14E4 = VendorPick::Pick14E4,
                  Vendor10DF = VendorPick::Pick10DF, OtherVendor = VendorPick::PickOther;
constexpr uint8_t AfterWait = 0x40;

Seed Rewrite(const std::string& Name, uint8_t Row, uint8_t Vendor, uint16_t Device,
             const std::string& Text, uint8_t Flags = 0, uint8_t Failures = 0) {
  RewriteInput In;
  In.Row = Row;
  In.Vendor = {Vendor, 0x1077};
  In.Device = Device;
  In.Flags = Flags;
  In.Failures = Failures;
  In.Text.assign(Text.begin(), Text.end());
  return {Name, EncodeRewrite(In)};
}

} // namespace

std::vector<Seed> RewriteSeeds() {
  return {
      Rewrite("8086-port1", 0, Vendor8086, 0x10FB, "SET NETPORT1 OEMTAL_BOOTENABLE=ENABLE"),
      Rewrite("8086-short-value", 1, Vendor8086, 0x10FB, "SET N2 OEMQX_BOOTENABLE=enable"),
      Rewrite("8086-third-port", 8, Vendor8086, 0x10FB,
              "SET NETPORT3 OEMTAL_INITIATORADDRESSORIGIN=3"),
      Rewrite("8086-default", 0, Vendor8086, 0x10FB, "SET NETPORT1 DEFAULT"),
      Rewrite("8086-grows", 0, Vendor8086, 0x10FB,
              "SET NETPORT1 OEMQX_TARGETIP=" + std::string(200, '1')),
      Rewrite("14e4-sf-reset", 4, Vendor14E4, 0x16AE, "SET NETPORT3 OEMTAL_MULTIFUNCTIONMODE=SF"),
      Rewrite("14e4-npar", 0, Vendor14E4, 0x168E, "SET NETPORT1 OEMTAL_MULTIFUNCTIONMODE=NPAR"),
      Rewrite("10df-short", 2, Vendor10DF, 0xE200, "SET N1 X=Y"),
      Rewrite("other-vendor", 12, OtherVendor, 0x2532, "SET N8 X=Y"),
      Rewrite("short-form-too-long", 0, Vendor10DF, 0, "SET N1 " + std::string(243, 'x')),
      Rewrite("unterminated", 0, Vendor14E4, 0x16AE,
              "SET NETPORT1 OEMTAL" + std::string(256 - 19, 'A')),
      Rewrite("row-past-table", 24, Vendor8086, 0x10FB, "SET NETPORT1 OEMQX_LUN=1"),
      Rewrite("serial-before-wait", 0, Vendor8086, 0x10FB, "SET B1 OEMTAL_SERIAL=ABC123"),
      Rewrite("serial-after-wait", 0, Vendor8086, 0x10FB, "SET B1 OEMTAL_SERIAL=ABC123", AfterWait),
      Rewrite("uuid-after-wait", 0, Vendor8086, 0x10FB,
              "SET B1 OEMTAL_UUID=00112233445566778899AABBCCDDEEFF", AfterWait),
      Rewrite("uuid-message-fails", 0, Vendor8086, 0x10FB,
              "SET B1 OEMTAL_UUID=00112233445566778899AABBCCDDEEFF", AfterWait, 16),
      Rewrite("cores-reset", 0, Vendor8086, 0x10FB, "SET BOOTCFGSETTING1 OEMTAL_ACTIVECORE=2",
              AfterWait),
      Rewrite("cores-write-fails", 0, Vendor8086, 0x10FB, "SET B1 OEMTAL_ACTIVECORE=ALL",
              AfterWait | 0x02, 4),
      Rewrite("bad-keyword", 0, Vendor8086, 0x10FB, "SET BOOTCFGSETTING1 OEMTAL_BOGUS=1",
              AfterWait),
  };
}

} // namespace fuzz
