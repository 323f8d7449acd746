#include "emulator.h"

#include "hex_text.h"

#include <cstring>

namespace dllrun {
namespace {

constexpr uint32_t kStubSlot = 16;
constexpr uint32_t kStubPages = 4;
constexpr uint32_t kCodePages = 1;
constexpr uint32_t kStackSize = 1u << 20;
constexpr uint32_t kFrameRoom = 16;  // a zeroed frame record above the first argument

// Selectors of the GDT below: flat ring-0 data (for SS, DS, ES), FS (RPL 3)
// on the thread block. CS keeps the emulator's flat 32-bit code segment.
constexpr uint32_t kDataSelector = 2 * 8;
constexpr uint32_t kFsSelector = 3 * 8 | 3;

// Callee-saved registers get values no compiler would make up, and the
// scratch registers a poison after every stub, so code that relies on either
// being kept shows.
constexpr uint32_t kEbxMark = 0xB0B1B2B3, kEsiMark = 0x51525354, kEdiMark = 0xD0D1D2D3;
constexpr uint32_t kScratchPoison = 0xCCCCCCCC;

void Descriptor(uint8_t* gdt, size_t index, uint32_t base, uint32_t limit, uint8_t access, uint8_t flags) {
  uint8_t* d = gdt + index * 8;
  d[0] = limit & 0xFF;
  d[1] = (limit >> 8) & 0xFF;
  d[2] = base & 0xFF;
  d[3] = (base >> 8) & 0xFF;
  d[4] = (base >> 16) & 0xFF;
  d[5] = access;
  d[6] = static_cast<uint8_t>(((limit >> 16) & 0x0F) | flags << 4);
  d[7] = static_cast<uint8_t>(base >> 24);
}

void Put32(uint8_t* at, uint32_t value) { std::memcpy(at, &value, 4); }

const char* AccessName(uc_mem_type type) {
  switch (type) {
    case UC_MEM_READ_UNMAPPED: return "read of unmapped memory";
    case UC_MEM_WRITE_UNMAPPED: return "write to unmapped memory";
    case UC_MEM_FETCH_UNMAPPED: return "jump to unmapped memory";
    case UC_MEM_READ_PROT: return "read of protected memory";
    case UC_MEM_WRITE_PROT: return "write to read-only memory";
    case UC_MEM_FETCH_PROT: return "execution of non-executable memory";
    default: return "invalid memory access";
  }
}

}  // namespace

Emulator::Emulator() {
  if (uc_err e = uc_open(UC_ARCH_X86, UC_MODE_32, &uc_))
    throw Fault(std::string("cannot start the emulator: ") + uc_strerror(e));
  memory_ = std::make_unique<GuestMemory>(uc_);
  std::string error;
  auto place = [&](uint32_t size, uint32_t prot, const char* name) {
    uint32_t at = memory_->MapAnywhere(size, prot, name, error);
    if (!at) throw Fault(error);
    return at;
  };
  gdt_ = place(kPage, kRead | kWrite, "the descriptor table");
  teb_ = place(2 * kPage, kRead | kWrite, "the thread block");
  stackLow_ = place(kStackSize, kRead | kWrite, "the stack");
  stackTop_ = stackLow_ + kStackSize;
  stubBase_ = place(kStubPages * kPage, kRead | kExec, "the import stubs");
  stubCapacity_ = kStubPages * kPage / kStubSlot;
  stubBytes_ = memory_->Span(stubBase_, kStubPages * kPage, 0);
  std::memset(stubBytes_, 0xCC, size_t{kStubPages} * kPage);
  codeBase_ = place(kCodePages * kPage, kRead | kExec, "the runner's guest code");
  codeBytes_ = memory_->Span(codeBase_, kCodePages * kPage, 0);
  std::memset(codeBytes_, 0xCC, size_t{kCodePages} * kPage);
  sentinel_ = place(kPage, kRead | kExec, "the return sentinel");
  memory_->Span(sentinel_, 1, 0)[0] = 0xF4;  // hlt: only reached if a run goes on past the sentinel

  uint8_t* teb = memory_->Span(teb_, 2 * kPage, 0);
  const uint32_t peb = teb_ + kPage;
  Put32(teb + kTebExceptionList, 0xFFFFFFFF);  // end of the handler chain
  Put32(teb + kTebStackBase, stackTop_);
  Put32(teb + kTebStackLimit, stackLow_);
  Put32(teb + kTebSelf, teb_);
  Put32(teb + kTebProcessId, kProcessId);
  Put32(teb + kTebThreadId, kThreadId);
  Put32(teb + kTebPeb, peb);
  SetUpSegments();

  uc_hook hook;
  auto add = [&](int type, void* callback, uint64_t begin, uint64_t end, int insn = -1) {
    uc_err e = insn < 0 ? uc_hook_add(uc_, &hook, type, callback, this, begin, end)
                        : uc_hook_add(uc_, &hook, type, callback, this, begin, end, insn);
    if (e) throw Fault(std::string("cannot hook the emulator: ") + uc_strerror(e));
  };
  add(UC_HOOK_CODE, reinterpret_cast<void*>(&Emulator::OnCode), stubBase_, stubBase_ + kStubPages * kPage - 1);
  add(UC_HOOK_BLOCK, reinterpret_cast<void*>(&Emulator::OnBlock), 1, 0);
  add(UC_HOOK_MEM_INVALID, reinterpret_cast<void*>(&Emulator::OnInvalidMemory), 1, 0);
  add(UC_HOOK_INTR, reinterpret_cast<void*>(&Emulator::OnInterrupt), 1, 0);
  add(UC_HOOK_INSN_INVALID, reinterpret_cast<void*>(&Emulator::OnInvalidInstruction), 1, 0);
  add(UC_HOOK_INSN, reinterpret_cast<void*>(&Emulator::OnIn), 1, 0, UC_X86_INS_IN);
  add(UC_HOOK_INSN, reinterpret_cast<void*>(&Emulator::OnOut), 1, 0, UC_X86_INS_OUT);
}

Emulator::~Emulator() {
  memory_.reset();
  if (uc_) uc_close(uc_);
}

// Writing FS_BASE has no effect in 32-bit mode: FS must name a descriptor
// whose base is the thread block. SS needs a flat 32-bit descriptor too, or
// pushes and calls use 16-bit stack arithmetic.
void Emulator::SetUpSegments() {
  uint8_t* gdt = memory_->Span(gdt_, kPage, 0);
  Descriptor(gdt, 1, 0, 0xFFFFF, 0x9B, 0xC);        // code, ring 0, 32-bit, 4 KiB granularity
  Descriptor(gdt, 2, 0, 0xFFFFF, 0x93, 0xC);        // data, ring 0
  Descriptor(gdt, 3, teb_, kPage - 1, 0xF3, 0x4);   // data, ring 3, on the thread block
  uc_x86_mmr gdtr{};
  gdtr.base = gdt_;
  gdtr.limit = 4 * 8 - 1;
  uint32_t fs = kFsSelector, data = kDataSelector;
  if (uc_reg_write(uc_, UC_X86_REG_GDTR, &gdtr) || uc_reg_write(uc_, UC_X86_REG_SS, &data) ||
      uc_reg_write(uc_, UC_X86_REG_DS, &data) || uc_reg_write(uc_, UC_X86_REG_ES, &data) ||
      uc_reg_write(uc_, UC_X86_REG_FS, &fs))
    throw Fault("cannot set up the segment registers");
}

uint32_t Emulator::AddStub(Convention convention, uint32_t argBytes) {
  if (stubCount_ == stubCapacity_) throw Fault("too many import stubs for the stub pages");
  uint8_t* slot = stubBytes_ + size_t{stubCount_} * kStubSlot;
  if (convention == Convention::Stdcall && argBytes > 0) {
    slot[0] = 0xC2;  // ret imm16
    slot[1] = argBytes & 0xFF;
    slot[2] = static_cast<uint8_t>(argBytes >> 8);
  } else {
    slot[0] = 0xC3;  // ret
  }
  return stubBase_ + kStubSlot * stubCount_++;
}

uint32_t Emulator::AddCode(const std::vector<uint8_t>& code) {
  const uint32_t at = (codeUsed_ + 15) & ~15u;
  if (at + code.size() > size_t{kCodePages} * kPage) throw Fault("the runner's guest code does not fit its page");
  std::memcpy(codeBytes_ + at, code.data(), code.size());
  codeUsed_ = at + static_cast<uint32_t>(code.size());
  return codeBase_ + at;
}

uint32_t Emulator::Eip() const {
  uint32_t eip = 0;
  uc_reg_read(uc_, UC_X86_REG_EIP, &eip);
  return eip;
}

uint32_t Emulator::ReadEsp() const {
  uint32_t esp = 0;
  uc_reg_read(uc_, UC_X86_REG_ESP, &esp);
  return esp;
}

void Emulator::SetEax(uint32_t value) { uc_reg_write(uc_, UC_X86_REG_EAX, &value); }

void Emulator::Stop(const std::string& message) {
  if (stopReason_.empty()) stopReason_ = message;
  uc_emu_stop(uc_);
}

std::string Emulator::Describe(uint32_t address) const {
  if (imageSize_ && address >= imageBase_ && address - imageBase_ < imageSize_)
    return imageName_ + "+" + Hex(address - imageBase_);
  if (const GuestMemory::Mapping* m = memory_->Find(address))
    return Hex(address, 8) + " (" + m->name + "+" + Hex(address - m->start) + ")";
  return Hex(address, 8);
}

uint32_t Emulator::Call(uint32_t address, const std::vector<uint32_t>& args, Convention convention,
                        const std::string& what, uint64_t budget) {
  if (!broken_.empty()) throw Fault("the DLL stopped earlier and cannot be called again: " + broken_);
  if (running_) throw Fault(what + ": called from inside a stub; the runner does not nest guest calls");
  auto fail = [&](const std::string& message) -> uint32_t {
    broken_ = what + ": " + message;
    throw Fault(broken_);
  };
  const uint32_t frame = stackTop_ - kFrameRoom;  // EBP at the call: a zeroed frame record
  const uint32_t argBytes = 4 * static_cast<uint32_t>(args.size());
  uint32_t esp = frame - argBytes;
  for (size_t i = 0; i < args.size(); ++i) memory_->Write(esp + 4 * static_cast<uint32_t>(i), &args[i], 4);
  esp -= 4;
  memory_->Write(esp, &sentinel_, 4);
  uint32_t zero = 0, ebx = kEbxMark, esi = kEsiMark, edi = kEdiMark, ebp = frame, flags = 0x202;
  uc_reg_write(uc_, UC_X86_REG_ESP, &esp);
  uc_reg_write(uc_, UC_X86_REG_EBP, &ebp);
  uc_reg_write(uc_, UC_X86_REG_EBX, &ebx);
  uc_reg_write(uc_, UC_X86_REG_ESI, &esi);
  uc_reg_write(uc_, UC_X86_REG_EDI, &edi);
  uc_reg_write(uc_, UC_X86_REG_EAX, &zero);
  uc_reg_write(uc_, UC_X86_REG_ECX, &zero);
  uc_reg_write(uc_, UC_X86_REG_EDX, &zero);
  uc_reg_write(uc_, UC_X86_REG_EFLAGS, &flags);
  blocks_ = 0;
  budget_ = budget;
  stopReason_.clear();

  running_ = true;
  const uc_err err = uc_emu_start(uc_, address, sentinel_, 0, 0);
  running_ = false;
  if (!stopReason_.empty()) return fail(stopReason_);
  if (err != UC_ERR_OK) return fail(std::string(uc_strerror(err)) + " at " + Describe(Eip()));
  if (Eip() != sentinel_) return fail("stopped at " + Describe(Eip()) + " without returning");

  uint32_t eax = 0, after = 0;
  uc_reg_read(uc_, UC_X86_REG_EAX, &eax);
  uc_reg_read(uc_, UC_X86_REG_ESP, &after);
  const uint32_t expected = convention == Convention::Stdcall ? frame : frame - argBytes;
  if (after != expected) {
    const auto off = static_cast<int32_t>(after - expected);
    return fail("returned with ESP " + std::string(off > 0 ? "+" : "") + std::to_string(off) + " bytes from where " +
                (convention == Convention::Stdcall ? "stdcall" : "cdecl") + " leaves it (" +
                std::to_string(argBytes) + " argument bytes pushed)");
  }
  const struct {
    const char* name;
    uc_x86_reg reg;
    uint32_t expect;
  } kept[] = {{"EBX", UC_X86_REG_EBX, kEbxMark},
              {"ESI", UC_X86_REG_ESI, kEsiMark},
              {"EDI", UC_X86_REG_EDI, kEdiMark},
              {"EBP", UC_X86_REG_EBP, frame}};
  for (const auto& k : kept) {
    uint32_t value = 0;
    uc_reg_read(uc_, k.reg, &value);
    if (value != k.expect)
      return fail(std::string("did not preserve ") + k.name + ": " + Hex(k.expect, 8) + " became " + Hex(value, 8));
  }
  return eax;
}

void Emulator::OnCode(uc_engine*, uint64_t address, uint32_t, void* self) {
  auto* e = static_cast<Emulator*>(self);
  const uint32_t offset = static_cast<uint32_t>(address) - e->stubBase_;
  if (offset % kStubSlot != 0 || offset / kStubSlot >= e->stubCount_) return;
  try {
    e->dispatch_(offset / kStubSlot, e->ReadEsp());
  } catch (const std::exception& ex) {
    e->Stop(ex.what());
    return;
  }
  uint32_t poison = kScratchPoison;
  uc_reg_write(e->uc_, UC_X86_REG_ECX, &poison);
  uc_reg_write(e->uc_, UC_X86_REG_EDX, &poison);
}

void Emulator::OnBlock(uc_engine*, uint64_t, uint32_t, void* self) {
  auto* e = static_cast<Emulator*>(self);
  if (++e->blocks_ > e->budget_) {
    e->Stop("still running after " + std::to_string(e->budget_) +
            " executed blocks, the call's budget (an endless loop?) at " + e->Describe(e->Eip()));
  }
}

bool Emulator::OnInvalidMemory(uc_engine*, uc_mem_type type, uint64_t address, int size, int64_t, void* self) {
  auto* e = static_cast<Emulator*>(self);
  const auto at = static_cast<uint32_t>(address);
  e->Stop(std::string(AccessName(type)) + ": " + std::to_string(size) + " bytes at " + e->Describe(at) +
          (e->faultNote_ ? e->faultNote_(at) : std::string()) + ", instruction at " + e->Describe(e->Eip()));
  return false;
}

void Emulator::OnInterrupt(uc_engine*, uint32_t number, void* self) {
  auto* e = static_cast<Emulator*>(self);
  e->Stop("processor exception " + std::to_string(number) + " at " + e->Describe(e->Eip()));
}

bool Emulator::OnInvalidInstruction(uc_engine*, void* self) {
  auto* e = static_cast<Emulator*>(self);
  e->Stop("invalid instruction at " + e->Describe(e->Eip()));
  return false;
}

uint32_t Emulator::OnIn(uc_engine*, uint32_t port, int size, void* self) {
  auto* e = static_cast<Emulator*>(self);
  if (size != 4 || !e->portIn_) {
    e->Stop(std::to_string(8 * size) + "-bit port input from " + std::to_string(port) + " at " + e->Describe(e->Eip()) +
            ": only 32-bit port accesses reach the machine");
    return 0;
  }
  try {
    return e->portIn_(static_cast<uint16_t>(port));
  } catch (const std::exception& ex) {
    e->Stop(ex.what());
    return 0;
  }
}

void Emulator::OnOut(uc_engine*, uint32_t port, int size, uint32_t value, void* self) {
  auto* e = static_cast<Emulator*>(self);
  if (size != 4 || !e->portOut_) {
    e->Stop(std::to_string(8 * size) + "-bit port output to " + std::to_string(port) + " at " + e->Describe(e->Eip()) +
            ": only 32-bit port accesses reach the machine");
    return;
  }
  try {
    e->portOut_(static_cast<uint16_t>(port), value);
  } catch (const std::exception& ex) {
    e->Stop(ex.what());
  }
}

}  // namespace dllrun
