#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
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
#include "tests/support.h"


namespace {

// Each test runs in its own temporary directory with clean module state.
class FilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tmp_.enter();
    FILE_reset();
    RES_reset();
    FLAG_state_reset();
    MESS_reset();
    DATE_reset();
    ::unsetenv("kivcurtime");
  }
  void TearDown() override {
    FILE_reset();
    RES_reset();
    FLAG_state_reset();
    DATE_reset();
    ::unsetenv("kivcurtime");
  }
  std::string path(const std::string& name) const { return tmp_.file(name); }
  void write_file(const std::string& name, const std::string& text) const { tmp_.write(name, text); }

  TempDir tmp_;
  std::string dir_ = tmp_.str();
};

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
  EXPECT_EQ(read_file(out), "through\n");
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

TEST_F(FilesTest, SettingsFilesOpenOnlyWhenRegular) {
  write_file("plain.cfg", "x\n");
  ASSERT_EQ(::mkfifo(path("fifo").c_str(), 0600), 0);
  fs::create_directory(path("dir"));
  struct Case {
    std::string name;
    bool opens, reported;
  } cases[] = {
      {path("plain.cfg"), true, false},
      {path("missing.cfg"), false, false},  // the caller reports it
      {path("fifo"), false, true},          // would block in the open
      {"/dev/zero", false, true},           // would never end
      {path("dir"), false, true},
      {"-", true, false},
      {"|echo x", true, false},
  };
  for (const Case& c : cases) {
    testing::internal::CaptureStderr();
    FILE_ptr f(FILE_open_regular(c.name.c_str()));
    EXPECT_EQ(f != nullptr, c.opens) << c.name;
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              c.reported ? "Not a regular file, ignored: " + c.name + "\n" : "");
  }
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
  write_file("a%sb.hdr", "x");  // the question shows the name as it is
  std::string old = path("a%sb.hdr");
  const std::string questions[] = {old + ": exists overwrite (Y,N,Use,Over): ",
                                   old + ": exists overwrite (Y,N,Use,Over,App): "};
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
    for (int flag : {1, 2}) {
      ChildRun r = run_in_child(c.answer, [&] { return std::to_string(FILE_overwrite(old.c_str(), flag)); });
      EXPECT_EQ(r.result, std::to_string(flag == 2 ? c.with_append : c.without_append))
          << "answer '" << c.answer << "' flag " << flag;
      EXPECT_EQ(r.out, questions[flag - 1]) << c.answer;
    }
  }
}


// ---- Conventions and templates -------------------------------------------

Date make_date(int year, int month, int day, int hour, int min = 0) {
  Date d;
  d.year = year;
  d.month = month;
  d.day = day;
  d.hour = hour;
  d.min = min;
  d.sec = 0;
  return d;
}

void set_resource(const char* name, const std::string& value) {
  RES_new(NO_VALUE, name, value.c_str(), CV_string);
}

// Writes a convention file in the test directory and points file_path at
// it.
class ConventionTest : public FilesTest {
 protected:
  void use_conventions(const std::string& text, const char* name = "name_conv") {
    write_file(name, text);
    set_resource("file_path", dir_);
    if (std::string(name) != "name_conv") set_resource("name_conv", name);
  }
};

