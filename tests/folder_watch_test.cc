// The folder watch: which paths each kind of change reports, folders that
// come and go, waking, and the failures of a folder that cannot be watched.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/failure.h"
#include "platform/fso/watch.h"
#include "tests/store_fixture.h"

namespace vz {
namespace {

using fso::FolderChanges;
using fso::FolderWatch;
using testing::FailureOf;
using testing::TempDir;
using testing::WriteBytes;

// Everything that arrives within `ms` of the first change.
FolderChanges Collect(FolderWatch& watch, int ms = 2000) {
  FolderChanges all = watch.Wait(ms);
  for (FolderChanges more = watch.Wait(50); !more.empty() || more.woken; more = watch.Wait(50)) {
    all.paths.insert(all.paths.end(), more.paths.begin(), more.paths.end());
    all.overflow = all.overflow || more.overflow;
  }
  return all;
}

TEST(FolderWatch, EachKindOfChangeNamesItsFile) {
  TempDir dir;
  const std::string root = dir / "t";
  std::filesystem::create_directories(root + "/news");
  WriteBytes(root + "/a.html", "a");
  WriteBytes(root + "/news/old.html", "o");
  FolderWatch watch;
  watch.Add(root + "/", /*recursive=*/true);  // a trailing slash is no part of the names
  EXPECT_TRUE(watch.Wait(0).empty());

  const struct {
    const char* what;
    std::function<void()> change;
    std::vector<std::string> paths;
  } kCases[] = {
      {"written", [&] { WriteBytes(root + "/a.html", "b"); }, {root + "/a.html"}},
      {"in a folder below",
       [&] { WriteBytes(root + "/news/list.html", "n"); },
       {root + "/news/list.html"}},
      {"renamed into place, as editors save",
       [&] {
         WriteBytes(root + "/.a.html.tmp", "c");
         std::filesystem::rename(root + "/.a.html.tmp", root + "/a.html");
       },
       {root + "/.a.html.tmp", root + "/a.html"}},
      {"deleted",
       [&] { std::filesystem::remove(root + "/news/old.html"); },
       {root + "/news/old.html"}},
      {"attributes",
       [&] { std::filesystem::permissions(root + "/a.html", std::filesystem::perms::owner_read); },
       {root + "/a.html"}},
  };
  for (const auto& c : kCases) {
    c.change();
    const FolderChanges changes = Collect(watch);
    EXPECT_EQ(changes.paths, c.paths) << c.what;
    EXPECT_FALSE(changes.overflow) << c.what;
  }
}

TEST(FolderWatch, FoldersThatComeAndGo) {
  TempDir dir;
  const std::string root = dir / "t";
  std::filesystem::create_directories(root);
  FolderWatch watch;
  watch.Add(root, /*recursive=*/true);

  // A new folder: anything may have come with it; from then on it is watched.
  std::filesystem::create_directories(root + "/cn");
  EXPECT_TRUE(Collect(watch).overflow);
  WriteBytes(root + "/cn/about.html", "x");
  EXPECT_EQ(Collect(watch).paths, std::vector<std::string>{root + "/cn/about.html"});

  // A folder renamed is watched under its new name.
  std::filesystem::rename(root + "/cn", root + "/zh");
  EXPECT_TRUE(Collect(watch).overflow);
  WriteBytes(root + "/zh/about.html", "y");
  EXPECT_EQ(Collect(watch).paths, std::vector<std::string>{root + "/zh/about.html"});

  // The watched folder itself gone and back.
  std::filesystem::remove_all(root);
  EXPECT_TRUE(Collect(watch).overflow);
  std::filesystem::create_directories(root);
  EXPECT_TRUE(watch.Wait(0).overflow);
  WriteBytes(root + "/back.html", "z");
  EXPECT_EQ(Collect(watch).paths, std::vector<std::string>{root + "/back.html"});

  // Without recursion, only the folder's own files.
  FolderWatch flat;
  std::filesystem::create_directories(root + "/sub");
  flat.Add(root, /*recursive=*/false);
  WriteBytes(root + "/sub/x.html", "x");
  WriteBytes(root + "/y.html", "y");
  EXPECT_EQ(Collect(flat).paths, std::vector<std::string>{root + "/y.html"});
}

TEST(FolderWatch, WakeEndsAWaitFromAnotherThread) {
  TempDir dir;
  FolderWatch watch;
  watch.Add(dir.path(), true);
  std::thread waker([&watch] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    watch.Wake();
  });
  const auto start = std::chrono::steady_clock::now();
  const FolderChanges changes = watch.Wait(10000);
  waker.join();
  EXPECT_TRUE(changes.woken);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_FALSE(watch.Wait(0).woken);  // a wake is used up
}

TEST(FolderWatch, FolderThatCannotBeWatched) {
  TempDir dir;
  WriteBytes(dir / "file", "f");
  const int descriptors = testing::OpenDescriptors();
  {
    FolderWatch watch;
    EXPECT_EQ(FailureOf([&] { watch.Add(dir / "missing", true); }).number, kFileNotFound);
    EXPECT_EQ(FailureOf([&] { watch.Add(dir / "missing/deeper", true); }).number, kPathNotFound);
    EXPECT_EQ(FailureOf([&] { watch.Add(dir / "file", true); }).number, kPathNotFound);
    // The failures leave nothing watched: a folder made later is no root.
    std::filesystem::create_directories(dir / "missing");
    EXPECT_TRUE(watch.Wait(0).empty());
  }
  EXPECT_EQ(testing::OpenDescriptors(), descriptors);
}

}  // namespace
}  // namespace vz
