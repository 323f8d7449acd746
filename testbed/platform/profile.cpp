#include "profile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <initializer_list>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <tuple>
#include <vector>

#include "machine_builder.h"

namespace tb {
namespace {

using nlohmann::json;
namespace fs = std::filesystem;

constexpr uint64_t kAddressSpace = uint64_t{1} << 32;
constexpr size_t kPluginBlockSize = 21;
constexpr uint64_t kLargestGranularity = 0x10000;

// Why a profile is refused, and the key (a path such as memory[2].address;
// empty for the profile as a whole) it concerns.
struct Refusal {
  std::string path;
  std::string reason;
};

[[noreturn]] void Refuse(const std::string& path, const std::string& reason) { throw Refusal{path, reason}; }

std::string Member(const std::string& path, const std::string& key) { return path.empty() ? key : path + "." + key; }
std::string Element(const std::string& path, size_t index) { return path + "[" + std::to_string(index) + "]"; }

std::string HexText(uint64_t value) {
  char buffer[24];
  std::snprintf(buffer, sizeof buffer, "0x%llX", static_cast<unsigned long long>(value));
  return buffer;
}

// Small limits read better in decimal (a device number), large ones in hex.
std::string NumberText(uint64_t value, uint64_t max) { return max <= 0xFF ? std::to_string(value) : HexText(value); }

// User text in a message, cut so one bad value cannot flood it.
std::string Quoted(const std::string& text) {
  constexpr size_t kShown = 40;
  return "\"" + (text.size() > kShown ? text.substr(0, kShown) + "..." : text) + "\"";
}

std::string QuotedPath(const fs::path& file) { return "\"" + file.string() + "\""; }

std::string Got(const json& v) {
  switch (v.type()) {
    case json::value_t::null: return "null";
    case json::value_t::boolean: return "a boolean";
    case json::value_t::number_integer:
    case json::value_t::number_unsigned: return "a number";
    case json::value_t::number_float: return "a fractional number";
    case json::value_t::string: return "a string";
    case json::value_t::array: return "an array";
    case json::value_t::object: return "an object";
    default: return "an unexpected value";
  }
}

// nlohmann's messages start with "[json.exception.parse_error.101] ".
std::string WithoutExceptionTag(const char* what) {
  std::string text = what;
  size_t end = text.find("] ");
  return text[0] == '[' && end != std::string::npos ? text.substr(end + 2) : text;
}

// nlohmann keeps the last of two equal keys; a profile that says one thing
// twice is refused instead, so no value is dropped unseen.
json Parse(const std::string& text) {
  struct Frame {
    bool object;
    std::string path;
    std::set<std::string> keys;
    std::string lastKey;
    size_t index = 0;
  };
  std::vector<Frame> stack;
  std::optional<Refusal> duplicate;
  auto childPath = [&]() -> std::string {
    if (stack.empty()) return "";
    const Frame& parent = stack.back();
    return parent.object ? Member(parent.path, parent.lastKey) : Element(parent.path, parent.index);
  };
  auto countElement = [&]() {
    if (!stack.empty() && !stack.back().object) ++stack.back().index;
  };
  json::parser_callback_t track = [&](int, json::parse_event_t event, json& parsed) {
    switch (event) {
      case json::parse_event_t::object_start:
      case json::parse_event_t::array_start:
        stack.push_back(Frame{event == json::parse_event_t::object_start, childPath(), {}, {}, 0});
        break;
      case json::parse_event_t::key: {
        Frame& frame = stack.back();
        frame.lastKey = parsed.get<std::string>();
        if (!frame.keys.insert(frame.lastKey).second && !duplicate)
          duplicate = Refusal{Member(frame.path, frame.lastKey), "appears twice in the same object"};
        break;
      }
      case json::parse_event_t::object_end:
      case json::parse_event_t::array_end:
        stack.pop_back();
        countElement();
        break;
      case json::parse_event_t::value: countElement(); break;
    }
    return true;
  };
  json doc;
  try {
    doc = json::parse(text, track, /*allow_exceptions=*/true, /*ignore_comments=*/true);
  } catch (const json::exception& e) {
    Refuse("", "not valid JSON: " + WithoutExceptionTag(e.what()));
  }
  if (duplicate) throw *duplicate;
  return doc;
}

const json* Find(const json& object, const char* key) {
  auto it = object.find(key);
  return it == object.end() ? nullptr : &*it;
}

const json& Required(const json& object, const std::string& path, const char* key) {
  const json* v = Find(object, key);
  if (!v) Refuse(Member(path, key), "is missing");
  return *v;
}

void AllowOnly(const json& object, const std::string& path, std::initializer_list<const char*> known) {
  for (auto it = object.begin(); it != object.end(); ++it) {
    bool isKnown = false;
    std::string list;
    for (const char* key : known) {
      isKnown = isKnown || it.key() == key;
      list += (list.empty() ? "" : ", ") + std::string(key);
    }
    if (!isKnown) Refuse(Member(path, it.key()), "unknown key (known here: " + list + ")");
  }
}

const json& Object(const json& v, const std::string& path) {
  if (!v.is_object()) Refuse(path, "must be an object, got " + Got(v));
  return v;
}

const json& Array(const json& v, const std::string& path) {
  if (!v.is_array()) Refuse(path, "must be an array, got " + Got(v));
  return v;
}

bool Bool(const json& v, const std::string& path) {
  if (!v.is_boolean()) Refuse(path, "must be true or false, got " + Got(v));
  return v.get<bool>();
}

const std::string& String(const json& v, const std::string& path) {
  if (!v.is_string()) Refuse(path, "must be a string, got " + Got(v));
  return v.get_ref<const std::string&>();
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A number in a string is always hex with the 0x prefix: "100000" could be
// meant either way, so only a bare JSON integer is read as decimal.
uint64_t HexNumber(const std::string& text, const std::string& path, uint64_t max) {
  bool prefixed = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  if (!prefixed) {
    bool decimal = !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
    Refuse(path, Quoted(text) + (decimal ? " is a decimal number in quotes; write it without quotes, or in hex with 0x"
                                         : " is not a number (a number in quotes is hex with the 0x prefix)"));
  }
  uint64_t value = 0;
  for (size_t i = 2; i < text.size(); ++i) {
    int digit = HexDigit(text[i]);
    if (digit < 0) Refuse(path, Quoted(text) + " is not a hex number");
    value = value << 4 | static_cast<uint64_t>(digit);
    if (value > max) Refuse(path, Quoted(text) + " is out of range (at most " + NumberText(max, max) + ")");
  }
  return value;
}

uint64_t Number(const json& v, const std::string& path, uint64_t max) {
  uint64_t value = 0;
  if (v.is_number_unsigned()) {
    value = v.get<uint64_t>();
  } else if (v.is_number_integer()) {
    Refuse(path, std::to_string(v.get<int64_t>()) + " is out of range (0 to " + NumberText(max, max) + ")");
  } else if (v.is_number_float()) {
    Refuse(path, "must be a whole number, got " + v.dump());
  } else if (v.is_string()) {
    value = HexNumber(v.get<std::string>(), path, max);
  } else {
    Refuse(path, "must be a number (an integer, or hex in quotes such as \"0xF0000\"), got " + Got(v));
  }
  if (value > max) Refuse(path, NumberText(value, max) + " is out of range (0 to " + NumberText(max, max) + ")");
  return value;
}

uint32_t Number32(const json& v, const std::string& path) {
  return static_cast<uint32_t>(Number(v, path, 0xFFFFFFFFu));
}

// The firmware and the ANSI calls see single bytes: each character of a JSON
// string (already valid UTF-8 once parsed) stands for the byte of its code point.
std::string Bytes8(const json& v, const std::string& path) {
  const std::string& text = String(v, path);
  std::string bytes;
  size_t character = 0;
  for (size_t i = 0; i < text.size(); ++character) {
    auto lead = static_cast<unsigned char>(text[i]);
    int length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    uint32_t code = length == 1 ? lead : lead & (0x7F >> length);
    for (int k = 1; k < length && i + k < text.size(); ++k) code = code << 6 | (text[i + k] & 0x3F);
    if (code > 0xFF) {
      char hex[16];
      std::snprintf(hex, sizeof hex, "U+%04X", code);
      Refuse(path, "character " + std::to_string(character) + " (" + hex +
                       ") is above U+00FF; each character stands for one byte");
    }
    bytes.push_back(static_cast<char>(code));
    i += length;
  }
  return bytes;
}

// Text handed on as a C string: a NUL inside would silently cut it.
std::string CText(const json& v, const std::string& path) {
  std::string bytes = Bytes8(v, path);
  if (bytes.find('\0') != std::string::npos) Refuse(path, "holds a NUL character, which would cut the text short");
  return bytes;
}

// Two hex digits per byte; white space may separate bytes but not split one.
std::vector<uint8_t> HexBytes(const json& v, const std::string& path) {
  const std::string& text = String(v, path);
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i < text.size();) {
    if (text[i] == ' ' || text[i] == '\t' || text[i] == '\r' || text[i] == '\n') {
      ++i;
      continue;
    }
    int high = HexDigit(text[i]);
    int low = i + 1 < text.size() ? HexDigit(text[i + 1]) : -1;
    if (high < 0 || low < 0) {
      Refuse(path, "bad hex at character " + std::to_string(i) + " of " + Quoted(text) +
                       " (each byte is two hex digits, bytes may be separated by spaces)");
    }
    bytes.push_back(static_cast<uint8_t>(high << 4 | low));
    i += 2;
  }
  return bytes;
}

// "S-1-" then the identifier authority and up to 15 sub-authorities, in decimal.
void CheckSid(const std::string& sid, const std::string& path) {
  bool good = sid.compare(0, 4, "S-1-") == 0;
  size_t parts = 0;
  for (size_t i = 3; good && i < sid.size();) {
    size_t end = sid.find('-', i + 1);
    std::string digits = sid.substr(i + 1, end == std::string::npos ? std::string::npos : end - i - 1);
    uint64_t limit = parts == 0 ? 0xFFFFFFFFFFFFull : 0xFFFFFFFFull;
    good = !digits.empty() && digits.size() <= 15 && digits.find_first_not_of("0123456789") == std::string::npos &&
           std::stoull(digits) <= limit;
    ++parts;
    i = end == std::string::npos ? sid.size() : end;
  }
  if (!good || parts == 0 || parts > 16) {
    Refuse(path, Quoted(sid) + " is not a security identifier (\"S-1-\", the authority, then up to 15 "
                               "sub-authorities, all decimal, such as \"S-1-5-32-544\")");
  }
}

void CheckRegion(uint64_t address, uint64_t length, const std::string& path, const char* what) {
  if (address + length > kAddressSpace) {
    Refuse(path, "the " + std::to_string(length) + " bytes of " + what + " at " + HexText(address) +
                     " run past the 4 GiB address space");
  }
}

std::string SystemError() { return std::strerror(errno); }

// The file's bytes, refused before reading if they would not fit below 4 GiB.
std::vector<uint8_t> FileBytes(const fs::path& file, uint64_t address, const std::string& path,
                               const std::string& addressPath) {
  std::error_code ec;
  fs::file_status status = fs::status(file, ec);
  if (!fs::exists(status)) Refuse(path, "cannot read " + QuotedPath(file) + ": no such file");
  if (!fs::is_regular_file(status)) Refuse(path, QuotedPath(file) + " is not a regular file");
  uint64_t size = fs::file_size(file, ec);
  if (ec) Refuse(path, "cannot read " + QuotedPath(file) + ": " + ec.message());
  CheckRegion(address, size, addressPath, "the file");
  std::FILE* f = std::fopen(file.c_str(), "rb");
  if (!f) Refuse(path, "cannot read " + QuotedPath(file) + ": " + SystemError());
  std::vector<uint8_t> bytes(size);
  size_t got = std::fread(bytes.data(), 1, bytes.size(), f);
  bool extra = std::fgetc(f) != EOF;
  std::fclose(f);
  if (got != size || extra) Refuse(path, QuotedPath(file) + " changed size while it was read");
  return bytes;
}

class ProfileReader {
 public:
  explicit ProfileReader(fs::path baseDir) : baseDir_(std::move(baseDir)) {}

