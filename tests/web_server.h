// Real web servers for the tests, on 127.0.0.1 at free ports: lighttpd
// (byte ranges, keep-alive, redirects, an access log to count requests
// and bytes), Python's http.server (which ignores Range), a port that
// refuses connections and one that takes them and never answers. Each is
// stopped when its object goes, and dies with the test process if that
// ends first. Header-only.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support.h"

namespace web {

// Requests of this process go straight to 127.0.0.1, whatever proxy the
// environment names.
inline void ignore_proxies() {
  for (const char* name : {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}) unsetenv(name);
  setenv("no_proxy", "127.0.0.1,localhost", 1);
  setenv("NO_PROXY", "127.0.0.1,localhost", 1);
}

// A TCP socket bound to 127.0.0.1 on a free port; -1 when none.
inline int bound_socket(int& port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    if (fd >= 0) close(fd);
    return -1;
  }
  port = ntohs(addr.sin_port);
  return fd;
}

// Connects to 127.0.0.1:port; -1 when refused.
inline int connect_to(int port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<uint16_t>(port));
  if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) return fd;
  if (fd >= 0) close(fd);
  return -1;
}

inline std::string url_of(int port, const std::string& name) {
  return "http://127.0.0.1:" + std::to_string(port) + "/" + name;
}

// A port that refuses connections: bound, so that nothing else takes it,
// but not listening.
class RefusedPort {
 public:
  RefusedPort() : fd_(bound_socket(port_)) {}
  ~RefusedPort() { close(fd_); }
  int port() const { return port_; }
  std::string url(const std::string& name) const { return url_of(port_, name); }

 private:
  int port_ = 0;
  int fd_;
};

// A server that takes connections (the kernel completes them) and never
// answers a byte.
class StalledServer {
 public:
  StalledServer() : fd_(bound_socket(port_)) { listen(fd_, 16); }
  ~StalledServer() { close(fd_); }
  std::string url(const std::string& name) const { return url_of(port_, name); }

 private:
  int port_ = 0;
  int fd_;
};

// What the access log says of one request.
struct Logged {
  std::string method, path;
  int status = 0;
  long bytes = 0;    // body bytes sent
  int keepalive = 0; // earlier requests on the same connection
  std::string range; // the Range header, "-" when none
};

// A web server serving the directory `root` on a free port: lighttpd, or
// Python's http.server (kind "python"). lighttpd also answers
//   /moved/NAME  with a redirect to /NAME,
//   /loop/NAME   with a redirect to itself,
//   /down/NAME   with 503, as a gateway whose backend is down.
class WebServer {
 public:
  enum Kind { lighttpd, python };

  WebServer(Kind kind, const fs::path& root) : kind_(kind) {
    for (int tries = 0; tries < 5 && pid_ < 0; ++tries) start(root);
  }
  ~WebServer() { stop(); }
  WebServer(const WebServer&) = delete;
  WebServer& operator=(const WebServer&) = delete;

  bool running() const { return pid_ > 0; }
  std::string url(const std::string& name) const { return url_of(port_, name); }

  // lighttpd: the requests logged since the last call, in order.
  std::vector<Logged> take_requests() {
    std::string mark = ".mark-" + std::to_string(++marks_);
    get(mark);
    std::vector<Logged> all;
    for (int waited = 0; waited < 500; ++waited) {
      all = parse(read_file(dir_.file("access.log")));
      if (!all.empty() && all.back().path == "/" + mark) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::vector<Logged> fresh;
    for (size_t i = seen_; i < all.size(); ++i)
      if (all[i].path.rfind("/.mark-", 0) != 0) fresh.push_back(all[i]);
    seen_ = all.size();
    return fresh;
  }

 private:
  void start(const fs::path& root) {
    int probe = bound_socket(port_);
    close(probe);
    std::vector<std::string> args;
    if (kind_ == lighttpd) {
      dir_.write("lighttpd.conf", config(root));
      args = {program("lighttpd"), "-D", "-f", dir_.file("lighttpd.conf")};
    } else {
      args = {program("python3"), "-m", "http.server", std::to_string(port_), "--bind", "127.0.0.1",
              "--directory", root.string()};
    }
    // Made before the fork: a child that allocates may wait for ever on a
    // lock another thread held at the fork.
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::fflush(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      int null_fd = open("/dev/null", O_RDWR);
      dup2(null_fd, 0), dup2(null_fd, 1), dup2(null_fd, 2);
      char path_env[] = "PATH=/usr/local/bin:/usr/bin:/bin", lang[] = "LC_ALL=C";
      char* envp[] = {path_env, lang, nullptr};
      execve(argv[0], argv.data(), envp);
      _exit(127);
    }
    for (int waited = 0; waited < 500; ++waited) {
      if (waitpid(pid_, nullptr, WNOHANG) == pid_) break;  // it failed: another port
      int fd = connect_to(port_);
      if (fd >= 0) return (void)close(fd);
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    stop();
  }

  void stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

  static std::string program(const std::string& name) {
    for (const char* dir : {"/usr/sbin", "/usr/local/sbin", "/usr/bin", "/usr/local/bin"})
      if (access((std::string(dir) + "/" + name).c_str(), X_OK) == 0) return std::string(dir) + "/" + name;
    return name + " (not found: tools/deps test installs it)";
  }

  std::string config(const fs::path& root) const {
    std::ostringstream c;
    c << "server.document-root = \"" << root.string() << "\"\n"
      << "server.bind = \"127.0.0.1\"\nserver.port = " << port_ << "\n"
      << "server.stat-cache-engine = \"disable\"\n"  // files change between requests
      << "server.modules = (\"mod_accesslog\", \"mod_redirect\", \"mod_proxy\")\n"
      << "server.errorlog = \"" << dir_.file("error.log") << "\"\n"
      // Through a pipe, which lighttpd writes to at once, not buffered.
      << "accesslog.filename = \"|exec /bin/cat >>" << dir_.file("access.log") << "\"\n"
      << "accesslog.format = \"%m %U %>s %b %k %{Range}i\"\n"
      << "url.redirect = (\"^/moved/(.*)\" => \"/$1\", \"^/loop/(.*)\" => \"/loop/$1\")\n"
      << "$HTTP[\"url\"] =~ \"^/down/\" { proxy.server = (\"\" => ((\"host\" => \"127.0.0.1\", \"port\" => "
      << refused_.port() << "))) }\n";
    return c.str();
  }

  // A plain GET of `name`, read to its end.
  void get(const std::string& name) const {
    int fd = connect_to(port_);
    if (fd < 0) return;
    std::string request = "GET /" + name + " HTTP/1.0\r\n\r\n";
    if (write(fd, request.data(), request.size()) >= 0) {
      char buf[4096];
      while (read(fd, buf, sizeof buf) > 0) {
      }
    }
    close(fd);
  }

  static std::vector<Logged> parse(const std::string& log) {
    std::vector<Logged> lines;
    std::istringstream in(log);
    std::string line;
    while (std::getline(in, line)) {
      std::istringstream fields(line);
      Logged l;
      std::string bytes;
      fields >> l.method >> l.path >> l.status >> bytes >> l.keepalive;
      std::getline(fields >> std::ws, l.range);
      l.bytes = bytes == "-" ? 0 : std::atol(bytes.c_str());
      lines.push_back(l);
    }
    return lines;
  }

  Kind kind_;
  TempDir dir_;  // configuration and logs
  RefusedPort refused_;  // the backend of /down/
  int port_ = 0;
  pid_t pid_ = -1;
  int marks_ = 0;
  size_t seen_ = 0;
};

}  // namespace web
