// What the token and device-setup stand-ins did, faults the machine cannot
// state, and the security identifiers they understand.
//
// The token: OpenProcessToken fails when tokenOpenFails; the group list is
// laid out as TOKEN_GROUPS (entries, then each SID; a SID text that does not
// parse becomes the null SID S-1-0-0) and, asked for without a big enough
// buffer, fails and reports the size it needs. tokenReadFails fails every
// read that brings a buffer; the size query still answers.
// The system devices: SetupDiGetClassDevsA gives INVALID_HANDLE_VALUE when
// systemDevicesUnavailable; each device's hardware ids read as a REG_MULTI_SZ
// list; a device with readFails, or with no ids at all, fails the read, and a
// buffer too small fails it with the required size reported and nothing
// written. Failures set the last error as Windows does.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "testbed.h"

namespace tb {

// One line per call, in the order the library made them:
//   "OpenProcessToken access=0x20008"
//   "AllocateAndInitializeSid S-1-5-32-544"
//   "GetTokenInformation class=2 no buffer" / "GetTokenInformation class=2 size=52"
//   "EqualSid S-1-1-0 S-1-5-32-544", "FreeSid S-1-5-32-544"
//   "SetupDiGetClassDevsA {4D36E97D-E325-11CE-BFC1-08002BE10318} flags=0x2"
//   "SetupDiEnumDeviceInfo index=0"
//   "SetupDiGetDeviceRegistryPropertyA index=0 property=1 size=512"
//   "SetupDiDestroyDeviceInfoList"
const std::vector<std::string>& SecurityCalls();

// Until the next Reset: the size query of the group list reports this many
// bytes instead of the size it needs.
void ReportTokenGroupsSize(uint32_t bytes);
// Until the next Reset: the group list states this many more groups than it
// holds, as a corrupt list would.
void OverstateTokenGroupCount(uint32_t extra);

// The bytes the installed machine's group list takes, as the size query reports.
uint32_t TokenGroupsSize();

// "S-1-5-32-544" as SID bytes (revision 1, up to 15 sub-authorities, the
// authority in decimal or as 0x and 12 hex digits); false for anything else.
bool ParseSid(const std::string& text, std::vector<uint8_t>& bytes);
// The SID at sid in the same notation.
std::string SidText(const void* sid);

}  // namespace tb
