// Speed of turning Jet 4 text into UTF-8, as a dump does for every text and memo field: Slovene prose stored as plain
// UTF-16 (a letter outside ASCII every few words), Russian prose (words of Cyrillic letters between spaces), English
// stored as plain UTF-16, and English in the compressed form.
// Prints bytes of stored text per second.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "jet/format/text.h"

namespace {

const char16_t* const kSlovene[] = {u"Žlica",  u"športni",    u"čevlji", u"kuhinjska", u"dišeča", u"žebljički",
                                    u"kava",   u"kartonska",  u"miza",   u"stol",      u"posoda", u"ščetka",
                                    u"košara", u"računalnik", u"vrč",    u"steklena",  u"ključ",  u"omara"};
const char16_t* const kRussian[] = {u"ложка",  u"спортивные", u"ботинки", u"кухонный", u"душистый", u"гвозди",
                                    u"кофе",   u"картонная",  u"стол",    u"стул",     u"посуда",   u"щётка",
                                    u"корзина", u"компьютер", u"кувшин",  u"стеклянный"};
const char16_t* const kEnglish[] = {u"spoon", u"sports", u"shoes", u"kitchen", u"scented", u"nails",  u"coffee",
                                    u"paper", u"table",  u"chair", u"bowl",    u"brush",   u"basket", u"computer"};

template <size_t N>
std::vector<uint8_t> utf16Text(const char16_t* const (&words)[N], size_t units, bool compressed) {
  std::vector<uint8_t> out;
  if (compressed) out = {0xFF, 0xFE};
  size_t n = 0;
  for (size_t w = 0; n < units; w = (w * 7 + 3) % N) {
    for (const char16_t* c = words[w]; *c != 0 && n < units; ++c, ++n) {
      if (compressed) {
        out.push_back(static_cast<uint8_t>(*c));
      } else {
        out.push_back(static_cast<uint8_t>(*c & 0xFF));
        out.push_back(static_cast<uint8_t>(*c >> 8));
      }
    }
    if (n < units) {
      ++n;
      if (!compressed) out.push_back(0);
      out.insert(out.end() - (compressed ? 0 : 1), ' ');
    }
  }
  return out;
}

void decode(benchmark::State& state, const std::vector<uint8_t>& text) {
  std::string out;
  for (auto _ : state) {
    out.clear();
    jet::appendJet4Text(out, text);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}

void sloveneUtf16(benchmark::State& state) {
  decode(state, utf16Text(kSlovene, static_cast<size_t>(state.range(0)), false));
}
void russianUtf16(benchmark::State& state) {
  decode(state, utf16Text(kRussian, static_cast<size_t>(state.range(0)), false));
}
void englishUtf16(benchmark::State& state) {
  decode(state, utf16Text(kEnglish, static_cast<size_t>(state.range(0)), false));
}
void englishCompressed(benchmark::State& state) {
  decode(state, utf16Text(kEnglish, static_cast<size_t>(state.range(0)), true));
}

}  // namespace

BENCHMARK(sloveneUtf16)->Arg(40)->Arg(2000);
BENCHMARK(russianUtf16)->Arg(40)->Arg(2000);
BENCHMARK(englishUtf16)->Arg(40)->Arg(2000);
BENCHMARK(englishCompressed)->Arg(40)->Arg(2000);
BENCHMARK_MAIN();
