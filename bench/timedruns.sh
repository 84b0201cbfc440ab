# Shared by run_limits.sh and run_growth_bench.sh, which source it: the machine's description,
# the converter under test, and timed runs. The caller sets REPO, BIN, BUILD_DIR, DATA and TIME.

# Prints the load and the machine's size, so that every figure comes with its conditions.
print_machine() {
    echo "load: $(uptime)"
    echo "cores: $(nproc); memory: $(free -g | awk '/^Mem:/ {print $2 " GB, " $7 " GB available"}')"
}

# Builds a Release tessaly-convert into BUILD_DIR, unless BIN already names one.
ensure_converter() {
    if [[ -z "$BIN" ]]; then
        cmake -S "$REPO" -B "$BUILD_DIR" -G Ninja -DTESSALY_TESTS=OFF -DCMAKE_BUILD_TYPE=Release >/dev/null
        cmake --build "$BUILD_DIR" --target tessaly-convert --parallel "$(nproc)" >/dev/null
        BIN="$BUILD_DIR/src/cli/tessaly-convert"
    fi
}

# Runs a command under /usr/bin/time -v with its messages in DATA/logs/NAME.out, and prints
# "wall cpu rss exit": seconds with DECIMALS places, peak memory in MB, the exit status.
timed_run() { # name, decimals, command...
    local name=$1 decimals=$2
    shift 2
    local status=0
    "$TIME" -v -o "$DATA/logs/$name.time" "$@" >"$DATA/logs/$name.out" 2>&1 || status=$?
    awk -v status="$status" -v decimals="$decimals" '
        /Elapsed \(wall clock\)/ { n = split($NF, t, ":"); wall = (n == 3) ? t[1] * 3600 + t[2] * 60 + t[3] : t[1] * 60 + t[2] }
        /User time/ { cpu += $NF }
        /System time/ { cpu += $NF }
        /Maximum resident set size/ { rss = $NF / 1000 }
        END { format = "%." decimals "f %." decimals "f %.0f %d\n"; printf format, wall, cpu, rss, status }' \
        "$DATA/logs/$name.time"
}
