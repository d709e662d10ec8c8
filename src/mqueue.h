// Client of a loop window's System V message queue: handshake, requests
// and polled replies under a time-out.
//
// Module state: the queue last opened and the time-out. Callers hold their
// connection number. Every wait runs under an alarm: a window silent for
// the time-out makes MQ_intrp end the process with EXIT_QUEUE_TIMEOUT.
#pragma once

#include <string>

// The unit of every send and receive; 120 bytes of mtext travel.
struct mqueuebuf {
  long mtype;
  char mtext[124];
};
constexpr int MQ_TEXT_BYTES = 120;

// The existing queue keyed `num` (never created); -1 on failure, with
// errno ENOENT when there is no such queue, as for any `num` of 0 or below
// (no window has such a key, and 0 would create a private queue).
int MQ_open(int num);
// The handshake (the user id sent, the answer awaited under the alarm);
// the connection number, or -1 (also for a number that cannot address
// replies, i.e. one below 1).
int MQ_connect(int msgqid);
// Sends a request of type 1 with code conn_id. 0 when sent, -1 on error
// (a text longer than 118 characters is refused with a warning).
int MQ_put(int msgqid, int conn_id, const char* fmt, ...) __attribute__((format(printf, 3, 4)));
// Waits for the next message of type conn_id (polling, with pauses once
// it is slow) and leaves its text after the code character in `item`.
// Returns the code, or -1 on a receive error (`item` emptied).
int MQ_get(int msgqid, int conn_id, std::string& item);
// Drops every waiting message of type `index`. Returns -1.
int MQ_clear(int msgqid, long index);
// Installs MQ_intrp for SIGALRM and starts the alarm. Returns 0.
int MQ_enable_alarm();
// Stops the alarm. Returns 0.
int MQ_disable_alarm();
// The alarm handler: warns "Queue not responding!!" and ends the process
// with EXIT_QUEUE_TIMEOUT.
void MQ_intrp(int sig);

// Seconds before a silent queue ends the process (20); tests shorten it.
void MQ_set_timeout(int seconds);
// Back to the start-up state: no queue, the default time-out, no alarm.
void MQ_reset();