TEST_F(ConventionTest, TypesMatchTheFirstFittingLine) {
  struct Case {
    const char* file;
    const char* type;
    int result;
    const char* conv;
    const char* hconv;
    const char* ext;
    long min_size;
  } cases[] = {
      {"sa_first", "sat", 1, "%R/sa_%Y.x", "", "", 0},
      {"sa_first", "SA", 1, "%R/sa_%Y.x", "", "", 0},
      {"sat_only", "sat_ir", 1, "%S/%Y%m%d%h_%e.sat", "%C/%Y.h", "ir", 100},
      {"sat_only", "sat", 1, "%S/%Y%m%d%h_%e.sat", "%C/%Y.h", "", 100},
      {"sat_only", "zzz", 0, "zzz", "", "", 0},
      {"sat_only", "raw:x=abc def", 1, "%R/%x_%Y.raw", "", "", 0},
      {"sat_only", "none", 0, "", "", "", 0},
      {"missing_file", "raw", 0, "raw", "", "", 0},
  };
  write_file("sa_first", "# comment line\n\nsa %R/sa_%Y.x -\nsat %R/sat_%Y.x - 9\n");
  write_file("sat_only", "sat %S/%Y%m%d%h_%e.sat %C/%Y.h 100\nraw %R/%x_%Y.raw\n");
  set_resource("file_path", dir_);
  for (const Case& c : cases) {
    FILE_reset();
    set_resource("name_conv", c.file);
    std::string type = c.type;
    EXPECT_EQ(FILE_set_name(type), c.result) << c.type;
    FILE_state_view v = FILE_state();
    EXPECT_EQ(v.conv, c.conv) << c.type;
    EXPECT_EQ(v.hconv, c.hconv) << c.type;
    EXPECT_EQ(v.ext, c.ext) << c.type;
    EXPECT_EQ(v.min_size, c.min_size) << c.type;
  }
  std::string type = "raw:x=abc def:y=2";
  FILE_set_name(type);
  EXPECT_EQ(type, "raw");  // cut at the first key suffix
  ASSERT_NE(FILE_get_key('x'), nullptr);
  EXPECT_STREQ(FILE_get_key('x'), "abc_def");
  EXPECT_STREQ(FILE_get_key('y'), "2");
}

TEST_F(ConventionTest, LiteralTemplateKeepsTheRest) {
  use_conventions("raw %R/%Y.raw %C/%Y.hdr 5\n");
  EXPECT_EQ(FILE_set_name("raw"), 1);
  EXPECT_EQ(FILE_set_name("@/lit/%Y"), 1);
  FILE_state_view v = FILE_state();
  EXPECT_EQ(v.conv, "/lit/%Y");
  EXPECT_EQ(v.hconv, "%C/%Y.hdr");
  EXPECT_EQ(v.min_size, 5);
}

TEST_F(ConventionTest, KeysAreCutAndBlanksReplaced) {
  struct Case {
    int key;
    const char* value;
    const char* stored;
  } cases[] = {{'r', "north america", "north_america"},
               {'a', "0123456789012345678901234567890123", "01234567890123456789012345678"},
               {'b', "", ""}};
  for (const Case& c : cases) {
    EXPECT_EQ(FILE_set_key(c.key, c.value), 0);
    EXPECT_STREQ(FILE_get_key(c.key), c.stored);
  }
  EXPECT_EQ(FILE_get_key('q'), nullptr);
  // Keys set before the first convention survive it.
  use_conventions("raw %R/%Y.raw\n");
  FILE_set_name("raw");
  EXPECT_STREQ(FILE_get_key('r'), "north_america");
}

