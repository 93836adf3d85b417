"""HTTP server for the update tests.

Serves the folder given as the first argument on 127.0.0.1 at a port the
system chooses and prints that port on the first line of standard output.
Given a certificate and its key file as second and third arguments, it
speaks https with them.
Besides plain files it knows a few misbehaving routes:

  /stall/N       announces N bytes, sends half of them, then goes silent
  /slow/N        sends N bytes in 4 KiB pieces, 20 ms apart
  /big/N         sends N bytes with a Content-Length header
  /unsized/N     sends N bytes without a Content-Length header
  /redirect/P    answers 302 with Location /P, or with Location P when P is
                 an absolute http or https URL
  /encoded/E/P   sends the file P, or N zero bytes for P = "zeros/N", with
                 "Content-Encoding: E" whatever the request asked for; gzip
                 and deflate are applied, any other name sends the bytes as
                 they are

N may be followed by a path ("/slow/400000/NewerVersion.nfo"), which is ignored.

The server ends when its standard input closes, and after two minutes at the
latest, so a crashed test never leaves it behind.
"""

import gzip
import http.server
import os
import ssl
import sys
import threading
import time
import zlib


class Handler(http.server.SimpleHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def __init__(self, *args, **kwargs):
        super().__init__(*args, directory=sys.argv[1], **kwargs)

    def log_message(self, *args):
        pass

    def send_bytes(self, size, with_length=True, piece=65536, pause=0.0, stop_after=None):
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        if with_length:
            self.send_header("Content-Length", str(size))
        else:
            self.send_header("Connection", "close")
            self.close_connection = True
        self.end_headers()
        sent = 0
        limit = size if stop_after is None else stop_after
        while sent < limit:
            count = min(piece, limit - sent)
            self.wfile.write(b"x" * count)
            self.wfile.flush()
            sent += count
            if pause:
                time.sleep(pause)

    def do_GET(self):
        parts = self.path.split("/", 2)
        route = parts[1] if len(parts) > 1 else ""
        argument = parts[2] if len(parts) > 2 else ""
        size = argument.split("/")[0]
        size = int(size) if size.isdigit() else 0
        if route == "stall":
            self.send_bytes(size, stop_after=size // 2)
            time.sleep(60)
            self.close_connection = True
        elif route == "slow":
            self.send_bytes(size, piece=4096, pause=0.02)
        elif route == "big":
            self.send_bytes(size)
        elif route == "unsized":
            self.send_bytes(size, with_length=False)
        elif route == "redirect":
            absolute = argument.startswith(("http://", "https://"))
            self.send_response(302)
            self.send_header("Location", argument if absolute else "/" + argument)
            self.send_header("Content-Length", "0")
            self.end_headers()
        elif route == "encoded":
            self.send_encoded(*argument.partition("/")[::2])
        else:
            super().do_GET()

    def send_encoded(self, encoding, path):
        if path.startswith("zeros/") and path[6:].isdigit():
            data = bytes(int(path[6:]))
        else:
            try:
                with open(os.path.join(sys.argv[1], path), "rb") as file:
                    data = file.read()
            except OSError:
                self.send_error(404)
                return
        if encoding == "gzip":
            data = gzip.compress(data)
        elif encoding == "deflate":
            data = zlib.compress(data)
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Encoding", encoding)
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True

    def handle_error(self, request, client_address):
        # Clients that give up mid-answer are part of the tests.
        pass


def end_when_stdin_closes():
    sys.stdin.buffer.read()
    os._exit(0)


def main():
    server = Server(("127.0.0.1", 0), Handler)
    if len(sys.argv) > 3:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(sys.argv[2], sys.argv[3])
        server.socket = context.wrap_socket(server.socket, server_side=True)
    threading.Thread(target=end_when_stdin_closes, daemon=True).start()
    threading.Timer(120, os._exit, [0]).start()
    print(server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
