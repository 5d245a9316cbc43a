#include "jet/create/generator.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "jet/create/database_writer.h"
#include "jet/format/index_keys.h"
#include "jet/create/row_encoder.h"
#include "jet/errors.h"

namespace jet::create {
namespace {

// splitmix64: small, fast and the same on every platform, so a seed always gives the same file.
class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed) {}
  uint64_t next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  uint64_t below(uint64_t n) { return n == 0 ? 0 : next() % n; }
  uint64_t between(uint64_t lo, uint64_t hi) { return lo + below(hi - lo + 1); }
  bool chance(uint32_t percent) { return below(100) < percent; }
  bool chancePerMille(uint32_t perMille) { return below(1000) < perMille; }
  template <class T, size_t N>
  const T& pick(const std::array<T, N>& items) {
    return items[static_cast<size_t>(below(N))];
  }

 private:
  uint64_t state_;
};

// Warehouses: indexed text, so only characters with established keys (no č, š, ž here).
constexpr std::array<const char*, 8> kWarehouses = {"LJUBLJANA", "MARIBOR",    "CELJE", "KRANJ",
                                                    "KOPER",     "NOVO MESTO", "PTUJ",  "VELENJE"};
constexpr std::array<const char*, 16> kNouns = {"Čokolada", "Šampon", "Žebljički", "Sveča", "Škatla",  "Čaj",
                                                "Žlica",    "Ščetka", "Kava",      "Moka",  "Sladkor", "Vijaki",
                                                "Čevlji",   "Šal",    "Žaga",      "Olje"};
constexpr std::array<const char*, 12> kAdjectives = {"mlečna",    "zeliščni", "pocinkani", "dišeča",
                                                     "kartonska", "črni",     "lesena",    "mehka",
                                                     "mleta",     "bela",     "kuhinjska", "športni"};
constexpr std::array<const char*, 10> kUnits = {"1 kg", "500 g", "250 ml", "2 mm", "10 kos",
                                                "1 l",  "100 g", "XL",     "5 m",  "3 kos"};
constexpr std::array<const char*, 14> kWords = {"dobava", "prevzem",  "reklamacija", "inventura", "poškodovano",
                                                "kupec",  "številka", "račun",       "skladišče", "žig",
                                                "čez",    "vračilo",  "stranka",     "popravek"};
constexpr std::array<const char*, 8> kAsciiWords = {"delivery", "order",  "stock",    "check",
                                                    "invoice",  "pallet", "returned", "count"};

constexpr double kMinutes = 1.0 / (24 * 60);

std::string articleName(Random& r) {
  return std::string(r.pick(kNouns)) + " " + r.pick(kAdjectives) + " " + r.pick(kUnits);
}

// Article codes grow with the article's Id, so the unique index on them is written in row order: two letters and six
// digits ("AA000001"). The digits count in base 8 over 0-4, 6, 7 and 9: 5 and 8 are the digits no key stored in the
// sample files shows, so their General codes are not established.
std::string articleCode(uint32_t id) {
  constexpr uint32_t kPerBlock = 8 * 8 * 8 * 8 * 8 * 8;
  static const char kDigits[] = "01234679";
  const uint32_t block = id / kPerBlock;
  std::string code;
  code.push_back(static_cast<char>('A' + (block / 26) % 26));
  code.push_back(static_cast<char>('A' + block % 26));
  uint32_t rest = id % kPerBlock;
  std::string digits(6, '0');
  for (size_t i = 6; i-- > 0; rest /= 8) digits[i] = kDigits[rest % 8];
  return code + digits;
}

std::string sentence(Random& r, size_t minChars, bool ascii) {
  std::string s;
  while (s.size() < minChars) {
    if (!s.empty()) s += ' ';
    s += ascii ? r.pick(kAsciiWords) : r.pick(kWords);
  }
  return s;
}

// A movement's note in one of the storage forms: short enough to stay inside the row, one long-value row, or a chain
// over several pages. Some notes are plain ASCII (stored in the one-byte form), most have č, š or ž (UCS-2).
std::u16string movementNote(Random& r) {
  uint64_t kind = r.below(100);
  bool ascii = r.chance(30);
  size_t chars = static_cast<size_t>(kind < 55   ? r.between(5, 24)
                                     : kind < 95 ? r.between(40, 700)
                                                 : r.between(2500, 7000));
  return utf8ToUtf16(sentence(r, chars, ascii));
}

