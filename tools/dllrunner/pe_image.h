// A PE32 file read into the parts a loader needs: headers, sections, base
// relocations, imports, exports and the TLS directory. Only 32-bit x86 DLLs
// are taken; anything else is refused with a sentence saying why.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace dllrun {

struct PeSection {
  std::string name;
  uint32_t rva;
  uint32_t virtualSize;  // never 0: the raw size stands in when the header says 0
  uint32_t rawOffset;
  uint32_t rawSize;      // bytes taken from the file, at most virtualSize
  uint32_t characteristics;
};

struct PeImport {
  std::string dll;
  std::string name;      // empty when imported by ordinal
  uint16_t ordinal;      // the ordinal, or the name's hint
  uint32_t slotRva;      // where the loader writes the bound address
};

struct PeExport {
  std::string name;      // empty for an export by ordinal only
  uint16_t ordinal;
  uint32_t rva;
};

class PeImage {
 public:
  // Reads the file; false with the reason in error when it is not a 32-bit
  // x86 DLL this loader can map.
  bool Parse(const std::vector<uint8_t>& file, std::string& error);

  uint32_t ImageBase() const { return imageBase_; }
  uint32_t ImageSize() const { return imageSize_; }
  uint32_t HeaderSize() const { return headerSize_; }
  uint32_t EntryPointRva() const { return entryRva_; }
  const std::vector<uint8_t>& File() const { return file_; }
  const std::vector<PeSection>& Sections() const { return sections_; }
  const std::vector<PeImport>& Imports() const { return imports_; }
  const std::vector<PeExport>& Exports() const { return exports_; }
  const std::string& ExportName() const { return exportName_; }  // the name the export directory gives
  // The TLS directory (its addresses are relocated with the image, so the
  // loader reads it from the mapped image); 0 without one.
  uint32_t TlsDirectoryRva() const { return tlsRva_; }

  // Applies the base relocations to the mapped image (ImageSize bytes) for a
  // load at newBase; false when a relocation is malformed or of a kind
  // other than HIGHLOW or ABSOLUTE.
  bool Relocate(uint8_t* mapped, uint32_t newBase, std::string& error) const;
  bool Relocatable() const { return relocRva_ != 0 && relocSize_ != 0; }

 private:
  bool ReadImports(std::string& error);
  bool ReadExports(std::string& error);
  // The file offset of bytes [rva, rva + size) or false when they are not
  // all inside one section's raw data or the headers.
  bool FileOffset(uint32_t rva, uint32_t size, uint32_t& offset) const;
  bool Text(uint32_t rva, std::string& out) const;  // NUL-terminated, at most 4 KiB
  bool U32At(uint32_t rva, uint32_t& value) const;
  bool U16At(uint32_t rva, uint16_t& value) const;

  std::vector<uint8_t> file_;
  uint32_t imageBase_ = 0, imageSize_ = 0, headerSize_ = 0, entryRva_ = 0;
  uint32_t importRva_ = 0, importSize_ = 0, exportRva_ = 0, exportSize_ = 0;
  uint32_t relocRva_ = 0, relocSize_ = 0, tlsRva_ = 0;
  std::vector<PeSection> sections_;
  std::vector<PeImport> imports_;
  std::vector<PeExport> exports_;
  std::string exportName_;
};

}  // namespace dllrun
