#!/usr/bin/env bash
# Measures the branch coverage of the library's own sources (module_base/, platform/,
# dll_kdtrace/) under the whole test suite, with Clang's source-based coverage.
set -euo pipefail

usage() {
  cat <<'EOF'
Usage: scripts/coverage.sh [--no-build] [--keep-profiles] [--per-test] [--show FILE...] [-- CTEST-ARGS...]

Configures and builds the "coverage" preset (Clang, -O0, every target built with
-fprofile-instr-generate -fcoverage-mapping, no sanitizers), runs the whole CTest suite with
each process writing its own profile (build/coverage/profiles/<pid>-<module>.profraw, so tests
that start child processes or dlopen the module are counted too), merges the profiles and
prints llvm-cov's report for module_base/, platform/ and dll_kdtrace/, then the TOTAL line.

  --no-build        use the build and profiles already there: only merge and report
  --keep-profiles   keep the profiles of an earlier run (default: start from none)
  --per-test        after the report, run each test alone with profiles of its own and list,
                    fewest first, "<branches only this test reaches> <branches it reaches> <test>"
                    (a test that reaches no branch of its own is worth a second look: it may still
                    check values no other test checks)
  --show FILE...    after the report, print FILE's lines with branch counts (llvm-cov show
                    -show-branches=count); FILE is a path or a part of one, e.g. PLVariant.cpp
  -h, --help        this text
Arguments after -- go to ctest (for example -R PLVariant to run a part of the suite).

The coverage test preset leaves out FaultUnwindHostTest: a host built with -fnon-call-exceptions
unwinds its faulting frames only when GCC builds it (Clang has no non-call exceptions on Linux).

Needs the Debian packages clang and llvm-14 (llvm-profdata-14, llvm-cov-14).
EOF
}

build=1
keep=0
per_test=0
show=()
ctest_args=()
while [ $# -gt 0 ]; do
  case "$1" in
    -h|--help) usage; exit 0 ;;
    --no-build) build=0 ;;
    --keep-profiles) keep=1 ;;
    --per-test) per_test=1 ;;
    --show)
      shift
      while [ $# -gt 0 ] && [ "${1#-}" = "$1" ]; do show+=("$1"); shift; done
      continue ;;
    --) shift; ctest_args=("$@"); break ;;
    *) echo "coverage.sh: unknown argument '$1' (see --help)" >&2; exit 2 ;;
  esac
  shift
done

cd "$(dirname "$0")/.."
top=$PWD
out=$top/build/coverage
profiles=$out/profiles
merged=$out/coverage.profdata

for tool in clang++ llvm-profdata-14 llvm-cov-14; do
  command -v "$tool" >/dev/null || { echo "coverage.sh: $tool not found (apt-get install clang llvm-14)" >&2; exit 1; }
done

if [ "$build" = 1 ]; then
  cmake --preset coverage
  cmake --build --preset coverage
  [ "$keep" = 1 ] || rm -rf "$profiles"
  mkdir -p "$profiles"
  # A failing test still counts what it covered: report the failures, then go on to the figures.
  status=0
  LLVM_PROFILE_FILE="$profiles/%p-%m.profraw" ctest --preset coverage "${ctest_args[@]}" || status=$?
  [ "$status" = 0 ] || echo "coverage.sh: ctest exited with $status; the figures below count what ran" >&2
fi

