// A fixture for tests that run the built header_tool: a temporary working
// directory with a convention file, a clean environment and no terminal.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

struct ToolRun {
  int status = -1;  // exit status, or 128 + signal
  std::string out, err;
};

class ToolTest : public testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/kiv_tool_XXXXXX";
    dir_ = mkdtemp(tmpl);
    write("etc/name_conv", "raw %R/%Y%m%d%h.raw %C/%Y%m%d%h.hdr 0\n");
  }
  void TearDown() override { fs::remove_all(dir_); }

  void write(const std::string& name, const std::string& text, bool append = false) {
    fs::path p = dir_ / name;
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary | (append ? std::ios::app : std::ios::trunc)) << text;
  }
  std::string read(const std::string& name) const {
    std::ifstream in(dir_ / name, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  bool exists(const std::string& name) const { return fs::exists(dir_ / name); }

  // Starts the tool in the temporary directory with only the given
  // environment. Standard input is `in_fd`, or closed when it is -1;
  // standard output and error go to `out_fd` and `err_fd` (-1: /dev/null).
  pid_t spawn(std::vector<std::string> args, std::vector<std::string> env, int in_fd = -1,
              int out_fd = -1, int err_fd = -1) {
    args.insert(args.begin(), KIV_HEADER_TOOL);
    env.push_back("PATH=/usr/bin:/bin");
    env.push_back("HOME=" + dir_.string());
    pid_t pid = fork();
    if (pid != 0) return pid;
    int null_fd = open("/dev/null", O_WRONLY);
    dup2(out_fd >= 0 ? out_fd : null_fd, 1);
    dup2(err_fd >= 0 ? err_fd : null_fd, 2);
    if (in_fd >= 0) dup2(in_fd, 0);
    else close(0);
    for (int fd = 3; fd < 64; ++fd) close(fd);
    if (chdir(dir_.c_str()) != 0) _exit(99);
    std::vector<char*> argv, envp;
    for (auto& a : args) argv.push_back(a.data());
    for (auto& e : env) envp.push_back(e.data());
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    execve(argv[0], argv.data(), envp.data());
    _exit(98);
  }

  static int wait_status(pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

  // Runs the tool to its end; `input` (when given) is its standard input.
  ToolRun run(const std::vector<std::string>& args, const std::vector<std::string>& env = {},
              const std::string* input = nullptr) {
    int out[2], err[2], in[2];
    if (pipe(out) != 0 || pipe(err) != 0 || pipe(in) != 0) return {};
    pid_t pid = spawn(args, env, input != nullptr ? in[0] : -1, out[1], err[1]);
    close(out[1]);
    close(err[1]);
    close(in[0]);
    if (input != nullptr && !input->empty()) {
      ssize_t ignored = ::write(in[1], input->data(), input->size());
      (void)ignored;
    }
    close(in[1]);
    ToolRun r;
    r.out = drain(out[0], err[0], r.err);
    r.status = wait_status(pid);
    return r;
  }

  // Options that every run shares: the convention and the directories.
  static std::vector<std::string> with_paths(std::vector<std::string> extra) {
    std::vector<std::string> args = {"-fp", "etc", "-rp", "raw", "-cp", "hdr"};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
  }

  fs::path dir_;

 private:
  // Reads both pipes to their ends without letting either fill up.
  static std::string drain(int out_fd, int err_fd, std::string& err) {
    std::string out;
    fcntl(out_fd, F_SETFL, O_NONBLOCK);
    fcntl(err_fd, F_SETFL, O_NONBLOCK);
    bool out_open = true, err_open = true;
    char buf[65536];
    while (out_open || err_open) {
      fd_set set;
      FD_ZERO(&set);
      if (out_open) FD_SET(out_fd, &set);
      if (err_open) FD_SET(err_fd, &set);
      if (select(std::max(out_fd, err_fd) + 1, &set, nullptr, nullptr, nullptr) < 0) break;
      for (auto [fd, open_flag, text] : {std::tuple{out_fd, &out_open, &out},
                                         std::tuple{err_fd, &err_open, &err}}) {
        if (!*open_flag || !FD_ISSET(fd, &set)) continue;
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n > 0) text->append(buf, n);
        else if (n == 0) *open_flag = false;
      }
    }
    close(out_fd);
    close(err_fd);
    return out;
  }
};
