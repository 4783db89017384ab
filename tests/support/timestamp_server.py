#!/usr/bin/env python3
"""A throwaway RFC 3161 time-stamping server on 127.0.0.1 for signing tests.

    timestamp_server.py OPENSSL_TS_CONFIG

Binds a free port, prints "PORT PID" and returns; the forked server answers
each POST with `openssl ts -reply` until it is killed. Binding before the fork
means a request sent as soon as the port is printed waits for the server.
"""
import http.server
import os
import subprocess
import sys

config = sys.argv[1]


class Reply(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        query = self.rfile.read(int(self.headers["Content-Length"]))
        reply = subprocess.run(["openssl", "ts", "-reply", "-config", config, "-queryfile", "/dev/stdin",
                                "-out", "/dev/stdout"], input=query, capture_output=True).stdout
        self.send_response(200 if reply else 500)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)

    def log_message(self, *args):
        pass


server = http.server.HTTPServer(("127.0.0.1", 0), Reply)
child = os.fork()
if child:
    print(server.server_address[1], child, flush=True)
    sys.exit(0)
# The caller reads the parent's output to its end: the server keeps none of it open.
quiet = os.open(os.devnull, os.O_RDWR)
for descriptor in (0, 1, 2):
    os.dup2(quiet, descriptor)
server.serve_forever()
