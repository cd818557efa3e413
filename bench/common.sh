# Sourced by the benchmark scripts, from the project's root: the set-up they share and the
# arithmetic of their reports.

# Installs what is missing and fetches the photographs (bench/photos, ignored by git).
prepare() {
  bash scripts/deps
  bash bench/fetch-photos
}

# Builds the targets named at the optimisation level the program ships with, in build-bench (or
# $TESSELO_BENCH_BUILD), and prints that folder's path.
bench_build() {
  local build=${TESSELO_BENCH_BUILD:-build-bench}
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSELO_GUI=OFF >/dev/null
  cmake --build "$build" -j "$(nproc)" --target "$@" >/dev/null
  echo "$PWD/$build"
}

# What else the machine is doing, for a report's first line: wall times depend on it.
machine() { echo "$(nproc) cores; load average $(cut -d' ' -f1-3 /proc/loadavg)"; }

# The median of numbers given one a line or separated by spaces.
median() {
  tr ' ' '\n' | grep -v '^$' | sort -g |
    awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# a / b, with two decimals (or as many as a third argument says).
ratio() { awk -v a="$1" -v b="$2" -v d="${3:-2}" 'BEGIN { printf("%." d "f", a / b) }'; }

# The wall-clock and CPU seconds (user + system) of one run of a command, its output dropped.
seconds() {
  local TIMEFORMAT='%R %U %S' measured
  measured=$({ time "$@" >/dev/null 2>&1; } 2>&1) || { echo "failed: $*" >&2; exit 1; }
  awk '{ printf "%s %.3f\n", $1, $2 + $3 }' <<<"$measured"
}
