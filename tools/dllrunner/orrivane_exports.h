// What a caller of ORRIVANE.DLL relies on for each export: its name and
// ordinal, how many 32-bit arguments it takes (stdcall: the callee removes
// 4 x that many bytes) and how wide its result is declared.
#pragma once

#include <cstdint>
#include <vector>

namespace dllrun {

enum class ResultWidth {
  Bits32,      // the whole of EAX
  Bits8,       // declared 8-bit; this DLL zero-extends it to the whole of EAX
  Bits8Flag,   // declared 8-bit, yet 0 or 1 in the whole of EAX (Orrivane_CheckPlugins)
};

struct ExportEntry {
  const char* name;
  uint16_t ordinal;
  uint32_t argc;
  ResultWidth width;
};

const std::vector<ExportEntry>& OrrivaneExports();
const ExportEntry* FindExport(const char* name);

}  // namespace dllrun
