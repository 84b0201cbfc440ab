# Shared by run_ui_bench.sh, run_stop_bench.sh and run_preview_bench.sh, which source it from
# the repository's folder: their options, the generated address book and the Release build of
# the program that measures.

# Reads --cards N, --data DIR and --build-dir DIR into cards, data and build_dir (their
# defaults: 1,000,000 cards, $TESSALY_BENCH_DATA or /tmp/tessaly-bench, build-bench). Other
# arguments that do not start with "-" are left in bench_arguments.
read_bench_options() {
  cards=1000000
  data="${TESSALY_BENCH_DATA:-/tmp/tessaly-bench}"
  build_dir=build-bench
  bench_arguments=()
  while [ $# -gt 0 ]; do
    case "$1" in
      --cards) cards="$2"; shift 2 ;;
      --data) data="$2"; shift 2 ;;
      --build-dir) build_dir="$2"; shift 2 ;;
      -*) echo "unknown option $1" >&2; exit 2 ;;
      *) bench_arguments+=("$1"); shift ;;
    esac
  done
}

# Sets input to the address book of $cards cards, generated once with ../shared/tools/gen_vcf.py
# and reused.
generate_bench_book() {
  mkdir -p "$data"
  input="$data/cards-$cards.vcf"
  if [ ! -s "$input" ]; then
    /usr/bin/python3 ../shared/tools/gen_vcf.py --cards "$cards" --seed 1 --version mixed -o "$input"
  fi
}

# Builds the bench program TARGET in a Release build in $build_dir.
build_bench_target() {
  cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTESSALY_TESTS=OFF >/dev/null
  cmake --build "$build_dir" --target "$1" >/dev/null
}
