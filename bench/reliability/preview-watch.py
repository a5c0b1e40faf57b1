#!/usr/bin/env python3
"""One case of the preview's file watching and reloads, for bench/reliability.sh.

    preview-watch.py CASE PREVIEW_BINARY WORK_DIR

Makes a demo folder in WORK_DIR, starts the preview on it (paused, under whatever limits the
caller set), does what the case says to the demo's files and prints one line on stderr,
"preview watch: met: ..." or "preview watch: NOT met: ...", with the figures. Exit status 0 when
the case ran (met or not), 1 when the preview died or a step did not come within its time.
Cases:
  loop        data/ holds l1 -> .. and l2 -> ..: the first frame within 5 s of the start
  overflow    the preview stopped (SIGSTOP) while more file events come than the system queues
              and the script is saved: the save shows by itself once it runs again
  recreated   data/ deleted and made again with another script: that script shows by itself
  memory      ten saves alternating between a script naming 500 other 256 x 256 pictures each
              time and a one-picture script: the RSS after them within 10 % of the first
  failed      a save naming 500 new pictures whose last one the upload refuses (16 bits a
              channel): the failed reload gives back what it loaded (RSS within 10 % of before)
"""
import os
import signal
import struct
import subprocess
import sys
import time
import zlib

CASE, PREVIEW, WORK = sys.argv[1], sys.argv[2], sys.argv[3]
DEMO = os.path.join(WORK, "demo")
DATA = os.path.join(DEMO, "data")
SCRIPT = os.path.join(DATA, "scripts", "demo.scr")
LOG = os.path.join(WORK, "preview.log")
STEP_SECONDS = 120


def say(text, code=0):
    print("preview watch: " + text, file=sys.stderr)
    sys.exit(code)


def png(path, side, depth=8):
    """An RGB picture of side x side, a gradient (8 or 16 bits a channel)."""
    row_bytes = []
    for y in range(side):
        if depth == 8:
            row = bytes((x * 3 + y + c * 40) & 255 for x in range(side) for c in range(3))
        else:
            row = b"".join(struct.pack(">H", ((x + y) * 256) & 0xFFFF) for x in range(side) for _ in range(3))
        row_bytes.append(b"\x00" + row)

    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF)

    with open(path, "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n")
        out.write(chunk(b"IHDR", struct.pack(">IIBBBBB", side, side, depth, 2, 0, 0, 0)))
        out.write(chunk(b"IDAT", zlib.compress(b"".join(row_bytes), 1)))
        out.write(chunk(b"IEND", b""))


def clear_script(red):
    return ("__HEADER__\nDEMO_START 0\nDEMO_END 200000\n__DEFS__\nINSERT_EFFECT Clear\n__TIMELINE__\n"
            "0 BEGIN Clear\n0 SIGNAL Clear Red %s\n" % red)


def picture_script(names):
    """Image1 shows the first picture; each of the others comes with a signal, loaded with the script."""
    lines = ["__HEADER__", "DEMO_START 0", "DEMO_END 200000", "__DEFS__", "DEFINE PICTURE 26", "INSERT_EFFECT Image1",
             "__SETUP__",
             '0 SIGNAL Image1 Datafile "%s"' % names[0], "__TIMELINE__", "0 BEGIN Image1"]
    lines += ['%d TRIGGER Image1 PICTURE "%s"' % (100000 + i, name) for i, name in enumerate(names[1:])]
    return "\n".join(lines) + "\n"


def save(path, text):
    """As an editor saves: a new file renamed over the old one."""
    with open(path + ".new", "w") as out:
        out.write(text)
    os.rename(path + ".new", path)


def log():
    with open(LOG, errors="replace") as f:
        return f.read()


def wait_for(preview, part, count=1, seconds=STEP_SECONDS):
    end = time.time() + seconds
    while time.time() < end:
        if log().count(part) >= count:
            return
        if preview.poll() is not None:
            say("the preview ended (exit %s) waiting for '%s': %s" % (preview.returncode, part, log()[-300:]), 1)
        time.sleep(0.02)
    say("no '%s' within %d s" % (part, seconds), 1)


def rss_mb(preview):
    with open("/proc/%d/status" % preview.pid) as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) / 1024.0
    return 0.0


def settled_rss(preview):
    """The RSS once the reload's work has settled (the lowest of a few looks a moment apart)."""
    time.sleep(0.5)
    return min(rss_mb(preview) for _ in range(5) if time.sleep(0.1) is None)


os.makedirs(os.path.join(DATA, "scripts"))
os.makedirs(os.path.join(DATA, "images"))
picture = os.path.join(DATA, "images", "p.png")
if CASE in ("memory", "failed"):
    png(picture, 256)
    save(SCRIPT, picture_script(["data/images/p.png"]))
else:
    save(SCRIPT, clear_script("1"))
if CASE == "loop":
    os.symlink("..", os.path.join(DATA, "l1"))
    os.symlink("..", os.path.join(DATA, "l2"))

