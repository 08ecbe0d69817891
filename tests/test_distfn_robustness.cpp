// Every exported function of distfn, called with NaN, infinities, zero,
// negative and huge values in each argument in turn: each call must return
// (a watchdog turns a hang into a failure naming the call), the sanitizers
// must find nothing, and only the documented stops end the process.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "distributions/distfn.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// count: a term count that must be at least 1 (bup's n); only its extremes
// within that range are tried.
enum class Kind { real, integer, long_integer, count };

using Values = std::vector<double>;

struct Exported {
  const char *name;
  std::vector<Kind> kinds;
  Values baseline;
  std::function<void(Values &)> call;
  // The documented process stops (through ftnstop) for these arguments.
  std::function<bool(const Values &)> stops = [](const Values &) { return false; };
};

// Integer arguments travel as doubles in the table; conversion happens at the call.
int as_int(double v) { return static_cast<int>(v); }
long as_long(double v) { return static_cast<long>(v); }

#define R(i) (&v[i])
#define D1(f) [](Values &v) { (void)f(R(0)); }
#define D2(f) [](Values &v) { (void)f(R(0), R(1)); }

const std::vector<Exported> &exported() {
  using K = Kind;
  const K r = K::real, i = K::integer, l = K::long_integer, n = K::count;
  static const std::vector<Exported> all{
      {"ipmpar", {i}, {4}, [](Values &v) { int a = as_int(v[0]); (void)ipmpar(&a); }},
      {"spmpar", {i}, {1}, [](Values &v) { int a = as_int(v[0]); (void)spmpar(&a); }},
      {"exparg", {i}, {0}, [](Values &v) { int a = as_int(v[0]); (void)exparg(&a); }},
      // devlpl requires at least one coefficient and reads that many: its
      // count is a size, not a value, and is exercised only within the array.
      {"devlpl", {r, r, r}, {1, 2, 0.5}, [](Values &v) {
         double a[3] = {v[0], v[1], 3.0};
         int n = 3;
         (void)devlpl(a, &n, R(2));
       }},
      {"fifdint", {r}, {2.5}, [](Values &v) { (void)fifdint(v[0]); }},
      {"fifdmax1", {r, r}, {1, 2}, [](Values &v) { (void)fifdmax1(v[0], v[1]); }},
      {"fifdmin1", {r, r}, {1, 2}, [](Values &v) { (void)fifdmin1(v[0], v[1]); }},
      {"fifdsign", {r, r}, {3, -1}, [](Values &v) { (void)fifdsign(v[0], v[1]); }},
      {"fifidint", {r}, {5.9}, [](Values &v) { (void)fifidint(v[0]); }},
      {"fifmod", {l, l}, {-7, 3}, [](Values &v) { (void)fifmod(as_long(v[0]), as_long(v[1])); }},
      {"alnrel", {r}, {0.5}, D1(alnrel)},
      {"dln1px", {r}, {0.5}, D1(dln1px)},
      {"dln1mx", {r}, {0.5}, D1(dln1mx)},
      {"rexp", {r}, {0.5}, D1(rexp)},
      {"dexpm1", {r}, {0.5}, D1(dexpm1)},
      {"rlog", {r}, {0.5}, D1(rlog)},
      {"rlog1", {r}, {0.5}, D1(rlog1)},
      {"esum", {i, r}, {1, 0.5}, [](Values &v) { int mu = as_int(v[0]); (void)esum(&mu, R(1)); }},
      {"erf1", {r}, {0.5}, D1(erf1)},
      {"erfc1", {i, r}, {0, 0.5}, [](Values &v) { int ind = as_int(v[0]); (void)erfc1(&ind, R(1)); }},
      {"gam1", {r}, {0.5}, D1(gam1)},
      {"gamln1", {r}, {0.5}, D1(gamln1)},
      {"gamln", {r}, {3.5}, D1(gamln)},
      {"dlngam", {r}, {3.5}, D1(dlngam)},
      {"alngam", {r}, {3.5}, D1(alngam)},
      {"Xgamm", {r}, {3.5}, D1(Xgamm)},
      {"gsumln", {r, r}, {1.5, 1.5}, D2(gsumln)},
      {"algdiv", {r, r}, {2, 10}, D2(algdiv)},
      {"bcorr", {r, r}, {9, 10}, D2(bcorr)},
      {"betaln", {r, r}, {2, 3}, D2(betaln)},
      {"dlnbet", {r, r}, {2, 3}, D2(dlnbet)},
      {"psi", {r}, {2.5}, D1(psi)},
      {"dstrem", {r}, {2.5}, D1(dstrem), [](const Values &v) { return v[0] <= 0.0; }},
      {"dbetrm", {r, r}, {2, 3}, D2(dbetrm),
       [](const Values &v) {
         return v[0] + v[1] <= 0.0 || fifdmax1(v[0], v[1]) <= 0.0 || fifdmin1(v[0], v[1]) <= 0.0;
       }},
      {"bratio", {r, r, r, r, r, r, i}, {2, 3, 0.4, 0.6, 0, 0, 0}, [](Values &v) {
         int ierr = as_int(v[6]);
         bratio(R(0), R(1), R(2), R(3), R(4), R(5), &ierr);
       }},
      {"bpser", {r, r, r, r}, {2, 0.5, 0.4, 1e-15}, [](Values &v) { (void)bpser(R(0), R(1), R(2), R(3)); }},
      {"bup", {r, r, r, r, n, r}, {2, 3, 0.4, 0.6, 3, 1e-15}, [](Values &v) {
         int terms = as_int(v[4]);
         (void)bup(R(0), R(1), R(2), R(3), &terms, R(5));
       }},
      {"bfrac", {r, r, r, r, r, r}, {20, 30, 0.4, 0.6, 10, 1e-15},
       [](Values &v) { (void)bfrac(R(0), R(1), R(2), R(3), R(4), R(5)); }},
      {"bgrat", {r, r, r, r, r, r, i}, {20, 0.5, 0.9, 0.1, 0, 1e-15, 0}, [](Values &v) {
         int ierr = as_int(v[6]);
         bgrat(R(0), R(1), R(2), R(3), R(4), R(5), &ierr);
       }},
      {"grat1", {r, r, r, r, r, r}, {0.5, 0.7, 0.3, 0, 0, 1e-15},
       [](Values &v) { grat1(R(0), R(1), R(2), R(3), R(4), R(5)); }},
      {"basym", {r, r, r, r}, {120, 110, 5, 1e-15}, [](Values &v) { (void)basym(R(0), R(1), R(2), R(3)); }},
      {"apser", {r, r, r, r}, {1e-20, 2, 0.3, 1e-15}, [](Values &v) { (void)apser(R(0), R(1), R(2), R(3)); }},
      {"fpser", {r, r, r, r}, {2, 1e-20, 0.3, 1e-15}, [](Values &v) { (void)fpser(R(0), R(1), R(2), R(3)); }},
      {"brcomp", {r, r, r, r}, {2, 3, 0.4, 0.6}, [](Values &v) { (void)brcomp(R(0), R(1), R(2), R(3)); }},
      {"brcmp1", {i, r, r, r, r}, {0, 2, 3, 0.4, 0.6}, [](Values &v) {
         int mu = as_int(v[0]);
         (void)brcmp1(&mu, R(1), R(2), R(3), R(4));
       }},
      {"cumbet", {r, r, r, r, r, r}, {0.4, 0.6, 2, 3, 0, 0}, [](Values &v) { cumbet(R(0), R(1), R(2), R(3), R(4), R(5)); }},
      {"cumbin", {r, r, r, r, r, r}, {3, 10, 0.4, 0.6, 0, 0}, [](Values &v) { cumbin(R(0), R(1), R(2), R(3), R(4), R(5)); }},
      {"cumnbn", {r, r, r, r, r, r}, {3, 10, 0.4, 0.6, 0, 0}, [](Values &v) { cumnbn(R(0), R(1), R(2), R(3), R(4), R(5)); }},
      {"cumt", {r, r, r, r}, {1.5, 4, 0, 0}, [](Values &v) { cumt(R(0), R(1), R(2), R(3)); }},
      {"cumf", {r, r, r, r, r}, {1.5, 4, 6, 0, 0}, [](Values &v) { cumf(R(0), R(1), R(2), R(3), R(4)); }},
      {"cumfnc", {r, r, r, r, r, r}, {1.5, 4, 6, 2, 0, 0}, [](Values &v) { cumfnc(R(0), R(1), R(2), R(3), R(4), R(5)); }},
      {"gratio", {r, r, r, r, i}, {2.5, 3, 0, 0, 0}, [](Values &v) {
         int ind = as_int(v[4]);
         gratio(R(0), R(1), R(2), R(3), &ind);
       }},
      {"rcomp", {r, r}, {2.5, 3}, D2(rcomp)},
      {"cumgam", {r, r, r, r}, {3, 2.5, 0, 0}, [](Values &v) { cumgam(R(0), R(1), R(2), R(3)); }},
      {"cumchi", {r, r, r, r}, {3, 2.5, 0, 0}, [](Values &v) { cumchi(R(0), R(1), R(2), R(3)); }},
      {"cumchn", {r, r, r, r, r}, {3, 2.5, 4, 0, 0}, [](Values &v) { cumchn(R(0), R(1), R(2), R(3), R(4)); }},
      {"cumpoi", {r, r, r, r}, {3, 2.5, 0, 0}, [](Values &v) { cumpoi(R(0), R(1), R(2), R(3)); }},
      {"pdfbet", {r, r, r, r, r, i, r}, {0.4, 0.6, 2, 3, 0, 0, 0}, [](Values &v) {
         int status = as_int(v[5]);
         pdfbet(R(0), R(1), R(2), R(3), R(4), &status, R(6));
       }},
      {"pdfbin", {r, r, r, r, r, i, r}, {3, 10, 0.4, 0.6, 0, 0, 0}, [](Values &v) {
         int status = as_int(v[5]);
         pdfbin(R(0), R(1), R(2), R(3), R(4), &status, R(6));
       }},
      {"pdfnbn", {r, r, r, r, r, i, r}, {3, 10, 0.4, 0.6, 0, 0, 0}, [](Values &v) {
         int status = as_int(v[5]);
         pdfnbn(R(0), R(1), R(2), R(3), R(4), &status, R(6));
       }},
      {"pdft", {r, r, r, i, r}, {1.5, 4, 0, 0, 0}, [](Values &v) {
         int status = as_int(v[3]);
         pdft(R(0), R(1), R(2), &status, R(4));
       }},
      {"pdff", {r, r, r, r, i, r}, {1.5, 4, 6, 0, 0, 0}, [](Values &v) {
         int status = as_int(v[4]);
         pdff(R(0), R(1), R(2), R(3), &status, R(5));
       }},
      {"pdffnc", {r, r, r, r, r, i, r}, {1.5, 4, 6, 2, 0, 0, 0}, [](Values &v) {
         int status = as_int(v[5]);
         pdffnc(R(0), R(1), R(2), R(3), R(4), &status, R(6));
       }},
      {"pdfgam", {r, r, r, r, i, r}, {3, 2.5, 1.5, 0, 0, 0}, [](Values &v) {
         int status = as_int(v[4]);
         pdfgam(R(0), R(1), R(2), R(3), &status, R(5));
       }},
      {"pdfchi", {r, r, r, i, r}, {3, 2.5, 0, 0, 0}, [](Values &v) {
         int status = as_int(v[3]);
         pdfchi(R(0), R(1), R(2), &status, R(4));
       }},
      {"pdfchn", {r, r, r, r, i, r}, {3, 2.5, 4, 0, 0, 0}, [](Values &v) {
         int status = as_int(v[4]);
         pdfchn(R(0), R(1), R(2), R(3), &status, R(5));
       }},
      {"pdfpoi", {r, r, r, i, r}, {3, 2.5, 0, 0, 0}, [](Values &v) {
         int status = as_int(v[3]);
         pdfpoi(R(0), R(1), R(2), &status, R(4));
       }},
      {"pdfnor", {r, r, r, r, i, r}, {1.5, 0.5, 2, 0, 0, 0}, [](Values &v) {
         int status = as_int(v[4]);
         pdfnor(R(0), R(1), R(2), R(3), &status, R(5));
       }},
      {"gaminv", {r, r, r, r, r, i}, {2.5, 0, -1, 0.3, 0.7, 0}, [](Values &v) {
         int ierr = as_int(v[5]);
         gaminv(R(0), R(1), R(2), R(3), R(4), &ierr);
       }},
      {"cumnor", {r, r, r}, {1.5, 0, 0}, [](Values &v) { cumnor(R(0), R(1), R(2)); }},
      {"dinvnr", {r, r}, {0.3, 0.7}, D2(dinvnr)},
      {"stvaln", {r}, {0.3}, D1(stvaln)},
      {"dt1", {r, r, r}, {0.3, 0.7, 4}, [](Values &v) { (void)dt1(R(0), R(1), R(2)); }},
      {"dlanor", {r}, {6}, D1(dlanor), [](const Values &v) { return std::fabs(v[0]) < 5.0; }},
      {"dstinv", {r, r, r, r, r, r, r}, {0, 1e300, 0.5, 0.5, 5, 1e-50, 1e-8},
       [](Values &v) { dstinv(R(0), R(1), R(2), R(3), R(4), R(5), R(6)); }},
      // A whole search from a valid set-up, with the hostile value in one of
      // dinvr's own arguments on its first call.
      {"dinvr", {i, r, r, l, l}, {0, 5, 0, 0, 0},
       [](Values &v) {
         double small = 0, big = 1e300, step = 0.5, mult = 5, abstol = 1e-50, reltol = 1e-8;
         dstinv(&small, &big, &step, &step, &mult, &abstol, &reltol);
         int status = as_int(v[0]);
         unsigned long qleft = static_cast<unsigned long>(as_long(v[3])), qhi = static_cast<unsigned long>(as_long(v[4]));
         double x = v[1], fx = v[2];
         for (dinvr(&status, &x, &fx, &qleft, &qhi); status == 1; dinvr(&status, &x, &fx, &qleft, &qhi)) fx = x - 7.0;
       },
       [](const Values &v) { return v[0] <= 0.0 && !(v[1] >= 0.0 && v[1] <= 1e300); }},
      {"dstzr", {r, r, r, r}, {0, 1, 1e-50, 1e-8}, [](Values &v) { dstzr(R(0), R(1), R(2), R(3)); }},
      {"dzror", {i, r, r, r, r, l, l}, {0, 0, 0, 0, 0, 0, 0},
       [](Values &v) {
         double lo = 0, hi = 1, abstol = 1e-50, reltol = 1e-8;
         dstzr(&lo, &hi, &abstol, &reltol);
         int status = as_int(v[0]);
         unsigned long qleft = static_cast<unsigned long>(as_long(v[5])), qhi = static_cast<unsigned long>(as_long(v[6]));
         double x = v[1], fx = v[2], xlo = v[3], xhi = v[4];
         for (dzror(&status, &x, &fx, &xlo, &xhi, &qleft, &qhi); status == 1;
              dzror(&status, &x, &fx, &xlo, &xhi, &qleft, &qhi))
           fx = x - 0.3;
       }},
      {"cdfbet", {i, r, r, r, r, r, r, i, r}, {2, 0.3, 0.7, 0, 0, 2, 3, 0, 0}, [](Values &v) {
         int which = as_int(v[0]), status = as_int(v[7]);
         cdfbet(&which, R(1), R(2), R(3), R(4), R(5), R(6), &status, R(8));
       }},
      {"cdfbin", {i, r, r, r, r, r, r, i, r}, {2, 0.3, 0.7, 0, 10, 0.4, 0.6, 0, 0}, [](Values &v) {
         int which = as_int(v[0]), status = as_int(v[7]);
         cdfbin(&which, R(1), R(2), R(3), R(4), R(5), R(6), &status, R(8));
       }},
      {"cdfchi", {i, r, r, r, r, i, r}, {2, 0.3, 0.7, 0, 4, 0, 0}, [](Values &v) {
         int which = as_int(v[0]), status = as_int(v[5]);
         cdfchi(&which, R(1), R(2), R(3), R(4), &status, R(6));
       }},
      {"cdfchn", {i, r, r, r, r, r, i, r}, {2, 0.3, 0.7, 0, 4, 3, 0, 0}, [](Values &v) {
         int which = as_int(v[0]), status = as_int(v[6]);
         cdfchn(&which, R(1), R(2), R(3), R(4), R(5), &status, R(7));
       }},
      {"cdff", {i, r, r, r, r, r, i, r}, {2, 0.3, 0.7, 0, 4, 6, 0, 0}, [](Values &v) {
         int which = as_int(v[0]), status = as_int(v[6]);
         cdff(&which, R(1), R(2), R(3), R(4), R(5), &status, R(7));
       }},
      {"cdffnc", {i, r, r, r, r, r, r, i, r}, {2, 0.3, 0.7, 0, 4, 6, 2, 0, 0}, [](Values &v) {
         int which = as_int(v[0]), status = as_int(v[7]);
         cdffnc(&which, R(1), R(2), R(3), R(4), R(5), R(6), &status, R(8));
       }},
      {"cdfgam", {i, r, r, r, r, r, i, r}, {3, 0.3, 0.7, 2, 0, 1.5, 0, 0}, [](Values &v) {
         int which = as_int(v[0]), status = as_int(v[6]);
         cdfgam(&which, R(1), R(2), R(3), R(4), R(5), &status, R(7));
       }},
      {"cdfnbn", {i, r, r, r, r, r, r, i, r}, {2, 0.3, 0.7, 0, 10, 0.4, 0.6, 0, 0}, [](Values &v) {
         int which = as_int(v[0]), status = as_int(v[7]);
         cdfnbn(&which, R(1), R(2), R(3), R(4), R(5), R(6), &status, R(8));
       }},
      {"cdfnor", {i, r, r, r, r, r, i, r}, {4, 0.3, 0.7, 1, 3, 0, 0, 0}, [](Values &v) {
         int which = as_int(v[0]), status = as_int(v[6]);
         cdfnor(&which, R(1), R(2), R(3), R(4), R(5), &status, R(7));
       }},
      {"cdfpoi", {i, r, r, r, r, i, r}, {3, 0.3, 0.7, 4, 0, 0, 0}, [](Values &v) {
         int which = as_int(v[0]), status = as_int(v[5]);
         cdfpoi(&which, R(1), R(2), R(3), R(4), &status, R(6));
       }},
      {"cdft", {i, r, r, r, r, i, r}, {2, 0.3, 0.7, 0, 4, 0, 0}, [](Values &v) {
         int which = as_int(v[0]), status = as_int(v[5]);
         cdft(&which, R(1), R(2), R(3), R(4), &status, R(6));
       }},
  };
  return all;
}

