// orrivane image: which BIOS each image file holds. orrivane check: whether
// an image suits the simulated machine and how its date compares.
#include <cstdio>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "commands.h"
#include "text_output.h"
#include "lzh_expansion.h"
#include "orrivane.h"
#include "testbed.h"

namespace {

struct ImageOptions {
  std::vector<std::string> files;
  std::string profile;
  bool json = false;
};

struct ImageIdentity {
  std::string file;
  uint32_t result = 0;
  std::string model, idString, version, date;
  uint32_t dateCode = 0, amiTagFound = 0, buildVersion = 0;
};

struct MachineIdentity {
  std::string model, altModel, idString, version, date;
  uint32_t dateCode = 0;
};

std::string ResultText(uint32_t result) {
  switch (result) {
    case ORRIVANE_OK: return "image identified";
    case ORRIVANE_ERR_OPEN: return "the file cannot be read";
    case ORRIVANE_ERR_EMPTY: return "the file is empty";
    case ORRIVANE_ERR_ALLOC: return "no memory for the image";
    case ORRIVANE_ERR_LOCK: return "the image memory cannot be locked";
    case ORRIVANE_ERR_UNKNOWN: return "not a BIOS image the library recognises";
    case ORRIVANE_ERR_WORK: return "no memory for the expansion";
    case ORRIVANE_ERR_SERVICE: return "the service library refused the expansion";
    case ORRIVANE_ERR_NO_STATUS: return "the service library gave no outcome of the expansion";
    // The simulated service library's own numbers.
    case tb::kExpandBadHeader: return "service library: the member's header is damaged";
    case tb::kExpandBadChecksum: return "service library: the member's header checksum is wrong";
    case tb::kExpandUnknownMethod: return "service library: unknown compression method";
    case tb::kExpandTooLarge: return "service library: the system BIOS is larger than 128 KiB";
    case tb::kExpandBeyondBlock: return "service library: the member reaches past its block";
    case tb::kExpandShortStream: return "service library: the compressed data ends early";
    case tb::kExpandCrcMismatch: return "service library: the expanded system BIOS fails its CRC";
    case tb::kExpandNotDone: return "service library: no expansion was done";
    case tb::kExpandDecoderFailed: return "service library: the decoder could not start";
  }
  return "service library error " + std::to_string(result);
}

ImageIdentity AnalyseFile(const std::string& file) {
  char model[60] = {}, id[100] = {}, version[60] = {}, date[32] = {};
  ImageIdentity image;
  image.file = file;
  image.result =
      Library().Orrivane_GetBIOSFileInfo(file.c_str(), model, id, version, date, &image.dateCode, &image.amiTagFound);
  image.buildVersion = Library().Orrivane_GetROMbuildVersion();
  image.model = model;
  image.idString = id;
  image.version = version;
  image.date = date;
  return image;
}

MachineIdentity ReadMachine() {
  char model[60] = {}, altModel[60] = {}, id[100] = {}, version[60] = {}, date[30] = {};
  MachineIdentity machine;
  Library().Orrivane_GetBIOSROMInfo(model, id, version, date, &machine.dateCode, nullptr, 0, nullptr);
  // The same model unless the family keeps an alternative one.
  Library().Orrivane_GetBIOSROMInfo(altModel, nullptr, nullptr, nullptr, nullptr, nullptr, 1, nullptr);
  machine.model = model;
  machine.altModel = altModel;
  machine.idString = id;
  machine.version = version;
  machine.date = date;
  return machine;
}

nlohmann::ordered_json ImageJson(const ImageIdentity& image) {
  nlohmann::ordered_json out;
  out["file"] = image.file;
  out["result"] = image.result;
  out["resultText"] = ResultText(image.result);
  out["model"] = JsonText(image.model);
  out["idString"] = JsonText(image.idString);
  out["version"] = JsonText(image.version);
  out["date"] = JsonText(image.date);
  out["dateCode"] = image.dateCode;
  out["amiTagFound"] = image.amiTagFound;
  out["buildVersion"] = image.buildVersion;
  return out;
}

nlohmann::ordered_json MachineJson(const MachineIdentity& machine) {
  nlohmann::ordered_json out;
  out["model"] = JsonText(machine.model);
  out["altModel"] = JsonText(machine.altModel);
  out["idString"] = JsonText(machine.idString);
  out["version"] = JsonText(machine.version);
  out["date"] = JsonText(machine.date);
  out["dateCode"] = machine.dateCode;
  return out;
}

void PrintImage(const ImageIdentity& image) {
  std::cout << image.file << ": " << image.result << " (" << ResultText(image.result) << ")\n"
            << "  model:           " << Escaped(image.model) << "\n"
            << "  identification:  " << Escaped(image.idString) << "\n"
            << "  version:         " << Escaped(image.version) << "\n"
            << "  date:            " << Escaped(image.date) << "\n"
            << "  date code:       " << image.dateCode << "\n"
            << "  identity record: " << (image.amiTagFound ? "found" : "not found") << "\n"
            << "  build version:   " << image.buildVersion << "\n";
}

// Sets up the profile's machine (the demo machine without one) and detects
// it; 0 when detected, else the exit status.
int StartMachine(const char* command, const std::string& profile, bool& detected) {
  tb::Machine machine;
  std::string error;
  if (!LoadToolMachine(profile, machine, error)) {
    std::cerr << "orrivane " << command << ": " << error << "\n";
    return 2;
  }
  tb::Reset(machine);
  detected = Library().Orrivane_Initialize() != 0;
  return 0;
}

int RunImage(const ImageOptions& options) {
  bool detected = false;
  if (int status = StartMachine("image", options.profile, detected)) return status;
  if (!detected) {
    std::cerr << "orrivane image: the machine's BIOS was not detected; the library analyses no image without it\n";
    return 1;
  }
  int status = 0;
  for (const std::string& file : options.files) {
    ImageIdentity image = AnalyseFile(file);
    if (image.result != 0) status = 1;
    if (options.json)
      std::cout << ImageJson(image).dump() << "\n";
    else
      PrintImage(image);
  }
  return status;
}

struct CalendarDate {
  uint32_t year, month, day;
};

// Date codes count years from 1900 below 10,000,000 (yymmdd with the
// century rule) and are calendar years above.
CalendarDate CalendarOf(uint32_t dateCode) {
  uint32_t year = dateCode / 10000;
  return CalendarDate{dateCode < 10000000 ? 1900 + year : year, dateCode / 100 % 100, dateCode % 100};
}

std::string CalendarText(uint32_t dateCode) {
  CalendarDate d = CalendarOf(dateCode);
  return PaddedDecimal(d.year, 4) + "-" + PaddedDecimal(d.month, 2) + "-" + PaddedDecimal(d.day, 2);
}

bool SameModel(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x >= 'a' && x <= 'z') x = static_cast<unsigned char>(x - 32);
    if (y >= 'a' && y <= 'z') y = static_cast<unsigned char>(y - 32);
    if (x != y) return false;
  }
  return true;
}

