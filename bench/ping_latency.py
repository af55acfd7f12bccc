#!/usr/bin/env python3
"""How long the stand-in takes to answer `ping`, idle and while slow work runs.

    ping_latency.py STAND_IN WORK_FOLDER [IMPORT_MINUTES]

Each scenario starts a stand-in of its own (library kept, in a folder under
WORK_FOLDER), sets up its work, starts it on one connection and pings on
another, 5 ms apart, until the work is answered. Idle is 200 pings.
"""

import json
import os
import socket
import statistics
import subprocess
import sys
import threading
import time
import wave

PARTS = 1000
PART_SECONDS = 2
NOTES_BYTES = 20 << 20


def request(path, command, args=None, detach=False):
    line = json.dumps({"version": 1, "command": command, "args": args or {}, "detach": detach})
    with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as conn:
        conn.connect(path)
        conn.sendall(line.encode() + b"\n")
        reply = bytearray()
        while not reply.endswith(b"\n"):
            chunk = conn.recv(1 << 16)
            if not chunk:
                break
            reply += chunk
    answer = json.loads(reply)
    if not answer.get("ok"):
        raise RuntimeError(f"{command}: {answer.get('error')}")
    return answer["result"]


def write_wav(path, seconds, rate=16000):
    with wave.open(path, "wb") as out:
        out.setnchannels(1)
        out.setsampwidth(2)
        out.setframerate(rate)
        out.writeframes(os.urandom(seconds * rate * 2))


class StandIn:
    def __init__(self, program, folder, arguments=()):
        os.makedirs(folder, exist_ok=True)
        self.socket = os.path.join(folder, "Murmela", "cli.sock")
        env = dict(os.environ, XDG_DATA_HOME=folder, MURMELA_STAND_IN_STEP_MS="0")
        self.process = subprocess.Popen([program, *arguments], env=env)
        for _ in range(3000):
            try:
                request(self.socket, "ping")
                return
            except OSError:
                time.sleep(0.01)
        raise RuntimeError("the stand-in did not answer")

    def stop(self):
        try:
            request(self.socket, "quit_app")
        except OSError:
            pass
        try:
            self.process.wait(timeout=60)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()


def pings(path, count=None, alive=None):
    """Latencies in ms: `count` pings, or as many as run while `alive()`."""
    times = []
    while (count is not None and len(times) < count) or (alive is not None and alive()):
        start = time.perf_counter()
        request(path, "ping")
        times.append((time.perf_counter() - start) * 1000)
        time.sleep(0.005)
    return times


def under_load(app, work):
    """Pings while `work` (a function) runs on a thread of its own."""
    outcome = {}

    def run():
        start = time.perf_counter()
        try:
            work()
        except Exception as error:  # reported, not raised: the figures still print
            outcome["error"] = str(error)
        outcome["seconds"] = time.perf_counter() - start

    thread = threading.Thread(target=run)
    thread.start()
    times = pings(app.socket, alive=thread.is_alive)
    thread.join()
    return times, outcome


def together(jobs):
    """Runs every job on a thread of its own and waits for them all."""
    errors = []

    def guarded(job):
        try:
            job()
        except Exception as error:
            errors.append(str(error))

    threads = [threading.Thread(target=guarded, args=(job,)) for job in jobs]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    if errors:
        raise RuntimeError("; ".join(errors))


def report(name, times, outcome=None):
    times = sorted(times)
    if not times:
        print(f"{name:<34} no ping answered while it ran")
        return
    p99 = times[min(len(times) - 1, int(len(times) * 0.99))]
    extra = ""
    if outcome:
        extra = f"  (work: {outcome.get('seconds', 0):.1f} s"
        extra += f", failed: {outcome['error']})" if "error" in outcome else ")"
    print(f"{name:<34} n={len(times):<5} p50={statistics.median(times):8.2f} ms"
          f"  p99={p99:8.2f} ms  max={times[-1]:8.2f} ms{extra}")


def notes_meeting(app, work_folder):
    line = "Notes that go on and on about the budget, the plan and the people.\n"
    notes = line * (NOTES_BYTES // len(line))
    meeting = request(app.socket, "list_meetings")[0]
    request(app.socket, "save_meeting",
            {"id": meeting["id"], "title": "Long notes", "transcript": "You: hello", "notes": notes})
    return lambda: request(app.socket, "export_meeting",
                           {"id": meeting["id"], "path": os.path.join(work_folder, "notes.pdf"),
                            "format": "pdf", "transcriptVersion": "recognized"})


def parts_fixture(folder):
    """A library of PARTS meetings with real audio, and the work that joins them."""
    audio = os.path.join(folder, "Murmela", "audio")
    os.makedirs(audio, exist_ok=True)
    write_wav(os.path.join(audio, "part.wav"), PART_SECONDS)
    meetings = []
    for i in range(PARTS):
        name = f"{i:032x}.wav"
        os.link(os.path.join(audio, "part.wav"), os.path.join(audio, name))
        meetings.append({"id": f"part{i}", "title": f"Part {i}", "audio": True, "audioFile": name,
                         "transcript": "You: a part"})
    os.unlink(os.path.join(audio, "part.wav"))
    fixture = os.path.join(folder, "parts.json")
    with open(fixture, "w") as out:
        json.dump({"meetings": meetings}, out)
    return fixture


def main():
    program, work = sys.argv[1], sys.argv[2]
    minutes = int(sys.argv[3]) if len(sys.argv) > 3 else 30
    long_wav = os.path.join(work, "long.wav")
    write_wav(long_wav, minutes * 60)

    def import_long(app):
        return lambda: request(app.socket, "import_media", {"path": long_wav}, detach=True)

    def join_parts(app):
        return lambda: request(app.socket, "join_meetings",
                               {"ids": [f"part{i}" for i in range(PARTS)], "title": "Joined"},
                               detach=True)

    app = StandIn(program, os.path.join(work, "idle"))
    report("idle", pings(app.socket, count=200))
    app.stop()

    app = StandIn(program, os.path.join(work, "pdf"))
    report("export: PDF of 20 MB of notes", *under_load(app, notes_meeting(app, work)))
    app.stop()

    app = StandIn(program, os.path.join(work, "import"))
    report(f"import: {minutes} min of audio", *under_load(app, import_long(app)))
    app.stop()

    folder = os.path.join(work, "join")
    app = StandIn(program, folder, ["--library", parts_fixture(folder), "--persist"])
    report(f"join: {PARTS} parts of {PART_SECONDS} s", *under_load(app, join_parts(app)))
    app.stop()

    folder = os.path.join(work, "all")
    app = StandIn(program, folder, ["--library", parts_fixture(folder), "--persist"])
    jobs = [notes_meeting(app, work), import_long(app), join_parts(app)]
    report("all three at once", *under_load(app, lambda: together(jobs)))
    app.stop()


if __name__ == "__main__":
    main()
