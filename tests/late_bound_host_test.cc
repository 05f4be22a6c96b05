// The late-bound host against the vavizar command: the same page through the
// component's module, created by name from a private registry and called
// through IDispatch::Invoke, and through the direct calls of `vavizar asp` and
// `vavizar exec`, must give the same bytes and the same exit status.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "platform/com/registry.h"
#include "tests/store_fixture.h"

extern char** environ;

namespace vz {
namespace {

using testing::RunSql;
using testing::TempDir;
using testing::WriteBytes;

struct Result {
  int status = -1;  // the exit status; -1 when the program did not exit
  std::string out;
  std::string err;
};

// Runs `program` with `args` in the test's environment changed by `env`
// (a variable with the value "\x01" is removed), stdout and stderr captured.
Result RunProgram(const std::string& program, const std::vector<std::string>& args,
                  const std::map<std::string, std::string>& env, const TempDir& dir) {
  std::vector<std::string> environment;
  for (char** e = environ; *e != nullptr; ++e) {
    std::string entry = *e;
    if (env.count(entry.substr(0, entry.find('='))) == 0) environment.push_back(entry);
  }
  for (const auto& [name, value] : env) {
    if (value != "\x01") environment.push_back(name + "=" + value);
  }
  std::vector<char*> envp, argv{const_cast<char*>(program.c_str())};
  for (std::string& e : environment) envp.push_back(e.data());
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  envp.push_back(nullptr);
  argv.push_back(nullptr);

  const std::string out_path = dir / "stdout", err_path = dir / "stderr";
  pid_t pid = fork();
  if (pid == 0) {
    int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) _exit(127);
    execve(program.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  Result result;
  int wait_status = 0;
  if (pid < 0 || waitpid(pid, &wait_status, 0) != pid) {
    ADD_FAILURE() << "cannot run " << program;
    return result;
  }
  if (WIFEXITED(wait_status)) result.status = WEXITSTATUS(wait_status);
  result.out = testing::ReadBytes(out_path);
  result.err = testing::ReadBytes(err_path);
  return result;
}

// True for a general date text: "yyyy/M/d", then " H:mm:ss" unless the time
// is midnight.
bool IsDateTime(const std::string& s) {
  size_t at = 0;
  auto digits = [&](size_t min, size_t max) {
    size_t n = 0;
    for (; at < s.size() && s[at] >= '0' && s[at] <= '9' && n < max; ++at) ++n;
    return n >= min;
  };
  auto literal = [&](char c) { return at < s.size() && s[at++] == c; };
  if (!(digits(4, 4) && literal('/') && digits(1, 2) && literal('/') && digits(1, 2))) return false;
  if (at == s.size()) return true;
  return literal(' ') && digits(1, 2) && literal(':') && digits(2, 2) && literal(':') &&
         digits(2, 2) && at == s.size();
}

// `text` with the date-time of every log entry replaced by "<date>"; a line
// without a well-formed date stays as it is and so differs from the expected
// text.
std::string MaskDates(const std::string& text) {
  std::string masked;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    end = end == std::string::npos ? text.size() : end + 1;
    std::string line = text.substr(at, end - at);
    size_t dash = line.find(" - [");
    if (dash != std::string::npos && IsDateTime(line.substr(0, dash)))
      line = "<date>" + line.substr(dash);
    masked += line;
    at = end;
  }
  return masked;
}

std::string Describe(const Result& r) {
  return "status " + std::to_string(r.status) + "\nstdout: " + r.out + "\nstderr: " + r.err;
}

// A private registry with the module registered in it, a database and a
// template folder.
class LateBoundHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    registry_ = dir_ / "registry.txt";
    // Someone else's registration, which must survive ours.
    com::RegistryHive hive;
    hive["Other.Thing\\CLSID"]["@"] = "{00000000-1111-2222-3333-444444444444}";
    WriteBytes(registry_, com::HiveText(hive));
    before_ = testing::ReadBytes(registry_);
    Result registered = Vavizar({"register", VZ_MODULE_PATH});
    ASSERT_EQ(registered.status, 0) << Describe(registered);
    ASSERT_EQ(registered.err,
              std::string("registered ") + VZ_MODULE_PATH + " (" + registry_ + ")\n");
    ASSERT_NE(testing::ReadBytes(registry_), before_);

    db_ = dir_ / "site.db";
    std::filesystem::create_directories(dir_ / "tmpl");
    RunSql(db_, std::string(testing::kSiteSchema) +
                    "INSERT INTO web_templet VALUES (12, 1, 'p.html');\n"
                    "INSERT INTO web_templet VALUES (13, 1, 'missing.html');\n"
                    "INSERT INTO web_templet VALUES (14, 1, 'gbk.html');\n"
                    "INSERT INTO web_tag VALUES ('box', NULL, '', "
                    "'BoxStart w, h' || char(13,10) || '[data]' || char(13,10) || 'BoxEnd');\n");
    WriteBytes(dir_ / "tmpl/p.html", "<p><!--box--></p><!--box w=1&h=2--><b>Hi</b><!--/box-->.");
    // "你好" in GBK.
    WriteBytes(dir_ / "tmpl/gbk.html", "<p>\xC4\xE3\xBA\xC3</p>");
  }