const char* Verdict(const MachineIdentity& machine, const ImageIdentity& image) {
  // An image that names no model suits no board.
  bool suits = !image.model.empty() &&
               (SameModel(image.model, machine.model) || SameModel(image.model, machine.altModel));
  if (!suits) return "other board";
  CalendarDate m = CalendarOf(machine.dateCode), i = CalendarOf(image.dateCode);
  auto key = [](const CalendarDate& d) { return uint64_t{d.year} * 10000 + uint64_t{d.month} * 100 + d.day; };
  const uint64_t mk = key(m), ik = key(i);
  return ik > mk ? "newer" : ik == mk ? "same" : "older";
}

int VerdictStatus(const std::string& verdict) {
  if (verdict == "newer") return 0;
  if (verdict == "other board") return 3;
  return 1;
}

struct CheckOptions {
  std::string file;
  std::string profile;
  bool json = false;
};

int RunCheck(const CheckOptions& options) {
  bool detected = false;
  if (int status = StartMachine("check", options.profile, detected)) return status;
  if (!detected) {
    if (options.json) {
      nlohmann::ordered_json out;
      out["verdict"] = nullptr;
      out["machine"] = nullptr;
      out["image"] = nullptr;
      std::cout << out.dump() << "\n";
    } else {
      std::cout << "machine: not detected\nverdict: none\n";
    }
    return 5;
  }
  MachineIdentity machine = ReadMachine();
  ImageIdentity image = AnalyseFile(options.file);
  const char* verdict = image.result == 0 ? Verdict(machine, image) : nullptr;
  if (options.json) {
    nlohmann::ordered_json out;
    out["verdict"] = verdict ? nlohmann::ordered_json(verdict) : nlohmann::ordered_json(nullptr);
    out["machine"] = MachineJson(machine);
    out["image"] = ImageJson(image);
    std::cout << out.dump() << "\n";
  } else {
    std::cout << "machine: " << Escaped(machine.model);
    if (!machine.altModel.empty() && machine.altModel != machine.model) std::cout << " (also " << Escaped(machine.altModel) << ")";
    std::cout << ", " << Escaped(machine.idString) << ", version " << Escaped(machine.version) << ", date "
              << Escaped(machine.date) << " (" << CalendarText(machine.dateCode) << ")\n";
    if (image.result == 0)
      std::cout << "image:   " << Escaped(image.model) << ", " << Escaped(image.idString) << ", version "
                << Escaped(image.version) << ", date " << Escaped(image.date) << " (" << CalendarText(image.dateCode)
                << ")\n";
    else
      std::cout << "image:   " << image.file << ": " << image.result << " (" << ResultText(image.result) << ")\n";
    std::cout << "verdict: " << (verdict ? verdict : "none, the image analysis failed") << "\n";
  }
  return verdict ? VerdictStatus(verdict) : 4;
}

}  // namespace

void AddImageCommands(CLI::App& app, int& exitStatus) {
  auto image = std::make_shared<ImageOptions>();
  CLI::App* imageCmd = app.add_subcommand("image", "Which BIOS each image file holds");
  imageCmd->add_option("files", image->files, "Image files")->required();
  imageCmd->add_option("--profile", image->profile, "Machine profile (JSON); without it the demo machine");
  imageCmd->add_flag("--json", image->json, "One JSON object per file, one per line");
  imageCmd->callback([image, &exitStatus] { exitStatus = RunImage(*image); });

  auto check = std::make_shared<CheckOptions>();
  CLI::App* checkCmd = app.add_subcommand("check", "Whether an image suits the machine and is newer than its BIOS");
  checkCmd->add_option("image", check->file, "Image file")->required();
  checkCmd->add_option("--profile", check->profile, "Machine profile (JSON); without it the demo machine");
  checkCmd->add_flag("--json", check->json, "One JSON object: verdict, machine, image");
  checkCmd->callback([check, &exitStatus] { exitStatus = RunCheck(*check); });
}