  Machine Read(const json& doc) {
    if (!doc.is_object()) Refuse("", "the profile must be a JSON object, got " + Got(doc));
    // The version first: a later format's new keys would otherwise read as typos.
    if (const json* v = Find(doc, "version")) {
      uint64_t version = Number(*v, "version", 0xFFFFFFFFu);
      if (version != kProfileFormatVersion) {
        Refuse("version", "format version " + std::to_string(version) + " is not known; this loader reads version " +
                              std::to_string(kProfileFormatVersion));
      }
    }
    AllowOnly(doc, "", {"version", "platform", "reportedPlatform", "versionCallFails", "currentDirectory",
                        "globalSizeGranularity", "service", "driver", "memory", "pci", "token", "systemDevices",
                        "systemDevicesUnavailable"});
    if (const json* v = Find(doc, "platform")) PlatformOf(*v, "platform") == Platform::Nt ? b_.Nt() : b_.Win9x();
    if (const json* v = Find(doc, "reportedPlatform"))
      b_.ReportedPlatform(PlatformOf(*v, "reportedPlatform"));
    if (const json* v = Find(doc, "versionCallFails")) b_.VersionCallFails(Bool(*v, "versionCallFails"));
    if (const json* v = Find(doc, "currentDirectory")) b_.CurrentDirectory(CText(*v, "currentDirectory"));
    if (const json* v = Find(doc, "globalSizeGranularity")) GlobalSizeGranularity(*v);
    if (const json* v = Find(doc, "service")) Service(*v);
    if (const json* v = Find(doc, "driver")) Driver(*v);
    if (const json* v = Find(doc, "memory")) Memory(*v);
    if (const json* v = Find(doc, "pci")) Pci(*v);
    if (const json* v = Find(doc, "token")) Token(*v);
    if (const json* v = Find(doc, "systemDevices")) SystemDevices(*v);
    if (const json* v = Find(doc, "systemDevicesUnavailable"))
      b_.SystemDevicesUnavailable(Bool(*v, "systemDevicesUnavailable"));
    return b_.Build();
  }

