# Deterministic raw latencies, one line per minute: 240 minutes of log-normal
# seconds with a slow tail, a few zero and negative readings, NaN and
# infinity, and one minute without requests (an empty line).
# A linear congruential generator whose products stay exact in doubles.
function uniform() { state = (state * 69069 + 1) % 4294967296; return (state + 0.5) / 4294967296 }
function normal() { return sqrt(-2 * log(uniform())) * cos(6.283185307179586 * uniform()) }
BEGIN {
  state = 42
  for (minute = 1; minute <= 240; ++minute) {
    line = ""
    if (minute != 100) {
      n = 20 + int(uniform() * 200)
      for (i = 0; i < n; ++i) {
        v = exp(-3 + 0.8 * normal())
        if (uniform() < 0.01) v = v * 50
        line = line sprintf("%.6g ", v)
      }
      if (minute % 37 == 0) line = line "0 -0.004 nan inf 1e300"
    }
    print line
  }
}