TEST_F(ConventionTest, TemplatesExpand) {
  struct Case {
    const char* tmpl;
    const char* raw_path;
    Date date;
    Date set;
    const char* expected;
    long late_off;
  } cases[] = {
      {"%R/%Y%m%d%h_sao.raw", "/data/raw", make_date(2024, 3, 5, 7), Date{}, "/data/raw/2024030507_sao.raw", 3600},
      {"%R/%Y%m%d%h_sao.raw", nullptr, make_date(2024, 3, 5, 7), Date{}, "./2024030507_sao.raw", 3600},
      {"%R/%Y%m%d%3h_sao.raw", "/data/raw", make_date(2024, 3, 5, 7), Date{}, "/data/raw/2024030506_sao.raw", 10800},
      {"%b%d", nullptr, make_date(2024, 3, 5, 7), Date{}, "mar05", 86400},
      {"%b", nullptr, make_date(2024, NO_VALUE, 5, 7), Date{}, "xxx", NO_VALUE},
      {"%Y%m", nullptr, make_date(2024, 3, 5, 7), Date{}, "202403", NO_VALUE},
      {"a%qb", nullptr, make_date(2024, 3, 5, 7), Date{}, "a0b", NO_VALUE},
      {"%9k.x", nullptr, make_date(2024, 3, 5, 7), Date{}, "key.x", NO_VALUE},
      {"%2k.%k", nullptr, make_date(2024, 3, 5, 7), Date{}, "ke.key", NO_VALUE},
      {"%y%j{x}%%_a b", nullptr, make_date(2024, 3, 5, 7), Date{}, "24065x%_a_b", 86400},
      {"%0h%n", nullptr, make_date(2024, 3, 5, 7, 45), Date{}, "0745", 60},
      {"%h", nullptr, make_date(2024, 3, 5, 7), make_date(NO_VALUE, NO_VALUE, NO_VALUE, -100), "08", 3600},
      {"%h", nullptr, make_date(2024, 3, 5, 7), make_date(NO_VALUE, NO_VALUE, NO_VALUE, -6), "06", 21600},
      {"%h", nullptr, make_date(2024, 3, 5, 7), make_date(NO_VALUE, NO_VALUE, NO_VALUE, -106), "07", 21600},
      {"%n", nullptr, make_date(2024, 3, 5, 7, 40), make_date(NO_VALUE, NO_VALUE, NO_VALUE, NO_VALUE, -15), "30", 900},
      {"%Y%m%d%h", nullptr, make_date(2024, 3, 5, 7), make_date(2020, 1, 2, 3), "2020010203", 3600},
      {"%d%h", nullptr, make_date(2024, 3, 5, 7), make_date(NO_VALUE, NO_VALUE, -2, NO_VALUE), "0407", 3600},
      {"%Y%m%d%h", nullptr, make_date(2061, 12, 31, 23), Date{}, "2061123123", 3600},
      {"%{site}/%T.t", nullptr, make_date(2024, 3, 5, 7), Date{}, "ops/..t", NO_VALUE},
      {"%Y", nullptr, make_date(-5, 3, 5, 7), Date{}, "0000", NO_VALUE},
  };
  for (const Case& c : cases) {
    RES_reset();
    set_resource("site", "ops");
    if (c.raw_path != nullptr) set_resource("raw_path", c.raw_path);
    FILE_set_key('k', "key");
    Date set = c.set;
    set.sec = 0;
    FILE_set_time(set);
    FILE_set_name((std::string("@") + c.tmpl).c_str());
    std::string out;
    EXPECT_EQ(FILE_set_date(&c.date, out), 0) << c.tmpl;
    EXPECT_EQ(out, c.expected) << c.tmpl;
    EXPECT_EQ(FILE_state().late_off, c.late_off) << c.tmpl;
    EXPECT_EQ(FILE_state().filename, c.expected) << c.tmpl;
  }
}

TEST_F(ConventionTest, ExpansionRecordsTheDateWritten) {
  FILE_set_name("@%y%m%d%3h");
  Date d = make_date(2049, 3, 5, 7, 59);
  std::string out;
  FILE_set_date(&d, out);
  Date fd;
  FILE_get_date(&fd);
  EXPECT_EQ(out, "49030506");
  EXPECT_EQ(fd.year, 2049);
  EXPECT_EQ(fd.month, 3);
  EXPECT_EQ(fd.day, 5);
  EXPECT_EQ(fd.hour, 6);
  EXPECT_EQ(fd.min, NO_VALUE);
}

TEST_F(ConventionTest, NamesTakenOverWithoutExpansion) {
  std::string out;
  Date d = make_date(2024, 3, 5, 7);
  FILE_set_name("none");
  EXPECT_EQ(FILE_set_date(&d, out), 1);
  EXPECT_EQ(out, "filename");
  FILE_set_name("@-");
  EXPECT_EQ(FILE_set_date(&d, out), 1);
  EXPECT_EQ(out, "-");
}

