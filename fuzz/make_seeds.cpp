// Writes the seed corpora of the four fuzz targets, valid inputs of every
// kind made by the image and machine builders:
//   orrivane_fuzz_seeds DIR   writes DIR/<target>/<name> for each target
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "firmware_builders.h"
#include "firmware_input.h"
#include "image_builder.h"
#include "lzh_member.h"
#include "machine_builder.h"

namespace fs = std::filesystem;

namespace {

std::string g_dir;
int g_written = 0;

void Seed(const std::string& target, const std::string& name, const std::vector<uint8_t>& bytes) {
  fs::create_directories(g_dir + "/" + target);
  if (!tb::WriteImageFile(g_dir + "/" + target + "/" + name, bytes)) {
    std::fprintf(stderr, "cannot write seed %s/%s\n", target.c_str(), name.c_str());
    std::exit(1);
  }
  ++g_written;
}

std::vector<uint8_t> Bytes(const std::string& text) { return tb::BytesOf(text); }

std::vector<uint8_t> SystemBiosMember(tb::LzhMethod method, const std::string& model) {
  auto bios = tb::SystemBios(0x10000, model + " BIOS", "X03/15/2009-R1.02-" + model + "-00", "<" + model + ">");
  return tb::LzhMember("original.tmp", bios, method, true);
}

void ImageSeeds() {
  const std::string t = "image_analysis";
  const auto lh5 = SystemBiosMember(tb::LzhMethod::Lh5, "TX4410");

  // A system BIOS member at a 64 KiB boundary, no ROM map; the Award banner
  // or a model marker lets the classification pass it on.
  tb::ImageBuilder boundary(0x10000);
  boundary.Member(0, lh5).AwardBanner(0xC000).Bbss(0xC040, 0xE000, 0x2000);
  Seed(t, "member-at-boundary", boundary.Build());

  // Two members walked through an N and a B ROM map.
  tb::ImageBuilder mapped(0x10000);
  auto other = tb::LzhMember("acpitbl.bin", tb::FirmwareFiller(0x800, 12), tb::LzhMethod::Lh0, false);
  const uint32_t first = 0x100, second = first + tb::MemberSlot(other);
  mapped.Member(first, other).Member(second, lh5);
  const uint32_t end = second + tb::MemberSlot(lh5);
  mapped.NRomMap(0xF000, mapped.FlashAddress(first), mapped.FlashAddress(second), 0, 0);
  mapped.BRomMap(0xF100, mapped.FlashAddress(first), mapped.FlashAddress(end), 0, 0);
  mapped.AwardBanner(0xC000).Bbsn(0xC020);
  Seed(t, "rom-maps", mapped.Build());

  tb::ImageBuilder stored(0x20000);
  stored.Member(0, SystemBiosMember(tb::LzhMethod::Lh0, "R6N")).Meo(0x18000, Bytes("R6N "));
  Seed(t, "stored-member", stored.Build());

  tb::ImageBuilder v1(0x10000);
  v1.AmiRecordV1(0x100, 0x200, 0x210, 0x240, 0x250)
      .Text(0x200, "VM3G8")
      .Text(0x210, "VM3G8 BIOS for fuzzing")
      .Text(0x240, "03/15/2009")
      .Text(0x250, "1.04");
  Seed(t, "ami-version-1", v1.Build());
  for (uint8_t version = 2; version <= 5; ++version) {
    tb::ImageBuilder later(0x1000);
    later.AmiRecord(0x40, version,
                    {"AB12", "AB12 BIOS", "03/15/2009", "R1.02", "PRO", "Board for tests", "ABCDEFGH123XYZ"});
    Seed(t, "ami-version-" + std::to_string(version), later.Build());
  }

  tb::ImageBuilder tags(0x2000);
  auto text = Bytes("TX4410 BIOS R1.02 03/15/2009");
  tags.ZantBios(0x100, static_cast<uint8_t>(text.size()), text).Meo(0x333, Bytes("AB12\xC4" "E "));
  Seed(t, "zantbios-and-meo", tags.Build());

  tb::ImageBuilder award(0x4000);
  award.AwardBanner(0x400).Bbsn(0x420);
  Seed(t, "award-bbsn", award.Build());
  tb::ImageBuilder bbss(0x4000);
  bbss.AwardBanner(0x800).Bbss(0x830, 0x1000, 0x2000);
  Seed(t, "award-bbss", bbss.Build());

  Seed(t, "one-byte", {0x24});
  Seed(t, "erased-64k", std::vector<uint8_t>(0x10000, 0xFF));
}

void MemberSeeds() {
  const std::string t = "member_expansion";
  Seed(t, "lh5-filler", tb::LzhMember("bios.rom", tb::FirmwareFiller(0x2000, 7), tb::LzhMethod::Lh5, true));
  Seed(t, "lh5-ext-headers",
       tb::LzhMember("awardext.rom", tb::FirmwareFiller(0x1000, 9), tb::LzhMethod::Lh5, false,
                     {{0x01, Bytes("awardext.rom")}, {0x40, {0x20, 0x00}}}));
  Seed(t, "lh5-zeros", tb::LzhMember("", std::vector<uint8_t>(0x3000, 0), tb::LzhMethod::Lh5, false));
  Seed(t, "lh5-system-bios", SystemBiosMember(tb::LzhMethod::Lh5, "VM3G8"));
  Seed(t, "lh0-small", tb::LzhMember("acpitbl.bin", tb::FirmwareFiller(0x200, 3), tb::LzhMethod::Lh0, false));
  Seed(t, "lh5-empty", tb::LzhMember("empty", {}, tb::LzhMethod::Lh5, false));
}

// The sections of a machine built with the firmware builders: the top 8 KiB
// of the F segment hold the identity area, the SMBIOS entry point, the
// "$PIR" table and the markers.
fz::FirmwareSections SectionsOf(const tb::Machine& m, uint8_t family, uint16_t flashSelector, uint16_t pirOffset,
                                uint16_t pirSize, uint32_t smbiosAddress, uint16_t smbiosLength) {
  fz::FirmwareSections s;
  s.family = family;
  s.flags = 1;
  s.flashSize = flashSelector;
  s.fBase = 0xE000;
  s.fsegment = m.memory.Read(tb::kFSegment + 0xE000, 0x2000);
  s.pirOffset = pirOffset;
  s.pirArea = m.memory.Read(tb::kFSegment + pirOffset, pirSize);
  s.smbiosTable = m.memory.Read(smbiosAddress, smbiosLength);
  s.flash = m.memory.Read(0u - flashSelector * 16u, 0x200);
  s.romId = m.memory.Read(0xFFFFF000, 0x1000);
  s.top = m.memory.Read(0xFFFFFF00, 0x100);
  for (const tb::PciFunction& f : m.pci) {
    const uint8_t record[] = {f.bus, f.device, f.function, static_cast<uint8_t>(f.vendorId),
                              static_cast<uint8_t>(f.vendorId >> 8), static_cast<uint8_t>(f.deviceId),
                              static_cast<uint8_t>(f.deviceId >> 8), static_cast<uint8_t>(f.classCode),
                              static_cast<uint8_t>(f.classCode >> 8), static_cast<uint8_t>(f.classCode >> 16)};
    s.pci.insert(s.pci.end(), record, record + sizeof record);
  }
  return s;
}

void MachineSeeds() {
  const std::string t = "machine_detection";
  const uint16_t flashSelector = 0x1000;  // 64 KiB
  const uint32_t flashSize = flashSelector * 16u;
  const std::vector<tb::PirSlot> slots = {{0, 0x19, 0}, {0, 0x1B, 0}, {1, 0x05, 3}};
  // family value: BiosType 0, 2, 4, 5, 3, 1, other; bit 7 the 9x family.
  const struct {
    const char* name;
    uint8_t family;
  } kinds[] = {{"type0", 0}, {"type2", 1}, {"type4", 2}, {"type5", 3}, {"type3", 4}, {"other", 6}};
  for (const auto& kind : kinds) {
    for (uint8_t variant : {0x00, 0x80, 0x01}) {
      // 0x80: the 9x family; 0x01: no version-1 record, so BiosType 4 reads the flash.
      if (variant == 0x01 && kind.family != 2) continue;
      const uint8_t platform = variant & 0x80;
      tb::MachineBuilder b;
      b.BiosType(0).FlashSize(flashSize);
      tb::WriteIdentityArea(b, "TX4410 BIOS R1.02", "X12/31/09-A1B2-TX4410C-00", "<TX4410C>");
      const auto table = tb::SmbiosTable({tb::SmbiosBiosInformation(7), tb::SmbiosChassis(0x0D)});
      tb::SmbiosEntry entry;
      entry.fsegmentOffset = 0xF800;
      entry.tableAddress = 0x000E8F80;  // the table crosses a page: an 8 KiB window
      tb::WriteSmbios(b, entry, table);
      tb::WritePirTable(b, 0xFD00, slots);
      b.Pci(0, 0x19, 0, 0x8086, 0x10DE, 0x020000)
          .Pci(0, 0x1B, 0, 0x8086, 0x284B, 0x040300)
          .Pci(1, 0x05, 1, 0x10EC, 0x8139, 0x020000);
      tb::WriteRomDescription(b, 0xF000, 0xF040, "Zant board for fuzzing");
      if (variant != 0x01) tb::WriteAmiRecordVersion1(b, 0xF100, {"VM3G8", "VM3G8 BIOS", "03/15/2009", "1.04"});
      tb::WriteAmiRecordInFlash(b, flashSize, 0x10, 4,
                                {"TX4410", "TX4410 BIOS", "03/15/2009", "R1.02", "Deluxe", "Board", ""});
      b.FSegmentText(0xF200, "HP Pavilion");
      b.Text(0xFFFFFF10, "TX4410B ROM");
      b.Text(0xFFFFFF20, "VM3G8D  ROM");
      b.Text(0xFFFFFFE0, "ABCDEFGH");
      b.Text(0xFFFFF100, "$ZTEXFIRM");
      auto s = SectionsOf(b.Build(), static_cast<uint8_t>(kind.family | platform), flashSelector, 0xFD00,
                          static_cast<uint16_t>(32 + 16 * slots.size()), entry.tableAddress,
                          static_cast<uint16_t>(table.size()));
      Seed(t, std::string(kind.name) + (variant == 0x01 ? "-flash" : platform ? "-9x" : "-nt"), fz::EncodeFirmware(s));
    }
  }
  fz::FirmwareSections empty;
  Seed(t, "header-only", fz::EncodeFirmware(empty));
}

void DateVersionSeeds() {
  const std::string t = "date_version";
  const struct {
    const char* model;
    const char* text;
  } cases[] = {
      {"TX4410", "X12/31/09-A1B2-TX4410-00"},
      {"TX4410", "X01/05/2009-R1.02-TX4410-00"},
      {"TX4410", "X12/31/09---A1B2-TX4410"},
      {"AB12", "X05/17/99-AB12"},
      {"", "X12/31/09-A1B2-TX4410-00"},
      {"R6N", "X12/3"},
      {"VM3G8", "no date here"},
  };
  for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
    std::vector<uint8_t> seed = {static_cast<uint8_t>(std::string(cases[i].model).size())};
    auto model = Bytes(cases[i].model), text = Bytes(cases[i].text);
    seed.insert(seed.end(), model.begin(), model.end());
    seed.insert(seed.end(), text.begin(), text.end());
    seed.push_back(0);
    Seed(t, "case-" + std::to_string(i), seed);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
    return 2;
  }
  g_dir = argv[1];
  ImageSeeds();
  MemberSeeds();
  MachineSeeds();
  DateVersionSeeds();
  std::printf("wrote %d seeds under %s\n", g_written, g_dir.c_str());
  return 0;
}
