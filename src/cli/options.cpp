// Option values with the settings dialogs' rules.
#include "cli/options.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

const std::vector<std::string> kFilterNames{"box",      "bilinear", "bspline", "catmull-rom",
                                            "lanczos2", "lanczos3", "sinc"};

namespace {

std::string Trimmed(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// A whole decimal integer with an optional sign; false for anything else.
// Values beyond the range of long long are clamped (they fail any range).
bool ReadDecimal(const std::string& text, long long& value) {
  const std::string t = Trimmed(text);
  std::size_t i = !t.empty() && (t[0] == '+' || t[0] == '-') ? 1 : 0;
  if (i == t.size()) return false;
  for (std::size_t k = i; k < t.size(); ++k)
    if (t[k] < '0' || t[k] > '9') return false;
  value = std::strtoll(t.c_str(), nullptr, 10);
  return true;
}

std::string Between(const char* kind, const std::string& lo, const std::string& hi) {
  return std::string("Enter ") + kind + " between " + lo + " and " + hi + ".";
}

std::string Sig6(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.6g", v);
  return text;
}

}  // namespace

std::string DecimalDigits(const std::string& text) {
  long long value;
  return ReadDecimal(text, value) ? std::string() : "not a decimal integer: " + text;
}

CLI::Validator NumberBetween(float lo, float hi) {
  return CLI::Validator(
      [lo, hi](std::string& text) -> std::string {
        float value;
        std::string message;
        return ParseNumber(text, lo, hi, value, message) ? std::string() : message;
      },
      "NUMBER in [" + Sig6(lo) + " - " + Sig6(hi) + "]");
}

bool ParseUnsigned(const std::string& text, uint32_t lo, uint32_t hi, uint32_t& value, std::string& message) {
  long long v;
  if (!ReadDecimal(text, v) || Trimmed(text)[0] == '-') {
    message = "Enter a positive integer.";
    return false;
  }
  if (v < lo || v > hi) {
    message = Between("an integer", std::to_string(lo), std::to_string(hi));
    return false;
  }
  value = static_cast<uint32_t>(v);
  return true;
}

bool ParseInteger(const std::string& text, int32_t lo, int32_t hi, int32_t& value, std::string& message) {
  long long v;
  if (!ReadDecimal(text, v)) {
    message = "Enter an integer.";
    return false;
  }
  if (v < lo || v > hi) {
    message = Between("an integer", std::to_string(lo), std::to_string(hi));
    return false;
  }
  value = static_cast<int32_t>(v);
  return true;
}

bool ParseNumber(const std::string& text, float lo, float hi, float& value, std::string& message) {
  const std::string t = Trimmed(text);
  char* end = nullptr;
  const double v = t.empty() ? 0.0 : std::strtod(t.c_str(), &end);
  if (t.empty() || end != t.c_str() + t.size() || !std::isfinite(v) || !std::isfinite(static_cast<float>(v))) {
    message = "Enter a number.";
    return false;
  }
  const float f = static_cast<float>(v);
  if (!(f >= lo && f <= hi)) {
    message = Between("a number", Sig6(lo), Sig6(hi));
    return false;
  }
  value = f;
  return true;
}

std::string NumberText(float value) {
  char text[32];
  const auto end = std::to_chars(text, text + sizeof text, value).ptr;
  return std::string(text, end);
}

std::string DecimalText(float value) {
  std::string text = NumberText(value);
  if (text.find_first_of(".eEn") == std::string::npos) text += ".0";
  return text;
}
