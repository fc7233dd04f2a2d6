#include "fuzz/adapter_input.h"

namespace fuzz {

const sim::PciAddress BridgePositions[8] = {
    {0x00, 0x02, 2}, {0x00, 0x02, 0}, {0x00, 0x03, 0}, {0x00, 0x03, 1},
    {0x41, 0x06, 0}, {0x41, 0x01, 0}, {0x41, 0x08, 0}, {0x41, 0x09, 0},
};

namespace {

sim::PciAddress ReadAddress(ByteReader& In) {
  const uint8_t Bus = In.U8();
  const uint8_t Device = In.U8() & 0x1F;
  return {Bus, Device, static_cast<uint8_t>(In.U8() & 7)};
}

void PutAddress(std::vector<uint8_t>& Out, sim::PciAddress A) {
  Out.insert(Out.end(), {A.Bus, A.Device, A.Function});
}

bool DecodeAdapterSection(uint8_t Tag, ByteReader& In, AdapterInput& Input) {
  switch (Tag) {
  case 'X': {
    BridgeSection B;
    B.Position = In.U8();
    if (B.Position >= 8) {
      B.Other = ReadAddress(In);
    }
    B.SecondaryBus = In.U8();
    Input.Bridges.push_back(B);
    return true;
  }
  case 'D': {
    DeviceSection D;
    D.Bridge = In.U8();
    D.Device = In.U8() & 0x1F;
    D.Vendor = ReadVendor(In);
    D.DeviceId = In.U16();
    D.Functions = static_cast<uint8_t>(1 + In.U8() % 8);
    Input.Devices.push_back(D);
    return true;
  }
  case 'E': {
    ExecuteAnswer A;
    A.Driver = In.U8() % AdapterDriverCount;
    A.Call = In.U8();
    A.StatusWord = In.U16();
    A.Status = In.U8();
    Input.Answers.push_back(A);
    return true;
  }
  case 'L':
    Input.Levels.push_back(LevelChange{In.U8(), In.U8()});
    return true;
  case 'Q': {
    const uint8_t Bits = In.U8();
    Input.Mp.Present = (Bits & 1) == 0;
    Input.Mp.StartupFails = (Bits & 2) != 0;
    Input.Mp.Processors = In.U8();
    Input.Mp.Status = In.U8();
    Input.Mp.ClockModulation = In.U8();
    return true;
  }
  case 'Y': {
    StartSection S;
    S.Driver = In.U8() % AdapterDriverCount;
    S.On = ReadAddress(In);
    S.At = In.U8();
    Input.Starts.push_back(S);
    return true;
  }
  default:
    return false;
  }
}

} // namespace

sim::PciAddress BridgeSection::At() const {
  return Position < 8 ? BridgePositions[Position] : Other;
}

AdapterInput DecodeAdapter(const uint8_t* Data, size_t Size) {
  AdapterInput Input;
  ByteReader In(Data, Size);
  while (!In.AtEnd()) {
    const uint8_t Tag = In.U8();
    if (!DecodeAdapterSection(Tag, In, Input)) {
      DecodeSection(Tag, In, Input.Blade); // anything else is skipped a byte at a time
    }
  }
  return Input;
}

std::vector<uint8_t> EncodeAdapter(const AdapterInput& Input) {
  std::vector<uint8_t> Out;
  EncodeSections(Input.Blade, Out);
  for (const BridgeSection& B : Input.Bridges) {
    Out.insert(Out.end(), {'X', B.Position});
    if (B.Position >= 8) {
      PutAddress(Out, B.Other);
    }
    Out.push_back(B.SecondaryBus);
  }
  for (const DeviceSection& D : Input.Devices) {
    Out.insert(Out.end(), {'D', D.Bridge, D.Device});
    PutVendor(Out, D.Vendor);
    PutU16(Out, D.DeviceId);
    Out.push_back(static_cast<uint8_t>(D.Functions - 1));
  }
  for (const ExecuteAnswer& A : Input.Answers) {
    Out.insert(Out.end(), {'E', A.Driver, A.Call});
    PutU16(Out, A.StatusWord);
    Out.push_back(A.Status);
  }
  for (const LevelChange& L : Input.Levels) {
    Out.insert(Out.end(), {'L', L.Input, L.At});
  }
  const MpSection& Mp = Input.Mp;
  Out.insert(Out.end(),
             {'Q', static_cast<uint8_t>((Mp.Present ? 0 : 1) | (Mp.StartupFails ? 2 : 0)),
              Mp.Processors, Mp.Status, Mp.ClockModulation});
  for (const StartSection& S : Input.Starts) {
    Out.insert(Out.end(), {'Y', S.Driver});
    PutAddress(Out, S.On);
    Out.push_back(S.At);
  }
  return Out;
}

} // namespace fuzz
