#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "src/date.h"
#include "src/files.h"
#include "src/flag.h"
#include "src/mess.h"
#include "src/resrc.h"

namespace fs = std::filesystem;

namespace {

// Each test runs in its own temporary directory with clean module state.
class FilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/files_test.XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    old_cwd_ = fs::current_path();
    fs::current_path(dir_);
    FILE_reset();
    RES_reset();
    FLAG_state_reset();
    MESS_reset();
    DATE_reset();
    ::unsetenv("kivcurtime");
  }
  void TearDown() override {
    fs::current_path(old_cwd_);
    fs::remove_all(dir_);
    FILE_reset();
    RES_reset();
    FLAG_state_reset();
    DATE_reset();
    ::unsetenv("kivcurtime");
  }
  std::string path(const std::string& name) const { return dir_ + "/" + name; }
  void write_file(const std::string& name, const std::string& text) const {
    fs::create_directories(fs::path(path(name)).parent_path());
    std::ofstream(path(name)) << text;
  }

  std::string dir_;
  fs::path old_cwd_;
};

// Runs `body` in a child whose standard input holds `input`; returns the
// child's exit status (-1 when it did not exit normally).
template <typename Body>
int run_with_stdin(const std::string& input, Body body) {
  char tmpl[] = "/tmp/files_stdin.XXXXXX";
  int fd = ::mkstemp(tmpl);
  if (fd < 0) return -1;
  if (::write(fd, input.data(), input.size()) != static_cast<ssize_t>(input.size())) return -1;
  ::close(fd);
  std::fflush(nullptr);
  pid_t pid = ::fork();
  if (pid == 0) {
    if (std::freopen(tmpl, "r", stdin) == nullptr) ::_exit(99);
    if (std::freopen("/dev/null", "w", stdout) == nullptr) ::_exit(98);
    int result = body();
    std::fflush(nullptr);
    ::_exit(result);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  ::unlink(tmpl);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string home_dir() {
  const struct passwd* pw = ::getpwuid(::getuid());
  return pw != nullptr && pw->pw_dir != nullptr ? pw->pw_dir : "";
}

// ---- Opening and helpers -------------------------------------------------

TEST_F(FilesTest, AddPathJoinsOnlyNamesWithoutTheirOwnPath) {
  struct Case {
    const char* dir;
    const char* file;
    const char* expected;
  } cases[] = {
      {"/data", "x.raw", "/data/x.raw"},   {"/data/", "x.raw", "/data/x.raw"},
      {nullptr, "x.raw", "x.raw"},         {"", "x.raw", "x.raw"},
      {"/data", "./x.raw", "./x.raw"},     {"/data", "/abs/x.raw", "/abs/x.raw"},
      {"/data", "~/x.raw", "~/x.raw"},     {"/data", "-", "-"},
      {"/data", "", ""},                   {"/data", "STD", "STD"},
  };
  for (const Case& c : cases) {
    std::string out = "old";
    EXPECT_EQ(FILE_add_path(c.dir, c.file, out), c.expected) << c.file;
    EXPECT_EQ(out, c.expected);
  }
  std::string long_name(400, 'n');
  std::string out;
  EXPECT_EQ(FILE_add_path("/d", long_name.c_str(), out), "/d/" + long_name);
}

TEST_F(FilesTest, PathDelimiterIsAddedOnce) {
  struct Case {
    std::string in, out;
  } cases[] = {{"", ""}, {"/a", "/a/"}, {"/a/", "/a/"}, {"a/b", "a/b/"}};
  for (Case c : cases) {
    FILE_add_path_delim(c.in);
    EXPECT_EQ(c.in, c.out);
  }
}

TEST_F(FilesTest, StandardStreamNames) {
  struct Case {
    const char* name;
    int stdio;
  } cases[] = {{"", 1},       {"-", 1},       {"std", 1},   {"STD", 1}, {"Stdn", 1},
               {"stdout", 0}, {"--", 0},      {"x", 0},     {"stdnx", 0}};
  for (const Case& c : cases) {
    EXPECT_EQ(FILE_is_stdio(c.name), c.stdio) << c.name;
    EXPECT_EQ(FILE_exist(c.name), c.stdio ? 1 : 0) << c.name;
  }
  struct Open {
    const char* name;
    const char* access;
    FILE* stream;
  } opens[] = {{"-", "r", stdin},  {"-", "r+", stdin}, {"-", "w", stdout},
               {"-", "a", stdout}, {"", "r", stdin},   {"stdn", "w", stdout}};
  for (const Open& o : opens) {
    FILE* f = FILE_open(o.name, o.access);
    EXPECT_EQ(f, o.stream) << o.name << " " << o.access;
    EXPECT_EQ(FILE_close(f), 0);  // never closes a standard stream
  }
}

TEST_F(FilesTest, OwnPathNames) {
  struct Case {
    const char* name;
    int full;
  } cases[] = {{"/a", 1}, {"./a", 1}, {"../a", 1}, {"~/a", 1}, {"a/b", 0}, {"", 0}};
  for (const Case& c : cases) EXPECT_EQ(FILE_fullpath(c.name), c.full) << c.name;
}

TEST_F(FilesTest, ExistenceDirectoryAndSize) {
  write_file("five", "12345");
  write_file("empty", "");
  fs::create_directory(path("sub"));
  struct Case {
    std::string name;
    int exist, is_dir;
    long size;
  } cases[] = {{path("five"), 1, 0, 5},
               {path("empty"), 1, 0, 0},
               {path("sub"), 1, 1, -2},
               {path("missing"), 0, 0, -1}};
  for (const Case& c : cases) {
    EXPECT_EQ(FILE_exist(c.name.c_str()), c.exist) << c.name;
    EXPECT_EQ(FILE_is_dir(c.name.c_str()), c.is_dir) << c.name;
    if (c.size != -2) {
      EXPECT_EQ(FILE_size(c.name.c_str()), c.size) << c.name;
    }
  }
}

TEST_F(FilesTest, WritingCreatesMissingDirectories) {
  struct Case {
    const char* file;
    const char* access;
  } cases[] = {{"a/b/c.hdr", "w"}, {"a/b/d.hdr", "w"}, {"x/y/z/log", "a"}};
  for (const Case& c : cases) {
    FILE_ptr f(FILE_open(c.file, c.access));
    ASSERT_NE(f, nullptr) << c.file;
    EXPECT_EQ(std::fputs("data", f.get()) >= 0, true);
  }
  EXPECT_TRUE(fs::is_directory(path("a/b")));
  EXPECT_TRUE(fs::is_regular_file(path("x/y/z/log")));
  // Reading never creates anything.
  EXPECT_EQ(FILE_open("q/r/s", "r"), nullptr);
  EXPECT_FALSE(fs::exists(path("q")));
}

TEST_F(FilesTest, MakeDirReportsAnExistingParent) {
  fs::create_directories(path("p/q"));
  struct Case {
    std::string dir;
    int flag, result;
    const char* made;
  } cases[] = {{path("p/q/file"), 1, 1, nullptr},
               {path("p/new/deeper/file"), 1, 0, "p/new/deeper"},
               {"rel\\back\\file", 1, 0, "rel/back"},
               {"two/levels/x/y", 2, 0, "two/levels"}};
  for (Case c : cases) {
    EXPECT_EQ(FILE_make_dir(c.dir, c.flag), c.result) << c.dir;
    if (c.made != nullptr) {
      EXPECT_TRUE(fs::is_directory(path(c.made))) << c.made;
    }
  }
  EXPECT_FALSE(fs::exists(path("two/levels/x")));
}

TEST_F(FilesTest, PipeNamesRunCommandsAndArePclosed) {
  FILE* in = FILE_open("|echo piped; exit 3", "r");
  ASSERT_NE(in, nullptr);
  char buf[32] = {};
  ASSERT_NE(std::fgets(buf, sizeof buf, in), nullptr);
  EXPECT_STREQ(buf, "piped\n");
  int status = FILE_close(in);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 3);

  std::string out = path("from_pipe");
  std::string cmd = "|cat > '" + out + "'";
  FILE* w = FILE_open(cmd.c_str(), "w");
  ASSERT_NE(w, nullptr);
  std::fputs("through\n", w);
  EXPECT_EQ(FILE_close(w), 0);  // pclose waited for cat
  std::ifstream check(out);
  std::string line;
  std::getline(check, line);
  EXPECT_EQ(line, "through");
}

TEST_F(FilesTest, HomeNamesExpandAgainstTheAccount) {
  std::string home = home_dir();
  ASSERT_FALSE(home.empty());
  const struct passwd* pw = ::getpwuid(::getuid());
  std::string me = pw->pw_name;
  struct Case {
    std::string in, out;
  } cases[] = {{"~", home},
               {"~/h/x.hdr", home + "/h/x.hdr"},
               {"~" + me + "/x", home + "/x"},
               {"~" + me, home},
               {"~no_such_user_zz9/x", "~no_such_user_zz9/x"},
               {"plain/x", "plain/x"}};
  for (const Case& c : cases) {
    std::string out;
    EXPECT_EQ(FILE_add_user_path(c.in.c_str(), out), 0);
    EXPECT_EQ(out, c.out) << c.in;
  }
  EXPECT_EQ(FILE_exist("~"), 1);
  EXPECT_EQ(FILE_is_dir("~/"), 1);

  if (::access(home.c_str(), W_OK) != 0) GTEST_SKIP() << "home not writable";
  std::string sub = ".files_test_" + std::to_string(::getpid());
  std::string name = "~/" + sub + "/h/x.hdr";
  {
    FILE_ptr f(FILE_open(name.c_str(), "w"));
    ASSERT_NE(f, nullptr);
  }
  EXPECT_TRUE(fs::is_regular_file(home + "/" + sub + "/h/x.hdr"));
  EXPECT_EQ(FILE_size(name.c_str()), 0);
  fs::remove_all(home + "/" + sub);
}

// ---- Overwrite policy ----------------------------------------------------

TEST_F(FilesTest, OverwriteWithoutQuestion) {
  write_file("old.hdr", "x");
  std::string old = path("old.hdr");
  struct Case {
    const char* name;
    int policy, batch, expected;
  } cases[] = {
      {"-", 0, 0, 1},      {"", 3, 1, 1},          {"missing.hdr", 0, 1, 1},
      {"missing.hdr", 2, 0, 1}, {nullptr, 2, 0, 2}, {nullptr, 2, 1, 2},
      {nullptr, 1, 1, 1},  {nullptr, 3, 0, 3},     {nullptr, NO_VALUE, 1, 3},
      {nullptr, 0, 1, 3},
  };
  for (const Case& c : cases) {
    FLAG_set(FLAG_FILE_PARAM, c.policy);
    FLAG_set(FLAG_BATCH, c.batch);
    const char* name = c.name != nullptr ? c.name : old.c_str();
    EXPECT_EQ(FILE_overwrite(name, 2), c.expected) << name << " " << c.policy << " " << c.batch;
  }
  FLAG_set(FLAG_FILE_PARAM, 0);
  FLAG_set(FLAG_BATCH, 0);
  EXPECT_EQ(FILE_overwrite(old.c_str(), 7), 0);  // unknown question kind
}

TEST_F(FilesTest, OverwriteAnswers) {
  write_file("old.hdr", "x");
  std::string old = path("old.hdr");
  struct Case {
    const char* answer;
    int with_append, without_append;
  } cases[] = {
      {"Y\n", 1, 1},      {"yes\n", 1, 1},  {"N\n", 3, 3},     {"no\n", 3, 3},
      {"O\n", 1, 1},      {"over\n", 1, 1}, {"U\n", 3, 3},     {"use\n", 3, 3},
      {"A\n", 2, 3},      {"append\n", 2, 3}, {"x\n", 3, 3},   {"\n", 3, 3},
      {"", 3, 3},         {"  oops yes\n", 1, 1},
  };
  for (const Case& c : cases) {
    int flag2 = run_with_stdin(c.answer, [&] { return FILE_overwrite(old.c_str(), 2); });
    int flag1 = run_with_stdin(c.answer, [&] { return FILE_overwrite(old.c_str(), 1); });
    EXPECT_EQ(flag2, c.with_append) << "answer '" << c.answer << "'";
    EXPECT_EQ(flag1, c.without_append) << "answer '" << c.answer << "'";
  }
}

}  // namespace
