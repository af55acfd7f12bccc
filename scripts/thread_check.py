#!/usr/bin/env python3
"""Many clients at once against a stand-in built with ThreadSanitizer.

    thread_check.py STAND_IN WORK_FOLDER CLIENTS SECONDS

Starts the stand-in (library kept, in WORK_FOLDER), then CLIENTS threads send
a mix of requests over its Unix socket for SECONDS: pings, lists, shows,
renames, imports, transcriptions and notes (waited for or detached), cancels,
joins, deletes, and exports in every format, PDFs among them. Then the
stand-in is asked to quit. Prints how many requests were answered and how
many failed (a failure the app explains, such as a busy meeting, is normal
here); the sanitizer's reports go where TSAN_OPTIONS's log_path says.
"""

import os
import random
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "bench"))
from stand_in_socket import exchange, write_wav  # noqa: E402

DEMO = ["3f1c9a2e7b8d4c6f9e0a1b2c3d4e5f60", "8a4b2c6d1e9f4a3b8c7d6e5f4a3b2c1d",
        "8a4be91f0c2d4b7a9e8f7a6b5c4d3e2f"]


def request(path, command, args=None, detach=False, timeout=120):
    return exchange(path, command, args, detach, timeout)


def client(number, path, work, stop, tally, lock):
    rng = random.Random(number)
    wav = os.path.join(work, "short.wav")
    ids = list(DEMO)
    while not stop.is_set():
        meeting = rng.choice(ids)
        out = os.path.join(work, f"export-{number}")
        choice = rng.randrange(14)
        try:
            if choice == 0:
                answer = request(path, "ping")
            elif choice == 1:
                answer = request(path, "list_meetings")
                if answer.get("ok"):
                    ids = [m["id"] for m in answer["result"]] or list(DEMO)
            elif choice == 2:
                answer = request(path, "get_meeting", {"id": meeting})
            elif choice == 3:
                record = request(path, "get_meeting", {"id": meeting})
                answer = record
                if record.get("ok"):
                    r = record["result"]
                    answer = request(path, "save_meeting",
                                     {"id": meeting, "title": f"Title {rng.random()}",
                                      "transcript": r["transcript"],
                                      "notes": r["notes"] + "Ça va? Ελληνικά, 日本語\n"})
            elif choice in (4, 5, 6):  # PDFs most of all: they are what raced
                answer = request(path, "export_meeting",
                                 {"id": meeting, "path": out + ".pdf", "format": "pdf",
                                  "transcriptVersion": "recognized"})
            elif choice == 7:
                answer = request(path, "export_meeting",
                                 {"id": meeting, "path": out + ".md",
                                  "format": rng.choice(["markdown", "text", "html", "wav"]),
                                  "transcriptVersion": "recognized"})
            elif choice == 8:
                answer = request(path, "import_media", {"path": wav}, detach=True)
            elif choice == 9:
                answer = request(path, "transcribe_meeting", {"id": meeting},
                                 detach=rng.random() < 0.5)
            elif choice == 10:
                answer = request(path, "generate_notes", {"id": meeting, "preset": "summary"},
                                 detach=rng.random() < 0.5)
            elif choice == 11:
                answer = request(path, "cancel_meeting", {"id": meeting})
            elif choice == 12:
                answer = request(path, "join_meetings", {"ids": rng.sample(ids, min(2, len(ids))),
                                                         "title": "Joined"}, detach=True)
            else:
                victim = rng.choice(ids)
                answer = (request(path, "delete_meeting", {"id": victim})
                          if victim not in DEMO else request(path, "get_diagnostics"))
            key = "answered" if answer.get("ok") else "refused"
        except (OSError, ValueError):
            key = "failed"
        with lock:
            tally[key] = tally.get(key, 0) + 1


def main():
    program, work, clients, seconds = sys.argv[1], sys.argv[2], int(sys.argv[3]), float(sys.argv[4])
    os.makedirs(work, exist_ok=True)
    write_wav(os.path.join(work, "short.wav"), 2)
    path = os.path.join(work, "Murmela", "cli.sock")
    env = dict(os.environ, XDG_DATA_HOME=work, MURMELA_STAND_IN_STEP_MS="50")
    app = subprocess.Popen([program], env=env)
    for _ in range(6000):
        try:
            request(path, "ping")
            break
        except OSError:
            time.sleep(0.01)
    stop = threading.Event()
    tally, lock = {}, threading.Lock()
    threads = [threading.Thread(target=client, args=(i, path, work, stop, tally, lock))
               for i in range(clients)]
    for thread in threads:
        thread.start()
    time.sleep(seconds)
    stop.set()
    for thread in threads:
        thread.join()
    request(path, "quit_app")
    code = app.wait(timeout=120)
    print(f"{clients} clients for {seconds:.0f} s: {tally}; the stand-in ended with {code}")


if __name__ == "__main__":
    main()
