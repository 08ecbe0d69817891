// Arbitrary text as the Prometheus exposition format: what is accepted
// writes back as a classic histogram that reads back with the same totals.
#include "fuzz/check_formats.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const varrow_formats::Entries entries = fuzz::read_checked(varrow_formats::read_prometheus, data, size);
  if (entries.empty()) return 0;
  std::string text;
  try {
    varrow_formats::write_prometheus(entries, {"fuzz", {}, {}}, text);
  } catch (const varrow_formats::FormatError &) {
    return 0;  // series of several metric names with one label set: one name cannot hold them
  }
  const varrow_formats::Entries back = varrow_formats::read_prometheus(text);
  FUZZ_CHECK(back.size() == entries.size());
  for (size_t i = 0; i < back.size(); ++i)
    FUZZ_CHECK(back[i].histogram.sample_count() == entries[i].histogram.sample_count());
  return 0;
}
