// Reading the numbers of kestrune-cli's options with the settings dialogs'
// checks and messages: integers in decimal digits only, finite numbers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

// The filters' names for --filter, in the order of kestrune::Filter's numbers
// (the "Resizing filter" list).
extern const std::vector<std::string> kFilterNames;

// A CLI11 check that lets through decimal integers only (an optional sign,
// then digits), so that "0x10" or "1e3" is refused instead of read.
std::string DecimalDigits(const std::string& text);

// A CLI11 check that lets through finite numbers from lo to hi.
CLI::Validator NumberBetween(float lo, float hi);

// Each returns true and sets `value`, or false and sets `message` to the
// dialog's wording ("Enter an integer.", "Enter an integer between 0 and
// 1000.", "Enter a number.", ...).
bool ParseUnsigned(const std::string& text, uint32_t lo, uint32_t hi, uint32_t& value, std::string& message);
bool ParseInteger(const std::string& text, int32_t lo, int32_t hi, int32_t& value, std::string& message);
// A finite number read as a double and kept as a float, within lo..hi.
bool ParseNumber(const std::string& text, float lo, float hi, float& value, std::string& message);

// A default value as --help shows it, formed from the library's own default
// so that the two cannot drift apart: the shortest text that reads back as
// the same float ("1", "0.03"); DecimalText keeps a decimal point ("1.0").
std::string NumberText(float value);
std::string DecimalText(float value);