 private:
  static Platform PlatformOf(const json& v, const std::string& path) {
    const std::string& name = String(v, path);
    if (name == "nt") return Platform::Nt;
    if (name == "9x") return Platform::Win9x;
    Refuse(path, Quoted(name) + " is not a platform (\"nt\" or \"9x\")");
  }

  void GlobalSizeGranularity(const json& v) {
    const uint64_t bytes = Number(v, "globalSizeGranularity", kLargestGranularity);
    if (bytes == 0 || (bytes & (bytes - 1)) != 0)
      Refuse("globalSizeGranularity", std::to_string(bytes) + " is not a power of two (1, 2, 4, ... 65536)");
    b_.GlobalSizeGranularity(static_cast<uint32_t>(bytes));
  }

  void Service(const json& v) {
    const std::string path = "service";
    Object(v, path);
    AllowOnly(v, path,
              {"openError", "freeFails", "flashSize", "refuseExpand", "imageError", "statusFailsSilently",
               "scribbleBlock"});
    if (const json* e = Find(v, "openError")) b_.OpenError(Number32(*e, Member(path, "openError")));
    if (const json* e = Find(v, "freeFails")) b_.FreeFails(Bool(*e, Member(path, "freeFails")));
    if (const json* e = Find(v, "flashSize"); e && !e->is_null()) b_.FlashSize(Number32(*e, Member(path, "flashSize")));
    if (const json* e = Find(v, "refuseExpand")) b_.RefuseExpand(Bool(*e, Member(path, "refuseExpand")));
    if (const json* e = Find(v, "imageError"); e && !e->is_null())
      b_.ImageServiceError(Number32(*e, Member(path, "imageError")));
    if (const json* e = Find(v, "statusFailsSilently"))
      b_.StatusFailsSilently(Bool(*e, Member(path, "statusFailsSilently")));
    if (const json* e = Find(v, "scribbleBlock")) b_.ScribbleImageBlock(Bool(*e, Member(path, "scribbleBlock")));
  }

