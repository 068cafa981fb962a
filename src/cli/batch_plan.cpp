// Planning a batch: the batch options, listing the inputs' files, naming
// their outputs, refusing clashes, and the stable shards of the sorted list.
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <kestrune/io.h>
#include <kestrune/threads.h>

#include "cli/batch.h"
#include "cli/command.h"
#include "cli/options.h"

namespace fs = std::filesystem;

const char kNameHelp[] =
    "Name of each result in the output folder: {stem} is the input's name without its extension, {ext} the "
    "extension of the output format (--format's, else the input's when the tool writes its format, else png)";

namespace {

std::string FormatExtension(const std::string& format) {
  const std::string f = CLI::detail::to_lower(format);
  return f == "jpeg" ? "jpg" : f == "tiff" ? "tif" : f;
}

// {ext} for an input: --format's extension, else the input's own when the
// tool writes that format, else png.
std::string OutputExtension(const fs::path& input, const OutputOptions& output) {
  if (!output.format.empty()) return FormatExtension(output.format);
  const std::string ext = input.extension().string();
  if (ext.size() > 1 && kestrune::CanWrite(kestrune::FormatFromExtension(ext))) return ext.substr(1);
  return "png";
}

bool Hidden(const fs::path& path) { return path.filename().string().rfind('.', 0) == 0; }

// The same file or folder, or false when either cannot be told.
bool SamePlace(const fs::path& a, const fs::path& b) {
  std::error_code error;
  return fs::equivalent(a, b, error) && !error;
}

}  // namespace

void BatchOptions::Add(CLI::App& sub) {
  outputOption_ = sub.add_option("-o,--output-dir", outputDir,
                                 "Batch: the folder the results go into (made if missing; links in it are replaced, "
                                 "not followed)")
                      ->type_name("DIR");
  sub.add_option("--name", name, kNameHelp)->capture_default_str()->needs(outputOption_);
  sub.add_flag("--recursive", recursive, "Batch: descend into the input folders, keeping their tree")
      ->needs(outputOption_);
  CLI::Option* skip = sub.add_flag("--skip-existing", skipExisting, "Batch: leave results already there (resume)")
                          ->needs(outputOption_);
  sub.add_flag("--overwrite", overwrite, "Batch: replace results already there")->needs(outputOption_)->excludes(skip);
  sub.add_option("--jobs", jobs, "Batch: files run side by side (default: by their sizes, every thread busy)")
      ->check(DecimalDigits)
      ->check(CLI::Range(1, kestrune::kMaxThreads))
      ->type_name("N")
      ->needs(outputOption_);
  sub.add_option("--report", report, "Batch: append one JSON line per input to FILE")
      ->type_name("FILE")
      ->needs(outputOption_);
  sub.add_option_function<std::string>(
         "--shard", [this](const std::string& text) { ParseShard(text, shardIndex, shardCount); },
         "Batch: run only part I of N (0 <= I < N) of the sorted input list")
      ->check(CLI::Validator(
          [](std::string& text) {
            uint32_t i, n;
            return ParseShard(text, i, n) ? std::string() : "expected I/N with 0 <= I < N: " + text;
          },
          "I/N"))
      ->needs(outputOption_);
}

uint64_t Fnv1a(std::string_view bytes) {
  uint64_t hash = 14695981039346656037ull;
  for (const unsigned char c : bytes) {
    hash ^= c;
    hash *= 1099511628211ull;
  }
  return hash;
}

bool ParseShard(const std::string& text, uint32_t& index, uint32_t& count) {
  const std::size_t slash = text.find('/');
  if (slash == std::string::npos) return false;
  const std::string i = text.substr(0, slash), n = text.substr(slash + 1);
  std::string message;
  uint32_t a, b;
  if (!ParseUnsigned(n, 1, 1000000, b, message) || !ParseUnsigned(i, 0, b - 1, a, message)) return false;
  index = a, count = b;
  return true;
}

std::string ExpandName(const std::string& pattern, const std::string& stem, const std::string& ext,
                       std::string& problem) {
  std::string name;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] != '{' && pattern[i] != '}') {
      name += pattern[i];
      continue;
    }
    const std::size_t close = pattern.find('}', i);
    const std::string field = pattern[i] == '{' && close != std::string::npos ? pattern.substr(i, close - i + 1) : "";
    if (field == "{stem}") {
      name += stem;
    } else if (field == "{ext}") {
      name += ext;
    } else {
      problem = "--name " + Printable(pattern) + ": the fields are {stem} and {ext}";
      return {};
    }
    i = close;
  }
  if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos) {
    problem = "--name " + Printable(pattern) + " gives " + Quoted(name) + ", which is no file name";
    return {};
  }
  return name;
}

