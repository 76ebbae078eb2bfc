#!/usr/bin/env bash
# Measures the indexer end to end over a generated tree of tool logs:
#   1. writes the tree (>= 1 GB in thousands of files) unless it exists,
#   2. times cat of the same files to /dev/null with a warm page cache,
#   3. first full indexes into a fresh ledger (the best of three), then
#      three more while a second thread calls the store as the main thread
#      does (the longest time one call took is what a window would freeze
#      for),
#   4. a second full run with nothing new (and, with strace, checks that it
#      opened no log file),
#   5. a change run over one file with one appended line.
#
#   bench/run-index-bench.sh [BUILD_DIR [WORK_DIR]]
#
# BUILD_DIR holds a Release build (default: build-release beside this
# script's folder, which `make bench` builds); WORK_DIR receives the tree
# and the ledger (default: a new folder under /tmp). BYTES and SEED set
# the tree's size and seed.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build-release}
work=${2:-$(mktemp -d /tmp/tokvane-index-bench.XXXXXX)}
bytes=${BYTES:-1100000000}
seed=${SEED:-1}
generate=$build/bench/tokvane-generate-log-tree
bench=$build/bench/tokvane-index-bench
mkdir -p "$work"
home=$work/home
store=$work/usage.sqlite

for program in "$generate" "$bench"; do
  [ -x "$program" ] || { echo "missing $program: build the targets tokvane-index-bench and tokvane-generate-log-tree" >&2; exit 1; }
done

field() { sed -E "s/.*\"$1\":([0-9.]+).*/\1/"; }
now_ns() { date +%s%N; }
load() { cut -d' ' -f1-3 /proc/loadavg; }
ms() { awk -v s="$1" 'BEGIN { printf "%.1f", s * 1000 }'; }
# Whether the number $1 is less than the number $2.
below() { awk -v a="$1" -v b="$2" 'BEGIN { exit !(a < b) }'; }

echo "load average at start: $(load)"
if [ ! -d "$home" ]; then
  echo "writing the log tree under $home ..."
  "$generate" --home "$home" --bytes "$bytes" --seed "$seed" > "$work/tree.json"
  cat "$work/tree.json"
fi

# The candidate log files, as the indexer selects them.
{
  find "$home/.claude/projects" "$home/.codex/sessions" "$home/.codex/archived_sessions" \
    -name '.*' -prune -o -type f -name '*.jsonl' -print0 2>/dev/null
  find "$home/.grok/sessions" -name '.*' -prune -o -type f -name usage.json -print0 2>/dev/null
} > "$work/files.list"
files=$(tr -cd '\0' < "$work/files.list" | wc -c)
total=$(xargs -0 cat < "$work/files.list" | wc -c)
echo "tree: $files log files, $total bytes"

# cat with a warm page cache: the best of three after one warming pass.
xargs -0 cat < "$work/files.list" > /dev/null
best=""
for _ in 1 2 3; do
  start=$(now_ns)
  xargs -0 cat < "$work/files.list" > /dev/null
  elapsed=$(( $(now_ns) - start ))
  if [ -z "$best" ] || [ "$elapsed" -lt "$best" ]; then best=$elapsed; fi
done
cat_s=$(awk -v n="$best" 'BEGIN { printf "%.3f", n / 1e9 }')
echo "cat of the same files (warm cache, best of 3): ${cat_s} s"

echo
# Timed as cat is, the best of three (each into a fresh ledger); the peak
# memory is the largest of the three.
echo "first full index (fresh ledger, best of 3), load $(load):"
first_s=""
first_rss=0
for _ in 1 2 3; do
  rm -f "$store" "$store-wal" "$store-shm"
  run=$("$bench" --home "$home" --store "$store")
  echo "  $run"
  s=$(echo "$run" | field seconds)
  rss=$(echo "$run" | field peakRSSKiB)
  if [ "$rss" -gt "$first_rss" ]; then first_rss=$rss; fi
  if [ -z "$first_s" ] || below "$s" "$first_s"; then first_s=$s; first=$run; fi
done

# The longest wait is the longest of three runs.
echo "first full index again (fresh ledger), the store called from another thread meanwhile, 3 runs, load $(load):"
probe_store=$work/probe.sqlite
probe_longest=""
probe_p99=""
probe_calls=0
for _ in 1 2 3; do
  rm -f "$probe_store" "$probe_store-wal" "$probe_store-shm"
  run=$("$bench" --home "$home" --store "$probe_store" --probe-store)
  echo "  $run"
  longest=$(echo "$run" | field longestStoreCallMs)
  p99=$(echo "$run" | field p99StoreCallMs)
  probe_calls=$((probe_calls + $(echo "$run" | field storeCalls)))
  if [ -z "$probe_longest" ] || below "$probe_longest" "$longest"; then probe_longest=$longest; fi
  if [ -z "$probe_p99" ] || below "$probe_p99" "$p99"; then probe_p99=$p99; fi
done
rm -f "$probe_store" "$probe_store-wal" "$probe_store-shm"

echo "second full run, nothing new, load $(load):"
second_best=""
for _ in 1 2 3; do
  second=$("$bench" --home "$home" --store "$store")
  echo "  $second"
  s=$(echo "$second" | field seconds)
  if [ -z "$second_best" ] || below "$s" "$second_best"; then second_best=$s; fi
done
opened="(strace not installed)"
if command -v strace > /dev/null; then
  strace -f -qq -e trace=open,openat -o "$work/strace.log" "$bench" --home "$home" --store "$store" > /dev/null
  opened=$(grep -cE '\.jsonl"|/usage\.json"' "$work/strace.log" || true)
fi
echo "  log files opened by a run with nothing new: $opened"

echo "one appended line, change run over that file, load $(load):"
target=$(tr '\0' '\n' < "$work/files.list" | grep -m 1 '/.claude/projects/' || true)
append_times=()
for i in 1 2 3 4 5; do
  id="msg_bench_$(date +%s%N)_$i"
  printf '{"parentUuid":null,"isSidechain":false,"type":"assistant","sessionId":"bench","timestamp":"2025-12-31T12:00:0%d.000Z","message":{"id":"%s","type":"message","role":"assistant","model":"claude-sonnet-4-5-20250929","content":[{"type":"text","text":"ok"}],"usage":{"input_tokens":12,"cache_read_input_tokens":4000,"output_tokens":34}},"requestId":"req_%s"}\n' \
    "$i" "$id" "$id" >> "$target"
  changed=$("$bench" --home "$home" --store "$store" --changed "$target")
  echo "  $changed"
  append_times+=("$(echo "$changed" | field seconds)")
done
sorted=$(printf '%s\n' "${append_times[@]}" | sort -g)
append_best=$(echo "$sorted" | head -n 1)
append_median=$(echo "$sorted" | sed -n 3p)

echo
echo "summary (load average now: $(load))"
echo "  tree                      : $files files, $total bytes"
echo "  cat, warm cache           : ${cat_s} s"
echo "  first full index          : ${first_s} s (best of 3) = $(awk -v a="$first_s" -v b="$cat_s" 'BEGIN { printf "%.2f", a / b }') x cat," \
  "$(echo "$first" | field newEvents) events, peak RSS ${first_rss} KiB (largest of 3)"
echo "  store call during an index: ${probe_longest} ms longest, ${probe_p99} ms 99th percentile (worst of 3 runs)," \
  "of ${probe_calls} calls"
echo "  second run, nothing new   : $(ms "$second_best") ms (best of 3), log files opened: $opened"
echo "  one appended line         : $(ms "$append_best") ms best, $(ms "$append_median") ms median of 5"
echo "  work folder               : $work"
