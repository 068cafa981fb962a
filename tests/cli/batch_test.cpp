// Batch runs: each good file once as a single run writes it, damaged ones
// reported, resuming, the name template, hostile names, shards, and SIGTERM
// (the refused runs are in cli_test.cpp).
#include <chrono>
#include <csignal>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "cli/batch.h"
#include "cli/cli_test_util.h"

using kestrune::TempDir;
namespace fs = std::filesystem;

namespace {

std::vector<std::string> Lines(const std::string& path) {
  std::istringstream text(FileBytes(path));
  std::vector<std::string> lines;
  for (std::string line; std::getline(text, line);) lines.push_back(line);
  return lines;
}

// Counts the report lines holding `part`.
int Count(const std::vector<std::string>& lines, const std::string& part) {
  int n = 0;
  for (const std::string& line : lines) n += line.find(part) != std::string::npos;
  return n;
}

// Writes small charts at `names` below `root`, each different.
void MakeImages(const fs::path& root, const std::vector<std::string>& names, uint32_t side = 20) {
  uint32_t seed = 1;
  for (const std::string& name : names) {
    fs::create_directories((root / name).parent_path());
    WriteFile(kestrune::MakeTestChart(side + seed, side - 4 + seed % 3, seed), (root / name).string());
    ++seed;
  }
}

TEST(Batch, EveryGoodFileOnceAsASingleRunWouldWriteIt) {
  TempDir dir;
  const fs::path src = dir.path() / "photos", out = dir.path() / "out";
  const std::vector<std::string> good = {"a.png",         "b c.jpg",      "ü/Straße 2.tif",
                                         "ü/deep/x.webp", "ü/deep/y.bmp", "z/\"q\".pfm"};
  MakeImages(src, good);
  MakeImages(src, {".hidden.png", "ü/.cache/h.png"});  // hidden: not inputs
  WriteFileBytes((src / "notes.txt").string(), "not an image name");
  const std::string png = FileBytes((src / "a.png").string());
  const std::vector<std::string> damaged = {"cut.png", "ü/text.jpg", "z/empty.bmp"};
  WriteFileBytes((src / damaged[0]).string(), png.substr(0, png.size() / 2));
  WriteFileBytes((src / damaged[1]).string(), "this is not an image");
  WriteFileBytes((src / damaged[2]).string(), "");

  const std::vector<std::string> resize = {"resize", "--width", "9", "--height", "7"};
  const std::string report = dir.File("report.jsonl");
  const CliResult r = Cli(resize, {src.string(), "-o", out.string(), "--recursive", "--report", report});
  EXPECT_EQ(r.status, kExitSomeFailed) << r.err;
  for (const std::string& name : damaged) EXPECT_NE(r.err.find((src / name).string()), std::string::npos) << name;
  EXPECT_EQ(Names(out, true), std::set<std::string>(good.begin(), good.end()));
  for (const std::string& name : good) {
    const std::string single = dir.File("single" + fs::path(name).extension().string());
    ASSERT_EQ(Cli(resize, {(src / name).string(), single}).status, 0) << name;
    EXPECT_TRUE(SameSamples(ReadFile((out / name).string()), ReadFile(single))) << name;
  }
  const std::vector<std::string> lines = Lines(report);
  EXPECT_EQ(lines.size(), good.size() + damaged.size());
  EXPECT_EQ(Count(lines, "\"status\":\"written\""), int(good.size()));
  EXPECT_EQ(Count(lines, "\"status\":\"failed\""), int(damaged.size()));
  EXPECT_EQ(Count(lines, "/z/\\\"q\\\".pfm\",\"output\""), 1);  // quotes escaped
  EXPECT_EQ(Count(lines, "\"width\":21,\"height\":17,\"output_width\":9,\"output_height\":7"), 1);

  // Resuming does nothing to the results; by default nothing is replaced;
  // --overwrite replaces.
  const auto before = fs::last_write_time(out / good[0]);
  const std::string again = dir.File("again.jsonl");
  EXPECT_EQ(Cli(resize, {src.string(), "-o", out.string(), "--recursive", "--skip-existing", "--report", again}).status,
            kExitSomeFailed);
  EXPECT_EQ(Count(Lines(again), "\"status\":\"skipped\""), int(good.size()));
  EXPECT_EQ(Count(Lines(again), "\"status\":\"failed\""), int(damaged.size()));
  EXPECT_EQ(fs::last_write_time(out / good[0]), before);
  const CliResult refused = Cli(resize, {src.string(), "-o", out.string(), "--recursive"});
  EXPECT_EQ(refused.status, kExitUnwritable);
  EXPECT_NE(refused.err.find("--skip-existing"), std::string::npos);
  WriteFileBytes((out / good[0]).string(), "stale");
  EXPECT_EQ(Cli(resize, {(src / good[0]).string(), "-o", out.string(), "--overwrite"}).status, kExitOk);
  EXPECT_EQ(ReadFile((out / good[0]).string()).Width(), 9u);
  EXPECT_EQ(Names(out, true).size(), good.size());  // no temporaries left
}

TEST(Batch, NamesComeFromTheTemplate) {
  TempDir dir;
  MakeImages(dir.path(), {"in/a.png"});
  WriteFileBytes(dir.File("in/p.pgm"), std::string("P5\n2 2\n255\n") + "\x01\x02\x03\x04");
  const struct {
    std::vector<std::string> args;
    std::set<std::string> names;
  } cases[] = {
      {{}, {"a.png", "p.png"}},  // the input's format, where the tool writes it
      {{"--name", "{stem}-x2.{ext}", "--format", "jpeg"}, {"a-x2.jpg", "p-x2.jpg"}},
      {{"--name", "{stem}.tif"}, {"a.tif", "p.tif"}},
  };
  int n = 0;
  for (const auto& c : cases) {
    const fs::path out = dir.path() / ("out" + std::to_string(n++));
    EXPECT_EQ(Cli({"convert", dir.File("in"), "-o", out.string()}, c.args).status, kExitOk);
    EXPECT_EQ(Names(out, true), c.names);
  }
  EXPECT_EQ(kestrune::ReadImageInfo(dir.File("out2/p.tif"))->format, kestrune::FileFormat::kTiff);
}

TEST(Batch, SharedOutputFoldersAndHostileNames) {
  // Links planted in the output folder are replaced, never followed, and a
  // linked subfolder fails its input; 255-byte names are written; names are
  // printed with their control characters escaped.
  TempDir dir;
  const std::string longName = std::string(251, 'n') + ".png", odd = "e\x1b]0;t\x07.png";
  MakeImages(dir.path() / "in", {"a.png", "b.png", "c.png", "sub/d.png", "l.png"});
  fs::rename(dir.path() / "in/l.png", dir.path() / "in" / longName);
  WriteFileBytes(dir.File("in/" + odd), "not an image");
  WriteFileBytes(dir.File("victim"), "kept");
  fs::create_directories(dir.path() / "elsewhere");
  fs::create_directories(dir.path() / "out");
  for (const auto& [name, to] :
       {std::pair{"a.png", "../victim"}, {"b.png", "../elsewhere"}, {"c.png", "../gone"}, {"sub", "../elsewhere"}})
    fs::create_symlink(to, dir.path() / "out" / name);
  for (const char* how : {"--skip-existing", "--overwrite"}) {
    const CliResult r = Cli({"convert", dir.File("in"), "-o", dir.File("out"), "--recursive", how});
    EXPECT_EQ(r.status, kExitSomeFailed) << r.err;
    EXPECT_NE(r.err.find("'" + dir.File("out/sub") + "' is a symbolic link"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("/e\\x1b]0;t\\x07.png'"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find('\x1b'), std::string::npos);
  }
  EXPECT_TRUE(FileBytes(dir.File("victim")) == "kept");
  EXPECT_TRUE(fs::is_empty(dir.path() / "elsewhere") && !fs::exists(dir.path() / "gone"));
  EXPECT_EQ(Names(dir.path() / "out", true), (std::set<std::string>{"a.png", "b.png", "c.png", longName}));
  EXPECT_FALSE(fs::is_symlink(dir.path() / "out/a.png"));
  EXPECT_EQ(Cli({"convert", dir.File("in/" + longName), dir.File(longName)}).status, kExitOk);
  EXPECT_EQ(Cli({"convert", dir.File("in/" + odd), dir.File("x.png")}).err.find('\x1b'), std::string::npos);
}

TEST(Batch, UnreadableFoldersFailAloneAndDeepTreesAreRead) {
  TempDir dir;
  std::string deep = "in/deep";
  for (int i = 0; i < 40; ++i) deep += "/d";
  MakeImages(dir.path(), {"in/a.png", "in/locked/b.png", deep + "/c.png"});
  fs::permissions(dir.path() / "in/locked", fs::perms::none);
  const std::string report = dir.File("r.jsonl"), locked = dir.File("in/locked");
  EXPECT_EQ(WaitTool(StartTool({"convert", dir.File("in"), "-o", dir.File("out"), "--recursive", "--report", report},
                               dir.File("err"), {.files = 32, .permissions = true})),
            kExitSomeFailed);
  EXPECT_NE(FileBytes(dir.File("err")).find("cannot read '" + locked + "': Permission denied"), std::string::npos)
      << FileBytes(dir.File("err"));
  EXPECT_EQ(Count(Lines(report), "{\"input\":\"" + locked + "\",\"output\":\"\",\"status\":\"failed\""), 1);
  EXPECT_EQ(Names(dir.path() / "out", true), (std::set<std::string>{"a.png", deep.substr(3) + "/c.png"}));
  fs::permissions(dir.path() / "in/locked", fs::perms::owner_all);
}

TEST(Batch, AReportThatCannotBeWrittenIsAnErrorWithoutAPartLine) {
  TempDir dir;
  MakeImages(dir.path() / "in", {"a.png"});
  const CliResult r = Cli({"convert", dir.File("in"), "-o", dir.File("o1"), "--report", "/dev/full"});
  EXPECT_EQ(r.status, kExitUnwritable);
  EXPECT_NE(r.err.find("cannot write the report '/dev/full': No space left on device"), std::string::npos) << r.err;
  const std::string report = dir.File("r.jsonl"), before(4000, '\n');
  WriteFileBytes(report, before);
  EXPECT_EQ(WaitTool(StartTool({"convert", dir.File("in"), "-o", dir.File("o2"), "--report", report}, "/dev/null",
                               {.file = 4100})),
            kExitUnwritable);
  EXPECT_TRUE(FileBytes(report) == before);
  EXPECT_EQ(Names(dir.path() / "o1"), Names(dir.path() / "o2"));  // the results stay
  EXPECT_EQ(Names(dir.path() / "o1").size(), 1u);
}

TEST(Batch, ShardsInSeparateProcessesCoverTheListOnce) {
  // The FNV-1a hash that splits the list, pinned to its published values so
  // that every machine and build splits alike.
  EXPECT_EQ(Fnv1a(""), 0xcbf29ce484222325ull);
  EXPECT_EQ(Fnv1a("foobar"), 0x85944171f73967e8ull);
  TempDir dir;
  std::vector<std::string> names;
  for (int i = 0; i < 14; ++i) names.push_back("d" + std::to_string(i % 3) + "/f" + std::to_string(i) + ".pfm");
  MakeImages(dir.path() / "in", names, 8);
  std::vector<pid_t> pids;
  for (const char* shard : {"0/3", "1/3", "2/3"})
    pids.push_back(StartTool({"convert", dir.File("in"), "-o", dir.File("out"), "--recursive", "--shard", shard,
                              "--report", dir.File(std::string("r") + shard[0])}));
  std::multiset<std::string> done;
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(WaitTool(pids[i]), 0);
    const std::vector<std::string> lines = Lines(dir.File("r" + std::to_string(i)));
    EXPECT_LT(lines.size(), names.size()) << "shard " << i << " took everything";
    for (const std::string& line : lines) done.insert(line.substr(0, line.find("\",\"output\"")));
  }
  EXPECT_EQ(std::set<std::string>(done.begin(), done.end()).size(), done.size());
  EXPECT_EQ(done.size(), names.size());
  EXPECT_EQ(Names(dir.path() / "out", true), std::set<std::string>(names.begin(), names.end()));
}

TEST(Batch, ARunEndedBySigtermResumesToTheSameTree) {
  TempDir dir;
  std::vector<std::string> names;
  for (int i = 0; i < 24; ++i) names.push_back("s" + std::to_string(i % 2) + "/p" + std::to_string(i) + ".png");
  MakeImages(dir.path() / "in", names, 48);
  auto run = [&](const std::string& out, const std::vector<std::string>& more) {
    std::vector<std::string> args = {"upscale", dir.File("in"), "--recursive", "--method", "bicubic", "--iterations",
                                     "3",       "--fractal",    "0",           "--quiet",  "-o",      dir.File(out)};
    args.insert(args.end(), more.begin(), more.end());
    return StartTool(args, dir.File("err"));
  };
  const pid_t pid = run("killed", {"--jobs", "1"});
  for (int i = 0; i < 20000 && Names(dir.path() / "killed", true).size() < names.size() / 3; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ::kill(pid, SIGTERM);
  ASSERT_EQ(WaitTool(pid), 128 + SIGTERM);
  EXPECT_NE(FileBytes(dir.File("err")).find("stopped by a signal: "), std::string::npos);
  const std::set<std::string> partial = Names(dir.path() / "killed", true);
  EXPECT_LT(partial.size(), names.size());
  for (const std::string& name : partial) EXPECT_EQ(name.find("kestrune-tmp"), std::string::npos) << name;
  EXPECT_EQ(WaitTool(run("killed", {"--skip-existing"})), 0);
  EXPECT_EQ(WaitTool(run("whole", {})), 0);
  const std::set<std::string> whole = Names(dir.path() / "whole", true);
  EXPECT_EQ(whole, std::set<std::string>(names.begin(), names.end()));
  EXPECT_EQ(Names(dir.path() / "killed", true), whole);
  for (const std::string& name : whole)
    EXPECT_TRUE(FileBytes(dir.File("killed/" + name)) == FileBytes(dir.File("whole/" + name))) << name;
}

}  // namespace