  std::map<std::string, std::string> Env() const {
    return {{"VAVIZAR_COM_REGISTRY", registry_}, {"VAVIZAR_CODEPAGE", "\x01"}, {"LC_ALL", "C"}};
  }
  Result Vavizar(const std::vector<std::string>& args) const {
    return RunProgram(VZ_VAVIZAR_PATH, args, Env(), run_dir_);
  }
  Result Host(const std::vector<std::string>& args) const {
    return RunProgram(VZ_LATE_BOUND_HOST_PATH, args, Env(), run_dir_);
  }

  // Runs the page both ways with the same options and checks that they agree
  // byte for byte (the log's date-times aside); returns the direct result.
  Result Both(const std::string& command, std::vector<std::string> options) {
    const std::string method = command == "asp" ? "CreateAspCode" : "CreateExecuteCode";
    std::vector<std::string> direct{command};
    direct.insert(direct.end(), options.begin(), options.end());
    std::vector<std::string> late{"--method", method};
    late.insert(late.end(), options.begin(), options.end());
    Result expected = Vavizar(direct);
    Result got = Host(late);
    EXPECT_EQ(got.status, expected.status) << Describe(got);
    EXPECT_EQ(got.out, expected.out);
    EXPECT_EQ(MaskDates(got.err), MaskDates(expected.err));
    return expected;
  }

  TempDir dir_;
  TempDir run_dir_;
  std::string registry_;
  std::string before_;
  std::string db_;
};

TEST_F(LateBoundHostTest, AGoodPageGivesWhatTheDirectCallGives) {
  const std::vector<std::string> options{"--db", db_, "--templates", dir_ / "tmpl", "1", "12"};
  Result asp = Both("asp", options);
  EXPECT_EQ(asp.status, 0);
  EXPECT_EQ(asp.out,
            "<p><%BoxStart w, h\r\n[data]\r\nBoxEnd%></p><%w=\"1\"\r\nh=\"2\"\r\n"
            "BoxStart w, h\r\n%><b>Hi</b><%\r\nBoxEnd%>.");
  EXPECT_EQ(asp.err, "");

  Result exec = Both("exec", options);
  EXPECT_EQ(exec.status, 0);
  EXPECT_EQ(exec.out,
            "Response.Write \"<p>\"\r\nBoxStart w, h\r\n[data]\r\nBoxEnd\r\n"
            "Response.Write \"</p>\"\r\nw=\"1\"\r\nh=\"2\"\r\nBoxStart w, h\r\n\r\n"
            "Response.Write \"<b>Hi</b>\"\r\n\r\nBoxEnd\r\nResponse.Write \".\"");
  EXPECT_EQ(exec.err, "");

  // The default method is CreateAspCode.
  Result plain = Host(options);
  EXPECT_EQ(plain.status, 0);
  EXPECT_EQ(plain.out, asp.out);
}

TEST_F(LateBoundHostTest, LoggedFailuresGiveTheSameLinesAndStatus) {
  const std::string tmpl = dir_ / "tmpl";
  // A missing template file, raised inside the module.
  Result missing = Both("asp", {"--db", db_, "--templates", tmpl, "1", "13"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.out, "");
  EXPECT_EQ(MaskDates(missing.err), "<date> - [53] File not found\r\n");

  // A page identifier that is not a number: both queries refuse it, one line
  // each.
  Result refused = Both("exec", {"--db", db_, "--templates", tmpl, "1", "12 or 1=1"});
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.out, "Response.Write \"\"");
  EXPECT_EQ(MaskDates(refused.err),
            "<date> - [13] Type mismatch: identifier '12 or 1=1' is not a number\r\n"
            "<date> - [13] Type mismatch: identifier '12 or 1=1' is not a number\r\n");
}

