// What the test programs share: a scoped temporary directory, whole-file
// reads and writes, and running a function or a program in a child
// process with its standard input fed and its standard output, standard
// error and exit status captured. Header-only.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

// The whole file, byte for byte; empty when it cannot be read.
inline std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Writes (or appends) `text` byte for byte, creating missing directories.
inline void write_file(const fs::path& path, const std::string& text, bool append = false) {
  if (path.has_parent_path()) fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary | (append ? std::ios::app : std::ios::trunc)) << text;
}

// A fresh directory under /tmp, removed with its contents when the object
// goes. enter() makes it the working directory until then.
class TempDir {
 public:
  TempDir() {
    char name[] = "/tmp/kiv_test.XXXXXX";
    if (mkdtemp(name) == nullptr) std::abort();
    path_ = name;
  }
  ~TempDir() {
    std::error_code ignored;
    if (!old_cwd_.empty()) fs::current_path(old_cwd_, ignored);
    fs::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  void enter() {
    old_cwd_ = fs::current_path();
    fs::current_path(path_);
  }
  const fs::path& path() const { return path_; }
  std::string str() const { return path_.string(); }
  std::string file(const std::string& name) const { return (path_ / name).string(); }
  // Writes a file of the directory; returns its full name.
  std::string write(const std::string& name, const std::string& text, bool append = false) const {
    write_file(path_ / name, text, append);
    return file(name);
  }
  std::string read(const std::string& name) const { return read_file(path_ / name); }

 private:
  fs::path path_, old_cwd_;
};

// What a child process left behind.
struct ChildRun {
  int status = -1;     // exit status, or 128 + the signal that ended it
  std::string out;     // standard output
  std::string err;     // standard error
  std::string result;  // what the function run in it returned
};

inline int wait_status(pid_t pid) {
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Writes `input` to `in_fd` (then closes it) while reading every one of
// `outs` to its end, so that no pipe can fill up and stall the child.
inline void exchange(int in_fd, const std::string& input, std::vector<std::pair<int, std::string*>> outs) {
  size_t written = 0;
  if (in_fd >= 0 && input.empty()) close(in_fd), in_fd = -1;
  if (in_fd >= 0) fcntl(in_fd, F_SETFL, O_NONBLOCK);
  // A child that stops reading its input must not end the test.
  void (*old_handler)(int) = in_fd >= 0 ? signal(SIGPIPE, SIG_IGN) : SIG_ERR;
  while (in_fd >= 0 || !outs.empty()) {
    std::vector<pollfd> fds;
    for (auto& [fd, text] : outs) fds.push_back({fd, POLLIN, 0});
    if (in_fd >= 0) fds.push_back({in_fd, POLLOUT, 0});
    if (poll(fds.data(), fds.size(), -1) < 0) break;
    if (in_fd >= 0 && fds.back().revents != 0) {
      ssize_t n = write(in_fd, input.data() + written, input.size() - written);
      if (n > 0) written += static_cast<size_t>(n);
      if (n < 0 || written == input.size()) close(in_fd), in_fd = -1;
    }
    char buf[65536];
    for (size_t i = outs.size(); i-- > 0;) {
      if (fds[i].revents == 0) continue;
      ssize_t n = read(outs[i].first, buf, sizeof buf);
      if (n > 0) {
        outs[i].second->append(buf, static_cast<size_t>(n));
      } else {
        close(outs[i].first);
        outs.erase(outs.begin() + static_cast<long>(i));
      }
    }
  }
  if (old_handler != SIG_ERR) signal(SIGPIPE, old_handler);
}

// Runs `body` in a forked child whose standard input holds `input` and
// whose standard output and error are captured; the text it returns comes
// back as `result`. The child then exits with status 0, unless `body`
// ends the process itself.
inline ChildRun run_in_child(const std::string& input, const std::function<std::string()>& body) {
  int in[2], out[2], err[2], res[2];
  ChildRun run;
  if (pipe(in) != 0 || pipe(out) != 0 || pipe(err) != 0 || pipe(res) != 0) return run;
  std::fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    dup2(in[0], 0), dup2(out[1], 1), dup2(err[1], 2);
    for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1], res[0]}) close(fd);
    std::clearerr(stdin);
    std::string result = body();
    std::fflush(nullptr);
    if (write(res[1], result.data(), result.size()) < 0) _exit(99);
    _exit(0);
  }
  for (int fd : {in[0], out[1], err[1], res[1]}) close(fd);
  exchange(in[1], input, {{out[0], &run.out}, {err[0], &run.err}, {res[0], &run.result}});
  run.status = wait_status(pid);
  return run;
}

