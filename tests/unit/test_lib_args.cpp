// The argument iterator: switches, plain arguments, wildcard expansion and
// the program directory.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "lib/zeb_arg.h"
#include "lib/zeb_dsk.h"
#include "test_support.h"

namespace {

// An argument vector built from texts, kept alive for the iteration.
struct arg_list {
  std::vector<std::string> texts;
  std::vector<char *> ptrs;
  explicit arg_list(std::vector<std::string> t) : texts(std::move(t)) {
    for (std::string &s : texts) ptrs.push_back(&s[0]);
    ptrs.push_back(nullptr);
  }
  int argc() const { return static_cast<int>(texts.size()); }
  char **argv() { return ptrs.data(); }
};

typedef std::vector<std::pair<int, std::string>> result_list;

// Every result of arg_next up to and including the first -1.
result_list drain() {
  result_list got;
  for (int i = 0; i < 100; i++) {
    char buf[260] = "unchanged";
    int r = arg_next(buf);
    got.push_back({r, buf});
    if (r == -1) return got;
  }
  ADD_FAILURE() << "iteration does not end";
  return got;
}

class ArgTest : public testing::Test {
 protected:
  void TearDown() override {
    // End any search left open on the scratch folder.
    dir_search("NO-SUCH-FOLDER\\*", nullptr, 0);
  }
};

TEST_F(ArgTest, NoArgument) {
  arg_list a({"VELDOR"});
  EXPECT_EQ(arg_init(a.argc(), a.argv()), -1);
  EXPECT_EQ(drain(), (result_list{{-1, "unchanged"}}));
  EXPECT_EQ(drain(), (result_list{{-1, "unchanged"}}));
}

TEST_F(ArgTest, ProgramDirectory) {
  struct {
    const char *program;
    const char *dir;
  } cases[] = {
      {"VELDOR", "."},
      {"C:\\TOOLS\\VELDOR.EXE", "C:\\TOOLS"},
      {"C:\\VELDOR.EXE", "C:\\"},
      {"C:VELDOR.EXE", "C:"},
      {"\\home\\u\\bin\\veldor", "\\home\\u\\bin"},
      {".\\veldor", ".\\"},
  };
  for (const auto &c : cases) {
    arg_list a({c.program, "x"});
    EXPECT_EQ(arg_init(a.argc(), a.argv()), 0);
    EXPECT_STREQ(prog_directory, c.dir) << c.program;
  }
}

TEST_F(ArgTest, SwitchesAndPlainArguments) {
  arg_list a({"VELDOR", "-v", "/K", "abc", "-", "/", "-*", "x?y/z"});
  EXPECT_EQ(arg_init(a.argc(), a.argv()), 0);
  // "x?y/z" holds a wildcard but matches nothing here: passed over.
  scratch_dir d;
  EXPECT_EQ(drain(), (result_list{{1, "v"},
                                  {1, "K"},
                                  {0, "abc"},
                                  {1, ""},
                                  {1, ""},
                                  {1, "*"},
                                  {-1, "unchanged"}}));
  EXPECT_EQ(drain(), (result_list{{-1, "unchanged"}}));
}

TEST_F(ArgTest, InitRestartsTheIteration) {
  arg_list a({"VELDOR", "one", "two"});
  arg_init(a.argc(), a.argv());
  char buf[260];
  EXPECT_EQ(arg_next(buf), 0);
  EXPECT_STREQ(buf, "one");
  arg_init(a.argc(), a.argv());
  EXPECT_EQ(drain(), (result_list{{0, "one"}, {0, "two"}, {-1, "unchanged"}}));
}

TEST_F(ArgTest, WildcardsExpandToTheirEntries) {
  scratch_dir d;
  make_host_dir("DATA/SUB");
  write_host_file("DATA/A.DAT", "");
  write_host_file("DATA/B.DAT", "");
  make_host_dir("DOTS");
  make_host_dir("EMPTY");
  arg_list a({"VELDOR", "DATA\\*", "NONE\\*.X", "plain", "DOTS\\*", "EMPTY\\*",
              "-e", "DATA\\?.DAT"});
  arg_init(a.argc(), a.argv());
  result_list got = drain();
  // The three entries of DATA\* in the platform's order, "." and ".." left
  // out; then a pattern without matches gives nothing, the plain argument
  // comes through, and a folder holding only "." and ".." gives nothing.
  ASSERT_EQ(got.size(), 8u);
  std::set<std::pair<int, std::string>> first(got.begin(), got.begin() + 3);
  EXPECT_EQ(first,
            (std::set<std::pair<int, std::string>>{
                {0, "DATA\\SUB"}, {0, "DATA\\A.DAT"}, {0, "DATA\\B.DAT"}}));
  EXPECT_EQ(got[3], (std::pair<int, std::string>{0, "plain"}));
  EXPECT_EQ(got[4], (std::pair<int, std::string>{1, "e"}));
  std::set<std::pair<int, std::string>> last(got.begin() + 5, got.begin() + 7);
  EXPECT_EQ(last, (std::set<std::pair<int, std::string>>{{0, "DATA\\A.DAT"},
                                                         {0, "DATA\\B.DAT"}}));
  EXPECT_EQ(got[7].first, -1);
}

TEST_F(ArgTest, LongArgumentsAreCut) {
  scratch_dir d;
  std::string big(1000, 'a');
  arg_list a({"VELDOR", big, "-" + big, big + "*", "\\" + big + "\\x.exe"});
  struct {
    char buf[260];
    char guard[64];
  } b;
  std::memset(&b, 'Z', sizeof b);
  arg_init(a.argc(), a.argv());
  EXPECT_EQ(arg_next(b.buf), 0);
  EXPECT_EQ(std::string(b.buf), big.substr(0, 259));
  EXPECT_EQ(arg_next(b.buf), 1);
  EXPECT_EQ(std::string(b.buf), big.substr(0, 259));
  // The long pattern matches nothing and is passed over.
  EXPECT_EQ(arg_next(b.buf), 0);
  EXPECT_EQ(std::string(b.buf), a.texts[4].substr(0, 259));
  EXPECT_EQ(arg_next(b.buf), -1);
  for (char g : b.guard) EXPECT_EQ(g, 'Z');

  // A long program path: its directory part is cut too.
  arg_list p({a.texts[4], "x"});
  arg_init(p.argc(), p.argv());
  EXPECT_LT(std::strlen(prog_directory), 260u);
  EXPECT_EQ(std::string(prog_directory), "\\");
}

TEST(VersionTags, NamesItsModule) {
  EXPECT_STREQ(zeb_arg_version, "ZEB_ARG 1.12");
}

}  // namespace
