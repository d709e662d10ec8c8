// Client side of a loop window's System V message queue: opening the
// queue by its key, the connection handshake, requests (type 1) and polled
// replies (type = connection number), all under an alarm that ends the
// process when the window stops answering.
//
// State (one MqState, reset by MQ_reset): the queue last opened, the
// time-out in seconds and the scratch record used for draining. The
// module keeps no connection: callers hold their connection number.
#include "mqueue.h"

#include <sys/ipc.h>
#include <sys/msg.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "mess.h"
#include "system.h"

namespace {

constexpr int DEFAULT_TIMEOUT = 20;
// The text and its NUL must fit behind the code character.
constexpr int MAX_REQUEST_TEXT = MQ_TEXT_BYTES - 2;
constexpr int CODE_ZERO = '0';
constexpr long REQUEST_TYPE = 1;
constexpr long HANDSHAKE_TYPE = 2;
constexpr int HANDSHAKE_REQUEST = -1;
constexpr int HANDSHAKE_ACCEPTED = 2;

struct MqState {
  int msgqid = 0;
  int timeout = DEFAULT_TIMEOUT;
  mqueuebuf msgb{};
};
MqState state;

void install_handler() {
  struct sigaction action {};
  action.sa_handler = MQ_intrp;
  sigemptyset(&action.sa_mask);
  sigaction(SIGALRM, &action, nullptr);
}

// Pause after a polling attempt: none for the first two, then short
// pauses, then one second once the window is clearly slow.
void pause_after(int attempts) {
  if (attempts > 200)
    KIV_sleep(1.0f);
  else if (attempts > 2)
    KIV_sleep(0.1f);
}

}  // namespace

int MQ_open(int num) {
  install_handler();
  // Key 0 is IPC_PRIVATE, which always creates a queue, and a window's
  // key is positive: no such number names a running window.
  if (num <= 0) {
    errno = ENOENT;
    return -1;
  }
  int id = msgget(static_cast<key_t>(num), 0);
  if (id < 0) return -1;  // errno tells a missing queue (ENOENT) from others
  state.msgqid = id;
  return id;
}

int MQ_connect(int msgqid) {
  int uid = static_cast<int>(getuid());
  MQ_clear(msgqid, HANDSHAKE_TYPE);  // an old answer is not ours
  MQ_put(msgqid, HANDSHAKE_REQUEST, "%d", uid);
  MQ_enable_alarm();
  std::string answer;
  int conn_id = -1;
  if (MQ_get(msgqid, HANDSHAKE_TYPE, answer) == HANDSHAKE_ACCEPTED) {
    conn_id = std::atoi(answer.c_str());
    // Types below 1 would select other clients' traffic on receive.
    if (conn_id < 1)
      conn_id = -1;
    else
      MQ_clear(msgqid, conn_id);  // left over from an earlier client
  }
  MQ_disable_alarm();
  return conn_id;
}

int MQ_put(int msgqid, int conn_id, const char* fmt, ...) {
  char text[MQ_TEXT_BYTES];
  va_list ap;
  va_start(ap, fmt);
  int length = std::vsnprintf(text, sizeof text, fmt, ap);
  va_end(ap);
  if (length < 0 || length > MAX_REQUEST_TEXT) {
    // Cutting it would send a different request.
    MESS_print(M_warn, "MQ_put: request of %d characters not sent (at most %d): %.40s...\n",
               length, MAX_REQUEST_TEXT, text);
    return -1;
  }
  mqueuebuf buf{};
  buf.mtype = REQUEST_TYPE;
  buf.mtext[0] = static_cast<char>(CODE_ZERO + conn_id);
  std::memcpy(buf.mtext + 1, text, static_cast<size_t>(length) + 1);
  MESS_print(M_debugd, "PUT:%d:%s\n", conn_id, buf.mtext);
  MQ_enable_alarm();
  int result = msgsnd(msgqid, &buf, MQ_TEXT_BYTES, 0);
  MQ_disable_alarm();
  return result == 0 ? 0 : -1;
}

int MQ_get(int msgqid, int conn_id, std::string& item) {
  mqueuebuf buf{};
  ssize_t received = -1;
  bool again = true;
  MQ_enable_alarm();
  for (int attempts = 0; again;) {
    received = msgrcv(msgqid, &buf, MQ_TEXT_BYTES, conn_id, IPC_NOWAIT);
    int error = received < 0 ? errno : 0;
    MESS_print(M_debugd, "GET-MSG:%d %d %d %d\n", conn_id, static_cast<int>(received), error,
               attempts);
    again = received < 0 && error == ENOMSG;
    pause_after(++attempts);
  }
  MQ_disable_alarm();
  if (received < 0) {
    item.clear();
    MESS_print(M_debugd, "GET:%s\n", "");
    return -1;
  }
  buf.mtext[received < MQ_TEXT_BYTES ? received : MQ_TEXT_BYTES] = '\0';
  MESS_print(M_debugd, "GET:%s\n", buf.mtext);
  item = received > 0 ? buf.mtext + 1 : "";
  return buf.mtext[0] - CODE_ZERO;
}

int MQ_clear(int msgqid, long index) {
  while (msgrcv(msgqid, &state.msgb, MQ_TEXT_BYTES, index, IPC_NOWAIT) >= 0) {
  }
  return -1;
}

int MQ_enable_alarm() {
  install_handler();
  alarm(static_cast<unsigned>(state.timeout));
  return 0;
}

int MQ_disable_alarm() {
  alarm(0);
  return 0;
}

void MQ_intrp(int /*sig*/) {
  MESS_print(M_warn, "Queue not responding!!\n");
  KIV_exit(EXIT_QUEUE_TIMEOUT);
}

void MQ_set_timeout(int seconds) { state.timeout = seconds; }

void MQ_reset() {
  alarm(0);
  state = MqState();
}
