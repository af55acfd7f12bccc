#!/usr/bin/env python3
"""A minimal app for benchmarks: generates replies shaped like a meeting
library (one of them heavy on escapes and non-ASCII text) and answers every
request on cli.sock with the reply its command names (`bench_<shape>_<MiB>`), or `{"ok":true,"result":"pong"}`.
COMMAND=SHAPE:MIB also answers the app command COMMAND (`list_meetings`, `get_state`) with it.

usage: reply_server.py DATA_FOLDER [COMMAND=]SHAPE:MIB...   (prints "ready" once listening)
"""
import json
import os
import random
import socket
import sys
import threading

WORDS = ("Grüße aus Köln — Привет, the meeting \"agreed\" on\tthe plan; 会议 "
         "follow-up budget review next\\steps ✓").split(" ")


def sentence(rng, n):
    return " ".join(rng.choice(WORDS) for _ in range(n))


def segment(rng, i):
    return {"start": i * 1.7, "end": i * 1.7 + 1.3, "speaker": f"Speaker {i % 4}",
            "text": sentence(rng, 14), "confidence": round(rng.random(), 6)}


def meeting(rng, i, segments):
    segs = [segment(rng, j) for j in range(segments)]
    return {"id": f"{i:08x}-6b1f-4c2e-9a7d-{i:012x}", "title": f"Weekly sync {i}",
            "status": "ready", "createdAt": "2026-12-01T10:00:00Z", "durationSeconds": segments * 1.7,
            "source": "recording", "speakerLabels": True, "speakerCount": 4,
            "transcript": "\n".join(s["text"] for s in segs), "notes": "# Notes\n" + sentence(rng, 40),
            "segments": segs}


# Transcript lines as people say them and apps store them: quotes, backslashes
# and tabs to escape, accents, Cyrillic, CJK and emoji in long UTF-8 runs.
LINES = ("We \"agreed\" on the C:\\shared\\plan\tfor Q3 — Grüße aus Köln, à bientôt",
         "Привет всем, давайте начнём с бюджета\tи сроков ✓",
         "会议记录：下周一前完成评审。「確認」してください 🎙️",
         "Next steps 🚀: ship v2, ping Zoë & Jürgen, review the café's \"menu\" 👍",
         "Résumé of the naïve façade déjà vu, Ελληνικά κείμενα, 😀😃😄")


def transcript_meeting(rng, i):
    lines = [f"[{j // 60:02d}:{j % 60:02d}] Speaker {j % 3}: {rng.choice(LINES)}" for j in range(40)]
    return {"id": f"{i:08x}-6b1f-4c2e-9a7d-{i:012x}", "title": f"Planning «{i}» 📅",
            "status": "ready", "createdAt": "2026-12-01T10:00:00Z", "durationSeconds": 2400.0,
            "transcript": "\n".join(lines), "notes": "# Notes\n- " + "\n- ".join(rng.sample(LINES, 3))}


def fill(target, make):
    items, size, i = [], 2, 0
    while True:
        item = make(i)
        size += len(json.dumps(item, ensure_ascii=False, separators=(",", ":")).encode()) + 1
        if size > target:
            return items
        items.append(item)
        i += 1


def result_of(shape, mib):
    rng = random.Random(7)
    target = mib * 1024 * 1024 - 64
    if shape == "list":
        return fill(target, lambda i: meeting(rng, i, 60))
    if shape == "meeting":
        whole = meeting(rng, 0, 0)
        whole["segments"] = fill(target - 2000, lambda j: segment(rng, j))
        return whole
    if shape == "transcripts":
        return fill(target, lambda i: transcript_meeting(rng, i))
    if shape == "ids":  # a meeting list of nothing but short IDs
        return fill(target, lambda i: {"id": f"{i:x}"})
    if shape == "keys":  # app state whose settings hold nothing but short keys
        keys, size, i = {}, 16, 0
        while True:
            key = f"{i:x}"
            size += len(key) + 5
            if size > target:
                return {"settings": keys}
            keys[key] = 0
            i += 1
    if shape == "flat":
        return fill(target, lambda i: {"id": i, "name": f"n{i}", "v": i * 0.25, "ok": i % 2 == 0})
    raise SystemExit(f"unknown shape {shape}")


def main():
    folder, wanted_replies = sys.argv[1], sys.argv[2:]
    replies = {}
    for wanted in wanted_replies:
        command, _, wanted = wanted.rpartition("=")
        shape, mib = wanted.split(":")
        body = {"ok": True, "result": result_of(shape, int(mib))}
        line = json.dumps(body, ensure_ascii=False, separators=(",", ":")).encode() + b"\n"
        assert len(line) <= 32 * 1024 * 1024, "a reply larger than the CLI reads"
        replies[f"bench_{shape}_{mib}"] = line
        if command:
            replies[command] = line
        with open(os.path.join(folder, f"{shape}_{mib}.json"), "wb") as f:
            f.write(line)
    path = os.path.join(folder, "Murmela", "cli.sock")
    os.makedirs(os.path.dirname(path), exist_ok=True)
    if os.path.exists(path):
        os.unlink(path)
    server = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    server.bind(path)
    server.listen(64)
    print("ready", flush=True)

    def serve(conn):
        with conn:
            request = b""
            while not request.endswith(b"\n"):
                chunk = conn.recv(65536)
                if not chunk:
                    return
                request += chunk
            command = json.loads(request)["command"]
            conn.sendall(replies.get(command, b'{"ok":true,"result":"pong"}\n'))

    while True:
        conn, _ = server.accept()
        threading.Thread(target=serve, args=(conn,), daemon=True).start()


if __name__ == "__main__":
    main()
