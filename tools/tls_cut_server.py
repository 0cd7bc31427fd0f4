#!/usr/bin/env python3
"""A TLS server for the tests that nothing real produces: it serves one file
of pattern bytes, honouring Range, but cuts the first ranged answer of the run in
the middle of its body, closing the TCP connection without TLS's close alert.

    tls_cut_server.py CERT KEY SIZE PORTFILE

Listens on 127.0.0.1 (a free port, written to PORTFILE) until killed; prints
one line per request: "cut FIRST-LAST" or "sent FIRST-LAST"."""
import re
import socket
import ssl
import sys
import threading

cert, key, size, portfile = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4]
content = bytes((i * 7 + (i >> 8)) & 0xFF for i in range(size))
context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(cert, key)
listener = socket.socket()
listener.bind(("127.0.0.1", 0))
listener.listen(16)
with open(portfile + ".tmp", "w") as f:
    f.write(str(listener.getsockname()[1]))
import os
os.rename(portfile + ".tmp", portfile)
lock = threading.Lock()
state = {"cut": False}


def serve(raw):
    try:
        conn = context.wrap_socket(raw, server_side=True)
        while True:
            request = b""
            while b"\r\n\r\n" not in request:
                data = conn.recv(4096)
                if not data:
                    return
                request += data
            match = re.search(rb"Range: bytes=(\d+)-(\d*)", request)
            first = int(match.group(1)) if match else 0
            last = int(match.group(2)) if match and match.group(2) else size - 1
            body = content[first:last + 1]
            status = b"206 Partial Content" if match else b"200 OK"
            head = b"HTTP/1.1 " + status + b"\r\nContent-Length: " + str(len(body)).encode()
            if match:
                head += b"\r\nContent-Range: bytes %d-%d/%d" % (first, last, size)
            conn.sendall(head + b"\r\nETag: \"cut\"\r\n\r\n")
            with lock:
                cut = match is not None and not state["cut"] and len(body) > 1
                state["cut"] = state["cut"] or cut
            if cut:
                conn.sendall(body[: len(body) // 2])
                print("cut %d-%d" % (first, last), flush=True)
                # Python's close sends no close alert: the connection just ends.
                conn.close()
                return
            conn.sendall(body)
            print("sent %d-%d" % (first, last), flush=True)
    except (OSError, ssl.SSLError):
        return


while True:
    client, _ = listener.accept()
    threading.Thread(target=serve, args=(client,), daemon=True).start()