TEST_F(ConventionTest, HeaderNames) {
  use_conventions("raw %R/%Y%m%d%h.raw %R/%Y%m%d%h.hdr\ntext %T/%Y.txt -\n");
  set_resource("raw_path", "/data/raw");
  Date d = make_date(2024, 3, 5, 7);
  struct Case {
    const char* type;
    Date date;
    int result;
    const char* expected;
  } cases[] = {
      {"raw", d, 1, "/data/raw/2024030507.hdr"},
      {"raw", Date{}, 0, "untouched"},
      {"text", d, 0, ""},
      {"none", d, 0, ""},  // no convention: never the data file's name
  };
  for (const Case& c : cases) {
    FILE_set_name(c.type);
    std::string data;
    FILE_set_date(&d, data);
    std::string out = "untouched";
    EXPECT_EQ(FILE_hdr_set_date(&c.date, out), c.result) << c.type;
    EXPECT_EQ(out, c.expected) << c.type;
  }
}

TEST_F(ConventionTest, TypedDirectoryStandsInForHeaderDirectory) {
  use_conventions("raw %R/%Y%m%d%h.raw %R/%Y%m%d%h.hdr\n");
  set_resource("raw_path", "/data/raw");
  auto header_for = [](bool typed) {
    FILE_set_name("raw");
    std::string name;
    if (typed) {
      FILE_get_file_only("Enter the filename: ", &name);
    } else {
      set_resource("filename", "/x/y/2024030507.raw");
      FILE_get_file_only("Enter the filename: ", &name);
    }
    Date d;
    FILE_get_date(&d);
    std::string hdr;
    FILE_hdr_set_date(&d, hdr);
    return name + " " + hdr;
  };
  EXPECT_EQ(run_in_child("/x/y/2024030507.raw\n", [&] { return header_for(true); }).result,
            "/x/y/2024030507.raw /x/y/2024030507.hdr");
  EXPECT_EQ(run_in_child("", [&] { return header_for(false); }).result,
            "/x/y/2024030507.raw /data/raw/2024030507.hdr");
}

// ---- Specifications ------------------------------------------------------

TEST_F(ConventionTest, SpecificationsMatchTheTemplate) {
  struct Case {
    const char* tmpl;
    const char* spec;
    const char* expected;
    Date date;
    long late_off;
  } cases[] = {
      {"%R/%Y%m%d%h.raw", "2024030507.raw", "/data/raw/2024030507.raw", make_date(2024, 3, 5, 7, NO_VALUE), 3600},
      {"%R/%Y%m%d%h.raw", "/old/dir/2024030507.raw", "/old/dir/2024030507.raw", make_date(2024, 3, 5, 7, NO_VALUE), 3600},
      {"%R/%Y%m%d%h.raw", "notes.txt", "/data/raw/notes.txt", Date{}, NO_VALUE},
      {"%R/%y%m%d%h.raw", "49030507.raw", "/data/raw/49030507.raw", make_date(2049, 3, 5, 7, NO_VALUE), 3600},
      {"%R/%y%m%d%h.raw", "50030507.raw", "/data/raw/50030507.raw", make_date(1950, 3, 5, 7, NO_VALUE), 3600},
      {"%R/%Y%m%d%h.raw", "202403057x.raw", "/data/raw/202403057x.raw", make_date(2024, 3, 5, 7, NO_VALUE), 3600},
      {"%R/%Y%b%d.txt", "2024mar05.txt", "/data/raw/2024mar05.txt", make_date(2024, 3, 5, NO_VALUE, NO_VALUE), 86400},
      {"%R/%Y%j.%3h", "2024065.06", "/data/raw/2024065.06", make_date(2024, 3, 5, 6, NO_VALUE), 10800},
      {"%R/%Y%m%d%h.%e", "2024030507.grb", "/data/raw/2024030507.grb", make_date(2024, 3, 5, 7, NO_VALUE), 3600},
      {"%R/%k_%Y.dat", "abc_2024.dat", "/data/raw/abc_2024.dat", make_date(2024, NO_VALUE, NO_VALUE, NO_VALUE, NO_VALUE), NO_VALUE},
      {"%R/%q_%Y.dat", "abc_2024.dat", "/data/raw/abc_2024.dat", Date{}, NO_VALUE},
      {"%R/*", "whatever.x", "/data/raw/whatever.x", Date{}, NO_VALUE},
      {"/fixed/%Y%m%d%h.raw", "/old/2024030507.raw", "/old/2024030507.raw", Date{}, NO_VALUE},
      {"%R/%Y%m%d%h.raw", "@/tmp/x", "/tmp/x", Date{}, NO_VALUE},
      {"%R/%Y%m%d%h.raw", "-", "-", Date{}, NO_VALUE},
      {"%R/%Y%m%d%h.raw", "NONE", "NONE", Date{}, NO_VALUE},
      {"std", "2024030507.raw", "-", Date{}, NO_VALUE},
  };
  for (const Case& c : cases) {
    RES_reset();
    set_resource("raw_path", "/data/raw");
    FILE_set_key('k', "abc");
    FILE_set_name((std::string("@") + c.tmpl).c_str());
    std::string out;
    EXPECT_EQ(FILE_set_file(c.spec, out), 0);
    EXPECT_EQ(out, c.expected) << c.spec;
    Date d;
    FILE_get_date(&d);
    EXPECT_EQ(d.year, c.date.year) << c.spec;
    EXPECT_EQ(d.month, c.date.month) << c.spec;
    EXPECT_EQ(d.day, c.date.day) << c.spec;
    EXPECT_EQ(d.hour, c.date.hour) << c.spec;
    EXPECT_EQ(d.min, c.date.min) << c.spec;
    if (c.late_off != NO_VALUE) {
      EXPECT_EQ(FILE_state().late_off, c.late_off) << c.spec;
    }
  }
}

