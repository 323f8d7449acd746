#include "pe_image.h"

#include <cstring>
#include <map>

#include "hex_text.h"

namespace dllrun {
namespace {

constexpr uint16_t kMachineI386 = 0x014C;
constexpr uint16_t kMagicPe32 = 0x010B;
constexpr uint16_t kMagicPe32Plus = 0x020B;
constexpr uint16_t kCharacteristicDll = 0x2000;
constexpr uint32_t kCoffHeaderSize = 20;
constexpr uint32_t kSectionHeaderSize = 40;
constexpr uint32_t kOptionalDirectories = 96;  // offset of the data directories in a PE32 optional header
constexpr uint32_t kDirExport = 0, kDirImport = 1, kDirBaseReloc = 5, kDirTls = 9;
constexpr uint32_t kImportDescriptorSize = 20;
constexpr uint32_t kExportDirectorySize = 40;
constexpr uint32_t kTlsDirectorySize = 24;
constexpr uint32_t kMaxImageSize = 256u << 20;  // far above any DLL this runner is meant for
constexpr uint32_t kMaxTextLength = 4096;
constexpr uint16_t kRelocAbsolute = 0, kRelocHighLow = 3;

uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t U32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }

const char* MachineName(uint16_t machine) {
  switch (machine) {
    case 0x8664: return "x86-64";
    case 0xAA64: return "ARM64";
    case 0x01C0:
    case 0x01C4: return "ARM";
    case 0x0200: return "Itanium";
  }
  return nullptr;
}

}  // namespace

bool PeImage::FileOffset(uint32_t rva, uint32_t size, uint32_t& offset) const {
  const uint64_t end = static_cast<uint64_t>(rva) + size;
  if (end <= headerSize_) {
    offset = rva;
    return end <= file_.size();
  }
  for (const PeSection& s : sections_) {
    if (rva >= s.rva && end <= static_cast<uint64_t>(s.rva) + s.rawSize) {
      offset = s.rawOffset + (rva - s.rva);
      return true;
    }
  }
  return false;
}

bool PeImage::U32At(uint32_t rva, uint32_t& value) const {
  uint32_t at;
  if (!FileOffset(rva, 4, at)) return false;
  value = U32(&file_[at]);
  return true;
}

bool PeImage::U16At(uint32_t rva, uint16_t& value) const {
  uint32_t at;
  if (!FileOffset(rva, 2, at)) return false;
  value = U16(&file_[at]);
  return true;
}

bool PeImage::Text(uint32_t rva, std::string& out) const {
  out.clear();
  for (uint32_t i = 0; i < kMaxTextLength; ++i) {
    uint32_t at;
    if (!FileOffset(rva + i, 1, at)) return false;
    if (file_[at] == 0) return true;
    out.push_back(static_cast<char>(file_[at]));
  }
  return false;
}

