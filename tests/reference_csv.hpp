// Reads the reference tables of tests/data (comma-separated, one header
// line), for the tests and the benchmarks that check against them.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace reference_csv {

using Fields = std::vector<std::string>;

struct Table {
  Fields header;
  std::vector<Fields> rows;
};

inline Fields split(const std::string &line) {
  Fields fields;
  std::stringstream stream(line);
  for (std::string field; std::getline(stream, field, ',');) fields.push_back(field);
  return fields;
}

// A table that cannot be read ends the program: every check on its rows
// would otherwise pass on none.
inline Table read_with_header(const std::string &name) {
  std::ifstream in(std::string(VARROW_TEST_DATA_DIR) + "/" + name);
  std::string line;
  if (!in || !std::getline(in, line)) {
    std::fprintf(stderr, "cannot read reference table %s\n", name.c_str());
    std::exit(1);
  }
  Table table{split(line), {}};
  while (std::getline(in, line)) table.rows.push_back(split(line));
  return table;
}

// The rows after the header line.
inline std::vector<Fields> read(const std::string &name) { return read_with_header(name).rows; }

inline double number(const std::string &field) { return std::strtod(field.c_str(), nullptr); }

// A reference value, kept to the 64-bit significand of long double.
inline long double reference(const std::string &field) { return std::strtold(field.c_str(), nullptr); }

inline std::vector<long double> references(const Fields &fields) {
  std::vector<long double> values;
  for (const std::string &field : fields) values.push_back(reference(field));
  return values;
}

}  // namespace reference_csv