std::vector<uint8_t> attachment(Random& r) {
  size_t size = static_cast<size_t>(r.chance(70) ? r.between(100, 3000) : r.between(5000, 16000));
  std::vector<uint8_t> bytes(size);
  // A small image-like header, then noise.
  static const uint8_t kHeader[] = {0x15, 0x1C, 0x2F, 0x00, 0x02, 0x00};
  for (size_t i = 0; i < size; ++i) bytes[i] = i < sizeof kHeader ? kHeader[i] : static_cast<uint8_t>(r.next());
  return bytes;
}

TableSchema articlesSchema() {
  TableSchema t;
  t.name = "Artikli";
  auto col = [&t](const char* name, ColumnType type, uint16_t length = 0, bool compressed = false) {
    t.columns.push_back(columnSpec(name, type, length, compressed));
  };
  col("Id", ColumnType::Long);
  t.columns.back().autoNumber = true;
  col("skl", ColumnType::Text, 20, true);
  col("ident", ColumnType::Text, 40, true);
  col("naziv", ColumnType::Text, 200, true);
  col("cena", ColumnType::Currency);
  col("datum", ColumnType::DateTime);
  col("kolicina", ColumnType::Double);
  col("aktiven", ColumnType::Boolean);
  col("enota", ColumnType::Byte);
  col("minzaloga", ColumnType::Integer);
  col("popust", ColumnType::Single);
  col("teza", ColumnType::Numeric);
  t.columns.back().precision = 18;
  t.columns.back().scale = 3;
  col("guid", ColumnType::Guid);
  col("opis", ColumnType::Memo, 0, true);
  col("koda", ColumnType::Binary, 16);
  IndexSpec pk{"PrimaryKey", {0}};
  pk.primaryKey = true;
  IndexSpec ident{"ident", {2}};
  ident.unique = true;
  IndexSpec skl{"skl", {1}};
  IndexSpec sklIdent{"SkladisceIdent", {1, 2}};
  t.indexes = {pk, ident, skl, sklIdent};
  return t;
}

TableSchema movementsSchema(const std::string& name) {
  TableSchema t;
  t.name = name;
  auto col = [&t](const char* n, ColumnType type, uint16_t length = 0, bool compressed = false) {
    t.columns.push_back(columnSpec(n, type, length, compressed));
  };
  col("Id", ColumnType::Long);
  t.columns.back().autoNumber = true;
  col("IdArtikla", ColumnType::Long);
  col("skl", ColumnType::Text, 20, true);
  col("datum", ColumnType::DateTime);
  col("kolicina", ColumnType::Double);
  col("znesek", ColumnType::Currency);
  col("vrsta", ColumnType::Byte);
  col("dokument", ColumnType::Text, 30, true);
  col("opomba", ColumnType::Memo, 0, true);
  col("priloga", ColumnType::Ole);
  IndexSpec pk{"PrimaryKey", {0}};
  pk.primaryKey = true;
  IndexSpec byArticle{"IdArtikla", {1}};
  t.indexes = {pk, byArticle};
  return t;
}

TableSchema logSchema() {
  TableSchema t;
  t.name = "Dnevnik";
  t.columns.push_back(columnSpec("Id", ColumnType::Long, 0, false));
  t.columns.back().autoNumber = true;
  t.columns.push_back(columnSpec("cas", ColumnType::DateTime, 0, false));
  t.columns.push_back(columnSpec("dogodek", ColumnType::Byte, 0, false));
  IndexSpec pk{"PrimaryKey", {0}};
  pk.primaryKey = true;
  t.indexes = {pk};
  return t;
}

// The relationship "every movement's IdArtikla is the Id of an article", enforced: a foreign key on each side, the
// referencing one using the index on IdArtikla, the referenced one the primary key of Artikli.
constexpr const char* kRelationship = "ArtikliGibanja";

