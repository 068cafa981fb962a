// EXIF directories copied between an EXIF block and a TIFF file: entries
// are read with their values, turned into the destination's byte order and
// written out again with the pointers to the directories renewed.
#include "image/tiff_exif.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace kestrune {

namespace {

constexpr uint16_t kExifPointer = 34665, kGpsPointer = 34853, kInteropPointer = 40965;
// The first directory's descriptive tags: description, make, model,
// software, date, artist, copyright.
constexpr uint16_t kDescriptive[] = {270, 271, 272, 305, 306, 315, 33432};

bool IsPointer(uint16_t tag) { return tag == kExifPointer || tag == kGpsPointer || tag == kInteropPointer; }

struct Entry {
  uint16_t tag = 0, type = 0;
  uint32_t count = 0;
  std::vector<uint8_t> value;  // in the destination's byte order; `raw`: the entry's own four bytes
  bool raw = false;
};

std::size_t TypeSize(uint16_t type) {
  switch (type) {
    case 1:
    case 2:
    case 6:
    case 7: return 1;
    case 3:
    case 8: return 2;
    case 4:
    case 9:
    case 11:
    case 13: return 4;
    case 5:
    case 10:
    case 12: return 8;
    default: return 0;
  }
}

struct Reader {
  const TiffFile& file;
  bool little;
  // What the values read may take in all: EXIF is small (a JPEG segment
  // holds at most 64 KiB), a hostile file's directories need not be.
  mutable std::size_t budget = std::size_t{1} << 20;
  uint32_t U16(const uint8_t* p) const { return little ? uint32_t(p[0] | p[1] << 8) : uint32_t(p[0] << 8 | p[1]); }
  uint32_t U32(const uint8_t* p) const { return little ? U16(p) | U16(p + 2) << 16 : U16(p) << 16 | U16(p + 2); }
};

void Put(std::vector<uint8_t>& out, uint32_t value, int bytes, bool little) {
  for (int i = 0; i < bytes; ++i) out.push_back(uint8_t(value >> (8 * (little ? i : bytes - 1 - i))));
}

// The entries of the directory at `offset`, their values in the byte order
// `little`; with `raw` each entry's four value bytes as they stand (the
// same file, the same order). Entries of unknown types, with values beyond
// the file or beyond the reader's budget are left out. Sets `next` to the
// next directory.
bool ReadIfd(const Reader& r, uint64_t offset, bool little, bool raw, std::vector<Entry>& entries, uint32_t& next) {
  uint8_t c[2];
  if (!r.file.read(offset, c, 2)) return false;
  const uint32_t count = r.U16(c);
  std::vector<uint8_t> bytes(std::size_t{count} * 12 + 4);
  if (!r.file.read(offset + 2, bytes.data(), bytes.size())) return false;
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* e = bytes.data() + 12 * i;
    Entry entry{uint16_t(r.U16(e)), uint16_t(r.U16(e + 2)), r.U32(e + 4), {}, raw};
    const std::size_t size = TypeSize(entry.type);
    if (raw) {
      entry.value.assign(e + 8, e + 12);
    } else {
      if (size == 0 || entry.count > r.budget / size) continue;
      r.budget -= size * entry.count;
      entry.value.resize(size * entry.count);
      if (entry.value.size() <= 4)
        std::memcpy(entry.value.data(), e + 8, entry.value.size());
      else if (!r.file.read(r.U32(e + 8), entry.value.data(), entry.value.size()))
        continue;
      // Rationals are two 4-byte numbers.
      const std::size_t unit = entry.type == 5 || entry.type == 10 ? 4 : size;
      if (little != r.little)
        for (std::size_t k = 0; k + unit <= entry.value.size(); k += unit)
          std::reverse(entry.value.begin() + k, entry.value.begin() + k + unit);
    }
    entries.push_back(std::move(entry));
  }
  next = r.U32(bytes.data() + std::size_t{count} * 12);
  return true;
}

// Appends to `out`, whose first byte lands at `base`, the values longer
// than four bytes and then the directory of `entries`; returns where the
// directory lands.
uint32_t PutIfd(std::vector<uint8_t>& out, uint64_t base, bool little, std::vector<Entry> entries, uint32_t next) {
  std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.tag < b.tag; });
  const auto align = [&] {
    if ((base + out.size()) % 2) out.push_back(0);
  };
  std::vector<uint32_t> where(entries.size());
  for (std::size_t i = 0; i < entries.size(); ++i)
    if (!entries[i].raw && entries[i].value.size() > 4) {
      align();
      where[i] = uint32_t(base + out.size());
      out.insert(out.end(), entries[i].value.begin(), entries[i].value.end());
    }
  align();
  const uint32_t at = uint32_t(base + out.size());
  Put(out, uint32_t(entries.size()), 2, little);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const Entry& e = entries[i];
    Put(out, e.tag, 2, little), Put(out, e.type, 2, little), Put(out, e.count, 4, little);
    if (!e.raw && e.value.size() > 4) {
      Put(out, where[i], 4, little);
    } else {
      out.insert(out.end(), e.value.begin(), e.value.end());
      out.insert(out.end(), 4 - e.value.size(), 0);
    }
  }
  Put(out, next, 4, little);
  return at;
}