int PlanBatch(const std::vector<std::string>& inputs, const BatchOptions& batch, const OutputOptions& output,
              std::vector<BatchItem>& items) {
  const fs::path outDir(batch.outputDir);
  std::string problem;
  auto add = [&](const fs::path& file, const fs::path& below) {
    const std::string name = ExpandName(batch.name, file.stem().string(), OutputExtension(file, output), problem);
    if (name.empty()) return false;
    const fs::path out = outDir / below.parent_path() / name;
    if (output.format.empty() && !kestrune::CanWrite(kestrune::FormatFromExtension(name))) {
      problem = "cannot write " + Quoted(out.string()) + ": the name names no format the tool writes (use --format)";
      return false;
    }
    items.push_back({file.string(), below.generic_string(), out.string()});
    return true;
  };
  try {
    for (const std::string& input : inputs) {
      const fs::path path(input);
      if (input == "-") {
        Diag() << "kestrune-cli: a batch reads files, not standard input\n";
        return kExitUsage;
      }
      if (!fs::is_directory(path)) {
        if (!fs::exists(path)) {
          Diag() << "kestrune-cli: cannot read " << Quoted(input) << ": no such file or folder\n";
          return kExitUnreadable;
        }
        if (!add(path, path.filename())) break;
        continue;
      }
      // A folder: the files whose extensions name a format the tool reads,
      // with --recursive its subfolders' too (not hidden ones, links or the
      // output folder). Each folder is read whole and closed before the next,
      // so a deep tree holds one open at a time; one that cannot be read is a
      // failed input of its own and the others go on.
      std::vector<fs::path> folders{path};
      while (!folders.empty() && problem.empty()) {
        const fs::path folder = std::move(folders.back());
        folders.pop_back();
        std::error_code error;
        std::vector<fs::directory_entry> entries;
        for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
          entries.push_back(*it);
        if (error) {
          items.push_back({folder.string(), folder.lexically_relative(path).generic_string(), "",
                           "kestrune-cli: cannot read " + Quoted(folder.string()) + ": " + error.message()});
          continue;
        }
        for (const fs::directory_entry& entry : entries) {
          if (Hidden(entry.path())) continue;
          if (batch.recursive && entry.is_directory(error) && !entry.is_symlink(error)) {
            if (!SamePlace(entry.path(), outDir)) folders.push_back(entry.path());
          } else if (entry.is_regular_file(error) &&
                     kestrune::FormatFromExtension(entry.path().string()) != kestrune::FileFormat::kUnknown &&
                     !add(entry.path(), entry.path().lexically_relative(path))) {
            break;
          }
        }
      }
      if (!problem.empty()) break;
    }
  } catch (const fs::filesystem_error& e) {
    Diag() << "kestrune-cli: cannot read " << Quoted(e.path1().string()) << ": " << e.code().message() << '\n';
    return kExitUnreadable;
  }
  if (!problem.empty()) {
    Diag() << "kestrune-cli: " << problem << '\n';
    return kExitUsage;
  }

  std::sort(items.begin(), items.end(),
            [](const BatchItem& a, const BatchItem& b) { return a.key != b.key ? a.key < b.key : a.input < b.input; });
  // Every output once, and never an input: checked on the whole list, so
  // that every shard refuses the same runs.
  std::map<std::string, const BatchItem*> outputs;
  for (const BatchItem& item : items) {
    if (item.output.empty()) continue;
    const auto [it, fresh] = outputs.emplace(fs::path(item.output).lexically_normal().string(), &item);
    if (!fresh) {
      Diag() << "kestrune-cli: " << Quoted(it->second->input) << " and " << Quoted(item.input)
             << " would both be written to " << Quoted(item.output) << "\n";
      return kExitUsage;
    }
  }
  for (const BatchItem& item : items) {
    if (item.output.empty()) continue;
    if (SamePlace(item.input, item.output) || outputs.count(fs::path(item.input).lexically_normal().string())) {
      Diag() << "kestrune-cli: " << Quoted(item.input) << " is also an output of the batch\n";
      return kExitUsage;
    }
  }
  std::erase_if(items, [&](const BatchItem& item) { return Fnv1a(item.key) % batch.shardCount != batch.shardIndex; });
  return kExitOk;
}
