// libvips's error and warning texts read for the program's messages: made
// one line, joined with the decoder's remarks, and searched for what they
// say of the file. Internal to the image layer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kestrune::vipsio {

// libvips's error text as one line: its "domain: " prefixes dropped (a
// chunk or marker name in capitals stays), its lines joined.
std::string Reason(const std::string& text);

// The error's reason followed by the decoder's first warnings, which often
// say more ("libpng read error; IDAT: CRC error"). libvips's own note of a
// failed tile is left to StopRow.
std::string Explain(const std::string& error, const std::vector<std::string>& warnings);

// The file ended before the decoder had what it needed.
bool SaysTruncated(const std::string& text);

// libjpeg's warnings about corrupt data; decoding goes on past them with
// made-up samples, so they mark the file as damaged. Extraneous bytes
// before a marker are skipped without loss and do not.
bool SaysCorruptJpeg(const std::string& text);

// Where decoding stopped (" after row 232 of 512"), from libvips's "error
// in tile X x Y"; empty when it does not say.
std::string StopRow(const std::vector<std::string>& warnings, uint32_t height);

}  // namespace kestrune::vipsio
