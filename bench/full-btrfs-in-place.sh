#!/usr/bin/env bash
# A restore in place on a full btrfs volume, or one over its quota, read back after a remount.
#
#   sudo bench/full-btrfs-in-place.sh [PROGRAM] [RUNS] [UID]
#
# Makes a 128 MiB btrfs image (PREFIX.img, mounted on PREFIX; PREFIX is an environment setting,
# default /tmp/sk-full-btrfs) holding a
# game folder whose System belongs to root while its 16 MiB SkAux.ini and the backup folder
# belong to UID (default 65534), so that a restore run as that user must write in place. Each
# run, twice: the volume filled to the last block, then a quota (btrfs qgroup) 4 MiB above what
# is used; PROGRAM (default build/sk-backup) restores a 16 MiB backup with "4 y n n x"; the
# volume is unmounted and mounted again, and the file read back. Prints per run what the file
# holds (old, new or damaged), whether a recovery copy holds its old bytes, and the report.
set -euo pipefail
program=$(realpath "${1:-build/sk-backup}")
runs=${2:-6}
uid=${3:-65534}
prefix=${PREFIX:-/tmp/sk-full-btrfs}
image=$prefix.img
volume=$prefix
state=$prefix-state
game=$volume/game
truncate -s 128M "$image"
mkfs.btrfs -q -f "$image" >/dev/null
mkdir -p "$volume" "$state"
mount -o loop "$image" "$volume"
trap 'cd /; umount "$volume"; rmdir "$volume"; rm -rf "$image" "$state"' EXIT
chmod 755 "$volume"
chown "$uid:$uid" "$state"

content() { python3 -c "import sys; sys.stdout.buffer.write((b'$1' * 4095 + b'\n') * 4096)"; }

for ((run = 1; run <= runs; ++run)); do
  for limit in full quota; do
    rm -rf "$game" "$volume"/filler*
    mkdir -p "$game/System" "$game/Skulvane_Backups"
    content o >"$game/System/SkAux.ini"
    content N >"$game/Skulvane_Backups/BACKUP_SkAux.ini"
    chown "$uid:$uid" "$game/System/SkAux.ini" "$game/Skulvane_Backups" "$game"/Skulvane_Backups/*
    sync
    if [[ $limit == quota ]]; then
      btrfs quota enable "$volume"
      btrfs quota rescan -w "$volume" >/dev/null
      used=$(btrfs qgroup show --raw "$volume" | awk '$1 == "0/5" { print $2 }')
      btrfs qgroup limit $((used + (4 << 20))) "$volume"
    else
      dd if=/dev/zero of="$volume/filler1M" bs=1M status=none 2>/dev/null || true
      dd if=/dev/zero of="$volume/filler4k" bs=4k status=none 2>/dev/null || true
      sync
    fi
    report=$(cd "$game" && printf '4 y n n x\n' |
      XDG_STATE_HOME=$state setpriv --reuid="$uid" --regid="$uid" --clear-groups "$program" 2>&1 >/dev/null) || true
    umount "$volume"
    mount -o loop "$image" "$volume"
    held=$(cmp -s "$game/System/SkAux.ini" <(content o) && echo old ||
      (cmp -s "$game/System/SkAux.ini" <(content N) && echo new || echo damaged))
    kept=none
    for copy in "$game"/Skulvane_Backups/*.sk-backup-old-* "$state"/sk-backup/*; do
      [[ -e $copy ]] && kept=$(cmp -s "$copy" <(content o) && echo "the old bytes" || echo other)
    done
    rm -rf "${state:?}"/sk-backup
    echo "$limit, run $run: $held; recovery copy: $kept; ${report:-no report}"
    if [[ $limit == quota ]]; then
      btrfs qgroup limit none "$volume"
      btrfs quota disable "$volume"
    fi
  done
done
