#!/usr/bin/env python3
"""Loopback HTTP server for the benchmarks: 127.0.0.1:80 (inside a private network namespace).

Every connection: read until the end of the request head (an empty line), answer
"HTTP/1.0 200 OK" with a two-byte body, close. One JSON line per connection goes to the log:
  accept  time the connection was accepted (CLOCK_MONOTONIC seconds)
  first   time its first request byte arrived
  done    time the request head was complete
  bytes   request bytes received before the answer
  head    the request head as text
Stops by itself after --max-seconds; single-threaded, so its own timing is simple.
"""
import argparse
import json
import selectors
import socket
import time

REPLY = b"HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok"


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--log", required=True)
    ap.add_argument("--port", type=int, default=80)
    ap.add_argument("--max-seconds", type=float, default=3600)
    ap.add_argument("--ready", help="file created once the server listens")
    args = ap.parse_args()

    lsock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    lsock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    lsock.bind(("127.0.0.1", args.port))
    lsock.listen(128)
    lsock.setblocking(False)
    sel = selectors.DefaultSelector()
    sel.register(lsock, selectors.EVENT_READ, None)
    log = open(args.log, "a", buffering=1)
    if args.ready:
        open(args.ready, "w").close()
    deadline = time.monotonic() + args.max_seconds
    while time.monotonic() < deadline:
        for key, _ in sel.select(timeout=0.5):
            if key.data is None:
                try:
                    conn, _ = lsock.accept()
                except BlockingIOError:
                    continue
                conn.setblocking(False)
                sel.register(conn, selectors.EVENT_READ,
                             {"accept": time.monotonic(), "first": None, "buf": b""})
                continue
            conn, st = key.fileobj, key.data
            try:
                data = conn.recv(65536)
            except (BlockingIOError, InterruptedError):
                continue
            except OSError:
                data = b""
            now = time.monotonic()
            if data and st["first"] is None:
                st["first"] = now
            st["buf"] += data
            if not data or b"\r\n\r\n" in st["buf"]:
                if data:
                    try:
                        conn.sendall(REPLY)
                    except OSError:
                        pass
                sel.unregister(conn)
                conn.close()
                log.write(json.dumps({
                    "accept": st["accept"], "first": st["first"], "done": now,
                    "bytes": len(st["buf"]),
                    "head": st["buf"].decode("latin-1")}) + "\n")


if __name__ == "__main__":
    main()