TEST_F(ConventionTest, ExtensionLearnedOrKnown) {
  use_conventions("sat %S/%Y%m%d%h_%e.sat\n");
  set_resource("sat_path", "/sat");
  std::string out;
  FILE_set_name("sat_ir");
  FILE_set_file("2024030507_vis.sat", out);
  EXPECT_EQ(out, "/sat/2024030507_ir.sat");  // the type's extension wins
  FILE_set_name("sat");
  FILE_set_file("2024030507_wv.sat", out);
  EXPECT_EQ(out, "/sat/2024030507_wv.sat");
  EXPECT_EQ(FILE_state().ext, "wv");
}

TEST_F(ConventionTest, NoConventionPassesNamesThrough) {
  FILE_set_name("none");
  std::string out;
  FILE_set_file("any/name.x", out);
  EXPECT_EQ(out, "any/name.x");
  EXPECT_EQ(FILE_state().filename_type, 1);
  std::string long_name(300, 'a');
  FILE_set_file(long_name.c_str(), out);
  EXPECT_EQ(out, long_name);
}

TEST_F(ConventionTest, ExitEndsTheProcess) {
  for (const char* spec : {"exit", "EXIT", "Exit"}) {
    EXPECT_EXIT(
        {
          std::string out;
          FILE_set_file(spec, out);
          std::_Exit(5);
        },
        ::testing::ExitedWithCode(0), "")
        << spec;
  }
}

// ---- Current and latest files --------------------------------------------

class CurrentTest : public ConventionTest {
 protected:
  void SetUp() override {
    ConventionTest::SetUp();
    use_conventions("raw %R/%Y%m%d%h.raw %R/%Y%m%d%h.hdr 3\nmin %R/%Y%m%d%h%n.raw\n");
    set_resource("raw_path", dir_);
    ::setenv("kivcurtime", "2024030507", 1);
    FILE_set_name("raw");
    write_file("2024030504.raw", "12345");
    write_file("2024030506.raw", "12");  // not above the minimum size
    write_file("2024030509.raw", "12345");
  }
  std::string current(const char* expr) {
    std::string out;
    FILE_set_current(expr, out);
    return out.substr(dir_.size() + 1);
  }
};

