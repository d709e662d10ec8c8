#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <thread>

#include "src/mess.h"
#include "src/mqueue.h"
#include "tests/loop_window.h"

namespace {

class MqueueTest : public ::testing::Test {
 protected:
  void SetUp() override {
    MQ_reset();
    MESS_reset();
  }
  void TearDown() override { MQ_reset(); }
};

TEST_F(MqueueTest, OpenOfAMissingQueueFailsWithEnoent) {
  int number;
  {
    LoopWindow gone;
    number = gone.number();
  }
  errno = 0;
  EXPECT_EQ(MQ_open(number), -1);
  EXPECT_EQ(errno, ENOENT);
}

TEST_F(MqueueTest, OpenFindsTheExistingQueue) {
  LoopWindow window;
  EXPECT_EQ(MQ_open(window.number()), window.qid());
}

TEST_F(MqueueTest, HandshakeSendsUserIdAndTakesTheConnectionNumber) {
  struct Case {
    LoopWindow::Mode mode;
    int given;     // number the window hands out
    int expected;  // what MQ_connect returns
  };
  const Case cases[] = {
      {LoopWindow::Mode::answer, 3, 3},
      {LoopWindow::Mode::answer, 42, 42},
      {LoopWindow::Mode::answer, 0, -1},   // would receive every type
      {LoopWindow::Mode::answer, -4, -1},  // would receive other types
      {LoopWindow::Mode::refuse, 3, -1},
  };
  for (const Case& c : cases) {
    LoopWindow window(LoopWindow::Values(), {c.mode, c.given, {}});
    int qid = MQ_open(window.number());
    ASSERT_GE(qid, 0);
    EXPECT_EQ(MQ_connect(qid), c.expected) << c.given;
    ASSERT_EQ(window.requests().size(), 1u);
    EXPECT_EQ(window.codes()[0], -1);
    EXPECT_EQ(window.requests()[0], std::to_string(getuid()));
  }
}

TEST_F(MqueueTest, HandshakeIgnoresAnOldAnswer) {
  LoopWindow window(LoopWindow::Values(), {LoopWindow::Mode::answer, 5, {}});
  window.send(2, 2, "77");  // left by an earlier client
  window.send(5, 0, "stale");
  int qid = MQ_open(window.number());
  EXPECT_EQ(MQ_connect(qid), 5);
  // The stale reply for this connection number was drained too.
  EXPECT_EQ(MQ_put(qid, 5, "quit"), 0);
  std::string item;
  EXPECT_EQ(MQ_get(qid, 5, item), 1);
  EXPECT_EQ(item, "");
}

TEST_F(MqueueTest, QueryAndReplies) {
  LoopWindow window(LoopWindow::Values{{"file_path", "/data"}});
  int qid = MQ_open(window.number());
  int conn = MQ_connect(qid);
  ASSERT_EQ(conn, 3);
  struct Case {
    const char* request;
    int code;
    const char* text;
  };
  // Replies to one request arrive in order; the non-zero code ends them.
  const Case cases[] = {
      {"query res file_path", 0, "/data\n"},
      {nullptr, 1, ""},
      {"query res unknown", 1, ""},
      {"set res hour 12", 1, ""},
  };
  std::string item;
  for (const Case& c : cases) {
    if (c.request != nullptr) {
      EXPECT_EQ(MQ_put(qid, conn, "%s", c.request), 0);
    }
    EXPECT_EQ(MQ_get(qid, conn, item), c.code);
    EXPECT_EQ(item, c.text);
  }
  EXPECT_EQ(window.sets(), std::vector<std::string>{"hour 12"});
  EXPECT_EQ(window.codes().back(), conn);
}

TEST_F(MqueueTest, CodeCharactersMapToNumbers) {
  struct Case {
    int code;
    const char* text;
  };
  const Case cases[] = {{0, "abc"}, {-3, ""}, {2, "3"}, {1, ""}, {-1, "x y"}, {9, "nine"}};
  LoopWindow window(LoopWindow::Mode::silent);
  for (const Case& c : cases) {
    window.send(7, c.code, c.text);
    std::string item = "old";
    EXPECT_EQ(MQ_get(window.qid(), 7, item), c.code);
    EXPECT_EQ(item, c.text);
  }
}

TEST_F(MqueueTest, ReceiveErrorGivesEmptyText) {
  std::string item = "old";
  int qid;
  {
    LoopWindow gone;
    qid = gone.qid();
  }
  EXPECT_EQ(MQ_get(qid, 3, item), -1);
  EXPECT_EQ(item, "");
}

TEST_F(MqueueTest, ClearDrainsOneTypeOnly) {
  LoopWindow window(LoopWindow::Mode::silent);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(MQ_clear(window.qid(), 5), -1);  // nothing waiting: at once
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 0.5);
  for (int i = 0; i < 3; ++i) window.send(5, 0, "drop");
  window.send(6, 4, "keep");
  EXPECT_EQ(MQ_clear(window.qid(), 5), -1);
  window.send(5, 2, "after");
  std::string item;
  EXPECT_EQ(MQ_get(window.qid(), 5, item), 2);
  EXPECT_EQ(item, "after");
  EXPECT_EQ(MQ_get(window.qid(), 6, item), 4);
  EXPECT_EQ(item, "keep");
}