void relate(TableSchema& articles, TableSchema& movements) {
  ForeignKeySpec referenced;
  referenced.name = kRelationship;
  referenced.index = 0;
  referenced.referencedSide = true;
  referenced.relatedIndex = static_cast<uint32_t>(movements.indexes.size() + movements.foreignKeys.size());
  referenced.relatedTable = movements.name;
  ForeignKeySpec referencing;
  referencing.name = kRelationship;
  referencing.index = 1;
  referencing.relatedIndex = static_cast<uint32_t>(articles.indexes.size() + articles.foreignKeys.size());
  referencing.relatedTable = articles.name;
  articles.foreignKeys.push_back(referenced);
  movements.foreignKeys.push_back(referencing);
}

std::vector<uint8_t> longKey(int32_t v) {
  std::vector<uint8_t> k;
  appendLongKey(v, k);
  return k;
}

std::vector<uint8_t> textKey(const std::string& ascii) {
  std::vector<uint8_t> k;
  if (!appendGeneralLegacyTextKey(utf8ToUtf16(ascii), k)) {
    fail(ErrorCode::InvalidArgument, "no index key for \"" + ascii + "\"");
  }
  return k;
}

struct LiveArticle {
  uint32_t id = 0;
  uint32_t row = 0;  // raw (row, page) pointer
  uint8_t warehouse = 0;
};

struct LiveMovement {
  uint32_t id = 0;
  uint32_t row = 0;
  uint32_t article = 0;
};

// Movements of one article table, written to `table` (Gibanja, or a work table).
void writeMovements(TableWriter& table, Random& r, uint64_t count, const std::vector<LiveArticle>& articles,
                    double start, uint32_t deletePerMille, std::vector<LiveMovement>& live, GeneratorSummary& summary) {
  const double span = 3.0 * 365;  // movements over three years, in order
  for (uint64_t i = 0; i < count; ++i) {
    const int32_t id = table.nextAutoNumber();
    // Only articles that exist: the relationship is enforced (none left: the movement names no article).
    const uint32_t article = articles.empty() ? 0 : articles[static_cast<size_t>(r.below(articles.size()))].id;
    const double when = start + span * static_cast<double>(i) / static_cast<double>(count) +
                        static_cast<double>(r.below(600)) * kMinutes;
    std::vector<FieldValue> f(table.schema().columns.size());
    f[0] = longField(id);
    f[1] = article == 0 ? nullField() : longField(static_cast<int32_t>(article));
    f[2] = textField(utf8ToUtf16(kWarehouses[static_cast<size_t>(r.below(kWarehouses.size()))]), true);
    f[3] = dateField(std::floor(when * 24 * 60) / (24 * 60));
    f[4] = doubleField(static_cast<double>(r.between(1, 4000)) / 4.0);
    f[5] = currencyField(static_cast<int64_t>(r.between(0, 5'000'000)) * 100 - 100'000'000);
    f[6] = byteField(static_cast<uint8_t>(r.between(1, 4)));
    f[7] = textField(utf8ToUtf16("DOK " + std::to_string(r.between(1000, 99999))), true);
    if (!r.chance(10)) f[8] = textField(movementNote(r), true);
    if (r.chance(12)) f[9] = bytesField(attachment(r));
    const bool deleted = r.chancePerMille(deletePerMille);
    RowPointer at = table.addRow(std::move(f), deleted);
    if (deleted) {
      ++summary.deletedRows;
    } else {
      live.push_back(LiveMovement{static_cast<uint32_t>(id), at.raw(), article});
    }
  }
}

void writeMovementIndexes(TableWriter& table, std::vector<LiveMovement>& live) {
  table.writeIndex(0, [&live](IndexTreeWriter& w) {
    for (const LiveMovement& m : live) {
      w.add(makeLeafEntry(longKey(static_cast<int32_t>(m.id)), RowPointer::fromRaw(m.row)));
    }
  });
  // Entries of equal keys sort by their row pointers, which the 3-byte page and row compare like (page, row).
  std::sort(live.begin(), live.end(), [](const LiveMovement& a, const LiveMovement& b) {
    if (a.article != b.article) return a.article < b.article;
    RowPointer pa = RowPointer::fromRaw(a.row), pb = RowPointer::fromRaw(b.row);
    return pa.page != pb.page ? pa.page < pb.page : pa.row < pb.row;
  });
  table.writeIndex(1, [&live](IndexTreeWriter& w) {
    for (const LiveMovement& m : live) {
      std::vector<uint8_t> key;
      if (m.article == 0) {
        appendNullKey(key);
      } else {
        appendLongKey(static_cast<int32_t>(m.article), key);
      }
      w.add(makeLeafEntry(key, RowPointer::fromRaw(m.row)));
    }
  });
  std::vector<LiveMovement>().swap(live);
}

}  // namespace

