#!/usr/bin/env bash
# Builds the libFuzzer targets into build-fuzz/ (clang, AddressSanitizer and UBSan) and runs
# each one for SECONDS seconds (default 60), one after the other, then prints the executions
# per target. Exits non-zero when a target found a crash or a failed check.
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]
#
# Inputs that reach new code collect in build-fuzz/fuzz/corpus/<target>/ and are reused by the
# next run; the seeds are read where they lie (../shared/corpus, tests/data, resources/). A
# crashing input is saved as build-fuzz/fuzz/crashes/<target>-crash-<hash>; run the target on
# that file alone to see the report again: build-fuzz/fuzz/<target> FILE.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
[ $# -gt 0 ] && shift
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  targets=(fuzz_rows fuzz_decodevalue fuzz_inistore fuzz_language fuzz_xlswriter fuzz_reply)
fi

build_dir=build-fuzz
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DTESSALY_FUZZ=ON -DTESSALY_TESTS=OFF >/dev/null
cmake --build "$build_dir" --target "${targets[@]}" --parallel "$(nproc)"

# Seed folders and the longest input of each target.
seeds_of() {
  case "$1" in
    fuzz_rows) echo ../shared/corpus tests/data resources/examples fuzz/seeds/rows ;;
    fuzz_decodevalue) echo fuzz/seeds/values ../shared/corpus ;;
    fuzz_inistore) echo fuzz/seeds/settings ;;
    fuzz_language) echo resources/Languages ;;
    fuzz_reply) echo fuzz/seeds/reply ;;
    *) ;;
  esac
}
# Each target's dictionary of tokens, when it has one.
dict_of() {
  case "$1" in
    fuzz_rows) echo fuzz/fuzz_rows.dict ;;
    *) ;;
  esac
}
max_len_of() {
  case "$1" in
    fuzz_rows) echo 20000 ;; # several of the reader's 4096-byte blocks
    fuzz_decodevalue) echo 1024 ;;
    *) echo 4096 ;;
  esac
}

fuzz_dir="$build_dir/fuzz"
mkdir -p "$fuzz_dir/crashes" "$fuzz_dir/logs"
summary=()
failed=0
for target in "${targets[@]}"; do
  corpus="$fuzz_dir/corpus/$target"
  mkdir -p "$corpus"
  seeds=()
  for folder in $(seeds_of "$target"); do
    [ -d "$folder" ] && seeds+=("$folder")
  done
  dict=$(dict_of "$target")
  options=()
  [ -n "$dict" ] && options+=("-dict=$dict")
  log="$fuzz_dir/logs/$target.log"
  echo "== $target: ${seconds} s"
  status=0
  "$fuzz_dir/$target" -max_total_time="$seconds" -max_len="$(max_len_of "$target")" -rss_limit_mb=4096 \
    -print_final_stats=1 -artifact_prefix="$fuzz_dir/crashes/$target-" "${options[@]}" "$corpus" "${seeds[@]}" >"$log" 2>&1 || status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  result=ok
  if [ "$status" -ne 0 ]; then
    result="FAILED: $(sed -n 's/.*Test unit written to //p' "$log" | tail -1) (log: $log)"
    grep -m1 -E "check failed|ERROR:" "$log" || true
    failed=1
  fi
  summary+=("$(printf '%-18s %12s %8s  %s' "$target" "${runs:-?}" "${rate:-?}" "$result")")
done

printf '\n%-18s %12s %8s  %s\n' target executions "exec/s" result
printf '%s\n' "${summary[@]}"
exit "$failed"