TEST_F(MqueueTest, RequestsLongerThan118CharactersAreRefused) {
  struct Case {
    size_t length;
    int result;
  };
  const Case cases[] = {{0, 0}, {118, 0}, {119, -1}, {300, -1}};
  LoopWindow window(LoopWindow::Mode::silent);
  size_t sent = 0;
  for (const Case& c : cases) {
    std::string text(c.length, 'r');
    testing::internal::CaptureStderr();
    EXPECT_EQ(MQ_put(window.qid(), 3, "%s", text.c_str()), c.result) << c.length;
    std::string warning = testing::internal::GetCapturedStderr();
    EXPECT_EQ(warning.empty(), c.result == 0) << warning;
    if (c.result == 0) {
      ASSERT_TRUE(window.wait_for_requests(++sent));
      EXPECT_EQ(window.requests().back(), text);
      EXPECT_EQ(window.codes().back(), 3);
    }
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(window.requests().size(), sent);
}

TEST_F(MqueueTest, TrafficIsTracedAtDebugd) {
  LoopWindow window;
  int qid = MQ_open(window.number());
  MESS_set(MESS_ADD, M_debugd);
  testing::internal::CaptureStdout();
  MQ_put(qid, 3, "quit");
  std::string item;
  MQ_get(qid, 3, item);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("PUT:3:3quit\n"), std::string::npos) << out;
  EXPECT_NE(out.find("GET-MSG:3 "), std::string::npos) << out;
  EXPECT_NE(out.find("GET:1\n"), std::string::npos) << out;
}

TEST_F(MqueueTest, PollingPausesAfterTheSecondAttempt) {
  LoopWindow window(LoopWindow::Mode::silent);
  std::thread late([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(450));
    window.send(9, 0, "late");
  });
  MESS_set(MESS_ADD, M_debugd);
  testing::internal::CaptureStdout();
  auto start = std::chrono::steady_clock::now();
  std::string item;
  int code = MQ_get(window.qid(), 9, item);
  double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::string out = testing::internal::GetCapturedStdout();
  late.join();
  EXPECT_EQ(code, 0);
  EXPECT_EQ(item, "late");
  size_t attempts = 0;
  for (size_t p = out.find("GET-MSG:"); p != std::string::npos; p = out.find("GET-MSG:", p + 1))
    ++attempts;
  // Two quick attempts, then one per 0.1 second pause: not a busy loop.
  EXPECT_GE(attempts, 3u);
  EXPECT_LE(attempts, 3 + static_cast<size_t>(took / 0.1));
}

TEST_F(MqueueTest, SilentWindowEndsTheProcessWithStatus7) {
  LoopWindow window(LoopWindow::Mode::silent);
  int number = window.number();
  EXPECT_EXIT(
      {
        MQ_set_timeout(1);
        int qid = MQ_open(number);
        MQ_connect(qid);
      },
      testing::ExitedWithCode(EXIT_QUEUE_TIMEOUT), "Queue not responding!!");
}

}  // namespace
