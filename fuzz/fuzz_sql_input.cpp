// The PostgreSQL type's untrusted input, as the extension hands it to the
// library (postgres/varrow_extension.c, varrow_aggregate_state.c): a text
// value up to its first NUL (varrow_in), a binary COPY field (varrow_recv)
// and a stored value added into an aggregate's fast state
// (varrow_add_record), each with the extension's own acceptance test.  All
// parsing is the library's; what the extension stores must read back
// exactly and print as text that reads back to the same value, and a
// record the library rejects must leave the aggregate's state as it was.
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/check_roundtrip.hpp"

namespace {

using histogram_ptr = std::unique_ptr<histogram, fuzz::histogram_deleter>;

// varrow_from_histogram: the stored record.
std::vector<uint8_t> stored_value(const histogram *h) {
  std::vector<uint8_t> record(static_cast<size_t>(hist_serialize_estimate(h)));
  FUZZ_CHECK(hist_serialize(h, record.data(), static_cast<ssize_t>(record.size())) ==
             static_cast<ssize_t>(record.size()));
  return record;
}

// varrow_to_histogram: every function reads the stored record back whole.
histogram_ptr read_stored(const std::vector<uint8_t> &record) {
  histogram_ptr h(hist_alloc_nbins(1));
  FUZZ_CHECK(hist_deserialize(h.get(), record.data(), static_cast<ssize_t>(record.size())) ==
             static_cast<ssize_t>(record.size()));
  return h;
}

// What the extension stores prints (varrow_out) as text that varrow_in
// takes back to the same stored value.
void check_stored(const histogram *h) {
  const std::vector<uint8_t> record = stored_value(h);
  const histogram_ptr back = read_stored(record);
  FUZZ_CHECK(fuzz::entries_of(back.get()) == fuzz::entries_of(h));
  std::string text(static_cast<size_t>(hist_serialize_b64_estimate(back.get())), '\0');
  const ssize_t length = hist_serialize_b64(back.get(), text.data(), text.size());
  FUZZ_CHECK(length > 0);
  text.resize(static_cast<size_t>(length));
  const histogram_ptr again(hist_alloc_nbins(1));
  FUZZ_CHECK(hist_deserialize_b64(again.get(), text.c_str(), std::strlen(text.c_str())) >= 0);
  FUZZ_CHECK(stored_value(again.get()) == record);
}

void text_input(const uint8_t *data, size_t size) {
  const std::string cstring(reinterpret_cast<const char *>(data), size);
  const histogram_ptr h(hist_alloc_nbins(1));
  if (hist_deserialize_b64(h.get(), cstring.c_str(), std::strlen(cstring.c_str())) < 0) return;
  check_stored(h.get());
}

void binary_input(const uint8_t *data, size_t size) {
  const histogram_ptr h(hist_alloc_nbins(1));
  if (hist_deserialize(h.get(), data, static_cast<ssize_t>(size)) != static_cast<ssize_t>(size)) return;
  check_stored(h.get());
}

void aggregate_input(const uint8_t *data, size_t size) {
  const histogram_ptr state(hist_fast_alloc());
  hist_insert(state.get(), 0.25, 3);
  hist_insert(state.get(), -7e12, 1);
  const std::vector<fuzz::entry> before = fuzz::entries_of(state.get());
  const auto length = static_cast<ssize_t>(size);
  const ssize_t consumed = hist_deserialize_add(state.get(), data, length);
  if (consumed < 0) FUZZ_CHECK(fuzz::entries_of(state.get()) == before);
  // A good record with bytes after it is an error, which ends the query and
  // its state.
  if (consumed != length) return;
  fuzz::check_entries(state.get());
  check_stored(state.get());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  text_input(data, size);
  binary_input(data, size);
  aggregate_input(data, size);
  return 0;
}
