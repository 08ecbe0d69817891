// Arbitrary text as lower,upper,count lines in every placement mode: the
// histogram holds every count that was accepted.
#include "fuzz/check_formats.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  for (int mode = HIST_ADHOC_ARITHMETIC_MID; mode <= HIST_ADHOC_INNER_EDGE; ++mode) {
    const auto read = [mode](std::string_view t) { return varrow_formats::read_bins(t, mode); };
    fuzz::read_checked(read, data, size);
  }
  return 0;
}
