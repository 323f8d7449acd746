// Loads a simulated machine from a JSON machine profile (format version 1,
// described in docs/machine-profile.md).
#pragma once

#include <string>

#include "testbed.h"

namespace tb {

constexpr int kProfileFormatVersion = 1;

// Reads the profile file at `path`; file regions resolve against the
// profile's own directory. On failure `out` is left as it was and `error`
// says which file, which key and why.
bool LoadProfile(const std::string& path, Machine& out, std::string& error);

// The same from text already in memory: file regions resolve against
// `baseDir` (empty: the process's current directory), and messages name
// the profile `nameForMessages`.
bool LoadProfileText(const std::string& json, const std::string& baseDir, const std::string& nameForMessages,
                     Machine& out, std::string& error);

}  // namespace tb
