#!/usr/bin/env bash
# Times the whole program on each benchmark log against cat of the same log
# and cat of the report it makes, and the JSON Lines form against cat of its
# own output (runs interleaved, medians of 200 each), then runs the in-process
# benchmark (nanoseconds per entry, each form).
#   bench/run.sh [BUILD_DIR]     (default build/linux-release)
set -euo pipefail
build=${1:-build/linux-release}
cmake --build "$build" --target bench_logs bench_report > /dev/null
logs=$build/bench/logs
reports=$(mktemp -d)
trap 'rm -rf "$reports"' EXIT

python3 - "$(realpath "$build/quenthar")" "$(realpath "$logs")" "$reports" <<'PY'
import os, statistics, subprocess, sys, time
tool, logs, reports = sys.argv[1:]
runs = 200

devnull = os.open(os.devnull, os.O_WRONLY)
os.chdir(reports)

def seconds(cmd):
    # posix_spawn and waitpid: far less of the start-up cost than subprocess's.
    start = time.perf_counter()
    pid = os.posix_spawnp(cmd[0], cmd, os.environ, file_actions=[(os.POSIX_SPAWN_DUP2, devnull, 1)])
    os.waitpid(pid, 0)
    return time.perf_counter() - start

print(f"{'log':14} {'report':>9} {'quenthar':>9} {'cat log':>9} {'cat report':>10} {'vs cat report':>13}"
      f" {'json':>9} {'--json':>9} {'cat json':>9} {'vs cat json':>11}")
for name in ("densest", "back_to_back", "u50_packed", "real_size"):
    log = os.path.abspath(os.path.join(logs, name + ".bin"))
    report = os.path.join(reports, name + ".txt")
    lines = os.path.join(reports, name + ".jsonl")
    for path, options in ((report, []), (lines, ["--json"])):
        with open(path, "wb") as f:
            subprocess.run([tool] + options + [log], stdout=f)
    commands = {"quenthar": [tool, log], "cat log": ["cat", log], "cat report": ["cat", report],
                "--json": [tool, "--json", log], "cat json": ["cat", lines]}
    times = {k: [] for k in commands}
    for _ in range(runs):
        for k, cmd in commands.items():
            times[k].append(seconds(cmd))
    median = {k: statistics.median(v) * 1000 for k, v in times.items()}
    print(f"{name:14} {os.path.getsize(report) / 1000:7.0f}kB {median['quenthar']:7.2f}ms "
          f"{median['cat log']:7.2f}ms {median['cat report']:8.2f}ms "
          f"{median['quenthar'] / median['cat report']:12.2f}x "
          f"{os.path.getsize(lines) / 1000:7.0f}kB {median['--json']:7.2f}ms "
          f"{median['cat json']:7.2f}ms {median['--json'] / median['cat json']:10.2f}x")
PY
if [ -x "$build/bench/bench_report" ]; then
  "$build/bench/bench_report"
fi