// Copies the directories the pointer entries among `entries` point at (in
// `r`, at most `depth` levels deep) into `out` and points the entries at
// the copies; pointers that cannot be followed are dropped. A non-zero
// width and height replace the EXIF pixel dimensions.
void CopyPointed(const Reader& r, std::vector<Entry>& entries, std::vector<uint8_t>& out, uint64_t base, bool little,
                 int depth, uint32_t width = 0, uint32_t height = 0) {
  for (auto e = entries.begin(); e != entries.end();) {
    if (!IsPointer(e->tag)) {
      ++e;
      continue;
    }
    std::vector<Entry> inner;
    uint32_t next = 0;
    const bool followed = depth > 0 && (e->type == 4 || e->type == 13) && e->count == 1 &&
                          ReadIfd(r, Reader{r.file, little}.U32(e->value.data()), little, false, inner, next);
    if (!followed) {
      e = entries.erase(e);
      continue;
    }
    CopyPointed(r, inner, out, base, little, depth - 1);
    if (e->tag == kExifPointer && width != 0)
      for (Entry& d : inner)
        if (d.tag == 40962 || d.tag == 40963) {
          d.type = 4, d.count = 1, d.value.clear();
          Put(d.value, d.tag == 40962 ? width : height, 4, little);
        }
    e->type = 4, e->value.clear();
    Put(e->value, PutIfd(out, base, little, std::move(inner), 0), 4, little);
    ++e;
  }
}

bool IsDescriptive(uint16_t tag) {
  return std::find(std::begin(kDescriptive), std::end(kDescriptive), tag) != std::end(kDescriptive);
}

// The byte order of the classic TIFF header `h`; false when it is none.
bool Header(const uint8_t* h, bool& little) {
  little = h[0] == 'I';
  return h[0] == h[1] && (h[0] == 'I' || h[0] == 'M') && Reader{TiffFile{}, little}.U16(h + 2) == 42;
}

}  // namespace

std::vector<uint8_t> ExifFromTiff(const TiffFile& file) {
  uint8_t h[8];
  bool little = false;
  if (!file.read(0, h, 8) || !Header(h, little)) return {};
  const Reader r{file, little};
  std::vector<Entry> first;
  uint32_t next = 0;
  if (!ReadIfd(r, r.U32(h + 4), little, false, first, next)) return {};
  std::erase_if(first,
                [](const Entry& e) { return !IsDescriptive(e.tag) && e.tag != kExifPointer && e.tag != kGpsPointer; });
  std::vector<uint8_t> out(h, h + 8);
  CopyPointed(r, first, out, 0, little, 2);
  if (std::none_of(first.begin(), first.end(), [](const Entry& e) { return IsPointer(e.tag); })) return {};
  const uint32_t at = PutIfd(out, 0, little, std::move(first), 0);
  std::vector<uint8_t> block = {'E', 'x', 'i', 'f', 0, 0};
  block.insert(block.end(), out.begin(), out.begin() + 4);
  Put(block, at, 4, little);
  block.insert(block.end(), out.begin() + 8, out.end());
  return block;
}

bool AddExifToTiff(TiffFile& file, const std::vector<uint8_t>& exif, uint32_t width, uint32_t height) {
  const std::size_t start = exif.size() >= 6 && std::memcmp(exif.data(), "Exif\0\0", 6) == 0 ? 6 : 0;
  TiffFile block;
  block.size = exif.size() - start;
  block.read = [&](uint64_t offset, uint8_t* out, std::size_t count) {
    if (offset > block.size || count > block.size - offset) return false;
    std::memcpy(out, exif.data() + start + offset, count);
    return true;
  };
  uint8_t th[8], eh[8];
  bool little = false, exifLittle = false;
  if (!file.read(0, th, 8) || !Header(th, little) || !block.read(0, eh, 8) || !Header(eh, exifLittle)) return false;
  const Reader tiff{file, little}, source{block, exifLittle};
  std::vector<Entry> first, added;
  uint32_t next = 0, unused = 0;
  if (!ReadIfd(tiff, tiff.U32(th + 4), little, true, first, next) ||
      !ReadIfd(source, source.U32(eh + 4), little, false, added, unused))
    return false;
  std::erase_if(first, [](const Entry& e) { return IsPointer(e.tag); });
  std::erase_if(added, [&](const Entry& e) {
    return !(e.tag == kExifPointer || e.tag == kGpsPointer ||
             (IsDescriptive(e.tag) &&
              std::none_of(first.begin(), first.end(), [&](const Entry& f) { return f.tag == e.tag; })));
  });
  std::vector<uint8_t> out;
  CopyPointed(source, added, out, file.size, little, 2, width, height);
  if (added.empty()) return false;
  first.insert(first.end(), added.begin(), added.end());
  const uint32_t at = PutIfd(out, file.size, little, std::move(first), next);
  if (file.size + out.size() > UINT32_MAX) return false;
  std::vector<uint8_t> pointer;
  Put(pointer, at, 4, little);
  if (!file.write(file.size, out.data(), out.size()) || !file.write(4, pointer.data(), 4)) return false;
  file.size += out.size();
  return true;
}

}  // namespace kestrune
