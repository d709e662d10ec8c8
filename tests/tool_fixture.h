// A fixture for tests that run the built header_tool: a temporary working
// directory with a convention file, a clean environment and no terminal;
// and the header records of a fresh index, to build header files from.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "src/scan.h"
#include "tests/support.h"

using ToolRun = ChildRun;
using Lines = std::vector<std::string>;  // header records, each with its line feed

// The records a fresh index of the data file `path` holds.
inline Lines index_of(const std::string& path) {
  Lines lines;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return lines;
  SCAN_records(f, [&lines](long, std::string_view record) {
    lines.push_back(std::string(record) + "\n");
    return true;
  });
  std::fclose(f);
  return lines;
}

// The lines one after another, each after `prefix`.
inline std::string join(const Lines& lines, const std::string& prefix = "") {
  std::string text;
  for (const std::string& l : lines) text += prefix + l;
  return text;
}

// The records with the offset of record n (1-based) moved by one byte.
inline Lines offset_plus_one(Lines lines, size_t n) {
  std::string& line = lines[n - 1];
  char num[32];
  std::snprintf(num, sizeof num, "%7ld", std::stol(line) + 1);
  line = num + line.substr(line.find(' ', line.find_first_not_of(' ')));
  return lines;
}

class ToolTest : public testing::Test {
 protected:
  void SetUp() override { write("etc/name_conv", "raw %R/%Y%m%d%h.raw %C/%Y%m%d%h.hdr 0\n"); }

  void write(const std::string& name, const std::string& text, bool append = false) {
    tmp_.write(name, text, append);
  }
  std::string read(const std::string& name) const { return tmp_.read(name); }
  bool exists(const std::string& name) const { return fs::exists(dir_ / name); }

  // Starts the tool in the temporary directory with only the given
  // environment. Standard input is `in_fd`, or closed when it is -1;
  // standard output and error go to `out_fd` and `err_fd` (-1: /dev/null).
  pid_t spawn(std::vector<std::string> args, std::vector<std::string> env, int in_fd = -1,
              int out_fd = -1, int err_fd = -1) {
    return spawn_program(tool_args(std::move(args)), tool_env(std::move(env)), dir_, in_fd, out_fd,
                         err_fd);
  }

  static int wait_status(pid_t pid) { return ::wait_status(pid); }

  // Runs the tool to its end; `input` (when given) is its standard input.
  ToolRun run(const std::vector<std::string>& args, const std::vector<std::string>& env = {},
              const std::string* input = nullptr) {
    return run_program(tool_args(args), tool_env(env), dir_, input);
  }

  // Options that every run shares: the convention and the directories.
  static std::vector<std::string> with_paths(std::vector<std::string> extra) {
    std::vector<std::string> args = {"-fp", "etc", "-rp", "raw", "-cp", "hdr"};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
  }

  TempDir tmp_;
  fs::path dir_ = tmp_.path();

 private:
  static std::vector<std::string> tool_args(std::vector<std::string> args) {
    args.insert(args.begin(), KIV_HEADER_TOOL);
    return args;
  }
  std::vector<std::string> tool_env(std::vector<std::string> env) const {
    env.push_back("PATH=/usr/bin:/bin");
    env.push_back("HOME=" + dir_.string());
    return env;
  }
};
