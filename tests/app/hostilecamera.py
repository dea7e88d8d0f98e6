#!/usr/bin/env python3
"""A network camera that turns hostile on command, written without our library.

  hostilecamera.py <address> <width> <height>

Serves the control port 10401 and the picture port 10402 with Python's own
HTTP/1.1 server. It starts well behaved (parameters, commands and grey
pictures of width x height); a line on its input switches the mode of every
request from then on:

  good    answers at once
  late    answers pictures 2 s late (control requests at once)
  silent  reads requests and never answers, the connection held open
  lying   answers with a Content-Length 1 MB longer than the body it sends,
          the connection held open

Prints "ready" once both ports listen and "req <mode> <path>" per request.
Ends when its input closes.
"""
import json
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

BOUNDARY = "hostilecameraboundary"
PARAMS = {"exposure": {"value": 30, "min": 1, "max": 1000}, "gain": {"value": 32, "min": 0, "max": 255},
          "contrast": {"value": 50, "min": 0, "max": 100}, "sharp": {"value": 0, "min": 0, "max": 10},
          "gamma": {"value": 70, "min": 0, "max": 300}}
lock = threading.Lock()
state = {"mode": "good", "frame": 0, "picture": b"", "width": 0, "height": 0}
stopping = threading.Event()


def say(line):
    with lock:
        print(line, flush=True)


def mode():
    with lock:
        return state["mode"]


def hold(while_mode):
    # Keeps the connection (and this handler thread) until the mode changes
    # or the camera ends.
    while mode() == while_mode and not stopping.wait(0.1):
        pass


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def send(self, ctype, payload, extra=0):
        self.send_response(200)
        # The library's dialect names the request a reply answers here.
        self.send_header("User-Agent", self.headers.get("User-Agent", ""))
        self.send_header("Content-Type", ctype)
        self.send_header("Content-Length", str(len(payload) + extra))
        self.end_headers()
        self.wfile.write(payload)
        self.wfile.flush()

    def picture(self):
        with lock:
            state["frame"] += 1
            n = state["frame"]
            w, h, pixels = state["width"], state["height"], state["picture"]
        info = json.dumps({"channels": 1, "data_type": "data_type", "datakey": "0",
                           "size_height": h, "size_width": w}).encode()
        head = json.dumps({"frame": n, "width": w, "height": h}).encode()
        b = b"--" + BOUNDARY.encode()
        return b"".join([
            b + b"\r\nContent-Disposition: form-data; name=\"head\"\r\nContent-Type: application/json\r\n\r\n"
            + head + b"\r\n",
            b + b"\r\nContent-Disposition: form-data; name=\"0-info\"\r\nContent-Type: application/json\r\n\r\n"
            + info + b"\r\n",
            b + b"\r\nContent-Disposition: form-data; name=\"0\"\r\nContent-Type: application/octet-stream\r\n\r\n"
            + pixels + b"\r\n",
            b + b"--\r\n",
        ])

    def do_POST(self):
        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(length) if length > 0 else b""
        path = self.path
        m = mode()
        say("req %s %s" % (m, path))
        if m == "silent":
            hold("silent")
            self.close_connection = True
            return
        if path == "/smon2/camera/getpic":
            if m == "late" and stopping.wait(2.0):
                return
            payload, ctype = self.picture(), "multipart/form-data;boundary=" + BOUNDARY
        else:
            try:
                asked = json.loads(body) if body else {}
            except ValueError:
                asked = {}
            result = PARAMS if path == "/smon2/camera/getparams" else {k: 0 for k in asked}
            payload, ctype = json.dumps({"code": 0, "msg": "OK", "result": result}).encode(), "application/json"
        if m == "lying":
            self.send(ctype, payload, extra=1024 * 1024)
            hold("lying")
            self.close_connection = True
            return
        self.send(ctype, payload)


def main():
    address, width, height = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    state["width"], state["height"] = width, height
    state["picture"] = bytes(((x // 8 + y // 8) % 2) * 160 + 40 for y in range(height) for x in range(width))
    servers = [ThreadingHTTPServer((address, port), Handler) for port in (10401, 10402)]
    for s in servers:
        s.daemon_threads = True
        threading.Thread(target=s.serve_forever, daemon=True).start()
    say("ready")
    for line in sys.stdin:
        line = line.strip()
        if line in ("good", "late", "silent", "lying"):
            with lock:
                state["mode"] = line
            say("mode " + line)
    stopping.set()
    for s in servers:
        s.shutdown()


if __name__ == "__main__":
    main()