  std::vector<uint8_t> PluginBlock(const json& v, const std::string& path) {
    std::vector<uint8_t> bytes = HexBytes(v, path);
    if (bytes.size() > kPluginBlockSize) {
      Refuse(path, std::to_string(bytes.size()) + " bytes given; a plug-in block holds at most " +
                       std::to_string(kPluginBlockSize));
    }
    return bytes;
  }

  void Driver(const json& v) {
    const std::string path = "driver";
    Object(v, path);
    AllowOnly(v, path, {"biosType", "pluginBlockA", "pluginBlockB", "failMapAt"});
    if (const json* e = Find(v, "biosType"); e && !e->is_null()) b_.BiosType(Number32(*e, Member(path, "biosType")));
    if (const json* e = Find(v, "pluginBlockA")) b_.PluginBlockA(PluginBlock(*e, Member(path, "pluginBlockA")));
    if (const json* e = Find(v, "pluginBlockB")) b_.PluginBlockB(PluginBlock(*e, Member(path, "pluginBlockB")));
    if (const json* e = Find(v, "failMapAt")) {
      const std::string listPath = Member(path, "failMapAt");
      Array(*e, listPath);
      for (size_t i = 0; i < e->size(); ++i) b_.FailMapAt(Number32((*e)[i], Element(listPath, i)));
    }
  }

