#include "harness.h"

#include <cstring>
#include <utility>

#include "hwaccess/contract.h"
#include "library_reset.h"
#include "lzh_expansion.h"
#include "orrivane.h"
#include "state/module_state.h"

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

void StartWith(tb::Machine&& machine) {
  tb::ResetLibraryState();
  tb::Reset(std::move(machine));
}

void ClearMachine(tb::Machine& machine) {
  tb::PhysicalMemory memory = std::move(machine.memory);
  memory.Clear();
  machine = tb::Machine();
  machine.memory = std::move(memory);
}

void EndRun() {
  ClearMachine(tb::CurrentMachine());
  tb::Reset(std::move(tb::CurrentMachine()));
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
  const bool own = result == ORRIVANE_OK || result == ORRIVANE_ERR_OPEN ||
                   (result >= ORRIVANE_ERR_EMPTY && result <= ORRIVANE_ERR_NO_STATUS);
  const bool service = result >= tb::kExpandBadHeader && result <= tb::kExpandDecoderFailed;
  FZ_REQUIRE(own || service);
}

void RequireInvariants() {
  RequireNothingOutstanding();
  RequireTextFieldsTerminated();
  RequireKnownRequests();
}

uint32_t Hash(const uint8_t* data, size_t size) {
  // FNV-1a over 64-bit words, then the last bytes one by one: inputs run to
  // hundreds of kilobytes, and a byte at a time cost a tenth of each run.
  uint64_t h = 14695981039346656037u;
  size_t i = 0;
  for (; i + 8 <= size; i += 8) {
    uint64_t word;
    std::memcpy(&word, data + i, 8);
    h = (h ^ word) * 1099511628211u;
  }
  for (; i < size; ++i) h = (h ^ data[i]) * 1099511628211u;
  return static_cast<uint32_t>(h ^ (h >> 32));
}

}  // namespace fz
