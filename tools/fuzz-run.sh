#!/bin/sh
# Runs one fuzz program (built by `make fuzz`) for a while: tools/fuzz-run.sh <target> [seconds] [jobs]
# New inputs go to build/fuzz/corpus/<target> (started from the checked-in seeds); failing inputs
# to build/fuzz/artifacts/<target>/. Copy a failing input, once fixed, to fuzz/regressions/<target>/.
# Timeouts and crashes are recorded and the run goes on (fork mode), so one known fault does not
# end the run.
set -e
target=$1
seconds=${2:-300}
jobs=${3:-2}
root=$(cd "$(dirname "$0")/.." && pwd)
program=$root/build/fuzz/fuzz/fuzz_$target
[ -x "$program" ] || { echo "no $program: run make fuzz"; exit 1; }
corpus=$root/build/fuzz/corpus/$target
artifacts=$root/build/fuzz/artifacts/$target
mkdir -p "$corpus" "$artifacts"
cp -n "$root/fuzz/corpus/$target"/* "$corpus"/ 2>/dev/null || true
dict=$root/fuzz/dictionaries/$target.dict
[ -f "$dict" ] && dict_option=-dict=$dict || dict_option=
cd "$artifacts"
exec "$program" -fork="$jobs" -ignore_crashes=1 -ignore_timeouts=1 -ignore_ooms=1 \
  -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len="${FUZZ_MAX_LEN:-4096}" \
  -artifact_prefix="$artifacts/" $dict_option "$corpus"