  void Memory(const json& v) {
    Array(v, "memory");
    for (size_t i = 0; i < v.size(); ++i) {
      const std::string path = Element("memory", i);
      const json& region = Object(v[i], path);
      AllowOnly(region, path, {"address", "text", "hex", "file"});
      const json* text = Find(region, "text");
      const json* hex = Find(region, "hex");
      const json* file = Find(region, "file");
      if ((text != nullptr) + (hex != nullptr) + (file != nullptr) != 1)
        Refuse(path, "a region takes exactly one of text, hex or file");
      const std::string addressPath = Member(path, "address");
      uint32_t address = Number32(Required(region, path, "address"), addressPath);
      if (text) {
        std::string bytes = Bytes8(*text, Member(path, "text"));
        CheckRegion(address, bytes.size() + 1, addressPath, "the text and its NUL");
        b_.Text(address, bytes);
      } else if (hex) {
        std::vector<uint8_t> bytes = HexBytes(*hex, Member(path, "hex"));
        CheckRegion(address, bytes.size(), addressPath, "hex");
        b_.Bytes(address, bytes);
      } else {
        const std::string filePath = Member(path, "file");
        const std::string& name = String(*file, filePath);
        if (name.empty()) Refuse(filePath, "must name a file");
        b_.Bytes(address, FileBytes(baseDir_ / fs::u8path(name), address, filePath, addressPath));
      }
    }
  }

  void Pci(const json& v) {
    Array(v, "pci");
    std::vector<std::tuple<uint64_t, uint64_t, uint64_t>> seen;
    for (size_t i = 0; i < v.size(); ++i) {
      const std::string path = Element("pci", i);
      const json& f = Object(v[i], path);
      AllowOnly(f, path, {"bus", "device", "function", "vendorId", "deviceId", "classCode"});
      auto field = [&](const char* key, uint64_t max) { return Number(Required(f, path, key), Member(path, key), max); };
      uint64_t bus = field("bus", 0xFF), device = field("device", 0x1F), function = field("function", 0x07);
      uint64_t vendorId = field("vendorId", 0xFFFF), deviceId = field("deviceId", 0xFFFF);
      uint64_t classCode = field("classCode", 0xFFFFFF);
      // Configuration reads answer from the first match, so a second entry
      // at the same address would never be seen.
      for (size_t k = 0; k < seen.size(); ++k) {
        if (seen[k] == std::make_tuple(bus, device, function)) {
          Refuse(path, "bus " + std::to_string(bus) + ", device " + std::to_string(device) + ", function " +
                           std::to_string(function) + " is already described by " + Element("pci", k));
        }
      }
      seen.emplace_back(bus, device, function);
      b_.Pci(static_cast<uint8_t>(bus), static_cast<uint8_t>(device), static_cast<uint8_t>(function),
             static_cast<uint16_t>(vendorId), static_cast<uint16_t>(deviceId), static_cast<uint32_t>(classCode));
    }
  }

  uint32_t Attributes(const json& v, const std::string& path) {
    Array(v, path);
    uint32_t attributes = 0;
    for (size_t i = 0; i < v.size(); ++i) {
      const std::string& name = String(v[i], Element(path, i));
      if (name == "enabled") {
        attributes |= SE_GROUP_ENABLED;
      } else if (name == "deny-only") {
        attributes |= SE_GROUP_USE_FOR_DENY_ONLY;
      } else if (name == "mandatory") {
        attributes |= SE_GROUP_MANDATORY;
      } else {
        Refuse(Element(path, i), Quoted(name) + " is not a group attribute (\"enabled\", \"deny-only\", \"mandatory\")");
      }
    }
    return attributes;
  }