// Starts the program `args[0]` with `args` in directory `dir`, with only
// the environment `env`. Standard input is `in_fd`, or closed when it is
// -1; standard output and error go to `out_fd` and `err_fd` (-1:
// /dev/null). Returns the child's process id.
inline pid_t spawn_program(const std::vector<std::string>& args, const std::vector<std::string>& env,
                           const fs::path& dir, int in_fd = -1, int out_fd = -1, int err_fd = -1) {
  // Everything the child needs is made before the fork: a thread of the
  // test may hold the allocator's lock at that moment, and a child that
  // allocates before exec would then wait for ever.
  std::vector<std::string> a = args, e = env;
  std::vector<char*> argv, envp;
  for (auto& s : a) argv.push_back(s.data());
  for (auto& s : e) envp.push_back(s.data());
  argv.push_back(nullptr);
  envp.push_back(nullptr);
  std::fflush(nullptr);
  pid_t pid = fork();
  if (pid != 0) return pid;
  int null_fd = open("/dev/null", O_WRONLY);
  dup2(out_fd >= 0 ? out_fd : null_fd, 1);
  dup2(err_fd >= 0 ? err_fd : null_fd, 2);
  if (in_fd >= 0) dup2(in_fd, 0);
  else close(0);
  for (int fd = 3; fd < 64; ++fd) close(fd);
  if (chdir(dir.c_str()) != 0) _exit(99);
  execve(argv[0], argv.data(), envp.data());
  _exit(98);
}

// Runs a program to its end as spawn_program starts it; `input`, when
// given, is fed to its standard input through a pipe.
inline ChildRun run_program(const std::vector<std::string>& args, const std::vector<std::string>& env,
                            const fs::path& dir, const std::string* input = nullptr) {
  int in[2], out[2], err[2];
  ChildRun run;
  if (pipe(in) != 0 || pipe(out) != 0 || pipe(err) != 0) return run;
  pid_t pid = spawn_program(args, env, dir, input != nullptr ? in[0] : -1, out[1], err[1]);
  for (int fd : {in[0], out[1], err[1]}) close(fd);
  exchange(in[1], input != nullptr ? *input : "", {{out[0], &run.out}, {err[0], &run.err}});
  run.status = wait_status(pid);
  return run;
}

// Sends this process's standard output and error to files of `dir` while
// it lives; stop() (or the destructor) puts them back and fills out and err.
class Capture {
 public:
  explicit Capture(const TempDir& dir) : out_(dir.file("stdout")), err_(dir.file("stderr")) {
    std::fflush(nullptr);
    saved_out_ = dup(1);
    saved_err_ = dup(2);
    redirect(out_, 1);
    redirect(err_, 2);
  }
  ~Capture() { stop(); }
  void stop() {
    if (saved_out_ < 0) return;
    std::fflush(nullptr);
    dup2(saved_out_, 1);
    dup2(saved_err_, 2);
    close(saved_out_);
    close(saved_err_);
    saved_out_ = -1;
    out = read_file(out_);
    err = read_file(err_);
  }
  std::string out, err;

 private:
  static void redirect(const std::string& path, int fd) {
    int f = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(f, fd);
    close(f);
  }
  std::string out_, err_;
  int saved_out_ = -1, saved_err_ = -1;
};
