// Placeholder: replaced by the module implementation.
#include "mqueue.h"
#include <cstdlib>
#include <type_traits>

int MQ_open(int num) { return 0; }
int MQ_connect(int msgqid) { return 0; }
int MQ_put(int msgqid, int conn_id, const char* fmt, ...) { return 0; }
int MQ_get(int msgqid, int conn_id, std::string& item) { return 0; }
int MQ_clear(int msgqid, long index) { return 0; }
int MQ_enable_alarm() { return 0; }
int MQ_disable_alarm() { return 0; }
void MQ_intrp(int sig) {  }
void MQ_set_timeout(int seconds) {  }