shopt -s nullglob
raw=("$profiles"/*.profraw)
[ ${#raw[@]} -gt 0 ] || { echo "coverage.sh: no profiles in $profiles" >&2; exit 1; }
printf '%s\n' "${raw[@]}" > "$out/profiles.list"
llvm-profdata-14 merge -sparse -f "$out/profiles.list" -o "$merged"

# The instrumented objects: the module and every program and library of the build tree (test
# programs, test hosts' libraries, tools, fuzz replays, examples, companions); llvm-cov reads the
# coverage mapping of each.
objects=()
while IFS= read -r f; do
  if readelf -S "$f" 2>/dev/null | grep -q __llvm_covmap; then objects+=("$f"); fi
done < <(find "$out/bin" "$out/lib" "$out/test-libs" -type f \( -perm -u+x -o -name '*.so*' \) 2>/dev/null | sort)
[ ${#objects[@]} -gt 0 ] || { echo "coverage.sh: no instrumented objects under $out" >&2; exit 1; }
object_args=("${objects[0]}")
for f in "${objects[@]:1}"; do object_args+=(-object "$f"); done

# Only the library's own sources: tests, benchmarks, fuzz targets, examples, the companions and
# tools (measured by their own tests), generated files and system headers are left out.
# llvm-cov matches the names as compiled: the build folder, then the source's path relative to
# it ("build/coverage/../../module_base/PLVariant.cpp"); system headers are absolute.
ignore='^/|\.\./(tests|bench|fuzz|examples|companions|tools|include)/|^build/[^/]+/[^.]'
common=(-instr-profile="$merged" -ignore-filename-regex="$ignore" "${object_args[@]}")
report=$(llvm-cov-14 report "${common[@]}")
echo "$report"

# Per directory, from the per-file rows (columns: branches, missed branches).
echo
echo "$report" | awk '
  $1 ~ /^(module_base|platform|dll_kdtrace)\// {
    split($1, p, "/"); d = p[1]
    n = NF; b[d] += $(n-2); m[d] += $(n-1)
  }
  END {
    for (d in b) printf "%-12s branches %6d  missed %6d  cover %6.2f%%\n", d, b[d], m[d], 100 * (b[d] - m[d]) / (b[d] ? b[d] : 1)
  }' | sort
echo "$report" | grep '^TOTAL' | awk '{ printf "TOTAL branch coverage: %s (%d of %d branches taken)\n", $NF, $(NF-2) - $(NF-1), $(NF-2) }'

# Each test alone: the library branches it reaches (lcov's BRDA lines with a count), then how
# many of those no other test reaches.
if [ "$per_test" = 1 ]; then
  dir=$out/per-test
  rm -rf "$dir"
  mkdir -p "$dir"
  ctest --preset coverage -N "${ctest_args[@]}" | sed -n 's/^ *Test *#[0-9]*: //p' > "$dir/names"
  i=0
  while IFS= read -r name; do
    i=$((i + 1))
    mkdir -p "$dir/$i"
    printf '%s\n' "$name" > "$dir/$i/name"
    # shellcheck disable=SC2016  # the sed program is meant literally
    LLVM_PROFILE_FILE="$dir/$i/%p-%m.profraw" \
      ctest --preset coverage -R "^$(printf '%s' "$name" | sed 's/[].[*^$()+?{|\\]/\\&/g')\$" > /dev/null 2>&1 || true
    raw=("$dir/$i"/*.profraw)
    : > "$dir/$i/covered"
    [ ${#raw[@]} -gt 0 ] || continue
    llvm-profdata-14 merge -sparse "${raw[@]}" -o "$dir/$i/profdata" 2>/dev/null
    llvm-cov-14 export -format=lcov -instr-profile="$dir/$i/profdata" -ignore-filename-regex="$ignore" \
      "${object_args[@]}" 2>/dev/null |
      awk -F'[:,]' '/^SF:/ { sf = $2 } /^BRDA:/ && $5 != "-" && $5 + 0 > 0 { print sf ":" $2 "," $3 "," $4 }' |
      sort -u > "$dir/$i/covered"
  done < "$dir/names"
  cat "$dir"/*/covered | sort | uniq -c | awk '$1 == 1 { print $2 }' > "$dir/unique"
  echo
  for d in "$dir"/*/; do
    printf '%d %d %s\n' "$(grep -cxFf "$dir/unique" "$d/covered" || true)" "$(wc -l < "$d/covered")" "$(cat "$d/name")"
  done | sort -n -k1,1 -k2,2
fi

# A file's lines with their counts and branches, cut out of the listing of every source (llvm-cov
# names each file as the report does, followed by a colon, at the start of a line).
for f in "${show[@]}"; do
  path=$(git ls-files -- 'module_base/*' 'platform/*' 'dll_kdtrace/*' | grep -F -- "$f" | head -n 1 || true)
  [ -n "$path" ] || { echo "coverage.sh: no source matches '$f'" >&2; continue; }
  llvm-cov-14 show "${common[@]}" -show-branches=count |
    awk -v want="$path:" '/^[^ |].*:$/ { on = ($0 == want) } on'
done
