#!/usr/bin/env python3
"""holdfast-preview --rocket against a hostile or careless editor, for bench/reliability.sh.

    rocket-hostile.py BIN_DIR DEMO_DIR CASE

DEMO_DIR is a demo folder (holdfast-makedemo's); each case works on a copy of it. CASE is one of
  flood           the editor sends 10 000 000 keys on falling rows of one track, connecting again
                  whenever the preview closes the connection (at most 150 s); before it, 15 s with an
                  editor that sends nothing, for the machine's own frame rate and memory; both play
                  from the demo's start
  row-past-end    DEMO_LENGTH 2147483647; the editor moves its cursor to row 0xFFFFFFFF
  row-far         DEMO_LENGTH 2147483647; the editor moves its cursor to the row of 2147483000 ms,
                  inside the demo: a replay of 2^31 ms; the preview is asked to end 10 s later
  read-only-save  the script is read-only (0444); the editor sets a key and asks for a save
The preview plays from 60 s but for the flood (HOLDFAST_STATS=1) and is ended with SIGTERM. One line goes to stderr,
starting "rocket-hostile:", with what the preview said and the figures: its peak memory (VmHWM),
frames per second, the longest time without a frame, how long it took to end. Exit 0 when the
preview survived (the figures say whether the goals were met), 3 when it crashed.
"""
import os
import re
import shutil
import signal
import socket
import stat
import struct
import subprocess
import sys
import tempfile
import threading
import time

BIN, SOURCE, CASE = sys.argv[1], sys.argv[2], sys.argv[3]
KEYS = 10_000_000
# The flood plays from the start, where the bundled demo is light enough for llvmpipe to draw 60 fps
# on a small machine: what the keys cost shows in the frame rate, not the heavier sections' cost.
FLOOD_AT = 0


class Editor:
    """Accepts demos one after another and greets each; `work(conn)` runs per connection."""

    def __init__(self, work):
        self.server = socket.socket()
        self.server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.server.bind(("127.0.0.1", 0))
        self.server.listen(1)
        self.server.settimeout(0.2)
        self.port = self.server.getsockname()[1]
        self.work = work
        self.stop = False
        self.connections = 0
        threading.Thread(target=self.serve, daemon=True).start()

    def serve(self):
        while not self.stop:
            try:
                conn, _ = self.server.accept()
            except socket.timeout:
                continue
            try:
                conn.settimeout(10)
                greeting = b""
                while len(greeting) < 19:
                    greeting += conn.recv(19 - len(greeting))
                conn.sendall(b"hello, demo!")
                conn.settimeout(None)
                self.connections += 1
                self.work(conn)
            except OSError:
                pass
            finally:
                conn.close()


def demo_copy(length=None):
    demo = tempfile.mkdtemp(prefix="rocket-hostile-")
    shutil.copytree(SOURCE, demo, dirs_exist_ok=True)
    script = os.path.join(demo, "data", "scripts", "demo.scr")
    if length:
        text = open(script).read()
        text = re.sub(r"^DEMO_LENGTH.*\n", "", text, flags=re.M)
        text = re.sub(r"^(DEMO_BEAT.*\n)", r"\1DEMO_LENGTH %d\n" % length, text, count=1, flags=re.M)
        open(script, "w").write(text)
    return demo, script


def run(demo, editor, seconds, extra=(), during=None, at=60000):
    """Runs the preview for `seconds` (`during` runs meanwhile); returns its figures."""
    err = tempfile.TemporaryFile(mode="w+")
    env = dict(os.environ, HOLDFAST_STATS="1", HOLDFAST_UNATTENDED="1", SDL_AUDIODRIVER="dummy")
    p = subprocess.Popen([os.path.join(BIN, "holdfast-preview"), "--data", demo, "--rocket",
                          "127.0.0.1:%d" % editor.port, "--at", str(at)] + list(extra),
                         env=env, stdout=subprocess.DEVNULL, stderr=err)
    # The case's time counts from the connection (loading and the first jump take a while).
    limit = time.monotonic() + 60
    while time.monotonic() < limit and p.poll() is None:
        err.seek(0)
        if "connected to the editor" in err.read():
            break
        time.sleep(0.1)
    end = time.monotonic() + seconds
    if during:
        during(p, end)
    while time.monotonic() < end and p.poll() is None:
        time.sleep(0.1)
    peak = 0
    try:
        for line in open("/proc/%d/status" % p.pid):
            if line.startswith("VmHWM:"):
                peak = int(line.split()[1]) // 1024
    except OSError:
        pass
    asked = time.monotonic()
    if p.poll() is None:
        p.send_signal(signal.SIGTERM)
    try:
        rc = p.wait(timeout=60)
    except subprocess.TimeoutExpired:
        p.kill()
        rc = p.wait()
    ended = time.monotonic() - asked
    editor.stop = True
    err.seek(0)
    text = err.read()
    m = re.search(r"fps=([\d.]+) cpu_per_frame_us=([\d.]+) longest_gap_ms=(\d+)", text)
    return {"rc": rc, "err": text, "peak": peak, "fps": float(m.group(1)) if m else 0.0,
            "cpu": float(m.group(2)) if m else 0.0, "gap": int(m.group(3)) if m else -1, "ended": ended}


