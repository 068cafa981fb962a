// Reading libvips's error texts.
#include "image/vips_messages.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace kestrune::vipsio {

std::string Reason(const std::string& text) {
  std::string reason;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    const std::size_t colon = line.find(": ");
    if (colon != std::string::npos && line.find(' ') > colon &&
        std::any_of(line.begin(), line.begin() + colon, [](unsigned char c) { return std::islower(c); }))
      line.erase(0, colon + 2);
    if (line.empty() || reason.find(line) != std::string::npos) continue;
    if (!reason.empty()) reason += "; ";
    reason += line;
  }
  return reason;
}

std::string Explain(const std::string& error, const std::vector<std::string>& warnings) {
  std::string reason = Reason(error);
  int added = 0;
  for (const std::string& w : warnings) {
    const std::string remark = Reason(w);
    if (added == 2 || remark.rfind("error in tile", 0) == 0 || reason.find(remark) != std::string::npos) continue;
    reason += (reason.empty() ? "" : "; ") + remark;
    ++added;
  }
  return reason.empty() ? "the decoder gave no reason" : reason;
}

namespace {

bool Contains(const std::string& text, const char* part) {
  std::string lower = text;
  std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
  return lower.find(part) != std::string::npos;
}

}  // namespace

bool SaysTruncated(const std::string& text) {
  return (Contains(text, "premature end") && !Contains(text, "data segment")) || Contains(text, "not enough data") ||
         Contains(text, "truncated") || Contains(text, "unexpected end") || Contains(text, "end of file");
}

bool SaysCorruptJpeg(const std::string& text) {
  return (Contains(text, "corrupt jpeg data") && !Contains(text, "extraneous bytes")) ||
         Contains(text, "premature end of jpeg") || Contains(text, "inconsistent progression");
}

std::string StopRow(const std::vector<std::string>& warnings, uint32_t height) {
  for (const std::string& w : warnings) {
    unsigned x = 0, y = 0;
    if (std::sscanf(w.c_str(), "error in tile %u x %u", &x, &y) == 2)
      return " after row " + std::to_string(y) + " of " + std::to_string(height);
  }
  return {};
}

}  // namespace kestrune::vipsio
