#include "jet/format/long_value.h"

#include <algorithm>
#include <string>
#include <unordered_set>

#include "jet/format/data_page.h"

namespace jet {

LongValueRef parseLongValueRef(Bytes field) {
  if (field.size() < kLongValueDefinitionSize) corrupt("a long-value field is shorter than its definition");
  LongValueRef r;
  r.rawHeader = le32(field.data());
  r.length = r.rawHeader & kLongValueLengthMask;
  r.first = RowPointer::fromRaw(le32(field.data() + 4));
  uint32_t flags = r.rawHeader & ~kLongValueLengthMask;
  if (flags == kLongValueInline) {
    r.kind = LongValueRef::Kind::Inline;
    r.inlineData = field.subspan(kLongValueDefinitionSize);
    if (r.inlineData.size() < r.length) corrupt("an inline long value is shorter than its stated length");
    r.inlineData = r.inlineData.first(r.length);
  } else if (flags == kLongValueSingleRow) {
    r.kind = LongValueRef::Kind::SingleRow;
  } else if (flags == 0) {
    r.kind = LongValueRef::Kind::Chain;
  } else {
    corrupt("a long-value definition has unknown flags");
  }
  return r;
}

namespace {

[[noreturn]] void badRow(RowPointer at, const char* problem) {
  corrupt("the long value at page " + std::to_string(at.page) + " row " + std::to_string(at.row) + " " + problem);
}

Bytes lvalRow(PageReader& pages, RowPointer at, PageHandle& hold) {
  // Every value of a table passes here: the message is put together only for a row that fails.
  if (at.page == 0 || at.page >= pages.pageCount()) badRow(at, "lies outside the file");
  hold = pages.page(at.page);
  Bytes p(*hold);
  if (p[0] != static_cast<uint8_t>(PageType::Data)) badRow(at, "is not on a data page");
  if (at.row >= dataPageRowCount(pages.format(), p)) badRow(at, "names a row the page lacks");
  RowSlot slot = dataPageRow(pages.format(), p, at.row);
  if (slot.deleted()) badRow(at, "has been deleted");
  return dataPageRowBytes(p, slot);
}

// The rows a chain has passed, so that a chain that loops back is refused instead of read round and round. Nearly
// every chain has a few links: those are looked for in place, and only a long chain pays for a hash set (a dump
// reads thousands of chains, and a set allocated for each cost more than reading its rows).
class LinksSeen {
 public:
  // False when `link` was passed before.
  bool add(uint32_t link) {
    if (set_.empty()) {
      if (std::find(few_, few_ + count_, link) != few_ + count_) return false;
      if (count_ < kFew) {
        few_[count_++] = link;
        return true;
      }
      set_.insert(few_, few_ + count_);
    }
    return set_.insert(link).second;
  }

 private:
  static constexpr size_t kFew = 16;
  uint32_t few_[kFew];
  size_t count_ = 0;
  std::unordered_set<uint32_t> set_;
};

}  // namespace

void readLongValue(PageReader& pages, const LongValueRef& ref, std::vector<uint8_t>& out, size_t limit,
                   std::vector<LongValuePiece>* pieces) {
  size_t want = std::min<size_t>(ref.length, limit);
  switch (ref.kind) {
    case LongValueRef::Kind::Inline: {
      size_t n = std::min(want, ref.inlineData.size());
      out.insert(out.end(), ref.inlineData.begin(), ref.inlineData.begin() + static_cast<ptrdiff_t>(n));
      return;
    }
    case LongValueRef::Kind::SingleRow: {
      PageHandle hold;
      Bytes row = lvalRow(pages, ref.first, hold);
      if (pieces) pieces->push_back({ref.first, static_cast<uint32_t>(row.size())});
      if (row.size() < ref.length) corrupt("a long value is shorter than its stated length");
      size_t n = std::min(want, row.size());
      out.insert(out.end(), row.begin(), row.begin() + static_cast<ptrdiff_t>(n));
      return;
    }
    case LongValueRef::Kind::Chain: {
      LinksSeen seen;
      RowPointer at = ref.first;
      size_t got = 0;
      while (!at.isNull() && got < want) {
        if (!seen.add(at.raw())) corrupt("a long-value chain loops back to page " + std::to_string(at.page));
        PageHandle hold;
        Bytes row = lvalRow(pages, at, hold);
        if (row.size() < 4) corrupt("a row of a long-value chain is too short for its link");
        if (pieces) pieces->push_back({at, static_cast<uint32_t>(row.size() - 4)});
        size_t n = std::min(want - got, row.size() - 4);
        out.insert(out.end(), row.begin() + 4, row.begin() + 4 + static_cast<ptrdiff_t>(n));
        got += n;
        at = RowPointer::fromRaw(le32(row.data()));
      }
      if (got < want) corrupt("a long-value chain ends before the value's stated length");
      return;
    }
  }
}

}  // namespace jet
