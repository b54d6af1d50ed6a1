#!/usr/bin/env bash
# Every benchmark of sk-backup, run against the release build (built first), printing figures.
#
#   bench/run.sh
#
# Settings (environment): RUNS (timed runs of each session contestant, default 21), COPY_RUNS
# (of each copy contestant, default 9), BIG_MIB (size of the copied file, default 1024),
# WORD_MIB (length of the long word, default 1024), BENCH_DIR (scratch folder, default
# build/bench-run; it needs about twice BIG_MIB free, and the big files are removed at the end).
#
# 1. Session: the program in a game folder with settings files of 48, 24 and 16 KiB, fed
#    "1 3 y x" (back up all, restore all, confirm, exit), against a POSIX shell script (/bin/sh)
#    doing the same file work (mkdir -p, three cp out, three cp back) and against a statically linked
#    program that does nothing (the floor: the bare cost of starting a process); /bin/true, a
#    dynamically linked do-nothing, is shown beside it. Beside them: the shell script syncing
#    each copy and its folder as the program does, and the program linked with every fsync a
#    no-op (sk-bench-no-fsync, for this measurement only), and the yardstick: a static program
#    that makes the session's six durable replacements and nothing else (sk-bench-durable,
#    bench/durable.cpp), the least work the program's promise needs. Then the program's start
#    and exit alone. Runs interleaved, medians compared.
# 2. Peak memory (maximum resident set, GNU time's %M) of that session, and of a session fed
#    one word of WORD_MIB MiB with no blank, streamed from a pipe.
# 3. Copy throughput: the program backing up one file of BIG_MIB MiB (System/SkAux.ini, answers
#    "2 y n n x") against cp followed by sync of the copied file. Before every run of either the
#    target is removed and everything is synced; the source is in the page cache for both.
set -euo pipefail
cd "$(dirname "$0")/.."

runs=${RUNS:-21}
copy_runs=${COPY_RUNS:-9}
big_mib=${BIG_MIB:-1024}
word_mib=${WORD_MIB:-1024}
dir=${BENCH_DIR:-$PWD/build/bench-run}

if [[ ! -x /usr/bin/time ]]; then
  echo "bench/run.sh needs GNU time as /usr/bin/time (Debian: apt-get install time)" >&2
  exit 1
fi

cmake --preset release >/dev/null
cmake --build --preset release -j2 \
  --target sk-backup sk-bench-timer sk-bench-nothing sk-bench-durable sk-bench-no-fsync >/dev/null
exe=$PWD/build/sk-backup
timer=$PWD/build/bench/sk-bench-timer
nothing=$PWD/build/bench/sk-bench-nothing
durable=$PWD/build/bench/sk-bench-durable
no_fsync=$PWD/build/bench/sk-bench-no-fsync
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)

# An .ini file of exactly $2 KiB: sections of key=value lines, as an engine writes them.
make_ini() {
  awk -v name="$(basename "$1" .ini)" 'BEGIN {
    for (s = 0; s < 400; ++s) {
      printf "[%s.Section%d]\n", name, s
      for (k = 0; k < 24; ++k) printf "Setting%d=Value%d,%d,True\n", k, s * 31 + k, k * 7
      printf "\n"
    }
  }' >"$1"
  truncate -s $(($2 * 1024)) "$1"
}

echo "sk-backup benchmarks, $(date -u '+%Y-%m-%d %H:%M UTC'), $(uname -sr), $(nproc) cores," \
  "load $(cut -d' ' -f1-3 /proc/loadavg)"
if ldd "$exe" >/dev/null 2>&1; then
  echo "program: $exe (dynamically linked)"
else
  echo "program: $exe (statically linked)"
fi
echo "scratch folder: $dir ($(df -T "$dir" | awk 'NR == 2 { print $2 }'))"

# ---------------------------------------------------------------------------------------------
# 1. Session

game=$dir/game
rm -rf "$game"
mkdir -p "$game/System"
make_ini "$game/System/SkAux.ini" 48
make_ini "$game/System/SkulvaneUser.ini" 24
make_ini "$game/System/SkLoadouts.ini" 16
printf '1\n3\ny\nx\n' >"$dir/session.in"
cat >"$dir/copy.sh" <<'EOF'
mkdir -p Skulvane_Backups
cp System/SkAux.ini Skulvane_Backups/BACKUP_SkAux.ini
cp System/SkulvaneUser.ini Skulvane_Backups/BACKUP_SkulvaneUser.ini
cp System/SkLoadouts.ini Skulvane_Backups/BACKUP_SkLoadouts.ini
cp Skulvane_Backups/BACKUP_SkAux.ini System/SkAux.ini
cp Skulvane_Backups/BACKUP_SkulvaneUser.ini System/SkulvaneUser.ini
cp Skulvane_Backups/BACKUP_SkLoadouts.ini System/SkLoadouts.ini
EOF
# The same, each copy made durable as the program makes it (file, then its folder, synced).
awk '{ print } /^cp/ { print "sync " $3 " " substr($3, 1, index($3, "/") - 1) }' \
  "$dir/copy.sh" >"$dir/copy-sync.sh"