GeneratorSummary generateDatabase(const std::string& path, const GeneratorOptions& o) {
  if (o.bloatPercent > 90) fail(ErrorCode::InvalidArgument, "bloat must be 0 to 90 percent");
  if (o.articles == 0 || o.articles > 20'000'000) fail(ErrorCode::InvalidArgument, "rows must be 1 to 20000000");
  if (o.logRows > 200'000'000) fail(ErrorCode::InvalidArgument, "log rows must be at most 200000000");
  Random r(o.seed * 0x2545F4914F6CDD1Dull + 17);
  GeneratorSummary summary;
  // Bloat P is split so that about P of the file is dead space: work tables holding a quarter of P of the movements'
  // data are dropped, and the rows deleted from the live tables make up the rest (P - P(1 - P)/4 of them).
  const uint32_t p = o.bloatPercent;
  const uint32_t deletePerMille = 10 * p - p * (100 - p) / 40;
  const uint64_t workRows = 3 * o.articles * p / 800;

  // Created on a day between 2018 and 2022, at a whole second (Jet dates count days since 1899-12-30).
  HeaderSettings header;
  header.creationDate = 43101.0 + static_cast<double>(r.below(5 * 365)) + static_cast<double>(r.below(86400)) / 86400.0;
  Env& env = o.env != nullptr ? *o.env : Env::system();
  std::unique_ptr<PageSink> sink = env.createDestination(path);
  DatabaseWriter db(std::move(sink), header);

  // Articles. Deleted rows are decided as they are written; the indexes take the live ones.
  TableSchema articlesTable = articlesSchema();
  TableSchema movementsTable = movementsSchema("Gibanja");
  relate(articlesTable, movementsTable);
  TableWriter& articles = db.createTable(std::move(articlesTable));
  TableWriter& movements = db.createTable(std::move(movementsTable));
  db.addRelationship(kRelationship, "Gibanja", "IdArtikla", "Artikli", "Id");
  std::vector<LiveArticle> liveArticles;
  for (uint64_t i = 0; i < o.articles; ++i) {
    const int32_t id = articles.nextAutoNumber();
    const auto warehouse = static_cast<uint8_t>(r.below(kWarehouses.size()));
    std::vector<FieldValue> f(articles.schema().columns.size());
    f[0] = longField(id);
    f[1] = textField(utf8ToUtf16(kWarehouses[warehouse]), true);
    f[2] = textField(utf8ToUtf16(articleCode(static_cast<uint32_t>(id))), true);
    f[3] = textField(utf8ToUtf16(articleName(r)), true);
    f[4] = currencyField(static_cast<int64_t>(r.between(10, 250000)) * 100);
    f[5] = dateField(header.creationDate - static_cast<double>(r.below(2000)));
    f[6] = doubleField(static_cast<double>(r.between(0, 100000)) / 8.0);
    f[7] = booleanField(r.chance(85));
    f[8] = byteField(static_cast<uint8_t>(r.below(6)));
    f[9] = integerField(static_cast<int16_t>(r.between(0, 500)));
    f[10] = singleField(static_cast<float>(r.below(41)) / 2.0f);
    f[11] = numericField(false, r.between(1, 9'999'999));
    uint8_t guid[16];
    for (uint8_t& b : guid) b = static_cast<uint8_t>(r.next());
    f[12] = guidField(guid);
    if (r.chance(40))
      f[13] = textField(utf8ToUtf16(sentence(r, static_cast<size_t>(r.between(10, 300)), r.chance(50))), true);
    if (r.chance(30)) {
      std::vector<uint8_t> code(static_cast<size_t>(r.between(4, 16)));
      for (uint8_t& b : code) b = static_cast<uint8_t>(r.next());
      f[14] = bytesField(std::move(code));
    }
    const bool deleted = r.chancePerMille(deletePerMille);
    RowPointer at = articles.addRow(std::move(f), deleted);
    if (deleted) {
      ++summary.deletedRows;
    } else {
      liveArticles.push_back(LiveArticle{static_cast<uint32_t>(id), at.raw(), warehouse});
    }
  }
  summary.articles = liveArticles.size();

  // Movements.
  std::vector<LiveMovement> liveMovements;
  writeMovements(movements, r, 3 * o.articles, liveArticles, header.creationDate, deletePerMille, liveMovements,
                 summary);
  summary.movements = liveMovements.size();

  // Work tables an application fills and drops again (an import and a stock count), in proportion to the bloat.
  if (workRows > 0) {
    for (const char* name : {"tmpPrenos", "tmpInventura"}) {
      TableWriter& work = db.createTable(movementsSchema(name));
      std::vector<LiveMovement> liveWork;
      const uint64_t rows = workRows;
      writeMovements(work, r, rows, liveArticles, header.creationDate, 0, liveWork, summary);
      summary.droppedTableRows += rows;
      writeMovementIndexes(work, liveWork);
      db.dropTable(work);
    }
  }

  // Article indexes: by Id and by code in row order; by warehouse (and warehouse + code) grouped by the warehouses'
  // key order, rows in order inside each group.
  articles.writeIndex(0, [&](IndexTreeWriter& w) {
    for (const LiveArticle& a : liveArticles) {
      w.add(makeLeafEntry(longKey(static_cast<int32_t>(a.id)), RowPointer::fromRaw(a.row)));
    }
  });
  articles.writeIndex(1, [&](IndexTreeWriter& w) {
    for (const LiveArticle& a : liveArticles) {
      w.add(makeLeafEntry(textKey(articleCode(a.id)), RowPointer::fromRaw(a.row)));
    }
  });
  std::vector<std::vector<uint8_t>> warehouseKeys;
  std::vector<size_t> warehouseOrder;
  for (size_t k = 0; k < kWarehouses.size(); ++k) {
    warehouseKeys.push_back(textKey(kWarehouses[k]));
    warehouseOrder.push_back(k);
  }
  std::sort(warehouseOrder.begin(), warehouseOrder.end(),
            [&](size_t a, size_t b) { return indexEntryLess(warehouseKeys[a], warehouseKeys[b]); });
  for (size_t k : {size_t{2}, size_t{3}}) {
    articles.writeIndex(k, [&](IndexTreeWriter& w) {
      for (size_t warehouse : warehouseOrder) {
        for (const LiveArticle& a : liveArticles) {
          if (a.warehouse != warehouse) continue;
          std::vector<uint8_t> key = warehouseKeys[warehouse];
          if (k == 3) {
            std::vector<uint8_t> code = textKey(articleCode(a.id));
            key.insert(key.end(), code.begin(), code.end());
          }
          w.add(makeLeafEntry(key, RowPointer::fromRaw(a.row)));
        }
      }
    });
  }
  std::vector<LiveArticle>().swap(liveArticles);
  writeMovementIndexes(movements, liveMovements);

  // The log: deleted rows as in the other tables; its key is in row order.
  if (o.logRows > 0) {
    TableWriter& log = db.createTable(logSchema());
    std::vector<uint32_t> liveLog;  // raw row pointers; the Ids count up with them
    std::vector<int32_t> liveIds;
    for (uint64_t i = 0; i < o.logRows; ++i) {
      const int32_t id = log.nextAutoNumber();
      std::vector<FieldValue> f(log.schema().columns.size());
      f[0] = longField(id);
      f[1] = dateField(header.creationDate + static_cast<double>(i) * kMinutes / 4);
      f[2] = byteField(static_cast<uint8_t>(r.below(40)));
      const bool deleted = r.chancePerMille(deletePerMille);
      RowPointer at = log.addRow(std::move(f), deleted);
      if (deleted) {
        ++summary.deletedRows;
      } else {
        liveLog.push_back(at.raw());
        liveIds.push_back(id);
      }
    }
    summary.logRows = liveLog.size();
    log.writeIndex(0, [&](IndexTreeWriter& w) {
      for (size_t i = 0; i < liveLog.size(); ++i) {
        w.add(makeLeafEntry(longKey(liveIds[i]), RowPointer::fromRaw(liveLog[i])));
      }
    });
  }

  db.finish();
  summary.pages = db.file().pageCount();
  return summary;
}

}  // namespace jet::create
