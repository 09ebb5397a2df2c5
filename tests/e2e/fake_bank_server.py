#!/usr/bin/env python3
"""The bank's download server, faked on loopback for end-to-end tests.

Serves a folder over HTTPS on two free ports of 127.0.0.1: one with a
certificate of the test CA that the Wine prefix trusts, one with a
certificate nobody trusts. A leading path segment picks a behaviour:

  /nolength/P  200, body of P, no Content-Length (connection closes)
  /chunked/P   200, body of P in chunks
  /short/P     200, Content-Length 100 bytes larger than the body sent
  /missing/P   404 with a body and its Content-Length
  /slow/P      P after a delay of 0.5 s
  /empty/P     200, empty body, no Content-Length
  /P           the file P (404 with a body when it does not exist)

Every request is logged as "METHOD PATH" to the log file. The server ends
by itself after --lifetime seconds, or on SIGTERM/SIGINT.
"""
import argparse
import http.server
import os
import signal
import ssl
import sys
import threading
import time

BEHAVIOURS = ("nolength", "chunked", "short", "missing", "slow", "empty")


def make_handler(root, log_path, log_lock):
    class Handler(http.server.BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"

        def log_message(self, *args):
            pass

        def log_request_line(self):
            with log_lock, open(log_path, "a", encoding="utf-8") as log:
                log.write(f"{self.command} {self.path}\n")

        def read_file(self, relative):
            path = os.path.realpath(os.path.join(root, relative.lstrip("/")))
            if not path.startswith(os.path.realpath(root) + os.sep) or not os.path.isfile(path):
                return None
            with open(path, "rb") as f:
                return f.read()

        def send_plain(self, status, body, length=None, close=False):
            self.send_response(status)
            self.send_header("Content-Type", "application/octet-stream")
            if length is not None:
                self.send_header("Content-Length", str(length))
            if close:
                self.send_header("Connection", "close")
                self.close_connection = True
            self.end_headers()
            self.wfile.write(body)
            self.wfile.flush()

        def do_GET(self):
            self.log_request_line()
            path = self.path.split("?", 1)[0]
            behaviour = None
            parts = path.lstrip("/").split("/", 1)
            if len(parts) == 2 and parts[0] in BEHAVIOURS:
                behaviour, path = parts[0], "/" + parts[1]
            if behaviour == "empty":
                return self.send_plain(200, b"", close=True)
            if behaviour == "missing":
                body = b"<html>not here</html>"
                return self.send_plain(404, body, len(body))
            if behaviour == "slow":
                time.sleep(0.5)
            body = self.read_file(path)
            if body is None:
                missing = b"<html>no such file</html>"
                return self.send_plain(404, missing, len(missing))
            if behaviour == "nolength":
                return self.send_plain(200, body, close=True)
            if behaviour == "short":
                return self.send_plain(200, body, len(body) + 100, close=True)
            if behaviour == "chunked":
                self.send_response(200)
                self.send_header("Transfer-Encoding", "chunked")
                self.end_headers()
                for start in range(0, len(body), 3000):
                    chunk = body[start:start + 3000]
                    self.wfile.write(b"%x\r\n%s\r\n" % (len(chunk), chunk))
                self.wfile.write(b"0\r\n\r\n")
                self.wfile.flush()
                return None
            return self.send_plain(200, body, len(body))

    return Handler


def serve(cert, key, handler):
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
    server.daemon_threads = True
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    server.socket = context.wrap_socket(server.socket, server_side=True)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--cert", required=True)
    parser.add_argument("--key", required=True)
    parser.add_argument("--untrusted-cert", required=True)
    parser.add_argument("--untrusted-key", required=True)
    parser.add_argument("--port-file", required=True)
    parser.add_argument("--log", required=True)
    parser.add_argument("--lifetime", type=float, default=300)
    args = parser.parse_args()

    lock = threading.Lock()
    handler = make_handler(args.root, args.log, lock)
    trusted = serve(args.cert, args.key, handler)
    untrusted = serve(args.untrusted_cert, args.untrusted_key, handler)
    open(args.log, "a").close()
    with open(args.port_file + ".tmp", "w") as f:
        f.write(f"{trusted.server_address[1]} {untrusted.server_address[1]}\n")
    os.replace(args.port_file + ".tmp", args.port_file)

    done = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: done.set())
    signal.signal(signal.SIGINT, lambda *_: done.set())
    done.wait(args.lifetime)
    trusted.shutdown()
    untrusted.shutdown()
    return 0


if __name__ == "__main__":
    sys.exit(main())
