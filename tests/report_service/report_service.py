#!/usr/bin/env python3
"""Stands in for the maker's report service in tests.

Serves HTTPS on loopback on a production and a staging port with the certificate it is given,
answers POST /api/bug and POST /api/attachment with the reply the test has put into
<state>/replies/<name>.json ({"status": 200, "body": "...", "gzip": false, "location": "",
"stall": false, "trickle_ms": 0, "endless": false, "read_bps": 0}; default 200 "{}"; a non-empty
location is sent as the Location header; "stall" reads the request and then never answers;
"trickle_ms" sends the body a byte at a time with that pause after each; "endless" with it sends
a chunked body that never ends, the body's bytes over and over; "read_bps" reads the request's
body at that many bytes per second),
and records every request as <state>/requests/<n>.json (path, port, method, headers) beside
<n>.body (the body's bytes). Writes <state>/ready with the two ports once both listen.
Standard library only.

A test can hold the replies of an endpoint, so that it acts while a client waits for one: while
<state>/holds/<name>.json ({"limit": seconds}) exists, a request of that endpoint is recorded,
then <state>/held/<name> is written, and the reply waits until <state>/release/<name> exists or
the limit has passed, whichever comes first: no test hangs for good. A hold that ran out writes
<state>/held/<name>.expired before the reply goes.

A fixed port (not 0) is first locked machine-wide, through the lock file
/tmp/tallorin-port-<port>.lock, and held until the process ends: test runs of other clones or
build folders that want the same port wait for it instead of failing to bind. A port that
another program still holds once locked is tried again for up to 90 s (--bind-patience).
"""

import argparse
import ctypes
import errno
import fcntl
import gzip
import http.server
import json
import os
import signal
import socketserver
import ssl
import sys
import threading
import time

ENDPOINTS = {"/api/bug": "bug", "/api/attachment": "attachment"}
# Machine-wide, whatever TMPDIR says: every clone on the machine must meet in the same file.
PORT_LOCK = "/tmp/tallorin-port-%d.lock"
PR_SET_PDEATHSIG = 1
# Set when the double ends: releases the connections that a stalled reply holds.
STOPPING = threading.Event()


def write_atomically(path, data):
    temporary = path + ".tmp"
    with open(temporary, "wb") as file:
        file.write(data)
    os.replace(temporary, path)


class Recorder:
    def __init__(self, state):
        self.requests = os.path.join(state, "requests")
        self.replies = os.path.join(state, "replies")
        os.makedirs(self.requests, exist_ok=True)
        os.makedirs(self.replies, exist_ok=True)
        self.holds = os.path.join(state, "holds")
        self.held = os.path.join(state, "held")
        self.releases = os.path.join(state, "release")
        for folder in (self.holds, self.held, self.releases):
            os.makedirs(folder, exist_ok=True)
        self.lock = threading.Lock()
        self.count = 0

    def record(self, path, port, method, headers, body):
        with self.lock:
            self.count += 1
            number = self.count
        stem = os.path.join(self.requests, "%06d" % number)
        # The body first: a record that exists always has its body beside it.
        write_atomically(stem + ".body", body)
        meta = {"path": path, "port": port, "method": method, "headers": headers}
        write_atomically(stem + ".json", json.dumps(meta).encode("utf-8"))

    def hold(self, name):
        """Waits while the test holds the replies of `name`, within the hold's limit."""
        try:
            with open(os.path.join(self.holds, name + ".json"), encoding="utf-8") as file:
                limit = float(json.load(file).get("limit", 60))
        except FileNotFoundError:
            return
        write_atomically(os.path.join(self.held, name), b"")
        release = os.path.join(self.releases, name)
        deadline = time.monotonic() + limit
        while not os.path.exists(release):
            if time.monotonic() > deadline:
                write_atomically(os.path.join(self.held, name + ".expired"), b"")
                return
            time.sleep(0.02)

    def reply_for(self, name):
        try:
            with open(os.path.join(self.replies, name + ".json"), encoding="utf-8") as file:
                return json.load(file)
        except FileNotFoundError:
            return {}


