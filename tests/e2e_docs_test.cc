// The README against the built tool: its options block is the tool's own
// help output, and its first command indexes the example files of real
// bulletins into the records a reader is shown.
#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "src/prog.h"
#include "src/resrc.h"
#include "tests/tool_fixture.h"

namespace {

using DocsTest = ToolTest;

const std::string kReadme = read_file(std::string(KIV_SOURCE_DIR) + "/README.md");

// The lines of the fenced block that follows the line `heading`.
std::string block_after(const std::string& heading) {
  size_t at = kReadme.find("\n" + heading + "\n");
  size_t open = kReadme.find("```", at == std::string::npos ? kReadme.size() : at);
  if (open == std::string::npos) return "";
  size_t start = kReadme.find('\n', open) + 1;
  return kReadme.substr(start, kReadme.find("```", start) - start);
}

// The words of the first command between `from` and the next " && " or
// the end of its line.
std::vector<std::string> words_after(const std::string& from) {
  size_t at = kReadme.find(from);
  if (at == std::string::npos) return {};
  at += from.size();
  size_t end = std::min(kReadme.find(" && ", at), kReadme.find('\n', at));
  std::istringstream part(kReadme.substr(at, end - at));
  std::vector<std::string> words;
  for (std::string word; part >> word;) words.push_back(word);
  return words;
}

TEST_F(DocsTest, ReadmeOptionsBlockIsTheHelpOutput) {
  ToolRun help = run({"-h"});
  ASSERT_EQ(help.status, 0);
  EXPECT_EQ(block_after("## Options"), help.out);
}

TEST_F(DocsTest, ReadmeEnvironmentTableIsTheResourceTable) {
  std::string expected = "| `-df` | `default` | `kivdefault` |\n";
  for (const res_type* key = PROG_base_keys; *key != RES_null; ++key) {
    RES_defobj row;
    RES_enter(&row, *key);
    expected += std::string("| `-") + row.cmd + "` | `" + row.def + "` | `" + row.env + "` |\n";
  }
  RES_defobj files;
  RES_enter(&files, PROG_positional[0]);
  expected += std::string("| file names | `") + files.def + "` | `" + files.env + "` |\n";
  const std::string head = "| option | resource | environment variable |\n|---|---|---|\n";
  size_t at = kReadme.find(head);
  ASSERT_NE(at, std::string::npos);
  at += head.size();
  EXPECT_EQ(kReadme.substr(at, kReadme.find("\n\n", at) + 1 - at), expected);
}

TEST_F(DocsTest, FirstReadmeCommandIndexesTheExampleBulletins) {
  fs::copy(fs::path(KIV_SOURCE_DIR) / "examples", dir_ / "examples", fs::copy_options::recursive);
  ToolRun r = run(words_after("build/default/header_tool"));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  std::string printed;
  for (const std::string& name : words_after("&& cat")) {
    std::istringstream header(read(name));
    for (std::string line; std::getline(header, line);)
      printed += line.substr(0, line.find_last_not_of(' ') + 1) + "\n";
  }
  EXPECT_EQ(printed,
            "     10 FTUS43 KLOT 091553 AAB / TAFORD\n"
            "    223 SAUS70 KWBC 051400 / METAR\n"
            "   1579 SAUS70 KWBC 081400 / METAR\n"
            "   3226 FXUS63 KDMX 091156 RRA / AFDDMX\n"
            "   7251 WFUS53 KDDC 050056 / TORDDC\n"
            "   8777 WWUS20 KWNS 012048 / SEL9\n"
            "  10794 WWUS83 KGRR 090025 / SPSGRR\n"
            "  11754 NWUS54 KLCH 310528 / LSRLCH\n"
            "  12303 ACUS11 KWNS 110026 / SWOMCD\n"
            "  14222 SMVD22 KWBC 110044 / BOYCM7\n"
            "      0 FAUS21 KZME 030105 / ZME1 CWA 030105\n"
            "    211 UBUS01 KMSC 090000 / BIL UA /OV BIL /TM 0\n"
            "    512 WGUS55 KTWC 232334 / FFWTWC\n"
            "   1606 WOUS44 KOUN 300114 / FRWOUN\n"
            "   2626 ACUS11 KWNS 091726 / SWOMCD\n"
            "   4679 WSUS31 KKCI 130655 / SIGE\n"
            "   4936 TXUS20 KNES 310117 / SPENES\n"
            "   6756 WWUS40 KWNS 012048 / WWP9\n"
            "   7729 SXUS74 KOUN 311929 / REROKC\n"
            "   8252 SAUS80 KWBC 010000 RRI / METAR\n");
}

// The words of a shell command line of the README: blanks part them, and
// single quotes keep what they hold.
std::vector<std::string> shell_words(const std::string& line) {
  std::vector<std::string> words;
  std::string word;
  bool quoted = false, any = false;
  for (char c : line + " ") {
    if (c == '\'') quoted = !quoted, any = true;
    else if (c != ' ' || quoted) word += c, any = true;
    else if (any) words.push_back(word), word.clear(), any = false;
  }
  return words;
}

// Every "$ build/default/product_get $opts ..." of the README prints what
// the README shows after it (lines without their trailing blanks).
TEST_F(DocsTest, ReadmeProductGetExamplesPrintWhatTheyShow) {
  fs::copy(fs::path(KIV_SOURCE_DIR) / "examples", dir_ / "examples", fs::copy_options::recursive);
  ASSERT_EQ(run(words_after("build/default/header_tool")).status, 0);
  const std::string prompt = "\n$ build/default/product_get $opts ";
  int examples = 0;
  for (size_t at = kReadme.find(prompt); at != std::string::npos; at = kReadme.find(prompt, at + 1), ++examples) {
    size_t line_end = kReadme.find('\n', at + 1);
    std::string command = kReadme.substr(at + prompt.size(), line_end - at - prompt.size());
    size_t shown_end = std::min(kReadme.find("\n$ ", line_end), kReadme.find("\n```", line_end));
    std::string shown = kReadme.substr(line_end + 1, shown_end - line_end);
    SCOPED_TRACE(command);
    std::vector<std::string> args = {KIV_PRODUCT_GET, "-ba", "-fp", "examples", "-rp", "examples/raw", "-cp",
                                     "build/example"};
    for (const std::string& word : shell_words(command)) args.push_back(word);
    ChildRun r = run_program(args, {"PATH=/usr/bin:/bin"}, dir_);
    EXPECT_EQ(r.status, 0) << r.err;
    std::istringstream lines(r.out);
    std::string printed;
    for (std::string line; std::getline(lines, line);) printed += line.substr(0, line.find_last_not_of(' ') + 1) + "\n";
    EXPECT_EQ(printed, shown);
  }
  EXPECT_GE(examples, 5);
}

}  // namespace
