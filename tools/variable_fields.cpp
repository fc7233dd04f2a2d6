#include "tools/variable_fields.h"

#include <algorithm>

#include "platform/keyword_actions.h"
#include "tools/json_view.h"

namespace tools {

namespace {

using K = FieldKind;

// The device bits of DeviceEnableMask and DeviceDisableMask.
const std::vector<FieldBits> DeviceBits = {{"LOM1", Device::Lom1},   {"LOM2", Device::Lom2},
                                           {"MEZ1", Device::Mez1},   {"MEZ2", Device::Mez2},
                                           {"MEZ2B", Device::Mez2B}, {"LOM3", Device::Lom3},
                                           {"LOM4", Device::Lom4},   {"MEZ3", Device::Mez3},
                                           {"MEZ4", Device::Mez4},   {"MEZ4B", Device::Mez4B}};

const std::vector<FieldBits> NetBootBits = {{"FcPermAddr11", NetBootFlag::FcPermAddr11},
                                            {"FcPermAddr12", NetBootFlag::FcPermAddr12},
                                            {"FcPermAddr21", NetBootFlag::FcPermAddr21},
                                            {"FcPermAddr22", NetBootFlag::FcPermAddr22},
                                            {"PxePermAddr", NetBootFlag::PxePermAddr}};

std::vector<VariableField> TalBladeDataFields() {
  namespace F = TalBladeField;
  return {{"UuidValid", F::UuidValid, 1, K::Number, {}},
          {"SerialValid", F::SerialValid, 1, K::Number, {}},
          {"AdapterReadyWait", F::AdapterReadyWait, 1, K::Number, {}},
          {"Ipl1Device", F::Ipl1Device, 1, K::Number, {}},
          {"Uuid", F::Uuid, 16, K::Bytes, {}},
          {"Serial", F::Serial, 130, K::Text16, {}},
          {"DeviceEnableMask", F::DeviceEnableMask, 4, K::Number, DeviceBits},
          {"DeviceDisableMask", F::DeviceDisableMask, 4, K::Number, DeviceBits},
          {"NetBootFlags", F::NetBootFlags, 2, K::Number, NetBootBits},
          {"PendingMask14E4", F::PendingMask14E4, 4, K::Number, {}},
          {"NparRestoreMask", F::NparRestoreMask, 4, K::Number, {}},
          {"DeferredReset", F::DeferredReset, 1, K::Number, {}},
          {"PendingMask8086", F::PendingMask8086, 4, K::Number, {}},
          {"FcoeValue", F::FcoeValue, 4, K::Number, {}},
          {"PendingMask10DF", F::PendingMask10DF, 4, K::Number, {}},
          {"ClpFailurePause", F::ClpFailurePause, 1, K::Number, {}}};
}

std::vector<VariableField> SystemSetupFields() {
  namespace F = SystemSetupField;
  std::vector<VariableField> Fields = {{"ActiveCore4", F::ActiveCore4, 1, K::Number, {}},
                                       {"ActiveCore2", F::ActiveCore2, 1, K::Number, {}},
                                       {"ActiveCore6", F::ActiveCore6, 1, K::Number, {}},
                                       {"ActiveCoreOther", F::ActiveCoreOther, 1, K::Number, {}},
                                       {"Numa", F::Numa, 1, K::Number, {}},
                                       {"SasMode", F::SasMode, 1, K::Number, {}},
                                       {"AcLinkCache", F::AcLinkCache, 1, K::Number, {}},
                                       {"SwRaid", F::SwRaid, 1, K::Number, {}},
                                       {"ConRedirectAux1", F::ConRedirectAux1, 1, K::Number, {}},
                                       {"ConRedirectAux2", F::ConRedirectAux2, 1, K::Number, {}},
                                       {"ConRedirect", F::ConRedirect, 1, K::Number, {}},
                                       {"Sio1Dac", F::Sio1Dac, 1, K::Number, {}}};
  const char* Iov[] = {"Iov1Bus1", "Iov1Bus2", "Iov1Bus3", "Iov1Bus4",
                       "Iov2Bus1", "Iov2Bus2", "Iov2Bus3", "Iov2Bus4"};
  for (size_t I = 0; I < 8; ++I) {
    Fields.push_back({Iov[I], F::Iov1Bus1 + I, 1, K::Number, {}});
  }
  return Fields;
}

std::string Quoted(const std::vector<uint8_t>& Data, const VariableField& F) {
  std::string Text = "\"";
  for (size_t I = 0; I + 1 < F.Size; I += 2) {
    const uint16_t Unit = static_cast<uint16_t>(Data[F.Offset + I] | (Data[F.Offset + I + 1] << 8));
    if (Unit == 0) {
      break;
    }
    if (Unit >= 0x20 && Unit < 0x7F) {
      Text += static_cast<char>(Unit);
    } else {
      Text += "\\u" + HexNumber(Unit, 4).substr(2);
    }
  }
  return Text + "\"";
}

// The low nibble of NetBootFlags is a value, not bits.
std::string StorageBootMode(uint32_t Flags) {
  switch (Flags & NetBootFlag::StorageBootMode) {
  case 0x9:
    return "iSCSI enabled";
  case 0xA:
    return "iSCSI disabled";
  case 0xE:
    return "FCoE";
  }
  return "";
}

std::string BitNames(uint32_t Value, const std::vector<FieldBits>& Bits) {
  std::string Names;
  for (const FieldBits& B : Bits) {
    if ((Value & B.Mask) != 0) {
      Names += (Names.empty() ? "" : " ") + std::string(B.Name);
    }
  }
  return Names;
}

void DescribeByteRuns(const std::string& Label, const std::vector<uint8_t>& Old,
                      const std::vector<uint8_t>& New, const std::vector<bool>& Named,
                      std::vector<FieldChange>& Out) {
  const size_t Size = std::max(Old.size(), New.size());
  auto Differs = [&](size_t I) {
    return I >= Old.size() || I >= New.size() || (Old[I] != New[I] && !Named[I]);
  };
  for (size_t I = 0; I < Size;) {
    if (!Differs(I)) {
      ++I;
      continue;
    }
    size_t End = I;
    while (End < Size && Differs(End)) {
      ++End;
    }
    auto Slice = [&](const std::vector<uint8_t>& D) {
      return I >= D.size() ? std::string("-")
                           : HexBytesText({D.begin() + I, D.begin() + std::min(End, D.size())});
    };
    Out.push_back({Label, "bytes " + std::to_string(I) + ".." + std::to_string(End - 1), Slice(Old),
                   Slice(New)});
    I = End;
  }
}

} // namespace

const std::vector<KnownVariable>& KnownVariables() {
  static const std::vector<KnownVariable> Known = {
      {"TalBladeData", &TalBladeData, TalBladeDataFields()},
      {"SystemSetup", &SystemSetup, SystemSetupFields()},
      {"ServerSetup", &ServerSetup, {{"AcLink", ServerSetupField::AcLink, 1, K::Number, {}}}},
      {"CLPFailureFlag", &CLPFailureFlag, {{"Reported", 0, 1, K::Number, {}}}},
      {"ClpCommandFruIdList", &ClpCommandFruIdList, {{"FruIds", 0, 6, K::ByteList, {}}}},
  };
  return Known;
}

const KnownVariable* FindVariable(const std::string& Label) {
  for (const KnownVariable& V : KnownVariables()) {
    if (Label == V.Label) {
      return &V;
    }
  }
  return nullptr;
}

const VariableField* FindField(const KnownVariable& Var, const std::string& Name) {
  for (const VariableField& F : Var.Fields) {
    if (Name == F.Name) {
      return &F;
    }
  }
  return nullptr;
}

uint32_t ReadNumber(const std::vector<uint8_t>& Data, size_t Offset, size_t Size) {
  uint32_t Value = 0;
  for (size_t I = Size; I-- > 0;) {
    Value = (Value << 8) | Data[Offset + I];
  }
  return Value;
}

void WriteNumber(std::vector<uint8_t>& Data, size_t Offset, size_t Size, uint32_t Value) {
  for (size_t I = 0; I < Size; ++I) {
    Data[Offset + I] = static_cast<uint8_t>(Value >> (8 * I));
  }
}

std::string FormatField(const VariableField& F, const std::vector<uint8_t>& Data) {
  if (F.Offset + F.Size > Data.size()) {
    return "-";
  }
  switch (F.Kind) {
  case K::Number: {
    const uint32_t Value = ReadNumber(Data, F.Offset, F.Size);
    if (F.Size == 1) {
      return std::to_string(Value);
    }
    std::string Names = BitNames(Value, F.Bits);
    if (F.Offset == TalBladeField::NetBootFlags && F.Size == 2) {
      Names = StorageBootMode(Value) + (Names.empty() ? "" : " ") + Names;
    }
    return HexNumber(Value, static_cast<int>(F.Size * 2)) +
           (Names.empty() ? "" : " (" + Names + ")");
  }
  case K::Bytes:
    return HexBytesText({Data.begin() + F.Offset, Data.begin() + F.Offset + F.Size});
  case K::Text16:
    return Quoted(Data, F);
  case K::ByteList: {
    std::string Text = "[";
    for (size_t I = 0; I < F.Size; ++I) {
      Text += (I == 0 ? "" : ", ") + std::to_string(Data[F.Offset + I]);
    }
    return Text + "]";
  }
  }
  return "?";
}

VariableSnapshot TakeSnapshot(const sim::VariableStore& Store) {
  VariableSnapshot Snapshot;
  for (const KnownVariable& K2 : KnownVariables()) {
    Snapshot.Entries.push_back({&K2, Store.Value(K2.Var->Name, K2.Var->Guid)});
  }
  return Snapshot;
}

std::vector<FieldChange> CompareSnapshots(const VariableSnapshot& Before,
                                          const VariableSnapshot& After) {
  std::vector<FieldChange> Out;
  for (size_t I = 0; I < Before.Entries.size() && I < After.Entries.size(); ++I) {
    const KnownVariable& Var = *Before.Entries[I].Var;
    const auto& Old = Before.Entries[I].Data;
    const auto& New = After.Entries[I].Data;
    if (!Old && !New) {
      continue;
    }
    if (!Old || !New) {
      // A variable that appeared or went away: its fields on the side where it exists.
      const std::vector<uint8_t>& Present = Old ? *Old : *New;
      const std::string Size =
          std::to_string(Present.size()) + (Present.size() == 1 ? " byte" : " bytes");
      Out.push_back({Var.Label, "", Old ? Size : "absent", New ? Size : "absent"});
      for (const VariableField& F : Var.Fields) {
        const std::string Value = FormatField(F, Present);
        Out.push_back({Var.Label, F.Name, Old ? Value : "absent", New ? Value : "absent"});
      }
      continue;
    }
    std::vector<bool> Named(std::max(Old->size(), New->size()), false);
    for (const VariableField& F : Var.Fields) {
      for (size_t B = F.Offset; B < F.Offset + F.Size && B < Named.size(); ++B) {
        Named[B] = true;
      }
      const std::string A = FormatField(F, *Old);
      const std::string Z = FormatField(F, *New);
      if (A != Z) {
        Out.push_back({Var.Label, F.Name, A, Z});
      }
    }
    DescribeByteRuns(Var.Label, *Old, *New, Named, Out);
  }
  return Out;
}

} // namespace tools
