#!/usr/bin/env python3
"""How long the stand-in takes to answer `ping`, idle and while slow work runs.

    ping_latency.py STAND_IN WORK_FOLDER [IMPORT_MINUTES] [SCENARIO...]

Each scenario starts a stand-in of its own (library kept, in a folder under
WORK_FOLDER), sets up its work, starts it on one connection and pings on
another, 5 ms apart, until the work is answered. Idle is 200 pings. The
scenarios: idle pdf import join all (the default set), and edit (renames in
a 200 MiB library), waits (200 transcriptions waiting for their job),
silent128 and silent140 (that many connections that never send a request),
longline (one 48 MiB request line). A ping turned away counts apart
("refused"), and its time is not in the figures.
"""

import json
import os
import socket
import statistics
import subprocess
import sys
import threading
import time

from stand_in_socket import exchange, read_reply, request_line, write_wav

PARTS = 1000
PART_SECONDS = 2
NOTES_BYTES = 20 << 20
BIG_LIBRARY_MEETINGS = 200
BIG_LIBRARY_TEXT = 1 << 20  # per meeting: 200 MiB in all
RENAMES = 5
WAITS = 200
WAIT_SECONDS = 5
LONG_LINE_BYTES = 48 << 20
DEMO_MEETING = "3f1c9a2e7b8d4c6f9e0a1b2c3d4e5f60"


def request(path, command, args=None, detach=False):
    answer = exchange(path, command, args, detach)
    if not answer.get("ok"):
        raise RuntimeError(f"{command}: {answer.get('error')}")
    return answer["result"]


class StandIn:
    def __init__(self, program, folder, arguments=(), step_ms="0"):
        os.makedirs(folder, exist_ok=True)
        self.socket = os.path.join(folder, "Murmela", "cli.sock")
        env = dict(os.environ, XDG_DATA_HOME=folder, MURMELA_STAND_IN_STEP_MS=step_ms)
        self.process = subprocess.Popen([program, *arguments], env=env)
        for _ in range(30000):
            try:
                request(self.socket, "ping")
                return
            except OSError:
                time.sleep(0.01)
        raise RuntimeError("the stand-in did not answer")

    def stop(self):
        try:
            request(self.socket, "quit_app")
        except (OSError, RuntimeError):
            self.process.kill()
        try:
            self.process.wait(timeout=60)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()


class Times(list):
    """Latencies in ms of the pings answered; `refused` counts the others."""
    refused = 0


def pings(path, count=None, alive=None, give_up=120):
    """`count` pings, or as many as run while `alive()`; at most `give_up` s."""
    times = Times()
    end = time.perf_counter() + give_up
    while ((count is not None and len(times) + times.refused < count)
           or (alive is not None and alive())) and time.perf_counter() < end:
        start = time.perf_counter()
        try:
            request(path, "ping")
            times.append((time.perf_counter() - start) * 1000)
        except (RuntimeError, OSError, ValueError):
            times.refused += 1
        time.sleep(0.005)
    return times


def under_load(app, work):
    """Pings while `work` (a function) runs on a thread of its own."""
    outcome = {}

    def run():
        start = time.perf_counter()
        try:
            note = work()
            if isinstance(note, str):
                outcome["note"] = note
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
    refused = getattr(times, "refused", 0)
    times = sorted(times)
    extra = f"  refused={refused}" if refused else ""
    if outcome:
        extra += f"  (work: {outcome.get('seconds', 0):.1f} s"
        if "note" in outcome:
            extra += f", {outcome['note']}"
        extra += f", failed: {outcome['error']})" if "error" in outcome else ")"
    if not times:
        print(f"{name:<34} no ping answered while it ran{extra}", flush=True)
        return
    p99 = times[min(len(times) - 1, int(len(times) * 0.99))]
    print(f"{name:<34} n={len(times):<5} p50={statistics.median(times):8.2f} ms"
          f"  p99={p99:8.2f} ms  max={times[-1]:8.2f} ms{extra}", flush=True)


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


