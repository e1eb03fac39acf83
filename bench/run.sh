#!/usr/bin/env bash
# Times the whole program on each benchmark log against cat of the same file,
# then runs the in-process benchmark (nanoseconds per entry).
#   bench/run.sh [BUILD_DIR]     (default build/linux-release)
set -euo pipefail
build=${1:-build/linux-release}
logs=$build/bench/logs
runs=200

best_ms() {  # best wall time of $runs runs of the command, in milliseconds
  python3 - "$runs" "$@" <<'PY'
import subprocess, sys, time
runs, cmd = int(sys.argv[1]), sys.argv[2:]
best = min(
    (lambda t: (subprocess.run(cmd, stdout=subprocess.DEVNULL), time.perf_counter() - t)[1])(time.perf_counter())
    for _ in range(runs))
print(f"{best * 1000:.2f}")
PY
}

printf '%-14s %10s %10s %8s\n' log quenthar cat ratio
for log in densest back_to_back u50_packed real_size; do
  q=$(best_ms "$build/quenthar" "$logs/$log.bin")
  c=$(best_ms cat "$logs/$log.bin")
  printf '%-14s %8s ms %8s ms %8s\n' "$log" "$q" "$c" "$(python3 -c "print(f'{$q / $c:.2f}')")"
done
if [ -x "$build/bench/bench_report" ]; then
  "$build/bench/bench_report"
fi
