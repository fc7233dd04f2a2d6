// Checks the built BladeCfgDxe.efi the way a firmware loader and an image signer look at it: a
// PE32+ x86-64 boot-service driver whose entry lies in code, with no imports (firmware resolves
// nothing), relocatable, and with memory protections that signing requires. The image comes from
// the image preset; these checks read its headers with a small reader of their own.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/image_build.h"

namespace {

constexpr uint16_t MachineX64 = 0x8664;
constexpr uint16_t MagicPe32Plus = 0x20B;
constexpr uint16_t SubsystemBootServiceDriver = 11;
constexpr uint32_t PageSize = 4096;

constexpr uint16_t FileRelocsStripped = 0x0001;
constexpr uint16_t DllDynamicBase = 0x0040;
constexpr uint16_t DllNxCompat = 0x0100;

constexpr uint32_t SectionExecute = 0x20000000;
constexpr uint32_t SectionWrite = 0x80000000;

constexpr uint16_t RelocAbsolute = 0; // padding that keeps blocks 4-byte aligned
constexpr uint16_t RelocDir64 = 10;

enum DataDirectoryIndex : uint32_t {
  ImportDirectory = 1,
  BaseRelocationDirectory = 5,
  TlsDirectory = 9,
  BoundImportDirectory = 11,
  DelayImportDirectory = 13,
};

struct DataDirectory {
  uint32_t Rva = 0;
  uint32_t Size = 0;
};

struct Section {
  std::string Name;
  uint32_t VirtualSize = 0;
  uint32_t VirtualAddress = 0;
  uint32_t RawSize = 0;
  uint32_t RawOffset = 0;
  uint32_t Characteristics = 0;
};

// The header fields these checks need, read with bounds checks so that a damaged image fails a
// check instead of crashing the test.
class PeImage {
public:
  explicit PeImage(std::vector<uint8_t> Bytes) : Bytes_(std::move(Bytes)) {}

  // Empty when the headers are readable; otherwise what is wrong with them.
  std::string Parse() {
    uint16_t DosMagic = 0;
    uint32_t PeOffset = 0;
    if (!Read(0, DosMagic) || DosMagic != 0x5A4D) {
      return "no MZ signature at offset 0";
    }
    uint32_t Signature = 0;
    if (!Read(0x3C, PeOffset) || !Read(PeOffset, Signature) || Signature != 0x00004550) {
      return "no PE signature where e_lfanew points";
    }
    const size_t Coff = PeOffset + 4;
    uint16_t SectionCount = 0;
    uint16_t OptionalSize = 0;
    if (!Read(Coff, Machine) || !Read(Coff + 2, SectionCount) || !Read(Coff + 16, OptionalSize) ||
        !Read(Coff + 18, FileCharacteristics)) {
      return "COFF header truncated";
    }
    const size_t Optional = Coff + 20;
    uint32_t DirectoryCount = 0;
    if (!Read(Optional, Magic)) {
      return "optional header truncated";
    }
    if (Magic != MagicPe32Plus) {
      return "optional header is not PE32+";
    }
    if (!Read(Optional + 16, EntryPoint) || !Read(Optional + 24, ImageBase) ||
        !Read(Optional + 32, SectionAlignment) || !Read(Optional + 56, SizeOfImage) ||
        !Read(Optional + 68, Subsystem) || !Read(Optional + 70, DllCharacteristics) ||
        !Read(Optional + 108, DirectoryCount)) {
      return "optional header truncated";
    }
    for (uint32_t I = 0; I < DirectoryCount && I < 16; ++I) {
      DataDirectory Entry;
      if (!Read(Optional + 112 + 8 * I, Entry.Rva) || !Read(Optional + 116 + 8 * I, Entry.Size)) {
        return "data directories truncated";
      }
      Directories.push_back(Entry);
    }
    const size_t Table = Optional + OptionalSize;
    for (uint16_t I = 0; I < SectionCount; ++I) {
      const size_t At = Table + 40 * size_t{I};
      if (At + 40 > Bytes_.size()) {
        return "section table truncated";
      }
      Section S;
      const char* Name = reinterpret_cast<const char*>(&Bytes_[At]);
      S.Name.assign(Name, strnlen(Name, 8));
      Read(At + 8, S.VirtualSize);
      Read(At + 12, S.VirtualAddress);
      Read(At + 16, S.RawSize);
      Read(At + 20, S.RawOffset);
      Read(At + 36, S.Characteristics);
      Sections.push_back(S);
    }
    return {};
  }

