#!/usr/bin/env python3
"""Stand-in hosts for the demo and the tests: the web site, the music site
and the update server, each on its own loopback port.

Tests script it over HTTP on any of its ports:
  POST /_ctl/route    JSON {"path": "/box/update.xml", "status": 200,
                      "body": "...", "body_b64": "...", "body_file": "...",
                      "size": N (generated body of N bytes),
                      "headers": {...}, "no_length": bool,
                      "never_answer": bool, "delay": s,
                      "chunks": [n, ...] (trickle sizes), "chunk_delay": s,
                      "drop_after": n (close the connection after n bytes),
                      "stall_after": n (send n bytes, then nothing, keep open),
                      "endless": bool (a generated body that never ends: no
                      length unless "headers" gives one, sent in "chunks"
                      every "chunk_delay" s until "drop_after" bytes, the
                      client going away or "hold" s)}
                      Routes match the path without its query; the most
                      recent route for a path wins. "host" limits a route to
                      one role ("web", "music", "update").
  POST /_ctl/reset    forget routes and the request log, and end every
                      connection the hosts hold (answers held back, bodies
                      stalled or trickling, idle keep-alive connections), so
                      that nothing of an earlier test reaches a later one
  GET  /_ctl/log      the requests received so far, as JSON lines
Every other request is logged (role, method, path with query, headers) and
answered from the routes, the published files or the built-in pages.

Publishing an update the way a real server is fed (tools/publish-update.py
writes the manifest):
  --manifest FILE     serve FILE as the update server's /box/update.xml
  --installer FILE    serve FILE as the update server's /box/<its file name>
Both are read at each request, so a file published anew is served at once;
routes set over /_ctl/route still take precedence, and /_ctl/reset keeps them.
A port 0 takes a free port; the first line printed names the ports used.
"""
import argparse
import base64
import json
import os
import socket
import socketserver
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

MUSIC_PAGE = ("<html><head><title>Velmora</title></head>"
              "<body><h1>Velmora music</h1></body></html>")
COUNT_PAGE = "<html><head><title>count</title></head><body>OK</body></html>"
WEB_PAGE = "<html><body>Velmora web site</body></html>"

DEFAULT_MANIFEST = ("<?xml version=\"1.0\" encoding=\"UTF-8\"?><update>"
                    "<version>1.0.0</version>"
                    "<downurl>http://{update}/box/VelmoraSetup.exe</downurl>"
                    "<exename>VelmoraSetup.exe</exename>"
                    "<filesize>0</filesize>"
                    "<opendownfile>1</opendownfile></update>")


class State:
    def __init__(self, log_path, published=None):
        self.lock = threading.Lock()
        self.routes = []
        self.log = []
        self.log_path = log_path
        self.published = published or {}  # update server path -> file
        self.generation = 0  # raised by every reset
        self.connections = set()

    def reset(self, keep):
        """Forgets routes and log and ends every connection but `keep`."""
        with self.lock:
            self.routes.clear()
            self.log.clear()
            self.generation += 1
            others = [c for c in self.connections if c is not keep]
        for c in others:
            try:
                c.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
        return len(others)

    def record(self, entry):
        with self.lock:
            self.log.append(entry)
            if self.log_path:
                with open(self.log_path, "a", encoding="utf-8") as f:
                    f.write(json.dumps(entry, ensure_ascii=False) + "\n")

    def find(self, role, path):
        with self.lock:
            for r in reversed(self.routes):
                if r.get("path") == path and r.get("host", role) == role:
                    return r
        return None