class Handler(http.server.BaseHTTPRequestHandler):
    # HTTP/1.1 so that a client's "Expect: 100-continue" is answered.
    protocol_version = "HTTP/1.1"

    def do_POST(self):
        length = int(self.headers.get("Content-Length", "0"))
        name = ENDPOINTS.get(self.path)
        reply = self.server.recorder.reply_for(name) if name is not None else {}
        body = self.read_body(length, int(reply.get("read_bps", 0)))
        port = self.server.server_address[1]
        headers = [[name, value] for name, value in self.headers.items()]
        self.server.recorder.record(self.path, port, "POST", headers, body)

        if name is None:
            self.answer(404, b"not found", False)
            return
        # After the record, so that a test that sees the hold also sees the request.
        self.server.recorder.hold(name)
        reply = self.server.recorder.reply_for(name)
        if reply.get("stall", False):
            STOPPING.wait()
            self.close_connection = True
            return
        text = reply.get("body", "{}").encode("utf-8")
        pause = reply.get("trickle_ms", 0) / 1000.0
        if reply.get("endless", False) and pause > 0:
            self.answer_endlessly(int(reply.get("status", 200)), text or b" ", pause)
            return
        self.answer(int(reply.get("status", 200)), text, bool(reply.get("gzip", False)),
                    reply.get("location", ""), pause)

    def read_body(self, length, rate):
        """The request's body, taken at `rate` bytes per second when it is not 0: twenty
        reads a second, each followed by its share of the second."""
        if length <= 0:
            return b""
        if rate <= 0:
            return self.rfile.read(length)
        step = max(1, rate // 20)
        parts = []
        received = 0
        started = time.monotonic()
        while received < length and not STOPPING.is_set():
            part = self.rfile.read(min(step, length - received))
            if not part:
                break
            parts.append(part)
            received += len(part)
            # Paced by the total, so that the time the reads take does not slow the rate.
            delay = started + received / rate - time.monotonic()
            if delay > 0:
                time.sleep(delay)
        return b"".join(parts)

    def answer_endlessly(self, status, pattern, pause):
        self.send_response(status)
        self.send_header("Content-Type", "application/json")
        self.send_header("Transfer-Encoding", "chunked")
        self.end_headers()
        self.close_connection = True
        index = 0
        while not STOPPING.is_set():
            self.wfile.write(b"1\r\n" + pattern[index:index + 1] + b"\r\n")
            self.wfile.flush()
            index = (index + 1) % len(pattern)
            time.sleep(pause)

    def answer(self, status, body, compressed, location="", pause=0.0):
        if compressed:
            body = gzip.compress(body)
        self.send_response(status)
        self.send_header("Content-Type", "application/json")
        if compressed:
            self.send_header("Content-Encoding", "gzip")
        if location:
            self.send_header("Location", location)
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Connection", "close")
        self.end_headers()
        if pause <= 0:
            self.wfile.write(body)
            return
        for index in range(len(body)):
            self.wfile.write(body[index:index + 1])
            self.wfile.flush()
            time.sleep(pause)

    def log_message(self, format, *args):
        pass


def end_with_parent():
    """The double ends with the process that started it (a test, a test runner, a script):
    an orphan would hold its ports, and their locks, until someone killed it."""
    try:
        ctypes.CDLL(None, use_errno=True).prctl(PR_SET_PDEATHSIG, signal.SIGTERM)
    except (AttributeError, OSError):
        return
    if os.getppid() == 1:
        sys.exit("the process that started the double has ended")


def lock_ports(ports, patience):
    """Takes the lock of each fixed port, in ascending order; the files stay open (and so
    locked) until the process ends. Exits when another holder keeps one past `patience`."""
    held = []
    for port in sorted(set(port for port in ports if port != 0)):
        path = PORT_LOCK % port
        descriptor = os.open(path, os.O_RDWR | os.O_CREAT | os.O_CLOEXEC, 0o666)
        try:
            os.fchmod(descriptor, 0o666)  # other users' runs must open it too
        except PermissionError:
            pass  # someone else's file: they made it so
        deadline = time.monotonic() + patience
        told = False
        while True:
            try:
                fcntl.flock(descriptor, fcntl.LOCK_EX | fcntl.LOCK_NB)
                break
            except BlockingIOError:
                if time.monotonic() > deadline:
                    sys.exit("port %d stays locked by another test run (%s) after %d s"
                             % (port, path, patience))
                if not told:
                    print("waiting for port %d: another test run holds %s" % (port, path),
                          flush=True)
                    told = True
                time.sleep(0.1)
        held.append(descriptor)
    return held


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, port, context, recorder, patience, started):
        # A fixed port is ours once locked, but another program may still hold it: a connection
        # that had it as its local port keeps it in TIME_WAIT for 60 s, which SO_REUSEADDR
        # does not pass. Try again for longer than that, counted from `started` for both
        # ports, before giving up.
        deadline = started + (patience if port != 0 else 0)
        told = False
        while True:
            try:
                super().__init__(("127.0.0.1", port), Handler)
                break
            except OSError as error:
                if error.errno != errno.EADDRINUSE:
                    raise
                if time.monotonic() > deadline:
                    sys.exit("port %d stays in use by another program after %d s" % (port, patience))
                if not told:
                    print("waiting for port %d: another program uses it" % port, flush=True)
                    told = True
                time.sleep(0.2)
        self.context = context
        self.recorder = recorder

    def get_request(self):
        connection, address = self.socket.accept()
        # The handshake runs in the request's thread, so a client that refuses the
        # certificate never holds up the others.
        wrapped = self.context.wrap_socket(
            connection, server_side=True, do_handshake_on_connect=False)
        return wrapped, address

    def handle_error(self, request, client_address):
        error = sys.exc_info()[1]
        if isinstance(error, (ssl.SSLError, ConnectionError)):
            return  # a client that refused our certificate or went away
        super().handle_error(request, client_address)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--state", required=True, help="folder for replies, records and ready")
    parser.add_argument("--cert", required=True)
    parser.add_argument("--key", required=True)
    parser.add_argument("--production-port", type=int, default=0)
    parser.add_argument("--staging-port", type=int, default=0)
    parser.add_argument("--lock-patience", type=int, default=600,
                        help="seconds to wait for another run's hold on a fixed port")
    parser.add_argument("--bind-patience", type=int, default=90,
                        help="seconds to wait for another program to free a fixed port")
    arguments = parser.parse_args()
    end_with_parent()
    locks = lock_ports((arguments.production_port, arguments.staging_port),
                       arguments.lock_patience)

    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(arguments.cert, arguments.key)
    recorder = Recorder(arguments.state)
    started = time.monotonic()
    servers = [Server(port, context, recorder, arguments.bind_patience, started)
               for port in (arguments.production_port, arguments.staging_port)]
    for server in servers:
        threading.Thread(target=server.serve_forever, args=(0.05,), daemon=True).start()

    stop = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stop.set())
    signal.signal(signal.SIGINT, lambda *_: stop.set())
    ports = {"production": servers[0].server_address[1], "staging": servers[1].server_address[1]}
    write_atomically(os.path.join(arguments.state, "ready"), json.dumps(ports).encode("utf-8"))
    while not stop.wait(0.2):
        pass
    STOPPING.set()
    for server in servers:
        server.shutdown()
        server.server_close()
    for descriptor in locks:
        os.close(descriptor)


if __name__ == "__main__":
    main()
