#!/usr/bin/env bash
# System calls of one copy, counted with strace: the program (default build/sk-backup) backs up
# and restores the sample game folder ("1 3 y x"), and each copy's calls are counted from the
# message before it to its report. Prints the calls of each copy, their mean, and strace -c's
# table of the whole session beside that of a session that only exits ("x").
#
#   bench/syscalls.sh [PROGRAM]
#   EXTRA_FILES=1500 bench/syscalls.sh [PROGRAM]
#
# EXTRA_FILES (default 0) adds that many engine files of 256 bytes to 4 KiB to System (Core.u,
# Engine.int, Texture0123.utx, ...), as in a real game folder, the same as bench/run.sh makes.
set -euo pipefail
cd "$(dirname "$0")/.."
exe=$(realpath "${1:-build/sk-backup}")
command -v strace >/dev/null || { echo "bench/syscalls.sh needs strace" >&2; exit 1; }
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cp -r demo/game "$dir/game"
awk -v dir="$dir/game/System" -v count="${EXTRA_FILES:-0}" -f bench/engine-files.awk
cd "$dir/game"
printf '1\n3\ny\nx\n' | strace -f -o ../session.log "$exe" >/dev/null 2>&1
printf '1\n3\ny\nx\n' | strace -f -c -o ../session.txt "$exe" >/dev/null 2>&1
printf 'x\n' | strace -f -c -o ../exit.txt "$exe" >/dev/null 2>&1
echo "program: $exe; $(ls System | wc -l) files in System"
# A copy's calls: after the write of its "Attempting to ..." message, up to and with its report.
awk '/write\(1, "(\\n)+Attempting to (back up|restore)/ { counting = 1; n = 0; next }
     counting { n++ }
     counting && /write\(1, "1 file copied/ { printf "copy %d: %d calls\n", ++copies, n; total += n; counting = 0 }
     END { if (copies) printf "per copy: %.1f calls (mean of %d copies)\n", total / copies, copies }' \
  ../session.log
echo "whole session \"1 3 y x\": $(awk '/total$/ { print $4 }' ../session.txt) calls;" \
  "start and exit alone (\"x\"): $(awk '/total$/ { print $4 }' ../exit.txt) calls;" \
  "getdents64 in the session: $(awk '$NF == "getdents64" { n = $4 } END { print n + 0 }' ../session.txt)"
cat ../session.txt
