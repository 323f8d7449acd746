// Images described in a JSON recipe, so that sample images live in the tree
// as text and are built when needed. A recipe:
//
//   { "size": "0x80000",
//     "members": { "at": "0", "list": [
//         { "name": "original.tmp", "method": "lh5",
//           "systemBios": { "size": "0x20000", "idString": "...",
//                           "dateVersionString": "...", "modelTag": "<...>" } },
//         { "name": "acpitbl.bin", "method": "lh0",
//           "filler": { "size": "0x800", "seed": 12 } } ] },
//     "records": [
//         { "type": "awardBanner", "at": "tail+0x1C000" },
//         { "type": "bRomMap", "at": "tail+0x1F000",
//           "region1": "members", "region2": null } ] }
//
// Comments (//) are allowed and unknown keys are refused. Numbers are JSON numbers or texts in decimal or 0x-hex; an "at" may count
// from the tail area ("tail+...") or the F area ("farea+..."). Members sit
// in their slots one behind the other from members.at; a ROM-map region
// "members" spans them all, [first, end] gives flash addresses, null leaves
// the region absent. Record types: text, awardBanner, bbsn, bbss,
// bRomMap, nRomMap, amiRecordV1, amiRecord, zantBios, meo (fields as the
// ImageBuilder calls of the same names take them).
#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>
#include <vector>

namespace tb {

struct PlacedMember {
  std::string name;
  uint32_t offset;
  uint32_t slot;      // H + P + 4
  uint32_t packed;    // P
  uint32_t original;
  bool systemBios;
};

struct RecipeImage {
  std::vector<uint8_t> bytes;
  std::vector<PlacedMember> members;
};

// Throws std::runtime_error naming the first thing wrong with the recipe,
// including anything that would not fit inside the image.
RecipeImage ImageFromRecipe(const nlohmann::json& recipe);
RecipeImage ImageFromRecipeFile(const std::string& path);

}  // namespace tb