env = dict(os.environ, HOLDFAST_UNATTENDED="1", SDL_AUDIODRIVER="dummy")
started = time.time()
with open(LOG, "w") as err:
    preview = subprocess.Popen([PREVIEW, "--data", DEMO, "--paused"], stderr=err, stdout=subprocess.DEVNULL, env=env)
try:
    wait_for(preview, "jump to")
    first_frame = time.time() - started
    if CASE == "loop":
        wait_for(preview, "links make a loop", seconds=5)
        said = log().count("links make a loop")
        # The same demo without the links, for what the start costs anyway.
        preview.terminate()
        preview.wait(10)
        os.remove(os.path.join(DATA, "l1"))
        os.remove(os.path.join(DATA, "l2"))
        started = time.time()
        with open(LOG, "w") as err:
            preview = subprocess.Popen([PREVIEW, "--data", DEMO, "--paused"], stderr=err, stdout=subprocess.DEVNULL,
                                       env=env)
        wait_for(preview, "jump to")
        plain = time.time() - started
        verdict = "met" if first_frame <= 5 and said == 1 else "NOT met"
        say("%s: first frame %.2f s after the start (%.2f s without the links), the loop said %d time(s)" %
            (verdict, first_frame, plain, said))

    if CASE == "overflow":
        queue = int(open("/proc/sys/fs/inotify/max_queued_events").read())
        os.kill(preview.pid, signal.SIGSTOP)
        for i in range(queue + 1):  # each open for writing and close is one event
            os.close(os.open(os.path.join(DATA, "ab"[i % 2]), os.O_WRONLY | os.O_CREAT, 0o644))
        save(SCRIPT, clear_script("0.5"))
        resumed = time.time()
        os.kill(preview.pid, signal.SIGCONT)
        wait_for(preview, "the edit shows")
        lost = "the system dropped file events" in log()
        say("%s: %d events while stopped; the save showed %.2f s after it ran again%s" %
            ("met" if lost else "NOT met", queue + 1, time.time() - resumed,
             "" if lost else " (the loss was not seen)"))

    if CASE == "recreated":
        subprocess.run(["rm", "-rf", DATA], check=True)
        wait_for(preview, "data is gone")
        os.makedirs(os.path.join(DATA, "scripts"))
        save(SCRIPT, clear_script("0.5"))
        made = time.time()
        wait_for(preview, "data is back and watched again")
        wait_for(preview, "the edit shows")
        say("met: the new script showed %.2f s after it was saved" %
            (time.time() - made))

    first = settled_rss(preview)
    if CASE == "memory":
        figures = []
        for save_number in range(10):
            if save_number % 2 == 0:
                names = []
                for i in range(500):
                    name = "data/images/s%d_%03d.png" % (save_number, i)
                    os.link(picture, os.path.join(DEMO, name))
                    names.append(name)
                save(SCRIPT, picture_script(names))
            else:
                save(SCRIPT, picture_script(["data/images/p.png"]))
            wait_for(preview, "the edit shows", save_number + 1)
            figures.append(settled_rss(preview))
        # A fresh start on the ninth save's script, for the RSS a reload should come near.
        preview.terminate()
        preview.wait(10)
        save(SCRIPT, picture_script(names))
        with open(LOG, "w") as err:
            preview = subprocess.Popen([PREVIEW, "--data", DEMO, "--paused"], stderr=err, stdout=subprocess.DEVNULL,
                                       env=env)
        wait_for(preview, "jump to")
        fresh = settled_rss(preview)
        last = figures[-1]
        verdict = "met" if last <= first * 1.1 and figures[8] <= fresh * 1.1 else "NOT met"
        heavy = figures[0::2]
        say("%s: RSS %.0f MB, after the tenth save %.0f MB (%+.0f %%); %.0f-%.0f MB with 500 (fresh start: %.0f MB)" %
            (verdict, first, last, (last / first - 1) * 100, min(heavy), max(heavy), fresh))

    if CASE == "failed":
        names = []
        for i in range(499):
            name = "data/images/f_%03d.png" % i
            os.link(picture, os.path.join(DEMO, name))
            names.append(name)
        png(os.path.join(DATA, "images", "wide.png"), 16, 16)
        names.append("data/images/wide.png")
        save(SCRIPT, picture_script(names))
        wait_for(preview, "the demo keeps running as it was")
        after = settled_rss(preview)
        verdict = "met" if after <= first * 1.1 else "NOT met"
        say("%s: RSS %.0f MB before, %.0f MB after the failed reload (%+.0f %%)" %
            (verdict, first, after, (after / first - 1) * 100))
    say("unknown case " + CASE, 1)
finally:
    if preview.poll() is None:
        preview.send_signal(signal.SIGCONT)
        preview.terminate()
        try:
            preview.wait(10)
        except subprocess.TimeoutExpired:
            preview.kill()