bool PeImage::Parse(const std::vector<uint8_t>& file, std::string& error) {
  *this = PeImage();
  file_ = file;
  const size_t n = file_.size();
  if (n < 0x40 || file_[0] != 'M' || file_[1] != 'Z') {
    error = "not a Windows executable (no MZ header)";
    return false;
  }
  const uint32_t pe = U32(&file_[0x3C]);
  if (pe > n || n - pe < 4 + kCoffHeaderSize || std::memcmp(&file_[pe], "PE\0\0", 4) != 0) {
    error = "not a PE file (no PE signature where the MZ header points)";
    return false;
  }
  const uint8_t* coff = &file_[pe + 4];
  const uint16_t machine = U16(coff);
  if (machine != kMachineI386) {
    const char* name = MachineName(machine);
    error = std::string("not a 32-bit x86 DLL: built for ") + (name ? name : "machine type " + Hex(machine));
    return false;
  }
  const uint16_t sectionCount = U16(coff + 2);
  const uint16_t optionalSize = U16(coff + 16);
  const uint16_t characteristics = U16(coff + 18);
  const uint32_t optional = pe + 4 + kCoffHeaderSize;
  if (optionalSize < 2 || optional + optionalSize > n) {
    error = "the PE optional header is missing or cut short";
    return false;
  }
  const uint16_t magic = U16(&file_[optional]);
  if (magic == kMagicPe32Plus) {
    error = "not a 32-bit x86 DLL: a PE32+ (64-bit) image";
    return false;
  }
  if (magic != kMagicPe32 || optionalSize < kOptionalDirectories) {
    error = "the PE optional header is not a PE32 header";
    return false;
  }
  if (!(characteristics & kCharacteristicDll)) {
    error = "not a DLL: a program (its file header lacks the DLL flag)";
    return false;
  }
  const uint8_t* opt = &file_[optional];
  entryRva_ = U32(opt + 16);
  imageBase_ = U32(opt + 28);
  const uint32_t sectionAlignment = U32(opt + 32);
  imageSize_ = U32(opt + 56);
  headerSize_ = U32(opt + 60);
  const uint32_t directories = U32(opt + 92);
  if (sectionAlignment != 0x1000 || imageBase_ % 0x10000 != 0) {
    error = "the image is not laid out in 4 KiB pages at a 64 KiB boundary";
    return false;
  }
  if (imageSize_ == 0 || imageSize_ > kMaxImageSize || headerSize_ == 0 || headerSize_ > imageSize_ ||
      headerSize_ > n || static_cast<uint64_t>(imageBase_) + imageSize_ > 0x100000000ull) {
    error = "the image or header size in the optional header is impossible";
    return false;
  }
  auto directory = [&](uint32_t index, uint32_t& rva, uint32_t& size) {
    rva = size = 0;
    if (index >= directories || kOptionalDirectories + 8 * (index + 1) > optionalSize) return;
    const uint8_t* entry = opt + kOptionalDirectories + size_t{8} * index;
    rva = U32(entry);
    size = U32(entry + 4);
  };
  uint32_t tlsSize = 0;
  directory(kDirExport, exportRva_, exportSize_);
  directory(kDirImport, importRva_, importSize_);
  directory(kDirBaseReloc, relocRva_, relocSize_);
  directory(kDirTls, tlsRva_, tlsSize);

  const uint32_t table = optional + optionalSize;
  if (static_cast<uint64_t>(table) + static_cast<uint64_t>(sectionCount) * kSectionHeaderSize > n) {
    error = "the section table runs past the end of the file";
    return false;
  }
  for (uint16_t i = 0; i < sectionCount; ++i) {
    const uint8_t* h = &file_[table + i * kSectionHeaderSize];
    PeSection s;
    s.name.assign(reinterpret_cast<const char*>(h), strnlen(reinterpret_cast<const char*>(h), 8));
    s.virtualSize = U32(h + 8);
    s.rva = U32(h + 12);
    s.rawSize = U32(h + 16);
    s.rawOffset = U32(h + 20);
    s.characteristics = U32(h + 36);
    if (s.virtualSize == 0) s.virtualSize = s.rawSize;
    if (s.rawSize > s.virtualSize) s.rawSize = s.virtualSize;
    if (s.rawSize == 0) s.rawOffset = 0;
    if (s.rva % 0x1000 != 0 || s.rva < headerSize_ ||
        static_cast<uint64_t>(s.rva) + s.virtualSize > imageSize_ ||
        static_cast<uint64_t>(s.rawOffset) + s.rawSize > n) {
      error = "section " + s.name + " lies outside the image or the file";
      return false;
    }
    if (!sections_.empty() && s.rva < sections_.back().rva + sections_.back().virtualSize) {
      error = "section " + s.name + " overlaps the one before it";
      return false;
    }
    sections_.push_back(s);
  }
  if (tlsRva_ && (tlsSize < kTlsDirectorySize || static_cast<uint64_t>(tlsRva_) + kTlsDirectorySize > imageSize_)) {
    error = "the TLS directory lies outside the image";
    return false;
  }
  return ReadImports(error) && ReadExports(error);
}

bool PeImage::ReadImports(std::string& error) {
  if (importRva_ == 0) return true;
  for (uint32_t d = importRva_;; d += kImportDescriptorSize) {
    uint32_t at;
    if (!FileOffset(d, kImportDescriptorSize, at)) {
      error = "the import directory runs outside the file";
      return false;
    }
    const uint8_t* desc = &file_[at];
    const uint32_t lookup = U32(desc), nameRva = U32(desc + 12), slots = U32(desc + 16);
    if (nameRva == 0 && slots == 0) return true;
    std::string dll;
    if (!Text(nameRva, dll) || dll.empty()) {
      error = "an import names no DLL";
      return false;
    }
    const uint32_t thunks = lookup ? lookup : slots;
    for (uint32_t i = 0;; ++i) {
      uint32_t entry;
      if (!U32At(thunks + 4 * i, entry)) {
        error = "the import list of " + dll + " runs outside the file";
        return false;
      }
      if (entry == 0) break;
      PeImport im{dll, "", 0, slots + 4 * i};
      if (static_cast<uint64_t>(im.slotRva) + 4 > imageSize_) {
        error = "an import slot of " + dll + " lies outside the image";
        return false;
      }
      if (entry & 0x80000000u) {
        im.ordinal = static_cast<uint16_t>(entry);
      } else if (!U16At(entry, im.ordinal) || !Text(entry + 2, im.name) || im.name.empty()) {
        error = "an import of " + dll + " has a broken name";
        return false;
      }
      imports_.push_back(im);
    }
  }
}

