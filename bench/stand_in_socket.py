"""The stand-in's socket protocol for the bench and check scripts: one
request line out, one reply line back, over a connection of its own."""

import json
import os
import socket
import wave


def request_line(command, args=None, detach=False):
    line = json.dumps({"version": 1, "command": command, "args": args or {}, "detach": detach})
    return line.encode() + b"\n"


def read_reply(conn):
    reply = bytearray()
    while not reply.endswith(b"\n"):
        chunk = conn.recv(1 << 16)
        if not chunk:
            break
        reply += chunk
    return reply


def exchange(path, command, args=None, detach=False, timeout=None):
    """The app's whole answer, {"ok": ..., "result" or "error": ...}."""
    with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as conn:
        conn.settimeout(timeout)
        conn.connect(path)
        conn.sendall(request_line(command, args, detach))
        reply = read_reply(conn)
    return json.loads(reply)


def write_wav(path, seconds, rate=16000):
    """Mono 16-bit noise: audio the stand-in imports, quick to make."""
    with wave.open(path, "wb") as out:
        out.setnchannels(1)
        out.setsampwidth(2)
        out.setframerate(rate)
        out.writeframes(os.urandom(seconds * rate * 2))