  DataDirectory Directory(uint32_t Index) const {
    return Index < Directories.size() ? Directories[Index] : DataDirectory{};
  }

  // The section whose memory holds Rva.
  const Section* SectionAt(uint32_t Rva) const {
    for (const Section& S : Sections) {
      if (Rva >= S.VirtualAddress && Rva - S.VirtualAddress < S.VirtualSize) {
        return &S;
      }
    }
    return nullptr;
  }

  // The file offset of Rva, when Size bytes from it are stored in the file.
  std::optional<size_t> FileOffset(uint32_t Rva, uint32_t Size) const {
    const Section* S = SectionAt(Rva);
    if (S == nullptr || Rva - S->VirtualAddress + uint64_t{Size} > S->RawSize) {
      return std::nullopt;
    }
    return size_t{S->RawOffset} + (Rva - S->VirtualAddress);
  }

  template <typename T> bool Read(size_t Offset, T& Out) const {
    if (Offset > Bytes_.size() || Bytes_.size() - Offset < sizeof(T)) {
      return false;
    }
    Out = 0;
    for (size_t I = 0; I < sizeof(T); ++I) {
      Out |= static_cast<T>(static_cast<T>(Bytes_[Offset + I]) << (8 * I));
    }
    return true;
  }

  uint16_t Machine = 0;
  uint16_t FileCharacteristics = 0;
  uint16_t Magic = 0;
  uint32_t EntryPoint = 0;
  uint64_t ImageBase = 0;
  uint32_t SectionAlignment = 0;
  uint32_t SizeOfImage = 0;
  uint16_t Subsystem = 0;
  uint16_t DllCharacteristics = 0;
  std::vector<DataDirectory> Directories;
  std::vector<Section> Sections;

private:
  std::vector<uint8_t> Bytes_;
};

std::string ImagePath() {
  return BLADECFG_IMAGE_PATH;
}

class ImageHeader : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    std::ifstream File(ImagePath(), std::ios::binary);
    if (!File) {
      Missing = new std::string(ImagePath() + " not found: build the image preset first " +
                                "(cmake --workflow --preset image)");
      return;
    }
    Image = new PeImage(std::vector<uint8_t>(std::istreambuf_iterator<char>(File), {}));
    std::string Error = Image->Parse();
    if (!Error.empty()) {
      Problem = new std::string(ImagePath() + ": " + Error);
    }
  }

  static void TearDownTestSuite() {
    delete Image;
    delete Problem;
    delete Missing;
    Image = nullptr;
    Problem = nullptr;
    Missing = nullptr;
  }

  void SetUp() override {
    if (Missing != nullptr) {
      SKIP_WITHOUT_IMAGE(*Missing);
    }
    if (Problem != nullptr) {
      FAIL() << *Problem;
    }
  }

  static PeImage* Image;
  static std::string* Problem; // the image is there but unreadable
  static std::string* Missing; // there is no image
};

PeImage* ImageHeader::Image = nullptr;
std::string* ImageHeader::Problem = nullptr;
std::string* ImageHeader::Missing = nullptr;

TEST_F(ImageHeader, IsAPe32PlusX64BootServiceDriverWithPageSizedSections) {
  // Parse() has already required MZ, PE and the PE32+ magic.
  EXPECT_EQ(Image->Machine, MachineX64);
  EXPECT_EQ(Image->Subsystem, SubsystemBootServiceDriver)
      << "10 would be an application, which firmware unloads when its entry returns";
  EXPECT_EQ(Image->SectionAlignment, PageSize);
  EXPECT_EQ(Image->SizeOfImage % PageSize, 0u);
  ASSERT_FALSE(Image->Sections.empty());
  for (const Section& S : Image->Sections) {
    EXPECT_EQ(S.VirtualAddress % PageSize, 0u)
        << S.Name << " shares a page with its neighbour, so the page cannot be protected";
  }
}

TEST_F(ImageHeader, EntryPointLiesInExecutableCode) {
  ASSERT_NE(Image->EntryPoint, 0u);
  const Section* S = Image->SectionAt(Image->EntryPoint);
  ASSERT_NE(S, nullptr) << "entry RVA 0x" << std::hex << Image->EntryPoint
                        << " is outside every section";
  EXPECT_NE(S->Characteristics & SectionExecute, 0u)
      << "entry RVA lies in " << S->Name << ", which is not executable";
}

