// Arbitrary text as OTLP/JSON: what is accepted writes back as exponential
// histograms (where the default scale's layout allows) with the same totals.
#include "fuzz/check_formats.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const varrow_formats::Entries entries = fuzz::read_checked(varrow_formats::read_otlp, data, size);
  if (entries.empty()) return 0;
  std::string text;
  varrow_formats::write_otlp(entries, {}, text);
  const varrow_formats::Entries back = varrow_formats::read_otlp(text);
  FUZZ_CHECK(back.size() == entries.size());
  FUZZ_CHECK(fuzz::total_of(back) == fuzz::total_of(entries));
  return 0;
}
