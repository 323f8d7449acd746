#include "image_recipe.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <stdexcept>

#include "image_builder.h"

namespace tb {

namespace {

using nlohmann::json;

[[noreturn]] void Fail(const std::string& where, const std::string& what) {
  throw std::runtime_error(where + ": " + what);
}

const json& Need(const json& object, const char* key, const std::string& where) {
  if (!object.is_object() || !object.contains(key)) Fail(where, std::string("\"") + key + "\" is missing");
  return object.at(key);
}

// A misspelt key would otherwise be ignored without a word.
void AllowOnly(const json& object, std::initializer_list<const char*> keys, const std::string& where) {
  if (!object.is_object()) Fail(where, "not a JSON object");
  for (const auto& item : object.items()) {
    bool known = false;
    for (const char* k : keys) known = known || item.key() == k;
    if (!known) Fail(where, "unknown key \"" + item.key() + "\"");
  }
}

// Decimal digits, or 0x and hex digits; nothing else.
uint32_t Number(const json& v, const std::string& where) {
  if (v.is_number_unsigned() && v.get<uint64_t>() <= 0xFFFFFFFFu) return v.get<uint32_t>();
  if (v.is_string()) {
    const std::string text = v.get<std::string>();
    bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::string digits = hex ? text.substr(2) : text;
    bool valid = !digits.empty() && digits.size() <= 10;
    for (char c : digits) {
      auto u = static_cast<unsigned char>(c);
      valid = valid && (hex ? std::isxdigit(u) : std::isdigit(u));
    }
    if (valid) {
      unsigned long long n = std::stoull(digits, nullptr, hex ? 16 : 10);
      if (n <= 0xFFFFFFFFu) return static_cast<uint32_t>(n);
    }
  }
  Fail(where, "not a number from 0 to 0xFFFFFFFF: " + v.dump());
}

std::string Text(const json& v, const std::string& where) {
  if (!v.is_string()) Fail(where, "not a text: " + v.dump());
  return v.get<std::string>();
}

// An "at" offset, possibly counted from the tail area or the F area.
uint32_t At(const json& v, const ImageBuilder& b, const std::string& where) {
  if (v.is_string()) {
    const std::string text = v.get<std::string>();
    for (auto [prefix, base] : {std::pair<const char*, uint32_t>{"tail+", b.TailArea()}, {"farea+", b.FArea()}}) {
      const std::string p = prefix;
      if (text.compare(0, p.size(), p) == 0) {
        uint64_t at = static_cast<uint64_t>(base) + Number(json(text.substr(p.size())), where);
        if (at > 0xFFFFFFFFu) Fail(where, "offset out of range: " + text);
        return static_cast<uint32_t>(at);
      }
    }
  }
  return Number(v, where);
}

void MustFit(const ImageBuilder& b, uint32_t at, uint64_t length, const std::string& where) {
  if (static_cast<uint64_t>(at) + length > b.Size()) Fail(where, "does not fit inside the image");
}

std::vector<uint8_t> MemberContent(const json& m, const std::string& where, bool* systemBios) {
  *systemBios = m.contains("systemBios");
  if (*systemBios) {
    const json& s = m.at("systemBios");
    const std::string w = where + ".systemBios";
    AllowOnly(s, {"size", "idString", "dateVersionString", "modelTag"}, w);
    uint32_t size = Number(Need(s, "size", w), w + ".size");
    if (size != 0x10000 && size != 0x20000) Fail(w + ".size", "a system BIOS has 0x10000 or 0x20000 bytes");
    return SystemBios(size, Text(Need(s, "idString", w), w + ".idString"),
                      Text(Need(s, "dateVersionString", w), w + ".dateVersionString"),
                      Text(Need(s, "modelTag", w), w + ".modelTag"));
  }
  const json& f = Need(m, "filler", where);
  const std::string w = where + ".filler";
  AllowOnly(f, {"size", "seed"}, w);
  uint32_t size = Number(Need(f, "size", w), w + ".size");
  if (size > kMaxExpandedSize) Fail(w + ".size", "a member holds at most 0x20000 bytes");
  return FirmwareFiller(size, Number(Need(f, "seed", w), w + ".seed"));
}

void PlaceMembers(const json& members, ImageBuilder& b, RecipeImage& out) {
  AllowOnly(members, {"at", "list"}, "members");
  uint32_t at = At(Need(members, "at", "members"), b, "members.at");
  const json& list = Need(members, "list", "members");
  if (!list.is_array()) Fail("members.list", "not a list");
  for (size_t i = 0; i < list.size(); ++i) {
    const std::string where = "members.list[" + std::to_string(i) + "]";
    const json& m = list[i];
    AllowOnly(m, {"name", "method", "systemBios", "filler"}, where);
    if (m.contains("systemBios") == m.contains("filler")) Fail(where, "either \"systemBios\" or \"filler\"");
    std::string method = Text(Need(m, "method", where), where + ".method");
    if (method != "lh5" && method != "lh0") Fail(where + ".method", "lh5 or lh0, not " + method);
    bool systemBios = false;
    std::vector<uint8_t> content = MemberContent(m, where, &systemBios);
    std::vector<uint8_t> member = LzhMember(Text(Need(m, "name", where), where + ".name"), content,
                                            method == "lh5" ? LzhMethod::Lh5 : LzhMethod::Lh0, systemBios);
    uint32_t slot = MemberSlot(member);
    MustFit(b, at, slot, where);
    b.Member(at, member);
    orr::ByteView header(member.data(), static_cast<uint32_t>(member.size()));
    out.members.push_back({m.at("name").get<std::string>(), at, slot, header.U32(7),
                           static_cast<uint32_t>(content.size()), systemBios});
    at += slot;
  }
}

void Region(const json& v, const ImageBuilder& b, const RecipeImage& image, uint32_t* first, uint32_t* end,
            const std::string& where) {
  *first = *end = 0;
  if (v.is_null()) return;
  if (v.is_string() && v.get<std::string>() == "members") {
    if (image.members.empty()) Fail(where, "there are no members");
    const PlacedMember& last = image.members.back();
    *first = b.FlashAddress(image.members.front().offset);
    *end = b.FlashAddress(last.offset + last.slot);
    return;
  }
  if (!v.is_array() || v.size() != 2) Fail(where, "\"members\", null or [first, end]");
  *first = Number(v[0], where + "[0]");
  *end = Number(v[1], where + "[1]");
}

void PlaceRecord(const json& r, ImageBuilder& b, const RecipeImage& image, const std::string& where) {
  const std::string type = Text(Need(r, "type", where), where + ".type");
  const uint32_t at = At(Need(r, "at", where), b, where + ".at");
  auto keys = [&](std::initializer_list<const char*> extra) {
    std::vector<std::string> allowed = {"type", "at"};
    allowed.insert(allowed.end(), extra.begin(), extra.end());
    for (const auto& item : r.items())
      if (std::find(allowed.begin(), allowed.end(), item.key()) == allowed.end())
        Fail(where, "unknown key \"" + item.key() + "\" for " + type);
  };
  auto num = [&](const char* key) { return Number(Need(r, key, where), where + "." + key); };
  auto u16 = [&](const char* key) {
    uint32_t v = num(key);
    if (v > 0xFFFF) Fail(where + "." + key, "above 0xFFFF");
    return static_cast<uint16_t>(v);
  };
  auto text = [&](const char* key) { return Text(Need(r, key, where), where + "." + key); };

  if (type == "text") {
    keys({"text"});
    std::string t = text("text");
    MustFit(b, at, t.size() + 1, where);
    b.Text(at, t);
  } else if (type == "awardBanner") {
    keys({});
    MustFit(b, at, 28, where);
    b.AwardBanner(at);
  } else if (type == "bbsn") {
    keys({});
    MustFit(b, at, 6, where);
    b.Bbsn(at);
  } else if (type == "bbss") {
    keys({"regionStart", "regionSize"});
    MustFit(b, at, 22, where);
    b.Bbss(at, u16("regionStart"), u16("regionSize"));
  } else if (type == "bRomMap" || type == "nRomMap") {
    keys({"region1", "region2"});
    uint32_t f1, e1, f2, e2;
    Region(r.value("region1", json()), b, image, &f1, &e1, where + ".region1");
    Region(r.value("region2", json()), b, image, &f2, &e2, where + ".region2");
    MustFit(b, at, type == "bRomMap" ? 36 : 32, where);
    if (type == "bRomMap")
      b.BRomMap(at, f1, e1, f2, e2);
    else
      b.NRomMap(at, f1, e1, f2, e2);
  } else if (type == "amiRecordV1") {
    keys({"modelOff", "idOff", "dateOff", "versionOff"});
    MustFit(b, at, 18, where);
    b.AmiRecordV1(at, u16("modelOff"), u16("idOff"), u16("dateOff"), u16("versionOff"));
  } else if (type == "amiRecord") {
    keys({"version", "texts"});
    const json& list = Need(r, "texts", where);
    if (!list.is_array()) Fail(where + ".texts", "not a list");
    std::vector<std::string> texts;
    uint64_t length = 10;
    for (size_t i = 0; i < list.size(); ++i) {
      texts.push_back(Text(list[i], where + ".texts[" + std::to_string(i) + "]"));
      length += texts.back().size() + 1;
    }
    uint32_t version = num("version");
    if (version < 2 || version > 255) Fail(where + ".version", "2 to 255 (amiRecordV1 writes version 1)");
    MustFit(b, at, length, where);
    b.AmiRecord(at, static_cast<uint8_t>(version), texts);
  } else if (type == "zantBios") {
    keys({"length", "text"});
    std::string t = text("text");
    uint32_t length = num("length");
    if (length > 0xFF) Fail(where + ".length", "above 0xFF");
    MustFit(b, at, 9 + t.size(), where);
    b.ZantBios(at, static_cast<uint8_t>(length), std::vector<uint8_t>(t.begin(), t.end()));
  } else if (type == "meo") {
    keys({"model"});
    std::string t = text("model");
    MustFit(b, at, 4 + t.size(), where);
    b.Meo(at, std::vector<uint8_t>(t.begin(), t.end()));
  } else {
    Fail(where + ".type", "unknown record type " + type);
  }
}

}  // namespace

RecipeImage ImageFromRecipe(const json& recipe) {
  AllowOnly(recipe, {"size", "members", "records"}, "recipe");
  uint32_t size = Number(Need(recipe, "size", "recipe"), "size");
  if (size == 0 || size > 0x1000000) Fail("size", "1 byte to 16 MiB");
  ImageBuilder b(size);
  RecipeImage image;
  if (recipe.contains("members")) PlaceMembers(recipe.at("members"), b, image);
  if (recipe.contains("records")) {
    const json& records = recipe.at("records");
    if (!records.is_array()) Fail("records", "not a list");
    for (size_t i = 0; i < records.size(); ++i)
      PlaceRecord(records[i], b, image, "records[" + std::to_string(i) + "]");
  }
  image.bytes = b.Build();
  return image;
}

RecipeImage ImageFromRecipeFile(const std::string& path) {
  std::ifstream in(path);
  if (!in) Fail(path, "cannot be read");
  json recipe = json::parse(in, nullptr, false, true);
  if (recipe.is_discarded()) Fail(path, "not valid JSON");
  return ImageFromRecipe(recipe);
}

}  // namespace tb