echo
echo "1. Session \"1 3 y x\", settings files of 48, 24 and 16 KiB, median of $runs interleaved runs"
"$timer" -n "$runs" -d "$game" -i "$dir/session.in" \
  program "$exe" :: shell /bin/sh "$dir/copy.sh" :: floor "$nothing" :: true /bin/true :: \
  shell+sync /bin/sh "$dir/copy-sync.sh" :: no-fsync "$no_fsync" :: durable "$durable" \
  >"$dir/session.txt"
echo "   contestant   median     (least, greatest)      processor time (median)"
awk '{ t[$1] = $2
    printf "   %-10s %7.3f ms  (%.3f, %.3f)  %7.3f ms\n", $1, $2 * 1e3, $3 * 1e3, $4 * 1e3, $5 * 1e3 }
  END {
    printf "   program / shell script  %5.2f   (target at most 0.35)\n", t["program"] / t["shell"]
    printf "   program / floor         %5.2f   (target at most 2)\n", t["program"] / t["floor"]
    printf "   program / durable yardstick  %5.2f   (target at most 1.25)\n", t["program"] / t["durable"]
    printf "   program / /bin/true     %5.2f\n", t["program"] / t["true"]
    printf "   program / shell script with sync  %5.2f\n", t["program"] / t["shell+sync"]
    printf "   program without fsync / floor  %5.2f\n", t["no-fsync"] / t["floor"]
    printf "   share of the fsyncs in the program'"'"'s time  %3.0f %%\n",
      100 * (t["program"] - t["no-fsync"]) / t["program"]
  }' "$dir/session.txt"

printf 'x\n' >"$dir/exit.in"
echo
echo "   Start and exit alone (fed \"x\"), median of $runs interleaved runs"
"$timer" -n "$runs" -d "$game" -i "$dir/exit.in" \
  program "$exe" :: floor "$nothing" :: true /bin/true >"$dir/exit.txt"
awk '{ t[$1] = $2
    printf "   %-10s %7.3f ms  (%.3f, %.3f)  %7.3f ms\n", $1, $2 * 1e3, $3 * 1e3, $4 * 1e3, $5 * 1e3 }
  END { printf "   program / floor         %5.2f\n", t["program"] / t["floor"] }' "$dir/exit.txt"

# ---------------------------------------------------------------------------------------------
# 2. Peak memory

# The largest maximum resident set, in KiB, of five runs of the command given.
peak() {
  local most=0 kib
  for _ in 1 2 3 4 5; do
    "$@"
    kib=$(cat "$dir/rss")
    ((kib > most)) && most=$kib
  done
  echo "$most"
}
session_rss() {
  (cd "$game" && /usr/bin/time -f %M -o "$dir/rss" "$exe" <"$dir/session.in" >/dev/null 2>&1)
}
word_rss() {
  head -c $((word_mib << 20)) /dev/zero | tr '\0' w |
    (cd "$game" && /usr/bin/time -f %M -o "$dir/rss" "$exe" >/dev/null 2>&1)
}
floor_rss() {
  /usr/bin/time -f %M -o "$dir/rss" "$nothing"
}

echo
echo "2. Peak memory (maximum resident set, largest of 5 runs; target at most 2048 KiB)"
echo "   session \"1 3 y x\"           $(peak session_rss) KiB"
echo "   session fed a $word_mib MiB word  $(peak word_rss) KiB"
echo "   floor                        $(peak floor_rss) KiB"

# ---------------------------------------------------------------------------------------------
# 3. Copy throughput

big=$dir/big
source=$big/System/SkAux.ini
mkdir -p "$big/System" "$big/Skulvane_Backups"
if [[ "$(stat -c %s "$source" 2>/dev/null)" != $((big_mib << 20)) ]]; then
  make_ini "$big/line.ini" 4
  head -c $((big_mib << 20)) < <(yes "$(cat "$big/line.ini")") >"$source"
  rm -f "$big/line.ini"
fi
cat "$source" >/dev/null # in the page cache, alike for both contestants
printf '2\ny\nn\nn\nx\n' >"$dir/copy.in"

echo
echo "3. Copy of a $big_mib MiB file, data on disk at the end, median of $copy_runs interleaved runs"
"$timer" -n "$copy_runs" -d "$big" -i "$dir/copy.in" \
  -p 'rm -f Skulvane_Backups/BACKUP_SkAux.ini Skulvane_Backups/.sk-backup-*; sync' \
  program "$exe" :: \
  cp+sync /bin/sh -c \
  'cp System/SkAux.ini Skulvane_Backups/BACKUP_SkAux.ini && sync Skulvane_Backups/BACKUP_SkAux.ini' \
  >"$dir/copy.txt"
cmp "$source" "$big/Skulvane_Backups/BACKUP_SkAux.ini"
echo "   contestant  median     throughput     (least, greatest)"
awk -v mib="$big_mib" '{ t[$1] = $2
    printf "   %-8s %8.3f s  %7.1f MiB/s  (%.3f s, %.3f s)\n", $1, $2, mib / $2, $3, $4 }
  END { printf "   program / cp+sync throughput  %5.2f   (target at least 0.8)\n", t["cp+sync"] / t["program"] }' \
  "$dir/copy.txt"
rm -rf "$big"

echo
echo "load at the end $(cut -d' ' -f1-3 /proc/loadavg)"