#undef R
#undef D1
#undef D2

std::vector<double> hostile_values(Kind kind) {
  switch (kind) {
    case Kind::real:
      return {kNaN, kInf, -kInf, 0.0, -1.0, 1e308};
    case Kind::integer:
      return {0, -1, INT_MIN, INT_MAX};
    case Kind::long_integer:
      return {0, -1, static_cast<double>(LONG_MIN), 1e18};
    case Kind::count:
      return {1, INT_MAX};
  }
  return {};
}

// Every front end is swept in each of its cases (the which of its baseline
// replaced by 1 to 5).
std::vector<Values> baselines(const Exported &f) {
  if (std::string(f.name).rfind("cdf", 0) != 0) return {f.baseline};
  std::vector<Values> all;
  for (int which = 1; which <= 5; ++which) {
    Values b = f.baseline;
    b[0] = which;
    all.push_back(b);
  }
  return all;
}

// The watchdog: a call that has not returned after this long is a hang.
constexpr unsigned kSecondsPerCall = 20;
char current_call[256];

void report_hang(int) {
  const char prefix[] = "hang in ";
  (void)!write(STDERR_FILENO, prefix, sizeof prefix - 1);
  (void)!write(STDERR_FILENO, current_call, std::strlen(current_call));
  (void)!write(STDERR_FILENO, "\n", 1);
  _exit(3);
}