TEST_F(CurrentTest, Expressions) {
  struct Case {
    const char* type;
    const char* expr;
    const char* expected;
  } cases[] = {
      {"raw", "", "2024030507.raw"},
      {"raw", "6", "2024030501.raw"},
      {"raw", "-6", "2024030501.raw"},
      {"raw", "+6", "2024030513.raw"},
      {"min", "1d6:30", "202403040030.raw"},
      {"min", "+0:15", "202403050715.raw"},
      {"raw", "#2024030412", "2024030412.raw"},
      {"raw", "#20240304", "2024030400.raw"},
      {"raw", "#2061123123+2", "2062010101.raw"},
      {"raw", nullptr, "2024030504.raw"},
      {"raw", "la", "2024030504.raw"},
      {"raw", "LA", "2024030504.raw"},
      {"raw", "la#1", "2024030506.raw"},
      {"raw", "la#2", "2024030505.raw"},
      {"raw", "la#3", "2024030504.raw"},
      {"raw", "+la", "2024030509.raw"},
      {"raw", "la6", "2024030422.raw"},
      {"raw", "la-6", "2024030422.raw"},
      {"raw", "la+1", "2024030505.raw"},
      {"raw", "2la", "2024030504.raw"},
      {"raw", "+1la", "2024030504.raw"},
  };
  for (const Case& c : cases) {
    FILE_set_name(c.type);
    EXPECT_EQ(current(c.expr), c.expected) << (c.expr != nullptr ? c.expr : "(none)");
    EXPECT_EQ(FILE_state().filename_type, 0);
  }
}

TEST_F(CurrentTest, BaseTimeSources) {
  struct Case {
    const char* env;
    long clock;
    const char* expected;
  } cases[] = {
      {"2024030507", -1, "2024030507.raw"},
      {"#2024030508", -1, "2024030508.raw"},
      {"2050010100", -1, "2050010100.raw"},
      {nullptr, 1709622000, "2024030507.raw"},  // the pinned clock
  };
  for (const Case& c : cases) {
    if (c.env != nullptr) ::setenv("kivcurtime", c.env, 1);
    else ::unsetenv("kivcurtime");
    DATE_set_clock(c.clock);
    EXPECT_EQ(current(""), c.expected);
  }
}

TEST_F(CurrentTest, RequestedFieldsPinTheBase) {
  struct Case {
    Date set;
    const char* expected;
  } cases[] = {
      {make_date(NO_VALUE, NO_VALUE, NO_VALUE, 3, NO_VALUE), "2024030503.raw"},
      {make_date(NO_VALUE, NO_VALUE, NO_VALUE, 9, NO_VALUE), "2024030409.raw"},
      {make_date(NO_VALUE, NO_VALUE, 7, NO_VALUE, NO_VALUE), "2024020707.raw"},
      {make_date(NO_VALUE, 4, NO_VALUE, NO_VALUE, NO_VALUE), "2023040507.raw"},
  };
  for (const Case& c : cases) {
    Date set = c.set;
    set.sec = 0;
    FILE_set_time(set);
    EXPECT_EQ(current(""), c.expected);
  }
}

TEST_F(CurrentTest, ResultIsTruncatedToThePeriod) {
  std::string out;
  ::setenv("kivcurtime", "202403050730", 1);
  long t = FILE_set_current("", out);
  Date d = make_date(2024, 3, 5, 7);
  EXPECT_EQ(t, DATE_num_sec(&d));
}

TEST_F(CurrentTest, RequestedDateSuffixOfASpecification) {
  struct Case {
    const char* spec;
    const char* expected;
  } cases[] = {{"la#2024030412", "2024030412.raw"},
               {"#2024030412", "2024030412.raw"},
               {"cu6", "2024030501.raw"},
               {"CU", "2024030507.raw"}};
  for (const Case& c : cases) {
    FILE_reset();
    FILE_set_name("raw");
    std::string out;
    FILE_set_file(c.spec, out);
    EXPECT_EQ(out, path(c.expected)) << c.spec;
  }
}

