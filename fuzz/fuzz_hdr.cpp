// Arbitrary text as HdrHistogram encodings and interval logs, read with a
// power-of-ten unit (the exact scaled-integer path) and with another.
#include "fuzz/check_formats.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const auto decimal = [](std::string_view t) { return varrow_formats::read_hdr(t, 1e-9); };
  const auto binary = [](std::string_view t) { return varrow_formats::read_hdr(t, 0.5); };
  const varrow_formats::Entries a = fuzz::read_checked(decimal, data, size);
  const varrow_formats::Entries b = fuzz::read_checked(binary, data, size);
  FUZZ_CHECK(a.size() == b.size());
  FUZZ_CHECK(fuzz::total_of(a) == fuzz::total_of(b));
  return 0;
}