def said(text, pattern):
    m = re.search(r"holdfast-preview: rocket: (.*(?:%s).*)" % pattern, text)
    return m.group(1) if m else "(nothing said)"


def requested(conn, count):
    """Reads the demo's track requests until `count` have come."""
    buf, names = b"", 0
    while names < count:
        data = conn.recv(65536)
        if not data:
            raise OSError("closed")
        buf += data
        while len(buf) >= 5 and buf[0] == 2:
            n = struct.unpack(">I", buf[1:5])[0]
            if len(buf) < 5 + n:
                break
            buf, names = buf[5 + n:], names + 1
        while buf and buf[0] == 3 and len(buf) >= 5:
            buf = buf[5:]


def main():
    result, summary = None, ""
    if CASE == "flood":
        sent = [0]

        def flood(conn):
            requested(conn, 1)
            chunk = 20000
            key = struct.Struct(">BIIfB")
            while sent[0] < KEYS:
                top = KEYS - sent[0]
                data = b"".join(key.pack(0, 0, row, 0.5, 1) for row in range(top, max(top - chunk, 0), -1))
                conn.sendall(data)
                sent[0] += min(chunk, top)

        def quiet(conn):
            while conn.recv(65536):
                pass

        demo, _ = demo_copy()
        # The same preview with an editor that sends nothing, for the frame rate the machine gives.
        base = run(demo, Editor(quiet), 15, at=FLOOD_AT)
        editor = Editor(flood)

        def until_sent(p, end):
            while sent[0] < KEYS and p.poll() is None and time.monotonic() < end + 150:
                time.sleep(0.2)
            time.sleep(2)  # and what comes after

        start = time.monotonic()
        result = run(demo, editor, 0, during=until_sent, at=FLOOD_AT)
        took = time.monotonic() - start
        met = result["peak"] < 300 and result["fps"] >= 30
        summary = ("%d keys sent on falling rows in %.0f s over %d connections; said: \"%s\" (%d times); "
                   "peak %d MB (%d MB without keys), %.0f fps (%.0f without keys, on this machine now), CPU %.0f ms "
                   "a frame (%.0f), longest gap %d ms: %s" % (
                       sent[0], took, editor.connections, said(result["err"], "more than"),
                       result["err"].count("more than 1000000 keys"), result["peak"], base["peak"], result["fps"],
                       base["fps"], result["cpu"] / 1000, base["cpu"] / 1000, result["gap"],
                       "goal met (under 300 MB, 30 fps)" if met else "goal NOT met (under 300 MB, 30 fps)"))
    elif CASE in ("row-past-end", "row-far"):
        demo, script = demo_copy(2147483647)
        beat = int(re.search(r"^DEMO_BEAT\s+(\d+)", open(script).read(), re.M).group(1))
        row = 0xFFFFFFFF if CASE == "row-past-end" else int(2147483000 / (beat / 4.0))

        def jump(conn):
            requested(conn, 1)
            time.sleep(2)
            conn.sendall(struct.pack(">BI", 3, row))
            while conn.recv(65536):
                pass

        editor = Editor(jump)
        result = run(demo, editor, 12)
        gap_met = 0 <= result["gap"] <= 1000
        m = re.search(r"holdfast-preview: (jump to \d+ ms took \d+ ms)", result["err"].split("connected to")[-1])
        summary = ("SET_ROW %d (%s); said: \"%s\"; longest gap between frames %d ms, %.0f fps, ended %.1f s after "
                   "SIGTERM: %s" % (
                       row, "past the end" if CASE == "row-past-end" else "2147483000 ms, inside the demo",
                       said(result["err"], "past the demo's end") if CASE == "row-past-end"
                       else m.group(1) if m else "still replaying when asked to end", result["gap"], result["fps"],
                       result["ended"], "goal met (a frame every 1 s)" if gap_met else "goal NOT met (a frame every 1 s)"))
    elif CASE == "read-only-save":
        demo, script = demo_copy()
        before = open(script, "rb").read()
        os.chmod(script, 0o444)

        def save(conn):
            requested(conn, 1)
            conn.sendall(struct.pack(">BIIfB", 0, 0, 0, 0.5, 0) + b"\x05")
            while conn.recv(65536):
                pass

        editor = Editor(save)
        result = run(demo, editor, 6, ["--paused"])
        mode = stat.S_IMODE(os.stat(script).st_mode)
        same = open(script, "rb").read() == before
        summary = "said: \"%s\"; the script afterwards: mode %o, %s: %s" % (
            said(result["err"], "saved|read-only"), mode, "unchanged" if same else "CHANGED",
            "goal met" if mode == 0o444 and same else "goal NOT met")
    else:
        sys.exit("rocket-hostile.py: unknown case " + CASE)
    crashed = result["rc"] not in (0, -signal.SIGTERM)
    print("rocket-hostile: " + ("preview crashed (%d); " % result["rc"] if crashed else "") + summary, file=sys.stderr)
    if os.environ.get("ROCKET_HOSTILE_VERBOSE"):
        print(result["err"], file=sys.stderr)
    sys.exit(3 if crashed else 0)


if __name__ == "__main__":
    main()
