#include "jet/create/table_writer.h"

#include <algorithm>
#include <string>

#include "jet/format/put_bytes.h"
#include "jet/errors.h"

namespace jet::create {

TableWriter::TableWriter(PageFile& file, TableSchema schema, uint32_t tdefPage)
    : file_(file),
      schema_(std::move(schema)),
      layout_(layoutTable(schema_)),
      tdefPage_(tdefPage),
      data_(kJet4Format, tdefPage) {
  for (uint16_t column : layout_.longValueColumns) {
    longValues_.push_back(
        LongValueColumn{column, std::make_unique<LongValueWriter>(kJet4Format, [this] { return file_.allocate(); })});
  }
  indexes_.resize(schema_.indexes.size());
}

RowPointer TableWriter::addRow(std::vector<FieldValue> fields, bool deleted) {
  if (rowsFinished_) fail(ErrorCode::InvalidArgument, "table " + schema_.name + ": rows added after the indexes");
  if (fields.size() != schema_.columns.size()) {
    fail(ErrorCode::InvalidArgument, "table " + schema_.name + ": a row needs one field per column");
  }
  // Room the long values may take inline: what a page row allows minus everything else the row holds.
  size_t base = 2 + layout_.fixedAreaSize + 2u * (layout_.varColumnCount + 2u) + (fields.size() + 7) / 8;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (layout_.places[i].fixed || !fields[i].present) continue;
    base += isLongValueType(schema_.columns[i].type) ? kLongValueDefinitionSize : fields[i].bytes.size();
  }
  const size_t maxRow = DataPageBuilder::maxRowSize(kJet4Format);
  for (LongValueColumn& lv : longValues_) {
    FieldValue& f = fields[lv.column];
    if (!f.present) continue;
    size_t room = base < maxRow ? maxRow - base + kLongValueDefinitionSize : 0;
    std::vector<uint8_t> stored = lv.writer->add(f.bytes, room);
    if (deleted) {
      uint32_t header = le32(stored.data());
      RowPointer first = RowPointer::fromRaw(le32(stored.data() + 4));
      if ((header & kLongValueInline) == 0) {
        deletedRows_.insert(first.raw());
        if ((header & kLongValueSingleRow) == 0) deletedChains_.insert(first.raw());
      }
    }
    base += stored.size() - kLongValueDefinitionSize;
    f.bytes = std::move(stored);
  }
  std::vector<uint8_t> row = encodeRow(schema_, layout_, fields);
  RowPlacement at = data_.add(row);
  while (dataPages_.size() <= at.pageIndex) dataPages_.push_back(file_.allocate());
  RowPointer where{dataPages_[at.pageIndex], at.row};
  if (deleted) {
    deletedRows_.insert(where.raw());
  } else {
    ++liveRows_;
  }
  writeDataPages(data_.takeFinishedPages());
  for (LongValueColumn& lv : longValues_) writeLongValuePages(lv.writer->takeFinishedPages());
  return where;
}

void TableWriter::applyDeletions(uint32_t pageNumber, std::vector<uint8_t>& page, bool longValuePage) {
  if (deletedRows_.empty()) return;
  const Format& f = kJet4Format;
  const uint16_t rows = le16(page.data() + f.dataRowCountOffset);
  for (uint16_t r = 0; r < rows; ++r) {
    const uint32_t raw = RowPointer{pageNumber, static_cast<uint8_t>(r)}.raw();
    auto it = deletedRows_.find(raw);
    if (it == deletedRows_.end()) continue;
    deletedRows_.erase(it);
    uint8_t* slot = page.data() + f.rowOffsetTable() + 2u * r;
    const uint16_t offset = le16(slot);
    putLe16(slot, offset | kRowDeletedFlag | kRowOverflowFlag);
    if (longValuePage && deletedChains_.erase(raw) > 0) {
      // A chained piece starts with the pointer to the next one (0 in the last). Pieces are placed in ascending
      // pages, so the next one is still to be written.
      RowPointer next = RowPointer::fromRaw(le32(page.data() + (offset & kRowOffsetMask)));
      if (!next.isNull()) {
        deletedRows_.insert(next.raw());
        deletedChains_.insert(next.raw());
      }
    }
  }
}

