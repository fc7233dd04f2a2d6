#include "fuzz/blade_input.h"

#include <algorithm>

namespace fuzz {

const EFI_STATUS FuzzStatuses[16] = {
    EFI_DEVICE_ERROR,
    EFI_TIMEOUT,
    EFI_NOT_READY,
    EFI_NOT_FOUND,
    EFI_OUT_OF_RESOURCES,
    EFI_BUFFER_TOO_SMALL,
    EFI_INVALID_PARAMETER,
    EFI_UNSUPPORTED,
    EFI_ABORTED,
    EFI_NO_RESPONSE,
    EFI_PROTOCOL_ERROR,
    EFI_ACCESS_DENIED,
    EFI_WRITE_PROTECTED,
    EFI_LOAD_ERROR,
    0x8000000000000063ull, // an error no standard names
    1,                     // a warning: not an error, whatever else comes with it
};

namespace {

constexpr size_t MaxFruBytes = 0x10000;
constexpr size_t MaxVariableSize = 0x3FF;

void PutBytes16(std::vector<uint8_t>& Out, const std::vector<uint8_t>& Bytes) {
  PutU16(Out, static_cast<uint16_t>(Bytes.size()));
  Out.insert(Out.end(), Bytes.begin(), Bytes.end());
}

void PutBytes8(std::vector<uint8_t>& Out, const std::vector<uint8_t>& Bytes) {
  const size_t Count = std::min<size_t>(Bytes.size(), 0xFF);
  Out.push_back(static_cast<uint8_t>(Count));
  Out.insert(Out.end(), Bytes.begin(), Bytes.begin() + Count);
}

void PutPatch(std::vector<uint8_t>& Out, uint8_t Tag, const BytePatch& P) {
  Out.insert(Out.end(), {Tag, P.Target});
  PutU16(Out, P.Offset);
  PutBytes8(Out, P.Bytes);
}

BytePatch ReadPatch(ByteReader& In) {
  BytePatch P{In.U8(), In.U16(), {}};
  P.Bytes = In.Bytes(In.U8());
  return P;
}

} // namespace

std::vector<uint8_t> ByteReader::Bytes(size_t Count) {
  const size_t Available = std::min(Count, Size_ - std::min(Position_, Size_));
  std::vector<uint8_t> Out(Data_ + Position_, Data_ + Position_ + Available);
  Position_ += Available;
  return Out;
}

void PutU16(std::vector<uint8_t>& Out, uint16_t Value) {
  Out.push_back(static_cast<uint8_t>(Value));
  Out.push_back(static_cast<uint8_t>(Value >> 8));
}

uint16_t VendorPick::Id() const {
  constexpr uint16_t Vendors[] = {0x8086, 0x14E4, 0x10DF};
  return Choice % 4 == PickOther ? Other : Vendors[Choice % 4];
}

VendorPick ReadVendor(ByteReader& In) {
  VendorPick V;
  V.Choice = In.U8() % 4;
  if (V.Choice == VendorPick::PickOther) {
    V.Other = In.U16();
  }
  return V;
}

void PutVendor(std::vector<uint8_t>& Out, const VendorPick& Vendor) {
  Out.push_back(static_cast<uint8_t>(Vendor.Choice % 4));
  if (Vendor.Choice % 4 == VendorPick::PickOther) {
    PutU16(Out, Vendor.Other);
  }
}

uint16_t HeaderOffset(const FruSection& Fru) {
  return static_cast<uint16_t>(512 + 256 * (Fru.Slot & 7));
}

bool DecodeSection(uint8_t Tag, ByteReader& In, BladeInput& Input) {
  switch (Tag) {
  case 'F': {
    FruSection F;
    F.Id = In.U8();
    const uint8_t Slot = In.U8();
    F.Slot = Slot & 7;
    F.KeepChecksum = (Slot & 0x80) != 0;
    F.Size = In.U16();
    if (F.Size == 0) {
      F.Size = MaxFruBytes;
    }
    F.Fill = In.U8();
    F.Bytes = In.Bytes(In.U16());
    Input.Frus.push_back(std::move(F));
    return true;
  }
  case 'R':
    Input.FruPatches.push_back(ReadPatch(In));
    return true;
  case 'V': {
    VariableSection V;
    V.Which = In.U8();
    V.Present = In.U8() != 0;
    V.Attributes = In.U8();
    V.Size = static_cast<uint16_t>(std::min<size_t>(In.U16(), MaxVariableSize));
    V.Bytes = In.Bytes(In.U16());
    Input.Variables.push_back(std::move(V));
    return true;
  }
  case 'W':
    Input.VariablePatches.push_back(ReadPatch(In));
    return true;
  case 'P': {
    InfoSection I;
    I.Index = (In.U8() & 1) != 0 ? 30 : 29;
    I.Steady = In.U8();
    I.Queue = In.Bytes(In.U8());
    Input.Info.push_back(std::move(I));
    return true;
  }
  case 'I':
    Input.Inputs = In.U8();
    Input.AdapterReadyAfter = In.U8();
    return true;
  case 'C':
    Input.HasProcessor = true;
    Input.ThreadsPerCore = In.U8();
    Input.CoresPerPackage = In.U8();
    Input.MaxCpuidLeaf = In.U8();
    return true;
  case 'M':
    Input.MissingProtocols = In.U8();
    return true;
  case 'A':
    Input.PoolFailures.push_back(PoolFailure{In.U8(), In.U8()});
    return true;
  case 'G':
  case 'S': {
    VariableFailure F{In.U8(), Tag == 'S', 0, 0, 0};
    F.From = In.U8();
    F.Times = In.U8();
    F.Status = In.U8();
    Input.VariableFailures.push_back(F);
    return true;
  }
  case 'N': {
    AccessFailure F{In.U8(), 0, 0};
    F.Kind = In.U8();
    F.Status = In.U8();
    Input.AccessFailures.push_back(F);
    return true;
  }
  case 'B': {
    BmcBehaviour B;
    B.Request = In.U16();
    B.Kind = static_cast<BmcKind>(In.U8() % static_cast<uint8_t>(BmcKind::Count));
    B.Parameter = In.U8();
    B.Fru = In.U8();
    B.Offset = In.U16();
    B.Value = In.U8();
    Input.Bmc.push_back(B);
    return true;
  }
  case 'T':
    Input.RequestCost = In.U8();
    return true;
  case 'K':
    Input.CompletionSignal = false;
    return true;
  default:
    return false;
  }
}

BladeInput Decode(const uint8_t* Data, size_t Size) {
  BladeInput Input;
  ByteReader In(Data, Size);
  while (!In.AtEnd()) {
    DecodeSection(In.U8(), In, Input); // anything else is skipped a byte at a time
  }
  return Input;
}

void EncodeSections(const BladeInput& Input, std::vector<uint8_t>& Out) {
  for (const FruSection& F : Input.Frus) {
    Out.insert(Out.end(), {'F', F.Id, static_cast<uint8_t>(F.Slot | (F.KeepChecksum ? 0x80 : 0))});
    PutU16(Out, static_cast<uint16_t>(F.Size)); // 65536 goes as 0
    Out.push_back(F.Fill);
    PutBytes16(Out,
               std::vector<uint8_t>(F.Bytes.begin(),
                                    F.Bytes.begin() + std::min(F.Bytes.size(), MaxFruBytes - 1)));
  }
  for (const BytePatch& P : Input.FruPatches) {
    PutPatch(Out, 'R', P);
  }
  for (const VariableSection& V : Input.Variables) {
    Out.insert(Out.end(), {'V', V.Which, static_cast<uint8_t>(V.Present), V.Attributes});
    PutU16(Out, V.Size);
    PutBytes16(Out, V.Bytes);
  }
  for (const BytePatch& P : Input.VariablePatches) {
    PutPatch(Out, 'W', P);
  }
  for (const InfoSection& I : Input.Info) {
    Out.insert(Out.end(), {'P', static_cast<uint8_t>(I.Index == 30 ? 1 : 0), I.Steady});
    PutBytes8(Out, I.Queue);
  }
  if (Input.Inputs != 1 || Input.AdapterReadyAfter != 0) {
    Out.insert(Out.end(), {'I', Input.Inputs, Input.AdapterReadyAfter});
  }
  if (Input.HasProcessor) {
    Out.insert(Out.end(), {'C', Input.ThreadsPerCore, Input.CoresPerPackage, Input.MaxCpuidLeaf});
  }
  if (Input.MissingProtocols != 0) {
    Out.insert(Out.end(), {'M', Input.MissingProtocols});
  }
  for (const PoolFailure& F : Input.PoolFailures) {
    Out.insert(Out.end(), {'A', F.Nth, F.Status});
  }
  for (const VariableFailure& F : Input.VariableFailures) {
    Out.insert(Out.end(),
               {static_cast<uint8_t>(F.Write ? 'S' : 'G'), F.Which, F.From, F.Times, F.Status});
  }
  for (const AccessFailure& F : Input.AccessFailures) {
    Out.insert(Out.end(), {'N', F.Nth, F.Kind, F.Status});
  }
  for (const BmcBehaviour& B : Input.Bmc) {
    Out.push_back('B');
    PutU16(Out, B.Request);
    Out.insert(Out.end(), {static_cast<uint8_t>(B.Kind), B.Parameter, B.Fru});
    PutU16(Out, B.Offset);
    Out.push_back(B.Value);
  }
  if (Input.RequestCost != 0) {
    Out.insert(Out.end(), {'T', Input.RequestCost});
  }
  if (!Input.CompletionSignal) {
    Out.push_back('K');
  }
}

std::vector<uint8_t> Encode(const BladeInput& Input) {
  std::vector<uint8_t> Out;
  EncodeSections(Input, Out);
  return Out;
}

} // namespace fuzz
