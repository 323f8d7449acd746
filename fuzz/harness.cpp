#include "harness.h"

#include <cstring>

#include "hwaccess/contract.h"
#include "state/module_state.h"
#include "lzh_expansion.h"
#include "library_reset.h"

namespace fz {
namespace {

template <size_t N>
bool Terminated(const char (&field)[N]) {
  return std::memchr(field, 0, N) != nullptr;
}

bool KnownServiceCode(uint32_t code) {
  using namespace orr;
  return code == kRequestOpenDriver || code == kRequestFreeDriver || code == kRequestFlashInfo ||
         code == kRequestExpandMember || code == kRequestImageStatus || code == kRequestImageFinish;
}

}  // namespace

void StartWith(const tb::Machine& machine) {
  tb::StartLibraryOn(machine);
}

void RequireNothingOutstanding() {
  FZ_REQUIRE(tb::OutstandingMappedWindows() == 0);
  FZ_REQUIRE(tb::OutstandingGlobalBlocks() == 0);
  FZ_REQUIRE(tb::LockedGlobalBlocks() == 0);
  FZ_REQUIRE(tb::ContractViolations().empty());
}

void RequireTextFieldsTerminated() {
  FZ_REQUIRE(Terminated(MachineBios.romId));
  FZ_REQUIRE(Terminated(MachineBios.idString));
  FZ_REQUIRE(Terminated(MachineBios.modelName));
  FZ_REQUIRE(Terminated(MachineBios.versionText));
  FZ_REQUIRE(Terminated(MachineBios.dateText));
  FZ_REQUIRE(Terminated(MachineBios.descriptionText));
  FZ_REQUIRE(Terminated(MachineBios.altModelName));
  FZ_REQUIRE(Terminated(ImageBios.idString));
  FZ_REQUIRE(Terminated(ImageBios.modelName));
  FZ_REQUIRE(Terminated(ImageBios.versionText));
  FZ_REQUIRE(Terminated(ImageBios.dateText));
}

void RequireKnownRequests() {
  const bool nt = tb::CurrentMachine().platform == tb::Platform::Nt;
  for (const tb::Request& r : tb::DriverRequests()) FZ_REQUIRE(tb::KnownDriverCode(r.code, nt));
  for (const tb::Request& r : tb::ServiceRequests()) FZ_REQUIRE(KnownServiceCode(r.code));
}

void RequireDocumentedResult(uint32_t result) {
  const bool own = result == 0 || result == 211 || (result >= 301 && result <= 307);
  const bool service = result >= tb::kExpandBadHeader && result <= tb::kExpandDecoderFailed;
  FZ_REQUIRE(own || service);
}

void RequireInvariants() {
  RequireNothingOutstanding();
  RequireTextFieldsTerminated();
  RequireKnownRequests();
}

uint32_t Hash(const uint8_t* data, size_t size) {
  uint32_t h = 2166136261u;  // FNV-1a
  for (size_t i = 0; i < size; ++i) h = (h ^ data[i]) * 16777619u;
  return h;
}

}  // namespace fz
