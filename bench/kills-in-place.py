#!/usr/bin/env python3
"""Kills a restore in place at random moments and counts what the live file holds afterwards.

    sudo bench/kills-in-place.py FOLDER [PROGRAM] [TRIALS] [UID]

In FOLDER (on the file system to measure) a game folder is made whose System belongs to root
while its 32 MiB SkAux.ini and the backup folder belong to UID (default 1001), so that a restore
run as that user must write in place. Each trial puts the old bytes back, starts PROGRAM
(default build/sk-backup) as UID with "4 y n n x", and sends SIGKILL after a random share of the
time a whole run takes. Prints how many trials left the old file, the new one, or a damaged one,
and of the damaged ones how many left the old bytes in a recovery copy beside the backup.
Needs root (to hand the files to UID) and setpriv.
"""
import glob
import os
import random
import shutil
import signal
import subprocess
import sys
import time

folder = sys.argv[1]
program = os.path.abspath(sys.argv[2] if len(sys.argv) > 2 else "build/sk-backup")
trials = int(sys.argv[3]) if len(sys.argv) > 3 else 150
uid = int(sys.argv[4]) if len(sys.argv) > 4 else 1001

game = os.path.join(folder, "sk-kills-in-place")
shutil.rmtree(game, ignore_errors=True)
os.makedirs(game + "/System")
os.makedirs(game + "/Skulvane_Backups")
size = 32 << 20
old = (b"o" * 4095 + b"\n") * (size // 4096)
new = (b"N" * 4095 + b"\n") * (size // 4096)
with open(game + "/Skulvane_Backups/BACKUP_SkAux.ini", "wb") as backup:
    backup.write(new)
live = game + "/System/SkAux.ini"
os.chown(game + "/Skulvane_Backups", uid, uid)
kept_glob = game + "/Skulvane_Backups/SkAux.ini.sk-backup-old-*"


def reset():
    with open(live, "wb") as file:
        file.write(old)
    os.chown(live, uid, uid)


command = ["setpriv", f"--reuid={uid}", f"--regid={uid}", "--clear-groups", program]
reset()
started = time.monotonic()
subprocess.run(command, input=b"4 y n n x\n", cwd=game, capture_output=True)
whole = time.monotonic() - started
counts = {"old": 0, "new": 0, "damaged": 0, "kept": 0}
for _ in range(trials):
    reset()
    run = subprocess.Popen(command, stdin=subprocess.PIPE, cwd=game,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    run.stdin.write(b"4 y n n x\n")
    run.stdin.close()
    time.sleep(random.uniform(0, whole))
    run.send_signal(signal.SIGKILL)
    run.wait()
    with open(live, "rb") as file:
        held = file.read()
    counts["old" if held == old else "new" if held == new else "damaged"] += 1
    for kept in glob.glob(kept_glob):
        with open(kept, "rb") as file:
            counts["kept"] += held not in (old, new) and file.read() == old
        os.remove(kept)
print(f"{folder}: a whole run {whole * 1000:.0f} ms; {trials} SIGKILLs during a restore in place:"
      f" {counts['old']} old, {counts['new']} new, {counts['damaged']} damaged"
      f" ({counts['kept']} of them with the old bytes in a recovery copy)")
shutil.rmtree(game)