def big_library_fixture(folder):
    """BIG_LIBRARY_MEETINGS meetings of BIG_LIBRARY_TEXT each: half a
    transcript of short lines by two speakers, half notes."""
    os.makedirs(folder, exist_ok=True)
    line = "Notes that go on and on about the budget, the plan and the people.\n"
    notes = line * (BIG_LIBRARY_TEXT // 2 // len(line))
    said = ["You: Shall we go through the board?\n", "Other speakers: Yes, the budget first.\n"]
    transcript = "".join(said) * (BIG_LIBRARY_TEXT // 2 // len("".join(said)))
    meetings = [{"id": f"big{i}", "title": f"Meeting {i}", "transcript": transcript,
                 "notes": notes} for i in range(BIG_LIBRARY_MEETINGS)]
    fixture = os.path.join(folder, "big.json")
    with open(fixture, "w") as out:
        json.dump({"meetings": meetings}, out)
    return fixture


def renames(app):
    """Renames as the CLI makes them (the record read, then saved whole)."""
    def work():
        took = []
        for i in range(RENAMES):
            start = time.perf_counter()
            record = request(app.socket, "get_meeting", {"id": f"big{i}"})
            request(app.socket, "save_meeting",
                    {"id": record["id"], "title": f"Renamed {i}",
                     "transcript": record["transcript"], "notes": record["notes"]})
            took.append(time.perf_counter() - start)
        return f"rename: median {statistics.median(took) * 1000:.0f} ms, max {max(took) * 1000:.0f} ms"
    return work


def blocking_waits(app):
    """WAITS transcriptions without detach wait for one job for WAIT_SECONDS;
    then the job is cancelled and each hears of it."""
    def work():
        conns = []
        try:
            for _ in range(WAITS):
                conn = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
                conn.connect(app.socket)
                conn.sendall(request_line("transcribe_meeting", {"id": DEMO_MEETING}))
                conns.append(conn)
            time.sleep(WAIT_SECONDS)
            request(app.socket, "cancel_meeting", {"id": DEMO_MEETING})
            answered = sum(b"cancelled" in read_reply(conn) for conn in conns)
            return f"{answered} of {WAITS} waits told of the cancel"
        finally:
            for conn in conns:
                conn.close()
    return work


def silent_connections(app, count):
    """Pings while `count` connections are open and send nothing."""
    conns = []
    for _ in range(count):
        conn = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        conn.connect(app.socket)
        conns.append(conn)
    try:
        return pings(app.socket, count=200, give_up=60)
    finally:
        for conn in conns:
            conn.close()


def long_line(app):
    """One request line of LONG_LINE_BYTES, answered: seconds from the first
    byte sent to the reply."""
    padding = "x" * LONG_LINE_BYTES
    line = request_line("ping", {"padding": padding})
    start = time.perf_counter()
    with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as conn:
        conn.connect(app.socket)
        conn.sendall(line)
        reply = read_reply(conn)
    seconds = time.perf_counter() - start
    answer = json.loads(reply) if reply else {"error": "no reply"}
    status = "answered" if answer.get("ok") else f"refused: {answer.get('error')}"
    print(f"{'request line of ' + str(LONG_LINE_BYTES >> 20) + ' MiB':<34} "
          f"{seconds:.2f} s, {status}", flush=True)


def main():
    program, work = sys.argv[1], sys.argv[2]
    minutes = int(sys.argv[3]) if len(sys.argv) > 3 else 30
    chosen = set(sys.argv[4:]) or {"idle", "pdf", "import", "join", "all"}
    long_wav = os.path.join(work, "long.wav")
    if chosen & {"import", "all"}:
        write_wav(long_wav, minutes * 60)

    def import_long(app):
        return lambda: request(app.socket, "import_media", {"path": long_wav}, detach=True)

    def join_parts(app):
        return lambda: request(app.socket, "join_meetings",
                               {"ids": [f"part{i}" for i in range(PARTS)], "title": "Joined"},
                               detach=True)

    if "idle" in chosen:
        app = StandIn(program, os.path.join(work, "idle"))
        report("idle", pings(app.socket, count=200))
        app.stop()

    if "pdf" in chosen:
        app = StandIn(program, os.path.join(work, "pdf"))
        report("export: PDF of 20 MB of notes", *under_load(app, notes_meeting(app, work)))
        app.stop()

    if "import" in chosen:
        app = StandIn(program, os.path.join(work, "import"))
        report(f"import: {minutes} min of audio", *under_load(app, import_long(app)))
        app.stop()

    if "join" in chosen:
        folder = os.path.join(work, "join")
        app = StandIn(program, folder, ["--library", parts_fixture(folder), "--persist"])
        report(f"join: {PARTS} parts of {PART_SECONDS} s", *under_load(app, join_parts(app)))
        app.stop()

    if "all" in chosen:
        folder = os.path.join(work, "all")
        app = StandIn(program, folder, ["--library", parts_fixture(folder), "--persist"])
        jobs = [notes_meeting(app, work), import_long(app), join_parts(app)]
        report("all three at once", *under_load(app, lambda: together(jobs)))
        app.stop()

    if "edit" in chosen:
        folder = os.path.join(work, "edit")
        app = StandIn(program, folder, ["--library", big_library_fixture(folder), "--persist"])
        report(f"edit: {RENAMES} renames, 200 MiB library", *under_load(app, renames(app)))
        app.stop()

    if "waits" in chosen:
        app = StandIn(program, os.path.join(work, "waits"), step_ms="manual")
        report(f"{WAITS} blocking waits", *under_load(app, blocking_waits(app)))
        app.stop()

    for count in (128, 140):
        if f"silent{count}" in chosen:
            app = StandIn(program, os.path.join(work, f"silent{count}"))
            report(f"{count} silent connections", silent_connections(app, count))
            app.stop()

    if "longline" in chosen:
        app = StandIn(program, os.path.join(work, "longline"))
        long_line(app)
        app.stop()


if __name__ == "__main__":
    main()
