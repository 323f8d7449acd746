// The 32-bit x86 processor the DLL runs on (Unicorn 2) and the thread it
// runs in: a flat code, data and stack segment, FS on a thread block whose
// self pointer is at fs:0x18, a stack, the stub pages whose `ret`/`ret N`
// the guest executes after a stub's host work, and the call of a guest
// function as a Windows caller makes it.
#pragma once

#include <unicorn/unicorn.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "guest_memory.h"

namespace dllrun {

// A run that cannot go on: a fault in the DLL, a broken calling convention,
// a stub that cannot answer, an exhausted budget. The message says which.
class Fault : public std::runtime_error {
 public:
  explicit Fault(const std::string& what) : std::runtime_error(what) {}
};

// The thread block's fields the MinGW runtime reads.
constexpr uint32_t kTebExceptionList = 0x00;
constexpr uint32_t kTebStackBase = 0x04;
constexpr uint32_t kTebStackLimit = 0x08;
constexpr uint32_t kTebSelf = 0x18;
constexpr uint32_t kTebProcessId = 0x20;
constexpr uint32_t kTebThreadId = 0x24;
constexpr uint32_t kTebTlsPointer = 0x2C;
constexpr uint32_t kTebPeb = 0x30;
constexpr uint32_t kTebLastError = 0x34;
constexpr uint32_t kTebTlsSlots = 0xE10;
constexpr uint32_t kTlsSlotCount = 64;
constexpr uint32_t kThreadId = 0x1004;
constexpr uint32_t kProcessId = 0x1000;

enum class Convention { Stdcall, Cdecl };

class Emulator {
 public:
  // Called for a stub slot, before its `ret` runs, with the slot's number and
  // ESP (the return address is at ESP, the first argument at ESP + 4).
  using StubDispatch = std::function<void(uint32_t slot, uint32_t esp)>;
  using PortIn = std::function<uint32_t(uint16_t port)>;
  using PortOut = std::function<void(uint16_t port, uint32_t value)>;
  // What a fault report adds about the address a faulting access reached.
  using FaultNote = std::function<std::string(uint32_t address)>;

  Emulator();
  ~Emulator();
  Emulator(const Emulator&) = delete;
  Emulator& operator=(const Emulator&) = delete;

  GuestMemory& Memory() { return *memory_; }
  uint32_t Teb() const { return teb_; }

  void SetStubDispatch(StubDispatch dispatch) { dispatch_ = std::move(dispatch); }
  void SetFaultNote(FaultNote note) { faultNote_ = std::move(note); }
  void SetPorts(PortIn in, PortOut out) {
    portIn_ = std::move(in);
    portOut_ = std::move(out);
  }

  // A stub that removes argBytes of arguments on return (stdcall), or none
  // (cdecl); returns its guest address. Slot numbers count from 0.
  uint32_t AddStub(Convention convention, uint32_t argBytes);
  // Guest code placed in an executable page of its own; returns its address.
  uint32_t AddCode(const std::vector<uint8_t>& code);

  // Calls the guest function at address as a Windows caller would: the
  // arguments pushed right to left, a return address that leads to a
  // sentinel. Checks that ESP comes back where the convention leaves it and
  // that EBX, ESI, EDI and EBP are unchanged, and stops after budget
  // executed blocks. Returns EAX; throws Fault, and refuses every later
  // call, when anything goes wrong. `what` names the call in messages.
  uint32_t Call(uint32_t address, const std::vector<uint32_t>& args, Convention convention,
                const std::string& what, uint64_t budget);

  bool Broken() const { return !broken_.empty(); }
  // Where an address lies, for messages ("ORRIVANE.DLL+0x1234").
  std::string Describe(uint32_t address) const;
  void SetEax(uint32_t value);  // a stub's result
  uint64_t BlocksRun() const { return blocks_; }
  // The loaded DLL's range and name, for Describe.
  void NameImage(uint32_t base, uint32_t size, const std::string& name) {
    imageBase_ = base;
    imageSize_ = size;
    imageName_ = name;
  }

 private:
  static void OnCode(uc_engine* uc, uint64_t address, uint32_t size, void* self);
  static void OnBlock(uc_engine* uc, uint64_t address, uint32_t size, void* self);
  static bool OnInvalidMemory(uc_engine* uc, uc_mem_type type, uint64_t address, int size, int64_t value,
                              void* self);
  static void OnInterrupt(uc_engine* uc, uint32_t number, void* self);
  static bool OnInvalidInstruction(uc_engine* uc, void* self);
  static uint32_t OnIn(uc_engine* uc, uint32_t port, int size, void* self);
  static void OnOut(uc_engine* uc, uint32_t port, int size, uint32_t value, void* self);
  void SetUpSegments();
  void Stop(const std::string& message);  // from a hook: end the run with this message
  uint32_t Eip() const;
  uint32_t ReadEsp() const;

  uc_engine* uc_ = nullptr;
  std::unique_ptr<GuestMemory> memory_;
  uint32_t gdt_ = 0, teb_ = 0, stackLow_ = 0, stackTop_ = 0, sentinel_ = 0;
  uint32_t stubBase_ = 0, stubCount_ = 0, stubCapacity_ = 0, codeBase_ = 0, codeUsed_ = 0;
  uint8_t* stubBytes_ = nullptr;
  uint8_t* codeBytes_ = nullptr;
  StubDispatch dispatch_;
  PortIn portIn_;
  PortOut portOut_;
  FaultNote faultNote_;
  uint64_t blocks_ = 0, budget_ = 0;
  std::string stopReason_;  // set by a hook during a run
  std::string broken_;      // the first failure; every later call is refused
  bool running_ = false;
  uint32_t imageBase_ = 0, imageSize_ = 0;
  std::string imageName_;
};

}  // namespace dllrun