def make_handler(state, hosts):
    class Handler(BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"
        server_version = "VelmoraStandIn/1.0"

        def log_message(self, fmt, *args):
            pass

        @property
        def role(self):
            return self.server.role

        def setup(self):
            super().setup()
            with state.lock:
                state.connections.add(self.connection)

        def finish(self):
            with state.lock:
                state.connections.discard(self.connection)
            try:
                super().finish()
            except OSError:
                pass

        def _hold(self, seconds, generation):
            """Waits `seconds`, or until a reset ends this test's connections."""
            deadline = time.time() + seconds
            while time.time() < deadline and state.generation == generation:
                time.sleep(min(0.05, max(0.0, deadline - time.time())))
            return state.generation == generation

        def _send(self, status, body, ctype="text/html; charset=utf-8",
                  extra=None, no_length=False):
            self.send_response(status)
            self.send_header("Content-Type", ctype)
            if not no_length:
                self.send_header("Content-Length", str(len(body)))
            else:
                self.send_header("Connection", "close")
                self.close_connection = True
            for k, v in (extra or {}).items():
                self.send_header(k, v)
            self.end_headers()
            if self.command != "HEAD":
                self.wfile.write(body)

        def _control(self):
            path = self.path.split("?", 1)[0]
            if path == "/_ctl/log":
                with state.lock:
                    data = "".join(json.dumps(e, ensure_ascii=False) + "\n" for e in state.log)
                self._send(200, data.encode("utf-8"), "application/json")
            elif path == "/_ctl/reset":
                ended = state.reset(self.connection)
                self._send(200, json.dumps({"ended": ended}).encode(), "application/json")
            elif path == "/_ctl/route":
                n = int(self.headers.get("Content-Length", "0"))
                route = json.loads(self.rfile.read(n) or b"{}")
                with state.lock:
                    state.routes.append(route)
                self._send(200, b"ok", "text/plain")
            else:
                self._send(404, b"no such control", "text/plain")

        def _body_of(self, route):
            if "body_b64" in route:
                return base64.b64decode(route["body_b64"])
            if "body_file" in route:
                with open(route["body_file"], "rb") as f:
                    return f.read()
            if "size" in route:
                n = int(route["size"])
                pattern = bytes(range(256))
                return (pattern * (n // 256 + 1))[:n]
            return route.get("body", "").encode("utf-8")

        def _builtin(self, path):
            role = self.role
            if role == "music" and path == "/":
                return 200, MUSIC_PAGE.encode()
            if role == "web" and path == "/":
                return 200, WEB_PAGE.encode()
            if role == "update" and path == "/count/":
                return 200, COUNT_PAGE.encode()
            if role == "update" and path == "/box/update.xml":
                return 200, DEFAULT_MANIFEST.format(update=hosts["update"]).encode()
            return 404, b"<html><body><h1>404 Not Found</h1></body></html>"

        def _serve(self):
            if self.path.startswith("/_ctl/"):
                return self._control()
            path = self.path.split("?", 1)[0]
            generation = state.generation
            state.record({"time": time.time(), "role": self.role, "method": self.command,
                          "path": self.path, "headers": dict(self.headers.items())})
            route = state.find(self.role, path)
            if route is None and self.role == "update" and path in state.published:
                route = {"body_file": state.published[path]}
            if route is None:
                status, body = self._builtin(path)
                return self._send(status, body)
            if route.get("never_answer"):
                # Hold the connection without a byte until the client gives up.
                self._hold(float(route.get("hold", 120)), generation)
                self.close_connection = True
                return
            if route.get("delay") and not self._hold(float(route["delay"]), generation):
                self.close_connection = True
                return
            body = self._body_of(route)
            status = int(route.get("status", 200))
            ctype = route.get("content_type", "application/octet-stream"
                              if path.endswith(".exe") else "text/html; charset=utf-8")
            if route.get("endless"):
                return self._endless(route, status, ctype, generation)
            chunks = route.get("chunks")
            drop_after = route.get("drop_after")
            stall_after = route.get("stall_after")
            if not chunks and drop_after is None and stall_after is None:
                return self._send(status, body, ctype, route.get("headers"), bool(route.get("no_length")))
            self.send_response(status)
            self.send_header("Content-Type", ctype)
            if not route.get("no_length"):
                self.send_header("Content-Length", str(len(body)))
            for k, v in (route.get("headers") or {}).items():
                self.send_header(k, v)
            self.send_header("Connection", "close")
            self.end_headers()
            self.close_connection = True
            limit = len(body)
            if drop_after is not None:
                limit = min(limit, int(drop_after))
            if stall_after is not None:
                limit = min(limit, int(stall_after))
            sizes = list(chunks or [limit])
            sent = 0
            i = 0
            try:
                while sent < limit:
                    n = int(sizes[min(i, len(sizes) - 1)]) or 1
                    piece = body[sent:min(limit, sent + n)]
                    self.wfile.write(piece)
                    self.wfile.flush()
                    sent += len(piece)
                    i += 1
                    if route.get("chunk_delay") and sent < limit:
                        if not self._hold(float(route["chunk_delay"]), generation):
                            return
                if stall_after is not None:
                    self._hold(float(route.get("hold", 120)), generation)
            except OSError:
                pass

        def _endless(self, route, status, ctype, generation):
            self.send_response(status)
            self.send_header("Content-Type", ctype)
            for k, v in (route.get("headers") or {}).items():
                self.send_header(k, v)
            self.send_header("Connection", "close")
            self.end_headers()
            self.close_connection = True
            sizes = [int(n) or 1 for n in (route.get("chunks") or [65536])]
            limit = route.get("drop_after")
            deadline = time.time() + float(route.get("hold", 120))
            pattern = bytes(range(256)) * (max(sizes) // 256 + 2)
            sent = 0
            i = 0
            try:
                while (time.time() < deadline and state.generation == generation
                       and (limit is None or sent < int(limit))):
                    n = sizes[min(i, len(sizes) - 1)]
                    if limit is not None:
                        n = min(n, int(limit) - sent)
                    off = sent % 256
                    self.wfile.write(pattern[off:off + n])
                    self.wfile.flush()
                    sent += n
                    i += 1
                    if route.get("chunk_delay"):
                        self._hold(float(route["chunk_delay"]), generation)
            except OSError:
                pass

        do_GET = _serve
        do_HEAD = _serve

        def do_POST(self):
            if self.path.startswith("/_ctl/"):
                return self._control()
            n = int(self.headers.get("Content-Length", "0"))
            self.rfile.read(n)
            return self._serve()

    return Handler


class Server(ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, addr, handler, role):
        self.role = role
        super().__init__(addr, handler)


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--web", default="127.0.0.1:18081")
    ap.add_argument("--music", default="127.0.0.1:18082")
    ap.add_argument("--update", default="127.0.0.1:18083")
    ap.add_argument("--log", help="append each request as a JSON line to this file")
    ap.add_argument("--pidfile")
    ap.add_argument("--manifest", help="serve this file as /box/update.xml")
    ap.add_argument("--installer", action="append", default=[],
                    help="serve this file as /box/<its file name> (repeatable)")
    args = ap.parse_args()
    published = {}
    if args.manifest:
        published["/box/update.xml"] = os.path.abspath(args.manifest)
    for f in args.installer:
        published["/box/" + os.path.basename(f)] = os.path.abspath(f)
    hosts = {"web": args.web, "music": args.music, "update": args.update}
    state = State(args.log, published)
    handler = make_handler(state, hosts)
    servers = []
    for role, hp in hosts.items():
        host, _, port = hp.partition(":")
        servers.append(Server((host, int(port or 80)), handler, role))
        # The port actually bound (a port 0 takes a free one).
        hosts[role] = f"{host}:{servers[-1].server_address[1]}"
    for s in servers[1:]:
        threading.Thread(target=s.serve_forever, daemon=True).start()
    if args.pidfile:
        with open(args.pidfile, "w") as f:
            f.write(str(os.getpid()))
    print("stand-in hosts: " + ", ".join(f"{r} http://{h}" for r, h in hosts.items()), flush=True)
    try:
        servers[0].serve_forever()
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()
