// A fuzz input as a description of a simulated blade and of how its BMC and firmware misbehave.
//
// The input is a run of sections, each a tag byte and its fields (little-endian); bytes past the
// end read as 0, and a byte that is no known tag is skipped. Decode reads what Encode writes, so
// that seeds are written from descriptions (make_seeds.cpp). A target for more of the blade adds
// tags of its own: it reads them in its own loop and passes the rest to DecodeSection.
//
//   'F' FRU device   id, slot (bits 0-2: header at 512 + 256 slot; bit 7: leave the checksum as
//                    given), u16 size (0: 65536), fill, u16 n, n bytes placed at the header offset.
//                    A header that starts with "$FIP" gets the checksum word that makes it valid.
//   'R' FRU bytes    id, u16 offset, n, n bytes (the BMC's contents at power-on, anywhere)
//   'V' variable     which (TalBladeData, SystemSetup, ServerSetup, CLPFailureFlag,
//                    ClpCommandFruIdList), present, attributes (0: documented), u16 size, u16 n,
//                    n bytes
//   'W' variable     which, u16 offset, n, n bytes patched into it
//   'P' platform     index (even: 29, odd: 30), steady answer, n, n answers given first, one per
//                    query (0xF0 and above: the query fails with a status)
//   'I' inputs       bits (0: adapter ready, 1: wait enable), adapter ready after (x 100 ms)
//   'C' processor    threads per core, cores per package, highest CPUID leaf
//   'M' protocols    bits of those missing (0: IPMI transport, 1: platform information,
//                    2: status code, 3: SMBIOS edit)
//   'A' pool         the nth allocation fails, status
//   'G' / 'S'        variable reads / writes fail: which, from the kth, times (0: all), status
//   'N' any access   the nth variable service call fails: n, kind (any, read, write), status
//   'B' BMC          u16 request number, behaviour, parameter, FRU id, u16 offset, value
//   'T' request cost x 100 us for every request
//   'K'              no completion signal
//
// Statuses are indexes into FuzzStatuses.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "uefi/types.h"

namespace fuzz {

// What the BMC does at one request of the boot ('B').
enum class BmcKind : uint8_t {
  BusyRun,           // parameter answers "busy" from this request on
  Completion,        // completion code = parameter (0: 0xC0)
  TransportError,    // no answer, status = FuzzStatuses[parameter]
  ShortAnswer,       // data bytes missing behind a true count
  LyingCount,        // the count byte says fewer bytes than delivered
  CountAboveRequest, // the count byte says more than asked for
  DifferentData,     // data not as stored
  LongerThanBuffer,  // one byte more than the response buffer holds
  WriteNotStored,    // a write acknowledged and not stored
  WriteBefore,       // the BMC writes value at offset of the FRU device just before this request
  TakesLock,         // the BMC takes the lock of the device's mailbox while the host holds it
  HandsTurnBack,     // the BMC holds the lock and hands the turn back when the host asks
  YieldsWhenAsked,   // the BMC holds the lock and lets go when the host asks
  HoldsLock,         // the BMC holds the lock for parameter x 100 ms
  Slow,              // this request takes parameter x 100 ms
  WriteAtTime,       // the BMC writes value at offset at parameter x 100 ms
  Count
};

struct FruSection {
  uint8_t Id = 1;
  uint8_t Slot = 0;
  bool KeepChecksum = false;
  uint32_t Size = 4096; // 1 to 65536
  uint8_t Fill = 0;
  std::vector<uint8_t> Bytes; // from the header offset on
};

// Bytes placed at an offset: of a FRU device ('R') or a variable ('W').
struct BytePatch {
  uint8_t Target; // the FRU id, or which variable
  uint16_t Offset;
  std::vector<uint8_t> Bytes;
};

struct VariableSection {
  uint8_t Which;
  bool Present = true;
  uint8_t Attributes = 0;
  uint16_t Size;
  std::vector<uint8_t> Bytes;
};

struct InfoSection {
  uint8_t Index; // 29 or 30
  uint8_t Steady = 0;
  std::vector<uint8_t> Queue;
};

struct VariableFailure {
  uint8_t Which;
  bool Write;
  uint8_t From;
  uint8_t Times;
  uint8_t Status;
};

struct AccessFailure {
  uint8_t Nth;
  uint8_t Kind; // 0 any, 1 read, 2 write
  uint8_t Status;
};

struct PoolFailure {
  uint8_t Nth;
  uint8_t Status;
};

struct BmcBehaviour {
  uint16_t Request;
  BmcKind Kind;
  uint8_t Parameter = 0;
  uint8_t Fru = 1;
  uint16_t Offset = 0;
  uint8_t Value = 0;
};

struct BladeInput {
  std::vector<FruSection> Frus;
  std::vector<BytePatch> FruPatches;
  std::vector<VariableSection> Variables;
  std::vector<BytePatch> VariablePatches;
  std::vector<InfoSection> Info;
  uint8_t Inputs = 1; // adapter ready
  uint8_t AdapterReadyAfter = 0;
  uint8_t ThreadsPerCore = 1, CoresPerPackage = 4, MaxCpuidLeaf = 0x0B;
  bool HasProcessor = false;
  uint8_t MissingProtocols = 0;
  std::vector<PoolFailure> PoolFailures;
  std::vector<VariableFailure> VariableFailures;
  std::vector<AccessFailure> AccessFailures;
  std::vector<BmcBehaviour> Bmc;
  uint8_t RequestCost = 0;
  bool CompletionSignal = true;
};

// The statuses a fuzz input can make a service fail with: errors, and a warning that is not one.
extern const EFI_STATUS FuzzStatuses[16];

// Reads the fuzz input from the front; past its end every read gives zeros.
class ByteReader {
public:
  ByteReader(const uint8_t* Data, size_t Size) : Data_(Data), Size_(Size) {}
  bool AtEnd() const { return Position_ >= Size_; }
  uint8_t U8() { return Position_ < Size_ ? Data_[Position_++] : 0; }
  uint16_t U16() {
    const uint8_t Low = U8();
    return static_cast<uint16_t>(Low | (U8() << 8));
  }
  // Count bytes, fewer when the input ends first.
  std::vector<uint8_t> Bytes(size_t Count);

private:
  const uint8_t* Data_;
  size_t Size_;
  size_t Position_ = 0;
};

// Appends Value little-endian, as ByteReader::U16 reads it.
void PutU16(std::vector<uint8_t>& Out, uint16_t Value);

// A PCI vendor as an input picks it: a byte (0 0x8086, 1 0x14E4, 2 0x10DF, 3 any other), and for
// any other the u16 that follows.
struct VendorPick {
  static constexpr uint8_t Pick8086 = 0, Pick14E4 = 1, Pick10DF = 2, PickOther = 3;
  uint8_t Choice = Pick8086;
  uint16_t Other = 0;

  uint16_t Id() const;
};
VendorPick ReadVendor(ByteReader& In);
void PutVendor(std::vector<uint8_t>& Out, const VendorPick& Vendor);

// Reads the fields of one section whose tag was just read; false when Tag is not a tag of these.
bool DecodeSection(uint8_t Tag, ByteReader& In, BladeInput& Input);
BladeInput Decode(const uint8_t* Data, size_t Size);
void EncodeSections(const BladeInput& Input, std::vector<uint8_t>& Out);
std::vector<uint8_t> Encode(const BladeInput& Input);

// The header offset of a FRU section's mailbox.
uint16_t HeaderOffset(const FruSection& Fru);

} // namespace fuzz