bool PeImage::ReadExports(std::string& error) {
  if (exportRva_ == 0) return true;
  uint32_t at;
  if (!FileOffset(exportRva_, kExportDirectorySize, at)) {
    error = "the export directory lies outside the file";
    return false;
  }
  const uint8_t* dir = &file_[at];
  const uint32_t base = U32(dir + 16), functions = U32(dir + 20), names = U32(dir + 24);
  const uint32_t functionsRva = U32(dir + 28), namesRva = U32(dir + 32), ordinalsRva = U32(dir + 36);
  if (!Text(U32(dir + 12), exportName_)) exportName_.clear();
  if (functions > 0x10000 || names > functions || base > 0xFFFF || base + functions > 0x10000) {
    error = "the export directory states impossible counts";
    return false;
  }
  std::map<uint32_t, std::string> nameOf;  // function index -> name
  for (uint32_t i = 0; i < names; ++i) {
    uint32_t nameRva;
    uint16_t index;
    std::string name;
    if (!U32At(namesRva + 4 * i, nameRva) || !U16At(ordinalsRva + 2 * i, index) || !Text(nameRva, name) ||
        index >= functions) {
      error = "an exported name is broken";
      return false;
    }
    nameOf[index] = name;
  }
  for (uint32_t i = 0; i < functions; ++i) {
    uint32_t rva;
    if (!U32At(functionsRva + 4 * i, rva)) {
      error = "the export address table runs outside the file";
      return false;
    }
    if (rva == 0) continue;
    if (rva >= exportRva_ && rva < exportRva_ + exportSize_) {
      error = "export " + nameOf[i] + " is forwarded to another DLL, which this loader does not follow";
      return false;
    }
    if (rva >= imageSize_) {
      error = "export " + nameOf[i] + " points outside the image";
      return false;
    }
    auto named = nameOf.find(i);
    exports_.push_back(PeExport{named == nameOf.end() ? "" : named->second, static_cast<uint16_t>(base + i), rva});
  }
  return true;
}

bool PeImage::Relocate(uint8_t* mapped, uint32_t newBase, std::string& error) const {
  const uint32_t delta = newBase - imageBase_;
  if (delta == 0) return true;
  if (!Relocatable()) {
    error = "the DLL must load at " + Hex(imageBase_) + " but has no base relocations";
    return false;
  }
  if (static_cast<uint64_t>(relocRva_) + relocSize_ > imageSize_) {
    error = "the base relocations lie outside the image";
    return false;
  }
  // Read from the mapped image: the table is part of a section.
  uint32_t at = relocRva_;
  const uint32_t end = relocRva_ + relocSize_;
  while (end - at >= 8) {
    const uint32_t page = U32(mapped + at), blockSize = U32(mapped + at + 4);
    if (blockSize < 8 || blockSize > end - at || blockSize % 2 != 0) {
      error = "a base relocation block has an impossible size";
      return false;
    }
    for (uint32_t e = 8; e < blockSize; e += 2) {
      const uint16_t entry = U16(mapped + at + e);
      const uint16_t type = entry >> 12;
      const uint64_t target = static_cast<uint64_t>(page) + (entry & 0xFFF);
      if (type == kRelocAbsolute) continue;
      if (type != kRelocHighLow) {
        error = "base relocation type " + std::to_string(type) + " is not one a 32-bit x86 image uses";
        return false;
      }
      if (target + 4 > imageSize_) {
        error = "a base relocation points outside the image";
        return false;
      }
      const uint32_t value = U32(mapped + target) + delta;
      std::memcpy(mapped + target, &value, 4);
    }
    at += blockSize;
  }
  return true;
}

}  // namespace dllrun
