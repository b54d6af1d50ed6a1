#!/usr/bin/env bash
# Every benchmark of sk-backup, run against the release build (built first), printing figures.
#
#   bench/run.sh
#   SECTIONS=1 RUNS=31 bench/run.sh       # the sessions alone, without the 1 GiB copy
#
# Settings (environment): SECTIONS (the sections to run, numbers separated by blanks or commas,
# default "1 2 3"), RUNS (timed runs of each session contestant, default 21), COPY_RUNS (of each
# copy contestant, default 9), BIG_MIB (size of the copied file, default 1024), WORD_MIB (length
# of the long word, default 1024), ENGINE_FILES (engine files in the real-sized game folder,
# default 1500), BUILD_DIR (the build tree, default build; configured with the release preset
# when it holds no build yet, else only built, so it may be the tree of another checkout),
# PROGRAM (the sk-backup measured, default BUILD_DIR/sk-backup; the helpers, sk-bench-no-fsync
# among them, still come from BUILD_DIR), BENCH_DIR (scratch folder, default
# BUILD_DIR/bench-run; it needs about twice BIG_MIB free, and the big files are removed at the end).
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
#    and exit alone. Then the same session in a game folder as real ones are: System holding
#    ENGINE_FILES engine files of 256 bytes to 4 KiB (Core.u, Engine.int, Texture0123.utx, ...)
#    besides the three settings files, the program against the yardstick and against itself
#    without fsync. Runs interleaved, medians compared; the program / yardstick ratio is given
#    for both folders.
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
engine_files=${ENGINE_FILES:-1500}
sections=" ${SECTIONS:-1 2 3} "
sections=${sections//,/ }
build=${BUILD_DIR:-build}
mkdir -p "$build"
build=$(cd "$build" && pwd)
dir=${BENCH_DIR:-$build/bench-run}

# Whether section $1 is to be run.
wanted() { [[ "$sections" == *" $1 "* ]]; }

if [[ ! -x /usr/bin/time ]]; then
  echo "bench/run.sh needs GNU time as /usr/bin/time (Debian: apt-get install time)" >&2
  exit 1
fi

# A tree already configured is only built: it may belong to another checkout.
if [[ ! -f "$build/CMakeCache.txt" ]]; then
  cmake --preset release -B "$build" >/dev/null
fi
cmake --build "$build" \
  --target sk-backup sk-bench-timer sk-bench-nothing sk-bench-durable sk-bench-no-fsync >/dev/null
exe=$(realpath "${PROGRAM:-$build/sk-backup}")
timer=$build/bench/sk-bench-timer
nothing=$build/bench/sk-bench-nothing
durable=$build/bench/sk-bench-durable
no_fsync=$build/bench/sk-bench-no-fsync
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

# Each contestant of the timer's output $1 (median, least, greatest, processor time), then the
# awk statements $2 on the medians t[name].
contestants() {
  awk '{ t[$1] = $2
    printf "   %-10s %7.3f ms  (%.3f, %.3f)  %7.3f ms\n", $1, $2 * 1e3, $3 * 1e3, $4 * 1e3, $5 * 1e3 }
  END { '"$2"' }' "$1"
}

# $2 engine files in the folder $1 (bench/engine-files.awk).
make_engine_files() {
  awk -v dir="$1" -v count="$2" -f bench/engine-files.awk
}

echo "sk-backup benchmarks, $(date -u '+%Y-%m-%d %H:%M UTC'), $(uname -sr), $(nproc) cores," \
  "load $(cut -d' ' -f1-3 /proc/loadavg)"
if ldd "$exe" >/dev/null 2>&1; then
  echo "program: $exe (dynamically linked)"
else
  echo "program: $exe (statically linked)"
fi
echo "scratch folder: $dir ($(df -T "$dir" | awk 'NR == 2 { print $2 }'))"

# The game folders: the small one (the three settings files alone) and the real-sized one.
game=$dir/game
real=$dir/game-real
rm -rf "$game" "$real"
mkdir -p "$game/System" "$real/System"
make_ini "$game/System/SkAux.ini" 48
make_ini "$game/System/SkulvaneUser.ini" 24
make_ini "$game/System/SkLoadouts.ini" 16
cp "$game"/System/*.ini "$real/System/"
make_engine_files "$real/System" "$engine_files"
printf '1\n3\ny\nx\n' >"$dir/session.in"

# ---------------------------------------------------------------------------------------------
# 1. Session

if wanted 1; then
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
contestants "$dir/session.txt" '
    printf "   program / shell script  %5.2f   (target at most 0.35)\n", t["program"] / t["shell"]
    printf "   program / floor         %5.2f   (target at most 2)\n", t["program"] / t["floor"]
    printf "   program / durable yardstick  %5.2f   (target at most 1.10)\n", t["program"] / t["durable"]
    printf "   program / /bin/true     %5.2f\n", t["program"] / t["true"]
    printf "   program / shell script with sync  %5.2f\n", t["program"] / t["shell+sync"]
    printf "   program without fsync / floor  %5.2f\n", t["no-fsync"] / t["floor"]
    printf "   share of the fsyncs in the program'"'"'s time  %3.0f %%\n",
      100 * (t["program"] - t["no-fsync"]) / t["program"]'


printf 'x\n' >"$dir/exit.in"
echo
echo "   Start and exit alone (fed \"x\"), median of $runs interleaved runs"
"$timer" -n "$runs" -d "$game" -i "$dir/exit.in" \
  program "$exe" :: floor "$nothing" :: true /bin/true >"$dir/exit.txt"
contestants "$dir/exit.txt" 'printf "   program / floor         %5.2f\n", t["program"] / t["floor"]'


echo
echo "   Session \"1 3 y x\" in a real-sized game folder ($(ls "$real/System" | wc -l) files in System)," \
  "median of $runs interleaved runs"
"$timer" -n "$runs" -d "$real" -i "$dir/session.in" \
  program "$exe" :: no-fsync "$no_fsync" :: durable "$durable" >"$dir/session-real.txt"
echo "   contestant   median     (least, greatest)      processor time (median)"
contestants "$dir/session-real.txt" '
    printf "   program / durable yardstick  %5.2f   (target at most 1.10)\n", t["program"] / t["durable"]
    printf "   program without fsync / durable yardstick  %5.2f\n", t["no-fsync"] / t["durable"]'


echo
echo "   program / durable yardstick, both folders (medians):"
awk '$1 == "program" || $1 == "durable" { t[FILENAME, $1] = $2 }
  END {
    label[1] = "small"; label[2] = "real-sized"
    for (i = 1; i <= 2; ++i)
      printf "   %-10s folder  %7.3f ms / %7.3f ms = %5.2f\n", label[i], t[ARGV[i], "program"] * 1e3,
        t[ARGV[i], "durable"] * 1e3, t[ARGV[i], "program"] / t[ARGV[i], "durable"]
  }' "$dir/session.txt" "$dir/session-real.txt"
fi

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

if wanted 2; then
echo
echo "2. Peak memory (maximum resident set, largest of 5 runs; target at most 2048 KiB)"
echo "   session \"1 3 y x\"           $(peak session_rss) KiB"
echo "   session fed a $word_mib MiB word  $(peak word_rss) KiB"
echo "   floor                        $(peak floor_rss) KiB"
fi

# ---------------------------------------------------------------------------------------------
# 3. Copy throughput

if wanted 3; then
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
fi

echo
echo "load at the end $(cut -d' ' -f1-3 /proc/loadavg)"