std::string describe(const Exported &f, const Values &v) {
  std::string text = f.name;
  text += "(";
  for (std::size_t k = 0; k < v.size(); ++k) {
    char number[32];
    std::snprintf(number, sizeof number, "%s%.17g", k ? ", " : "", v[k]);
    text += number;
  }
  return text + ")";
}

// Calls visit(f, arguments) for each hostile variant of f's arguments.
template <typename Visit>
void for_each_hostile_call(const Exported &f, Visit &&visit) {
  for (const Values &base : baselines(f)) {
    for (std::size_t arg = 0; arg < base.size(); ++arg) {
      for (const double value : hostile_values(f.kinds[arg])) {
        Values v = base;
        v[arg] = value;
        visit(v);
      }
    }
  }
}

std::vector<std::string> exported_names() {
  std::vector<std::string> names;
  for (const Exported &f : exported()) names.push_back(f.name);
  return names;
}

const Exported &find_exported(const std::string &name) {
  for (const Exported &f : exported())
    if (name == f.name) return f;
  throw std::invalid_argument(name);
}

class DistfnRobustness : public ::testing::TestWithParam<std::string> {};

TEST_P(DistfnRobustness, ReturnsOnHostileArguments) {
  const Exported &f = find_exported(GetParam());
  struct sigaction watchdog {};
  watchdog.sa_handler = report_hang;
  sigaction(SIGALRM, &watchdog, nullptr);
  for_each_hostile_call(f, [&](const Values &args) {
    if (f.stops(args)) return;
    std::snprintf(current_call, sizeof current_call, "%s", describe(f, args).c_str());
    Values v = args;
    alarm(kSecondsPerCall);
    f.call(v);
    alarm(0);
  });
  signal(SIGALRM, SIG_DFL);
}

INSTANTIATE_TEST_SUITE_P(Exported, DistfnRobustness, ::testing::ValuesIn(exported_names()),
                         [](const ::testing::TestParamInfo<std::string> &info) { return info.param; });

bool exited(int status) { return WIFEXITED(status); }

TEST(DistfnRobustnessDeathTest, OnlyTheDocumentedStopsEndTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  int stops = 0;
  for (const Exported &f : exported()) {
    for_each_hostile_call(f, [&](const Values &args) {
      if (!f.stops(args)) return;
      Values v = args;
      EXPECT_EXIT(f.call(v), exited, "(not monotone in INVR|Argument too small in DLANOR|argument in DSTREM)\n")
          << describe(f, args);
      ++stops;
    });
  }
  EXPECT_GT(stops, 5);
}

TEST(DistfnRobustnessDeathTest, FtnstopPrintsItsMessageAndExits) {
  EXPECT_EXIT(ftnstop(nullptr), exited, "^$");
  EXPECT_EXIT(ftnstop("a message"), exited, "^a message\n$");
}

}  // namespace