// ---- Selection and series ------------------------------------------------

TEST_F(CurrentTest, FirstFileFromResourcesAndBatch) {
  struct Case {
    const char* filename;
    const char* current;
    int batch;
    const char* expected;
    int exists;
  } cases[] = {
      {"2024030504.raw", nullptr, 0, "2024030504.raw", 1},
      {"2024030505.raw,2024030504.raw", nullptr, 0, "2024030505.raw", 0},
      {nullptr, "3", 0, "2024030504.raw", 1},
      {nullptr, "2", 0, "2024030505.raw", 0},
      {nullptr, nullptr, 1, "2024030504.raw", 1},
  };
  for (const Case& c : cases) {
    RES_reset();
    FLAG_set(FLAG_BATCH, c.batch);
    set_resource("file_path", dir_);
    set_resource("raw_path", dir_);
    if (c.filename != nullptr) set_resource("filename", c.filename);
    if (c.current != nullptr) set_resource("current", c.current);
    FILE_set_name("raw");
    std::string name;
    EXPECT_EQ(FILE_get_file_only("Enter the filename: ", &name), c.exists);
    EXPECT_EQ(name, path(c.expected));
  }
}

TEST_F(CurrentTest, FirstFileFromThePrompt) {
  struct Case {
    const char* answer;
    const char* expected;
  } cases[] = {
      {"2024030504.raw\n", "1 DIR/2024030504.raw"},
      {"\n", "1 -"},
      {"", "1 -"},
      {"list\n", "1 "},
      {"cu6\n", "0 DIR/2024030501.raw"},
      {"#2024030504\n", "1 DIR/2024030504.raw"},
      {"la#3 more\n", "1 DIR/2024030504.raw"},
      {"@/no/such\n", "0 /no/such"},
  };
  for (const Case& c : cases) {
    std::string got = run_in_child(c.answer, [] {
      std::string name = "unset";
      int found = FILE_get_file_only(nullptr, &name);
      return std::to_string(found) + " " + name;
    }).result;
    std::string expected = c.expected;
    size_t at = expected.find("DIR");
    if (at != std::string::npos) expected.replace(at, 3, dir_);
    EXPECT_EQ(got, expected) << c.answer;
  }
  auto returned = [] { FILE_get_file_only(nullptr, nullptr); return std::string("returned"); };
  ChildRun exited = run_in_child("exit\n", returned);
  EXPECT_EQ(exited.status, 0);
  EXPECT_EQ(exited.result, "");
  set_resource("filename", "LIST");
  ChildRun listed = run_in_child("", returned);
  EXPECT_EQ(listed.status, 0);
  EXPECT_EQ(listed.result, "");
}

TEST_F(CurrentTest, ListingQuotesResourceValues) {
  // Quoted against the shell, and still in the home directory for '~'.
  std::string home = home_dir();
  std::string sub = ".files_test_" + std::to_string(::getpid());
  std::string me = ::getpwuid(::getuid())->pw_name;
  std::string every_char;  // all a directory name can hold: any byte but '/' and NUL
  for (int c = 1; c < 256; ++c)
    if (c != '/') every_char += static_cast<char>(c);
  struct Case {
    std::string raw_path, dir;
  } cases[] = {{dir_ + "/we ird;touch pwned", dir_ + "/we ird;touch pwned"},
               {dir_ + "/" + every_char, dir_ + "/" + every_char},
               {"~/" + sub, home + "/" + sub},
               {"~" + me + "/" + sub, home + "/" + sub}};
  for (const Case& c : cases) {
    if (c.dir.rfind(home, 0) == 0 && ::access(home.c_str(), W_OK) != 0) continue;  // home not writable
    fs::create_directories(c.dir);
    std::ofstream(c.dir + "/2024030507.raw") << "x";
    std::ofstream(c.dir + "/notes.txt") << "x";
    set_resource("raw_path", c.raw_path);
    std::string text = run_in_child("", [] { FILE_list_file(); return std::string(); }).out;
    EXPECT_NE(text.find("2024030507.raw"), std::string::npos) << c.raw_path << ": " << text;
    EXPECT_EQ(text.find("notes.txt"), std::string::npos) << text;
    if (c.dir.rfind(home, 0) == 0) fs::remove_all(c.dir);
  }
  EXPECT_FALSE(fs::exists(path("pwned")));
  EXPECT_FALSE(fs::exists("pwned"));
}