// The linker's map file (written beside the image) is the only place that still names symbols.
TEST_F(ImageHeader, EntryPointIsDriverEntry) {
  std::string MapPath = ImagePath();
  MapPath.replace(MapPath.size() - 4, 4, ".map");
  std::ifstream Map(MapPath);
  ASSERT_TRUE(Map) << MapPath << " not found: the image build writes it beside the image";
  std::optional<uint64_t> Address;
  for (std::string Line; std::getline(Map, Line) && !Address;) {
    std::istringstream Fields(Line);
    std::string SectionOffset, Symbol, Va;
    if (Fields >> SectionOffset >> Symbol >> Va && Symbol == "DriverEntry") {
      Address = std::stoull(Va, nullptr, 16);
    }
  }
  ASSERT_TRUE(Address.has_value()) << "DriverEntry is not in " << MapPath;
  EXPECT_EQ(Image->EntryPoint, *Address - Image->ImageBase);
}

TEST_F(ImageHeader, MemoryProtectionsAllowSigning) {
  EXPECT_NE(Image->DllCharacteristics & DllNxCompat, 0u) << "NX_COMPAT not set";
  for (const Section& S : Image->Sections) {
    EXPECT_FALSE((S.Characteristics & SectionWrite) && (S.Characteristics & SectionExecute))
        << S.Name << " is both writable and executable";
  }
}

// Firmware has no dynamic linker: every outside service is reached through the system table.
TEST_F(ImageHeader, NeedsNothingFromALoaderBeyondRelocation) {
  struct EmptyDirectory {
    uint32_t Index;
    const char* Name;
  };
  const EmptyDirectory Cases[] = {
      {ImportDirectory, "import"},
      {BoundImportDirectory, "bound import"},
      {DelayImportDirectory, "delay import"},
      {TlsDirectory, "TLS"},
  };
  for (const EmptyDirectory& Case : Cases) {
    EXPECT_EQ(Image->Directory(Case.Index).Size, 0u)
        << "the image has a " << Case.Name << " directory";
  }
}

// The loader places the image wherever it found memory, so every absolute address in it must be
// listed in base relocations the loader can apply. An image without absolute addresses has no
// relocation directory at all, which is also fine.
TEST_F(ImageHeader, CanBeRelocated) {
  EXPECT_NE(Image->DllCharacteristics & DllDynamicBase, 0u) << "DYNAMIC_BASE not set";
  EXPECT_EQ(Image->FileCharacteristics & FileRelocsStripped, 0u)
      << "relocations stripped: the image only runs at its preferred base";

  const DataDirectory Relocations = Image->Directory(BaseRelocationDirectory);
  if (Relocations.Size == 0) {
    std::cout << "no base relocations: the image holds no absolute addresses\n";
    return;
  }
  const std::optional<size_t> Start = Image->FileOffset(Relocations.Rva, Relocations.Size);
  ASSERT_TRUE(Start.has_value()) << "base relocation directory is not stored in a section";

  size_t Entries = 0;
  for (size_t Block = 0; Block < Relocations.Size;) {
    uint32_t PageRva = 0;
    uint32_t BlockSize = 0;
    ASSERT_TRUE(Image->Read(*Start + Block, PageRva) && Image->Read(*Start + Block + 4, BlockSize));
    ASSERT_GE(BlockSize, 8u) << "relocation block at +" << Block << " has an impossible size";
    ASSERT_LE(Block + BlockSize, Relocations.Size) << "relocation block runs past the directory";
    EXPECT_EQ(PageRva % PageSize, 0u);
    for (size_t At = Block + 8; At + 2 <= Block + BlockSize; At += 2) {
      uint16_t Entry = 0;
      ASSERT_TRUE(Image->Read(*Start + At, Entry));
      const uint16_t Type = Entry >> 12;
      if (Type == RelocAbsolute) {
        continue;
      }
      // x86-64 code only ever needs 64-bit fix-ups; anything else the loader may refuse.
      EXPECT_EQ(Type, RelocDir64) << "relocation type " << Type << " in page 0x" << std::hex
                                  << PageRva;
      const uint32_t Target = PageRva + (Entry & 0xFFF);
      EXPECT_LE(uint64_t{Target} + 8, Image->SizeOfImage) << "fix-up outside the image";
      ++Entries;
    }
    Block += BlockSize;
  }
  EXPECT_GT(Entries, 0u) << "a relocation directory without fix-ups";
  std::cout << Entries << " base relocations\n";
}

} // namespace
