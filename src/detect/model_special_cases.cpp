// Five board models whose edition the identity record does not tell: a
// marker near the top of the flash part, or a text in the F segment, does.
#include "detect/model_special_cases.h"

#include <windows.h>

#include "common/text.h"
#include "hwaccess/primitives.h"
#include "state/module_state.h"

namespace orr {
namespace {

constexpr uint32_t kTopWindowPhysical = 0xFFFFFF00;
constexpr uint32_t kTopWindowLengthNt = 0xFE;
constexpr uint32_t kTopWindowLength9x = 0x100;

struct Edition {
  Marker marker;  // 11 bytes, compared exactly
  const char* suffix;
};

struct EditionRule {
  const char* model;  // compared ignoring case
  const Edition* editions;
  uint32_t count;
  bool toAltModel;    // the suffix goes to altModelName instead of modelName
};

constexpr Edition kTx4410[] = {{MakeMarker("TX4410B ROM"), "B"}};
constexpr Edition kR6n[] = {{MakeMarker("R6NB    ROM"), "(BASIC)"}};
constexpr Edition kVm3g8[] = {{MakeMarker("VM3G8   ROM"), "(Basic)"},
                              {MakeMarker("VM3G8D  ROM"), "(Deluxe)"},
                              {MakeMarker("VM3G8P  ROM"), "(Premium)"},
                              {MakeMarker("VM3G8PROROM"), "(PRO)"}};
constexpr Edition kVm3r8[] = {{MakeMarker("VM3R8D  ROM"), "(Deluxe)"}, {MakeMarker("VM3R8P  ROM"), "(Premium)"}};

template <uint32_t N>
constexpr EditionRule Rule(const char* model, bool toAltModel, const Edition (&editions)[N]) {
  return EditionRule{model, editions, N, toAltModel};
}

constexpr EditionRule kEditionRules[] = {
    Rule("TX4410", true, kTx4410),
    Rule("R6N", false, kR6n),
    Rule("VM3G8", false, kVm3g8),
    Rule("VM3R8", false, kVm3r8),
};

constexpr Marker kPavilionModel = MakeMarker("TX4410-E");
constexpr Marker kPavilionText = MakeMarker("HP Pavilion");
constexpr char kNotAvailable[] = "N/A";

// Markers are tried in table order, each over the whole window, so the
// table's order breaks a tie rather than the markers' positions.
void ApplyEdition(uint32_t driver, const EditionRule& rule) {
  Window top = OpenHighWindow(driver, kTopWindowPhysical, g_isNt ? kTopWindowLengthNt : kTopWindowLength9x);
  for (uint32_t i = 0; i < rule.count; ++i) {
    if (top.bytes.FindFirst(rule.editions[i].marker) == kNotFound) continue;
    // Cut at the field's end like every other append to a model name.
    if (rule.toAltModel)
      AppendField(MachineBios.altModelName, rule.editions[i].suffix);
    else
      AppendField(MachineBios.modelName, rule.editions[i].suffix);
    break;
  }
  CloseWindow(driver, top);
}

void ApplyPavilion(uint32_t driver) {
  Window fsegment = OpenFSegment(driver);
  if (fsegment.bytes.FindFirst(kPavilionText) != kNotFound) {
    CopyField(MachineBios.modelName, kNotAvailable);
    CopyField(MachineBios.altModelName, kNotAvailable);
  }
  CloseWindow(driver, fsegment);
}

}  // namespace

void ApplyModelSpecialCases(uint32_t driver) {
  for (const EditionRule& rule : kEditionRules) {
    if (lstrcmpiA(MachineBios.modelName, rule.model) == 0) {
      ApplyEdition(driver, rule);
      return;
    }
  }
  const ByteView model(reinterpret_cast<const uint8_t*>(MachineBios.modelName),
                       FieldLength(MachineBios.modelName, sizeof MachineBios.modelName));
  if (model.FindFirst(kPavilionModel) != kNotFound) ApplyPavilion(driver);
}

}  // namespace orr
