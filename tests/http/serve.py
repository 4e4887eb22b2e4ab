#!/usr/bin/env python3
"""Runs a Kiv table against local HTTP and HTTPS servers that it starts itself.

    serve.py RUNNER TABLE

Starts on 127.0.0.1, each on a free port: a plain HTTP server with fixed
routes, an HTTPS server whose certificate comes from a CA made here with the
openssl command (trusted through SSL_CERT_FILE), and one whose CA is not
trusted. Then runs RUNNER TABLE with their base URLs in KIV_TEST_HTTP,
KIV_TEST_HTTPS and KIV_TEST_HTTPS_UNTRUSTED, a short time limit, a cache
folder of its own (and in KIV_TEST_THRU_PATH the cache path of the remote
script, its MD5 digest computed here), and exits with the runner's status.
"""
import hashlib
import http.server
import os
import socket
import ssl
import subprocess
import sys
import tempfile
import threading
import time

BIG = bytes(range(256)) * (50 * 1024 * 1024 // 256)
BIG_SHA256 = hashlib.sha256(BIG).hexdigest().upper()
SCRIPT = b"Kiv [Title: \"remote\"]\nremote-result: 6 * 7\n"


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def send(self, status, body, headers=(), content_type="text/plain; charset=utf-8"):
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)

    def body(self):
        n = int(self.headers.get("Content-Length") or 0)
        return self.rfile.read(n) if n else b""

    # The request as the server saw it: method, header lines in order, a
    # blank line, the body.
    def echo(self):
        lines = [self.command]
        lines += ["%s: %s" % (k, v) for k, v in self.headers.items()]
        text = ("\n".join(lines) + "\n\n").encode() + self.body()
        self.send(200, text)

    def route(self):
        path = self.path
        if path == "/echo":
            return self.echo()
        self.body()  # read, so that it does not stay on a kept-alive connection
        if path == "/text":
            self.send(200, "h\u00e9llo\nw\u00f6rld\r\n\nlast".encode())
        elif path == "/missing":
            self.send(404, b"not here")
        elif path == "/broken":
            self.send(500, b"server fault")
        elif path == "/redirect":
            self.send(302, b"moved", [("Location", "/text"), ("X-Hop", "first")])
        elif path == "/redirect-twice":
            self.send(301, b"", [("Location", "/redirect")])
        elif path == "/redirect-echo":
            self.send(307, b"", [("Location", "/echo")])
        elif path == "/cookies":
            self.send(200, b"ok", [("Set-Cookie", "a=1"), ("Set-Cookie", "b=2"), ("X-Spaced", "  padded  ")])
        elif path == "/big":
            self.send(200, BIG, content_type="application/octet-stream")
        elif path == "/big-sha256":
            self.send(200, BIG_SHA256.encode())
        elif path == "/cut":
            # Promises 1000 bytes, sends 100, hangs up.
            self.send_response(200)
            self.send_header("Content-Length", "1000")
            self.end_headers()
            self.wfile.write(b"x" * 100)
            self.wfile.flush()
            self.close_connection = True
            self.connection.shutdown(socket.SHUT_RDWR)
        elif path == "/slow":
            self.send_response(200)
            self.send_header("Content-Length", "10")
            self.end_headers()
            self.wfile.write(b"12345")
            self.wfile.flush()
            time.sleep(8)
        elif path == "/script.kiv":
            self.send(200, SCRIPT)
        elif path == "/data.kiv":
            self.send(200, b"[1 2 three]")
        elif path == "/json":
            self.send(200, b'{"a": [1, 2]}', content_type="application/json")
        elif path == "/bad-utf8":
            self.send(200, b"ok", [("X-Latin", "caf\xe9")])
        elif path == "/stop":
            self.send(200, b"stopping")
            threading.Thread(target=stop_plain, daemon=True).start()
        else:
            self.send(404, b"no route")

    do_GET = do_POST = do_PUT = do_DELETE = do_PATCH = do_HEAD = route


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True


plain = None


def stop_plain():
    plain.shutdown()
    plain.server_close()


def start(context=None):
    server = Server(("127.0.0.1", 0), Handler)
    if context:
        server.socket = context.wrap_socket(server.socket, server_side=True)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def openssl(*args, cwd):
    subprocess.run(["openssl", *args], cwd=cwd, check=True, capture_output=True)


def make_ca_and_cert(folder, name):
    """A CA and a certificate for localhost and 127.0.0.1 that it signs."""
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj", "/CN=Kiv test CA " + name,
            "-keyout", name + "-ca.key", "-out", name + "-ca.pem", cwd=folder)
    openssl("req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=localhost",
            "-keyout", name + ".key", "-out", name + ".csr", cwd=folder)
    with open(os.path.join(folder, name + ".ext"), "w") as f:
        f.write("subjectAltName=DNS:localhost,IP:127.0.0.1\n")
    openssl("x509", "-req", "-in", name + ".csr", "-CA", name + "-ca.pem", "-CAkey", name + "-ca.key",
            "-CAcreateserial", "-days", "2", "-extfile", name + ".ext", "-out", name + ".pem", cwd=folder)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(os.path.join(folder, name + ".pem"), os.path.join(folder, name + ".key"))
    return os.path.join(folder, name + "-ca.pem"), context


def main():
    global plain
    runner, table = sys.argv[1], sys.argv[2]
    with tempfile.TemporaryDirectory() as folder:
        trusted_ca, trusted = make_ca_and_cert(folder, "trusted")
        _, untrusted = make_ca_and_cert(folder, "untrusted")
        plain = start()
        secure = start(trusted)
        stranger = start(untrusted)
        env = dict(os.environ)
        env.pop("APPDATA", None)
        for proxy in ("http_proxy", "https_proxy", "all_proxy", "HTTP_PROXY", "HTTPS_PROXY", "ALL_PROXY"):
            env.pop(proxy, None)
        base = "http://127.0.0.1:%d" % plain.server_address[1]
        digest = hashlib.md5((base + "/script.kiv").encode()).hexdigest().upper()
        cache = os.path.join(folder, "cache")
        env.update({
            "KIV_TEST_HTTP": base,
            "KIV_TEST_THRU_PATH": "%s/Kiv/cache/%s/%s" % (cache, digest[:2], digest),
            "KIV_TEST_HTTPS": "https://localhost:%d" % secure.server_address[1],
            "KIV_TEST_HTTPS_UNTRUSTED": "https://127.0.0.1:%d" % stranger.server_address[1],
            "KIV_TEST_BIG_SHA256": BIG_SHA256,
            "KIV_HTTP_TIMEOUT": "2",
            "XDG_CACHE_HOME": cache,
            "SSL_CERT_FILE": trusted_ca,
        })
        status = subprocess.run([runner, table], env=env).returncode
    sys.exit(status)


if __name__ == "__main__":
    main()
