// A stand-in loop window for tests: a thread that owns a fresh System V
// message queue and answers clients the way a display window does.
//
//   LoopWindow window({{"file_path", "/data"}});   // values it knows
//   std::string entry = "#" + std::to_string(window.number());
//   ... run the client (MQ_open(window.number()), RES_init with -df entry) ...
//   window.requests();   // every request text received, in order
//   window.sets();       // "NAME VALUE" of every "set res" received
//   window.quit_received();
//
// Dialogue (requests are type 1, byte 0 of the text is '0' + code):
// - code -1 (handshake): answered with a type-2 message, code 2, text the
//   connection number (`LoopWindow::Options::conn_id`, default 3).
// - "query res NAME": for a known NAME one reply of code 0 with the text
//   "VALUE\n" (the client drops the last character), or the raw replies
//   given in `Options::raw` for NAME; then a reply of code 1 that ends the
//   entry. An unknown NAME gets only the code 1 reply.
// - "set res NAME VALUE", "quit" and anything else: recorded, then one
//   reply of code 1 (the acknowledgement).
// Behaviours: `Mode::answer` (above), `Mode::silent` (receives and records
// but never replies: the client times out), `Mode::refuse` (answers the
// handshake with code -3, so connecting fails), `Mode::not_running`
// (connects, then answers every query with code -3).
//
// The destructor removes the queue (also when a test fails), which also
// ends the thread. Header-only: test programs include it.
#pragma once

#include <sys/ipc.h>
#include <sys/msg.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

enum class LoopWindowMode { answer, silent, refuse, not_running };

struct LoopWindowOptions {
  LoopWindowMode mode = LoopWindowMode::answer;
  int conn_id = 3;  // carried in one code character by requests
  // Replies of code 0 sent verbatim for a query, instead of "VALUE\n".
  std::map<std::string, std::vector<std::string>> raw;
};

class LoopWindow {
 public:
  using Mode = LoopWindowMode;
  using Options = LoopWindowOptions;
  using Values = std::map<std::string, std::string>;

  LoopWindow() : LoopWindow(Values(), Options()) {}
  explicit LoopWindow(Mode mode) : LoopWindow(Values(), Options{mode, 3, {}}) {}
  explicit LoopWindow(Values values) : LoopWindow(std::move(values), Options()) {}
  LoopWindow(Values values, Options options)
      : values_(std::move(values)), options_(std::move(options)) {
    create_queue();
    thread_ = std::thread([this] { serve(); });
    // Tests fork right after this (death tests): a thread still starting
    // up may hold a lock of the allocator, which the child would inherit
    // locked and wait on for ever. Return once it waits for requests.
    while (!waiting_) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }

  ~LoopWindow() {
    msgctl(qid_, IPC_RMID, nullptr);  // the blocked receive fails: the thread ends
    if (thread_.joinable()) thread_.join();
  }
  LoopWindow(const LoopWindow&) = delete;
  LoopWindow& operator=(const LoopWindow&) = delete;

  // The window number (the queue's key) and the queue identifier.
  int number() const { return key_; }
  int qid() const { return qid_; }

  // Every request text received (without its code character), in order,
  // and their codes.
  std::vector<std::string> requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }
  std::vector<int> codes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return codes_;
  }
  // "NAME VALUE" of every "set res" request, in order.
  std::vector<std::string> sets() const {
    std::vector<std::string> out;
    for (const std::string& r : requests())
      if (r.rfind("set res ", 0) == 0) out.push_back(r.substr(8));
    return out;
  }
  bool quit_received() const {
    for (const std::string& r : requests())
      if (r == "quit") return true;
    return false;
  }
  // Waits until `count` requests have arrived (false after `seconds`).
  bool wait_for_requests(size_t count, double seconds = 5) const {
    auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (requests().size() < count) {
      if (std::chrono::steady_clock::now() > until) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
  }

  // Puts a message of `type` with `code` and `text` on the queue (for
  // tests of the receiving side).
  void send(long type, int code, const std::string& text) const {
    struct {
      long mtype;
      char mtext[124];
    } buf{};
    buf.mtype = type;
    buf.mtext[0] = static_cast<char>('0' + code);
    std::strncpy(buf.mtext + 1, text.c_str(), 118);
    msgsnd(qid_, &buf, 120, 0);
  }

 private:
  void create_queue() {
    // A fresh key that no other queue on the machine uses.
    int base = 200000000 + (static_cast<int>(getpid()) % 100000) * 1000;
    static int serial = 0;
    for (int tries = 0; tries < 1000; ++tries) {
      key_ = base + (serial++ % 1000);
      qid_ = msgget(static_cast<key_t>(key_), IPC_CREAT | IPC_EXCL | 0600);
      if (qid_ >= 0) return;
      if (errno != EEXIST) break;
    }
    throw std::runtime_error("LoopWindow: cannot create a message queue");
  }

  void serve() {
    // The client's time-out alarm must never be handled on this thread.
    sigset_t alarm_only;
    sigemptyset(&alarm_only);
    sigaddset(&alarm_only, SIGALRM);
    pthread_sigmask(SIG_BLOCK, &alarm_only, nullptr);
    struct {
      long mtype;
      char mtext[124];
    } buf;
    for (;;) {
      std::memset(&buf, 0, sizeof buf);
      waiting_ = true;
      ssize_t n = msgrcv(qid_, &buf, 120, 1, 0);
      if (n < 0) {
        if (errno == EINTR) continue;
        return;  // the queue was removed
      }
      int code = buf.mtext[0] - '0';
      std::string text(buf.mtext + 1, strnlen(buf.mtext + 1, 119));
      {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back(text);
        codes_.push_back(code);
      }
      if (options_.mode != Mode::silent) answer(code, text);
    }
  }

  void answer(int code, const std::string& text) {
    if (code == -1) {
      if (options_.mode == Mode::refuse)
        send(2, -3, "");
      else
        send(2, 2, std::to_string(options_.conn_id));
      return;
    }
    const long conn = options_.conn_id;
    if (text.rfind("query res ", 0) == 0) {
      if (options_.mode == Mode::not_running) return send(conn, -3, "");
      std::string name = text.substr(10);
      if (auto raw = options_.raw.find(name); raw != options_.raw.end()) {
        for (const std::string& reply : raw->second) send(conn, 0, reply);
      } else if (auto value = values_.find(name); value != values_.end()) {
        send(conn, 0, value->second + "\n");
      }
    }
    send(conn, 1, "");
  }

  std::map<std::string, std::string> values_;
  Options options_;
  int key_ = 0;
  int qid_ = -1;
  mutable std::mutex mutex_;
  std::vector<std::string> requests_;
  std::vector<int> codes_;
  std::atomic<bool> waiting_{false};
  std::thread thread_;
};
