// The options every program of the toolkit takes alike: -h and --help print
// the program's usage on standard output and exit 0; --version prints the
// program's name and the toolkit's version and exits 0.  A program lists
// these records in its getopt_long table beside its own options and answers
// 'h' and version_code in its option loop.
#ifndef VARROW_PROGRAM_OPTIONS_HPP
#define VARROW_PROGRAM_OPTIONS_HPP

#include <varrow.h>

#include <cstdio>

#include <getopt.h>

namespace program_options {

// getopt_long's code for --version: above every character, so that no short
// option can collide with it.
constexpr int version_code = 0x100;

constexpr ::option help_option{"help", no_argument, nullptr, 'h'};
constexpr ::option version_option{"version", no_argument, nullptr, version_code};
constexpr ::option end_of_options{nullptr, 0, nullptr, 0};

// One line, "histstat (varrow) 0.2.0", as GNU programs print it.
inline void print_version(const char *program) { std::printf("%s (varrow) %s\n", program, hist_version()); }

}  // namespace program_options

#endif  // VARROW_PROGRAM_OPTIONS_HPP
