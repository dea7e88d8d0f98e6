#!/usr/bin/env python3
"""An independent fake network camera, written without our library.

  fakecamera.py <address> [<width> <height>]

Serves the control port 10401 and the picture port 10402 with Python's own
HTTP/1.1 server and checks every request the SDK sends: HTTP/1.1, POST, a
Host header, a Content-Length that matches the body, a JSON body with its
content type. Prints "ok <path> <body>" or "bad <path> <why>" per request,
and "ready" once both ports listen. Pictures are grey, 16 x 8 unless given.

A line on its input turns it hostile from then on: "late" answers pictures
2 s late, "silent" answers nothing, "lying" announces a body 1 MB longer
than it sends; the last two hold the connection open. It says "mode <m>".
"""
import json
import sys
import threading
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

MODES = ("good", "late", "silent", "lying")
state = {"mode": "good", "size": (16, 8)}
ended = threading.Event()

PARAMS = {"gain": {"value": 32, "min": 0, "max": 255}, "sharp": {"value": 0, "min": 0, "max": 10}}
BOUNDARY = "fakecameraboundary"
lock = threading.Lock()


def say(line):
    with lock:
        print(line, flush=True)


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def check(self):
        problems = []
        if self.request_version != "HTTP/1.1":
            problems.append("version " + self.request_version)
        if self.command != "POST":
            problems.append("method " + self.command)
        if not self.headers.get("Host"):
            problems.append("no Host")
        length = self.headers.get("Content-Length")
        if length is None or not length.isdigit():
            problems.append("no Content-Length")
            length = "0"
        body = self.rfile.read(int(length))
        if len(body) != int(length):
            problems.append("short body")
        parsed = None
        if body:
            if "application/json" not in (self.headers.get("Content-Type") or ""):
                problems.append("body without JSON content type")
            try:
                parsed = json.loads(body)
            except ValueError:
                problems.append("body is not JSON")
        return problems, parsed

    def reply(self, status, ctype, payload):
        mode = state["mode"]
        if mode == "late" and self.path == "/smon2/camera/getpic" and ended.wait(2.0):
            return
        self.send_response(status)
        # The library's dialect names the request a reply answers here.
        self.send_header("User-Agent", self.headers.get("User-Agent", ""))
        self.send_header("Content-Type", ctype)
        self.send_header("Content-Length", str(len(payload) + (1024 * 1024 if mode == "lying" else 0)))
        self.end_headers()
        self.wfile.write(payload)
        self.wfile.flush()
        self.hold("lying")

    def hold(self, mode):
        # A hostile camera keeps the connection, unanswered, while the mode lasts.
        if state["mode"] != mode:
            return
        while state["mode"] == mode and not ended.wait(0.1):
            pass
        self.close_connection = True

    def do_POST(self):
        problems, body = self.check()
        path = self.path
        if problems:
            say("bad %s %s" % (path, "; ".join(problems)))
        else:
            say("ok %s %s" % (path, json.dumps(body, sort_keys=True) if body is not None else "-"))
        if state["mode"] == "silent":
            self.hold("silent")
            return
        if path == "/smon2/camera/getparams":
            result = PARAMS
        elif path in ("/smon2/camera/setparams", "/smon2/camera/commands"):
            result = {k: 0 for k in (body or {})}
        elif path == "/smon2/camera/getpic":
            w, h = state["size"]
            pixels = state["pixels"]
            info = json.dumps({"channels": 1, "data_type": "data_type", "datakey": "0",
                               "size_height": h, "size_width": w}).encode()
            head = json.dumps({"frame": 1, "width": w, "height": h}).encode()
            parts = [
                b"--" + BOUNDARY.encode() + b"\r\nContent-Disposition: form-data; name=\"head\"\r\n"
                b"Content-Type: application/json\r\n\r\n" + head + b"\r\n",
                b"--" + BOUNDARY.encode() + b"\r\nContent-Disposition: form-data; name=\"0-info\"\r\n"
                b"Content-Type: application/json\r\n\r\n" + info + b"\r\n",
                b"--" + BOUNDARY.encode() + b"\r\nContent-Disposition: form-data; name=\"0\"\r\n"
                b"Content-Type: application/octet-stream\r\n\r\n" + pixels + b"\r\n",
                b"--" + BOUNDARY.encode() + b"--\r\n",
            ]
            self.reply(200, "multipart/form-data;boundary=" + BOUNDARY, b"".join(parts))
            return
        else:
            self.reply(404, "application/json", json.dumps({"code": 404, "msg": "Not Found"}).encode())
            return
        self.reply(200, "application/json", json.dumps({"code": 0, "msg": "OK", "result": result}).encode())


def main():
    address = sys.argv[1]
    if len(sys.argv) > 3:
        state["size"] = (int(sys.argv[2]), int(sys.argv[3]))
    w, h = state["size"]
    state["pixels"] = bytes((x + y) & 0xFF for y in range(h) for x in range(w))
    servers = [ThreadingHTTPServer((address, port), Handler) for port in (10401, 10402)]
    for s in servers:
        s.daemon_threads = True
        threading.Thread(target=s.serve_forever, daemon=True).start()
    say("ready")
    try:
        for line in sys.stdin:  # ends when the test closes our input
            if line.strip() in MODES:
                state["mode"] = line.strip()
                say("mode " + state["mode"])
    finally:
        ended.set()
        for s in servers:
            s.shutdown()


if __name__ == "__main__":
    main()