TEST_F(CurrentTest, SpansAndSteps) {
  struct Case {
    const char* num_hour;
    long span, skip;
  } cases[] = {
      {nullptr, 0, 3600}, {"-24", -86400, 3600}, {"24", 86400, 3600},  {"24,6", 86400, 21600},
      {"-0:30", -1800, 3600}, {":30", 1800, 3600}, {"6:15", 22500, 3600}, {"12,:30", 43200, 1800},
  };
  for (const Case& c : cases) {
    RES_reset();
    if (c.num_hour != nullptr) set_resource("num_hour", c.num_hour);
    EXPECT_EQ(FILE_num_hour(), c.span) << c.num_hour;
    EXPECT_EQ(FILE_get_skip(), c.skip) << c.num_hour;
  }
  EXPECT_EQ(FILE_get_offset(), 3600);
}

TEST_F(CurrentTest, Series) {
  struct Case {
    const char* num_hour;
    size_t count;
    const char* first;
    const char* last;
  } cases[] = {
      {"-24", 25, "2024030407.raw", "2024030507.raw"},
      {"24", 25, "2024030507.raw", "2024030607.raw"},
      {"24,6", 5, "2024030507.raw", "2024030607.raw"},
      {"-0:30", 2, "2024030506.raw", "2024030507.raw"},
      {nullptr, 1, "2024030507.raw", "2024030507.raw"},
  };
  for (const Case& c : cases) {
    RES_reset();
    set_resource("file_path", dir_);
    set_resource("raw_path", dir_);
    set_resource("filename", "2024030507.raw");
    if (c.num_hour != nullptr) set_resource("num_hour", c.num_hour);
    FILE_set_name("raw");
    FILE_get_file_only(nullptr, nullptr);
    Date first;
    FILE_get_date(&first);
    FILE_reset_time();
    FILE_first(first);
    std::vector<std::string> names;
    std::string name;
    while (FILE_get_next(name) == 1 && names.size() < 100) names.push_back(name);
    ASSERT_EQ(names.size(), c.count) << c.num_hour;
    EXPECT_EQ(names.front(), path(c.first)) << c.num_hour;
    EXPECT_EQ(names.back(), path(c.last)) << c.num_hour;
  }
}

TEST_F(CurrentTest, NameListsAndCurrentRequests) {
  struct Case {
    const char* filename;
    std::vector<std::string> expected;
  } cases[] = {
      {"2024030504.raw,@/lit/x,2024030509.raw", {"2024030504.raw", "/lit/x", "2024030509.raw"}},
      {"la", {"2024030504.raw"}},
  };
  for (const Case& c : cases) {
    set_resource("filename", c.filename);
    FILE_set_name("raw");
    FILE_get_file_only(nullptr, nullptr);
    Date first;
    FILE_get_date(&first);
    FILE_first(first);
    std::vector<std::string> names;
    std::string name;
    while (FILE_get_next(name) == 1 && names.size() < 10)
      names.push_back(name[0] == '/' && name.rfind(dir_, 0) == 0 ? name.substr(dir_.size() + 1) : name);
    EXPECT_EQ(names, c.expected) << c.filename;
  }
}

TEST_F(CurrentTest, DateOffsetCountsPeriods) {
  std::string out;
  Date d = make_date(2024, 3, 5, 7);
  EXPECT_EQ(FILE_set_date_off(d, -7200, out), -2);
  EXPECT_EQ(out, path("2024030505.raw"));
  EXPECT_EQ(FILE_set_date_off(d, 3LL * 366 * 86400 * 10, out), 263520);
}

}  // namespace
