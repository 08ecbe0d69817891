// Reads a reference table of tests/data (header line skipped) as rows of
// text fields, for the benchmarks that time and check on its points.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

inline std::vector<std::vector<std::string>> read_csv(const std::string &name) {
  std::ifstream in(std::string(VARROW_TEST_DATA_DIR) + "/" + name);
  if (!in) {
    std::fprintf(stderr, "cannot read reference table %s\n", name.c_str());
    std::exit(1);
  }
  std::vector<std::vector<std::string>> rows;
  std::string line;
  std::getline(in, line);
  while (std::getline(in, line)) {
    std::stringstream fields(line);
    std::vector<std::string> row;
    for (std::string f; std::getline(fields, f, ',');) row.push_back(f);
    rows.push_back(row);
  }
  return rows;
}