void TableWriter::writeDataPages(std::vector<std::vector<uint8_t>> pages) {
  for (std::vector<uint8_t>& page : pages) {
    uint32_t number = dataPages_[dataPagesWritten_++];
    applyDeletions(number, page, false);
    file_.write(number, std::move(page));
  }
}

void TableWriter::writeLongValuePages(std::vector<std::pair<uint32_t, std::vector<uint8_t>>> pages) {
  for (auto& [number, page] : pages) {
    applyDeletions(number, page, true);
    file_.write(number, std::move(page));
  }
}

void TableWriter::finishRows() {
  if (rowsFinished_) return;
  rowsFinished_ = true;
  writeDataPages(data_.takePages());
  for (LongValueColumn& lv : longValues_) writeLongValuePages(lv.writer->takePages());
  if (!deletedRows_.empty()) {
    fail(ErrorCode::InvalidArgument, "table " + schema_.name + ": a deleted row was never written");
  }
}

void TableWriter::writeIndex(size_t k, const std::function<void(IndexTreeWriter&)>& produce) {
  finishRows();
  IndexTreeWriter writer(kJet4Format, tdefPage_, indexPageOutput(file_, file_));
  produce(writer);
  indexes_.at(k) = writer.finish();
}

void TableWriter::writeIndex(size_t k, std::vector<IndexEntry> entries) {
  std::sort(entries.begin(), entries.end(), indexEntryLess);
  writeIndex(k, [&entries](IndexTreeWriter& w) {
    for (IndexEntry& e : entries) w.add(std::move(e));
  });
}

std::vector<std::vector<uint32_t>> TableWriter::usageMapPageSets() const {
  std::vector<std::vector<uint32_t>> sets;
  sets.push_back(dataPages_);
  // The last page is the only one with room for more rows.
  sets.push_back(dataPages_.empty() ? std::vector<uint32_t>{} : std::vector<uint32_t>{dataPages_.back()});
  for (const WrittenIndexTree& ix : indexes_) sets.push_back(ix.pages);
  for (const LongValueColumn& lv : longValues_) {
    const std::vector<uint32_t>& pages = lv.writer->pageNumbers();
    sets.push_back(pages);
    sets.push_back(pages.empty() ? std::vector<uint32_t>{} : std::vector<uint32_t>{pages.back()});
  }
  return sets;
}

std::vector<uint32_t> TableWriter::allPages() const {
  std::vector<uint32_t> pages = dataPages_;
  pages.push_back(tdefPage_);
  for (const WrittenIndexTree& ix : indexes_) pages.insert(pages.end(), ix.pages.begin(), ix.pages.end());
  for (const LongValueColumn& lv : longValues_) {
    pages.insert(pages.end(), lv.writer->pageNumbers().begin(), lv.writer->pageNumbers().end());
  }
  return pages;
}

std::vector<uint8_t> TableWriter::encodeDefinition(const std::vector<RowPointer>& mapRows,
                                                   const std::vector<uint32_t>& foreignKeyTables) const {
  const size_t expected = 2 + indexes_.size() + 2 * longValues_.size();
  if (mapRows.size() != expected) fail(ErrorCode::InvalidArgument, "table " + schema_.name + ": map rows missing");
  TableDefState state;
  state.rowCount = liveRows_;
  state.autoNumber = static_cast<uint32_t>(autoNumber_);
  state.ownedPages = mapRows[0];
  state.freeSpacePages = mapRows[1];
  for (size_t k = 0; k < indexes_.size(); ++k) {
    state.indexes.push_back(
        IndexState{mapRows[2 + k], indexes_[k].rootPage, static_cast<uint32_t>(indexes_[k].distinctKeys)});
  }
  for (size_t k = 0; k < longValues_.size(); ++k) {
    size_t at = 2 + indexes_.size() + 2 * k;
    state.longValues.push_back(LongValueMapState{mapRows[at], mapRows[at + 1]});
  }
  state.foreignKeyTables = foreignKeyTables;
  return encodeTableDef(schema_, state);
}

}  // namespace jet::create