  void Token(const json& v) {
    const std::string path = "token";
    Object(v, path);
    AllowOnly(v, path, {"openFails", "readFails", "sidFails", "groups"});
    if (const json* e = Find(v, "openFails")) b_.TokenOpenFails(Bool(*e, Member(path, "openFails")));
    if (const json* e = Find(v, "readFails")) b_.TokenReadFails(Bool(*e, Member(path, "readFails")));
    if (const json* e = Find(v, "sidFails")) b_.SidBuildFails(Bool(*e, Member(path, "sidFails")));
    const json* groups = Find(v, "groups");
    if (!groups) return;
    const std::string groupsPath = Member(path, "groups");
    Array(*groups, groupsPath);
    for (size_t i = 0; i < groups->size(); ++i) {
      const std::string groupPath = Element(groupsPath, i);
      const json& group = Object((*groups)[i], groupPath);
      AllowOnly(group, groupPath, {"sid", "attributes"});
      const std::string sidPath = Member(groupPath, "sid");
      const std::string& sid = String(Required(group, groupPath, "sid"), sidPath);
      CheckSid(sid, sidPath);
      const json* attributes = Find(group, "attributes");
      b_.TokenGroup(sid, attributes ? Attributes(*attributes, Member(groupPath, "attributes")) : 0);
    }
  }

  void SystemDevices(const json& v) {
    Array(v, "systemDevices");
    for (size_t i = 0; i < v.size(); ++i) {
      const std::string path = Element("systemDevices", i);
      const json& device = Object(v[i], path);
      AllowOnly(device, path, {"hardwareIds", "readFails"});
      const std::string idsPath = Member(path, "hardwareIds");
      const json& ids = Array(Required(device, path, "hardwareIds"), idsPath);
      std::vector<std::string> hardwareIds;
      for (size_t k = 0; k < ids.size(); ++k) {
        // The identifiers travel as one list of NUL-ended strings that an
        // empty string ends, so an empty one would hide the rest.
        std::string id = CText(ids[k], Element(idsPath, k));
        if (id.empty()) Refuse(Element(idsPath, k), "an empty hardware identifier would end the list early");
        hardwareIds.push_back(std::move(id));
      }
      const json* readFails = Find(device, "readFails");
      b_.SystemDevice(hardwareIds, readFails ? Bool(*readFails, Member(path, "readFails")) : false);
    }
  }

  fs::path baseDir_;
  MachineBuilder b_;
};

std::string Message(const std::string& name, const std::string& path, const std::string& reason) {
  return name + ": " + (path.empty() ? "" : path + ": ") + reason;
}

}  // namespace

bool LoadProfileText(const std::string& json, const std::string& baseDir, const std::string& nameForMessages,
                     Machine& out, std::string& error) {
  try {
    Machine machine = ProfileReader(fs::u8path(baseDir)).Read(Parse(json));
    out = std::move(machine);
    return true;
  } catch (const Refusal& refusal) {
    error = Message(nameForMessages, refusal.path, refusal.reason);
  } catch (const std::bad_alloc&) {
    error = Message(nameForMessages, "", "not enough memory to load the profile");
  } catch (const std::exception& e) {
    error = Message(nameForMessages, "", e.what());
  }
  return false;
}

bool LoadProfile(const std::string& path, Machine& out, std::string& error) {
  std::error_code ec;
  if (fs::is_directory(path, ec)) {
    error = Message(path, "", "is a directory, not a profile");
    return false;
  }
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) {
    error = Message(path, "", "cannot read the profile: " + SystemError());
    return false;
  }
  std::string text;
  char buffer[4096];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) text.append(buffer, n);
  bool failed = std::ferror(f) != 0;
  std::fclose(f);
  if (failed) {
    error = Message(path, "", "cannot read the profile: read error");
    return false;
  }
  return LoadProfileText(text, fs::u8path(path).parent_path().string(), path, out, error);
}

}  // namespace tb
