#include "jet/pager/header.h"

#include <cmath>
#include <cstring>
#include <string_view>

#include "jet/format/bytes.h"
#include "jet/pager/rc4.h"

namespace jet {
namespace {

constexpr uint8_t kHeaderMaskKey[4] = {0xC7, 0xDA, 0x39, 0x6B};
// A database says "Standard Jet DB"; a workgroup information file (System.mdw, the users, groups and permissions of
// a secured installation) says "Jet System DB  " and is laid out as a database of the same version in every other
// respect, so it is read, checked and compacted alike. Its header page, name included, is copied as it stands.
constexpr std::string_view kEngineName = "Standard Jet DB";
constexpr std::string_view kSystemEngineName = "Jet System DB";
constexpr std::string_view kAceEngineName = "Standard ACE DB";
constexpr uint32_t kEngineNameOffset = 4;
constexpr uint32_t kVersionOffset = 0x14;

[[noreturn]] void unrecognized(const std::string& why) {
  fail(ErrorCode::UnrecognizedFormat, "unrecognized database format (" + why + ")");
}

// The files of Access 1.0, 1.1 and 2.0 (Jet 1 and 2) start 01 00 00 00 and give their version at 0x40A: 7, 8 or 9.
// Their layout is another one; they are only recognised, so that the refusal can say what they are.
constexpr uint32_t kOldVersionOffset = 0x40A;

bool oldAccessStart(std::span<const uint8_t> page0) {
  return page0.size() >= 4 && page0[0] == 1 && page0[1] == 0 && page0[2] == 0 && page0[3] == 0;
}

const char* oldAccessVersion(std::span<const uint8_t> page0) {
  if (!oldAccessStart(page0) || page0.size() <= kOldVersionOffset) return nullptr;
  switch (page0[kOldVersionOffset]) {
    case 7: return "1.0";
    case 8: return "1.1";
    case 9: return "2.0";
    default: return nullptr;
  }
}

}  // namespace

void unmaskHeader(std::span<uint8_t> page0, const Format& format) {
  Rc4 rc4(kHeaderMaskKey);
  rc4.apply(page0.subspan(format.maskedAreaOffset, format.maskedAreaLength));
}

uint32_t announcedPageSize(std::span<const uint8_t> probe) {
  if (oldAccessStart(probe)) return kJet3Format.pageSize;  // enough to hold the version of an Access 1.x or 2.0 file
  if (probe.size() <= kVersionOffset) return 0;
  switch (probe[kVersionOffset]) {
    case 0: return kJet3Format.pageSize;
    case 1: return kJet4Format.pageSize;
    default: return 0;
  }
}

DatabaseHeader parseHeader(std::span<const uint8_t> page0, uint64_t fileSize) {
  if (page0.size() < kHeaderProbeSize) unrecognized("the file is too short to hold a header page");
  // A header page starts 00 01 00 00 and names the engine; the files of Access 2007 and later say "Standard ACE DB",
  // whatever their name ends in (such files are often still called .mdb), and count versions on from 2.
  const bool headerStart = page0[0] == 0 && page0[1] == 1 && page0[2] == 0 && page0[3] == 0;
  auto named = [&](std::string_view name) {
    return std::memcmp(page0.data() + kEngineNameOffset, name.data(), name.size()) == 0;
  };
  if (headerStart && named(kAceEngineName)) {
    unrecognized("an Access 2007 or later database, whose format this engine does not read");
  }
  if (const char* old = oldAccessVersion(page0)) {
    unrecognized(std::string("an Access ") + old + " database, whose format this engine does not read");
  }
  if (!headerStart || !(named(kEngineName) || named(kSystemEngineName))) unrecognized("no Jet database header");
  const Format* format = nullptr;
  switch (page0[kVersionOffset]) {
    case 0: format = &kJet3Format; break;
    case 1: format = &kJet4Format; break;
    default:
      unrecognized("version " + std::to_string(page0[kVersionOffset]) + " is neither Jet 3 nor Jet 4" +
                   (page0[kVersionOffset] >= 2 ? " (Access 2007 or later)" : ""));
  }
  if (page0.size() < format->pageSize || fileSize < format->pageSize) corrupt("the header page is incomplete");
  // Pages 0 (header), 1 (global usage map) and 2 (the catalog's definition) always exist.
  if (fileSize < 3ull * format->pageSize) corrupt("the file is too short to hold the catalog");

  DatabaseHeader h;
  h.format = format;
  h.workgroupFile = named(kSystemEngineName);
  h.unmasked.assign(page0.begin(), page0.begin() + static_cast<std::ptrdiff_t>(format->pageSize));
  unmaskHeader(h.unmasked, *format);
  Bytes p(h.unmasked);
  h.codePage = u16(p, format->codePageOffset);
  h.encodingKey = u32(p, format->encodingKeyOffset);
  h.sortOrder = u16(p, format->sortOrderOffset);
  if (format->version == Version::Jet4) {
    h.sortVersion = u8(p, format->sortVersionOffset);
    h.creationDate = f64(p, format->creationDateOffset);
  }
  // Jet 4 XORs the stored password with the whole days of the creation date; Jet 3 stores it as it is.
  uint8_t mask[4] = {0, 0, 0, 0};
  if (format->version == Version::Jet4 && std::isfinite(h.creationDate) && std::fabs(h.creationDate) < 2e9) {
    auto days = static_cast<uint32_t>(static_cast<int32_t>(std::floor(h.creationDate)));
    for (int k = 0; k < 4; ++k) mask[k] = static_cast<uint8_t>(days >> (8 * k));
  }
  for (uint32_t k = 0; k < format->passwordLength; ++k) {
    if ((p[format->passwordOffset + k] ^ mask[k % 4]) != 0) h.hasPassword = true;
  }
  return h;
}

}  // namespace jet
