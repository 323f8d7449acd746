// Runs the built orrivane tool and collects its exit status and output.
#pragma once

#include <gtest/gtest.h>
#include <fcntl.h>
#include <nlohmann/json.hpp>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern char** environ;

struct ToolRun {
  int status = -1;  // the exit status, or -1 when the tool did not exit normally
  std::string out;
  std::string err;
};

inline std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline ToolRun RunTool(const std::vector<std::string>& args) {
  const std::string stem = testing::TempDir() + "orrivane_tool_" + std::to_string(getpid());
  const std::string outPath = stem + ".out", errPath = stem + ".err";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  std::vector<char*> argv{const_cast<char*>(ORRIVANE_TOOL)};
  // The same cases through ORRIVANE.DLL under the emulator (the dll_tool_tests run).
  static std::string dll = std::getenv("ORRIVANE_TOOL_DLL") ? std::getenv("ORRIVANE_TOOL_DLL") : "";
  static std::string dllOption = "--dll";
  if (!dll.empty() && std::find(args.begin(), args.end(), dllOption) == args.end())
    argv.insert(argv.end(), {dllOption.data(), dll.data()});
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);

  ToolRun run;
  pid_t pid = 0;
  if (posix_spawn(&pid, ORRIVANE_TOOL, &actions, nullptr, argv.data(), environ) == 0) {
    int wait = 0;
    if (waitpid(pid, &wait, 0) == pid && WIFEXITED(wait)) run.status = WEXITSTATUS(wait);
  }
  posix_spawn_file_actions_destroy(&actions);
  run.out = ReadWholeFile(outPath);
  run.err = ReadWholeFile(errPath);
  std::remove(outPath.c_str());
  std::remove(errPath.c_str());
  return run;
}

// Writes text to a file in the test's temporary directory and returns its path.
inline std::string WriteTempFile(const std::string& name, const std::string& text) {
  const std::string path = testing::TempDir() + std::to_string(getpid()) + "_" + name;
  std::ofstream(path, std::ios::binary) << text;
  return path;
}

// A run the tool refuses: exit status 2, nothing on standard output, and the
// reason (naming what it refused) on standard error.
inline void ExpectRefused(const std::vector<std::string>& args, const std::string& reason) {
  const ToolRun run = RunTool(args);
  EXPECT_EQ(run.status, 2) << args.back();
  EXPECT_EQ(run.out, "") << args.back();
  EXPECT_NE(run.err.find(reason), std::string::npos) << args.back() << ": " << run.err;
}

// The keys of a JSON object in their order.
inline std::vector<std::string> Keys(const nlohmann::ordered_json& object) {
  std::vector<std::string> keys;
  for (auto it = object.begin(); it != object.end(); ++it) keys.push_back(it.key());
  return keys;
}