// The connection lives in the host: a failing statement raises in the host's
// data-access code and is caught and logged by the module's code.
TEST_F(LateBoundHostTest, AFailureRaisedByTheHostsConnectionKeepsItsNumber) {
  const std::string no_tags = dir_ / "no_tags.db";
  RunSql(no_tags,
         "CREATE TABLE web_templet (page_id INTEGER, tset_id INTEGER, tmpl_file TEXT);\n"
         "INSERT INTO web_templet VALUES (12, 1, 'p.html');\n");
  Result r = Both("asp", {"--db", no_tags, "--templates", dir_ / "tmpl", "1", "12"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(MaskDates(r.err), "<date> - [-2147217900] no such table: web_tag\r\n");
}

TEST_F(LateBoundHostTest, TheCodePageReachesTheModule) {
  const std::vector<std::string> page{"--templates", dir_ / "tmpl", "--db", db_, "1", "14"};
  std::vector<std::string> gbk{"--codepage", "936"};
  gbk.insert(gbk.end(), page.begin(), page.end());
  Result r = Both("asp", gbk);
  EXPECT_EQ(r.status, 0) << Describe(r);
  EXPECT_EQ(r.out, "<p>\xE4\xBD\xA0\xE5\xA5\xBD</p>");

  // Written out in GBK again.
  gbk.insert(gbk.begin(), {"--encoding", "GBK"});
  r = Both("asp", gbk);
  EXPECT_EQ(r.out, "<p>\xC4\xE3\xBA\xC3</p>");

  // Without the setting the bytes are read as UTF-8 and do not decode.
  r = Both("asp", page);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "<p>\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD</p>");

  // Both check the setting alike.
  std::vector<std::string> bad{"--codepage", "no-such-set"};
  bad.insert(bad.end(), page.begin(), page.end());
  Result direct = Vavizar({"asp", "--codepage", "no-such-set", "--db", db_, "1", "14"});
  Result late = Host(bad);
  EXPECT_EQ(direct.status, 2);
  EXPECT_EQ(late.status, 2);
  EXPECT_EQ(direct.err,
            "vavizar asp: Unknown code page 'no-such-set'\nTry 'vavizar asp --help'.\n");
  EXPECT_EQ(late.err,
            "late-bound-host: Unknown code page 'no-such-set'\nTry 'late-bound-host --help'.\n");
}

TEST_F(LateBoundHostTest, TheCodePageVariableIsTheDefault) {
  const std::vector<std::string> page{"asp", "--templates", dir_ / "tmpl", "--db", db_, "1", "14"};
  auto run = [&](const std::string& variable, std::vector<std::string> args) {
    std::map<std::string, std::string> env = Env();
    env["VAVIZAR_CODEPAGE"] = variable;
    return RunProgram(VZ_VAVIZAR_PATH, args, env, run_dir_).out;
  };
  const std::string decoded = "<p>\xE4\xBD\xA0\xE5\xA5\xBD</p>";
  const std::string undecoded = "<p>\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD</p>";
  EXPECT_EQ(run("936", page), decoded);
  EXPECT_EQ(run("GBK", page), decoded);
  // An empty or unknown value leaves the locale's character set (UTF-8 here).
  EXPECT_EQ(run("", page), undecoded);
  EXPECT_EQ(run("no-such-set", page), undecoded);
  // --codepage wins over the variable.
  std::vector<std::string> utf8 = page;
  utf8.insert(utf8.begin() + 1, {"--codepage", "65001"});
  EXPECT_EQ(run("936", utf8), undecoded);
}

TEST_F(LateBoundHostTest, UnregisteredClassExitsTwoNamingIt) {
  Result unregistered = Vavizar({"unregister", VZ_MODULE_PATH});
  EXPECT_EQ(unregistered.status, 0) << Describe(unregistered);
  EXPECT_EQ(unregistered.err,
            std::string("unregistered ") + VZ_MODULE_PATH + " (" + registry_ + ")\n");
  EXPECT_EQ(testing::ReadBytes(registry_), before_);

  Result r = Host({"--db", db_, "--templates", dir_ / "tmpl", "1", "12"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err,
            "late-bound-host: cannot create Vantrel_VaviZar.Page: class 'Vantrel_VaviZar.Page' "
            "is not registered (registry " +
                registry_ + ")\n");
}

TEST_F(LateBoundHostTest, RegisteringTwiceAndUnregisteringLeavesTheRegistryAsItWas) {
  const std::string registered = testing::ReadBytes(registry_);
  EXPECT_EQ(Vavizar({"register", VZ_MODULE_PATH}).status, 0);
  EXPECT_EQ(testing::ReadBytes(registry_), registered);
  EXPECT_EQ(Vavizar({"unregister", VZ_MODULE_PATH}).status, 0);
  EXPECT_EQ(testing::ReadBytes(registry_), before_);
  // A module that is not there: exit 2, the registry untouched.
  Result missing = Vavizar({"register", dir_ / "nothing.so"});
  EXPECT_EQ(missing.status, 2);
  EXPECT_EQ(missing.err.rfind("vavizar register: " + (dir_ / "nothing.so") + ": cannot load ", 0),
            0u)
      << missing.err;
  EXPECT_EQ(testing::ReadBytes(registry_), before_);
}

TEST_F(LateBoundHostTest, UsageMistakesExitTwo) {
  Result method = Host({"--method", "CreateHtml", "--db", db_, "1", "12"});
  EXPECT_EQ(method.status, 2);
  EXPECT_EQ(method.err,
            "late-bound-host: --method is CreateAspCode or CreateExecuteCode, not 'CreateHtml'\n"
            "Try 'late-bound-host --help'.\n");
  Result count = Host({"--db", db_, "1"});
  EXPECT_EQ(count.status, 2);
  EXPECT_EQ(count.err,
            "late-bound-host: expected 2 arguments, got 1\nTry 'late-bound-host --help'.\n");
  Result help = Host({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("usage: late-bound-host [options] SET PAGE\n", 0), 0u);
  Result no_db = Host({"--db", dir_ / "none.db", "1", "12"});
  EXPECT_EQ(no_db.status, 2);
  EXPECT_EQ(
      no_db.err.rfind("late-bound-host: cannot open database '" + (dir_ / "none.db") + "': ", 0),
      0u)
      << no_db.err;
}

}  // namespace
}  // namespace vz
