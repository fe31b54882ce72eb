"""A local https release server and the CONNECT proxy through which Wine's WinINet reaches it.

The installer asks for fixed addresses on the release storage host and the release CDN host.
Wine's WinINet honours http_proxy and tunnels https through CONNECT, so a test points
http_proxy at ReleaseServer.proxy_url: the proxy routes those two host names (port 443) to
the local TLS server and refuses everything else. Nothing here ever connects anywhere but
127.0.0.1.

Paths served, both from one release folder:
    https://<storage host>/s3-mirrowfold-upgrade-3/vantile/desktop/<name>
    https://<cdn host>/vantile/desktop/<name>

Tests can ask for faults per path (set_fault) and per host at the TLS level (set_tls), and
read what the server saw (requests, connects).
"""
import email.utils
import fcntl
import http.server
import pathlib
import select
import shutil
import socket
import socketserver
import ssl
import struct
import tempfile
import termios
import threading
import time

from . import ca as test_ca

STORAGE_HOST = "releases.mirrowfold.example"
CDN_HOST = "cdn.mirrowfold.example"
STORAGE_PREFIX = "/s3-mirrowfold-upgrade-3/vantile/desktop/"
CDN_PREFIX = "/vantile/desktop/"
MANIFEST_PATH = STORAGE_PREFIX + "metadata.json"
# A host name that neither of the release hosts matches, for the wrong-host certificate.
OTHER_HOST = "elsewhere.mirrowfold.example"

TLS_MODES = ("ok", "wrong_host", "unknown_ca")
SEND_BLOCK = 256 * 1024

FAULT_KEYS = {
    "status",        # answer with this status instead of the file (no body but a short text)
    "location",      # Location header for a 3xx status
    "body",          # bytes to serve instead of the file
    "append",        # this many extra bytes after the file (counted in Content-Length)
    "cut_after",     # send this many body bytes, then close cleanly (TLS close_notify, FIN)
    "reset_after",   # send this many body bytes, then reset the connection (TCP RST)
    "stall_after",   # send this many body bytes, then pause for stall_seconds
    "stall_seconds",
    "headers_delay", # seconds to wait before the status line
    "rate",          # bytes per second for the body
    "no_content_length",  # omit Content-Length and end the body by closing cleanly
    "times",         # the fault applies to this many requests, then the file is served
}


class RequestRecord:
    """One request that reached the release server."""

    def __init__(self, method, path, host, user_agent, headers, listener, redirect_followed,
                 fault):
        self.method = method
        self.path = path
        self.host = host
        self.user_agent = user_agent
        self.headers = headers
        self.listener = listener
        self.redirect_followed = redirect_followed
        self.fault = fault
        self.time = time.monotonic()

    def __repr__(self):
        return "RequestRecord(%s %s host=%s agent=%s listener=%s fault=%s)" % (
            self.method, self.path, self.host, self.user_agent, self.listener, self.fault)


class ConnectRecord:
    """One request that reached the proxy."""

    def __init__(self, request_line, host, port, allowed):
        self.request_line = request_line
        self.host = host
        self.port = port
        self.allowed = allowed

    def __repr__(self):
        return "ConnectRecord(%r allowed=%s)" % (self.request_line, self.allowed)


def _reset(sock):
    """Closes a socket with a TCP reset instead of an orderly close."""
    try:
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    except OSError:
        pass
    try:
        sock.close()
    except OSError:
        pass


def _wait_for_send_queue(sock, timeout):
    """Waits until everything written to the socket has been acknowledged by the peer."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        try:
            queued = struct.unpack("i", fcntl.ioctl(sock.fileno(), termios.TIOCOUTQ,
                                                    b"\0\0\0\0"))[0]
        except OSError:
            return
        if queued == 0:
            return
        time.sleep(0.005)


class _Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "VantileTestRelease/1"
    sys_version = ""

    def log_message(self, *args):
        pass

    def handle(self):
        self.request.settimeout(120)
        try:
            self.request.do_handshake()
        except (ssl.SSLError, OSError) as error:
            self.server.owner._record_tls_failure(self.server.listener, error)
            self.close_connection = True
            return
        try:
            super().handle()
        except (ConnectionError, ssl.SSLError, socket.timeout, OSError):
            self.close_connection = True

    def do_GET(self):
        owner = self.server.owner
        path = self.path.split("?", 1)[0]
        host = (self.headers.get("Host") or "").split(":", 1)[0].lower()
        fault = owner._take_fault(self.path)
        owner._record_request(self, host, fault)

        if fault.get("headers_delay"):
            if owner._stopping.wait(fault["headers_delay"]):
                self.close_connection = True
                return

        if "status" in fault:
            self._send_status(fault["status"], fault.get("location"))
            return

        if "body" in fault:
            body = bytes(fault["body"])
            file_path = None
            length = len(body)
        else:
            file_path = owner._file_for(host, path)
            if file_path is None:
                self._send_status(404)
                return
            body = None
            length = file_path.stat().st_size
        append = int(fault.get("append", 0))
        total = length + append

        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Last-Modified", email.utils.formatdate(usegmt=True))
        if fault.get("no_content_length"):
            self.send_header("Connection", "close")
        else:
            self.send_header("Content-Length", str(total))
        self.end_headers()

        limit = total
        ending = "complete"
        for key, name in (("cut_after", "cut"), ("reset_after", "reset")):
            if key in fault and int(fault[key]) < limit:
                limit = int(fault[key])
                ending = name
        rate = fault.get("rate")

        stall_at = int(fault["stall_after"]) if "stall_after" in fault else None
        stall_seconds = float(fault.get("stall_seconds", 60))
        sent = 0
        for block in self._body_blocks(file_path, body, append):
            if sent >= limit:
                break
            block = block[:limit - sent]
            if stall_at is not None and sent + len(block) > stall_at:
                head = block[:stall_at - sent]
                self._write(head, rate)
                sent += len(head)
                block = block[len(head):]
                stall_at = None
                if owner._stopping.wait(stall_seconds):
                    ending = "reset"
                    break
            self._write(block, rate)
            sent += len(block)
        if stall_at is not None and ending != "reset":
            # The pause comes after everything that is sent.
            if owner._stopping.wait(stall_seconds):
                ending = "reset"

        if ending == "reset":
            self._reset_connection()
        elif ending == "cut" or fault.get("no_content_length"):
            self._close_cleanly()

    def _body_blocks(self, file_path, body, append):
        if body is not None:
            for start in range(0, len(body), SEND_BLOCK):
                yield body[start:start + SEND_BLOCK]
        else:
            with open(file_path, "rb") as source:
                while True:
                    block = source.read(SEND_BLOCK)
                    if not block:
                        break
                    yield block
        filler = b"\x5a" * SEND_BLOCK
        while append > 0:
            part = min(append, SEND_BLOCK)
            yield filler[:part]
            append -= part

    def _write(self, block, rate):
        if not block:
            return
        if not rate:
            self.wfile.write(block)
            return
        step = max(1, min(len(block), int(rate) // 20 or 1))
        for start in range(0, len(block), step):
            if self.server.owner._stopping.is_set():
                raise ConnectionAbortedError("server stopping")
            self.wfile.write(block[start:start + step])
            time.sleep(step / float(rate))

    def _send_status(self, status, location=None):
        body = ("HTTP %d from the Vantile test release server\n" % status).encode()
        self.send_response(status)
        if location:
            self.send_header("Location", location)
            self.server.owner._note_redirect(location)
        self.send_header("Content-Type", "text/plain")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def _close_cleanly(self):
        """Ends TLS with close_notify, then closes the TCP connection with FIN at once.

        Clients (WinINet among them) need not answer close_notify, so the server does not
        wait for theirs: it lets its send queue drain, sends close_notify, and closes.
        """
        self.close_connection = True
        sock = self.request
        try:
            self.wfile.flush()
            _wait_for_send_queue(sock, 10.0)
            sock.settimeout(0.05)
            sock.unwrap()
        except (ssl.SSLError, OSError):
            pass
        try:
            sock.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass

    def _reset_connection(self):
        self.close_connection = True
        try:
            self.wfile.flush()
        except OSError:
            pass
        # Let the bytes already sent reach the client before the reset overtakes them.
        time.sleep(0.3)
        self.rfile.close()
        _reset(self.request)


class _TLSServer(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True
    request_queue_size = 64

    def __init__(self, owner, listener, context):
        self.owner = owner
        self.listener = listener
        self.context = context
        super().__init__(("127.0.0.1", 0), _Handler)

    def get_request(self):
        sock, address = self.socket.accept()
        # The handshake runs on the connection's own thread (see _Handler.handle).
        return self.context.wrap_socket(sock, server_side=True,
                                        do_handshake_on_connect=False), address

    def handle_error(self, request, client_address):
        pass


class _ProxyHandler(socketserver.BaseRequestHandler):
    def handle(self):
        owner = self.server.owner
        client = self.request
        client.settimeout(30)
        head = b""
        try:
            while b"\r\n\r\n" not in head and len(head) < 16384:
                data = client.recv(4096)
                if not data:
                    return
                head += data
        except OSError:
            return
        head, _, rest = head.partition(b"\r\n\r\n")
        request_line = head.split(b"\r\n", 1)[0].decode("latin-1")
        parts = request_line.split()
        host, port = "", 0
        if len(parts) == 3 and parts[0] == "CONNECT":
            target = parts[1]
            host, _, port_text = target.rpartition(":")
            host = host.strip("[]").lower()
            port = int(port_text) if port_text.isdigit() else 0
        upstream_port = owner._route(host, port)
        owner._record_connect(request_line, host, port, upstream_port is not None)
        if upstream_port is None:
            try:
                client.sendall(b"HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n"
                               b"Connection: close\r\n\r\n")
            except OSError:
                pass
            return
        try:
            upstream = socket.create_connection(("127.0.0.1", upstream_port), timeout=10)
        except OSError:
            client.sendall(b"HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\n\r\n")
            return
        try:
            client.sendall(b"HTTP/1.1 200 Connection established\r\n\r\n")
            if rest:
                upstream.sendall(rest)
        except OSError:
            upstream.close()
            return
        owner._relay(client, upstream)

    def finish(self):
        pass


class _ProxyServer(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True
    request_queue_size = 64

    def __init__(self, owner):
        self.owner = owner
        super().__init__(("127.0.0.1", 0), _ProxyHandler)

    def handle_error(self, request, client_address):
        pass


class ReleaseServer:
    """The release server with its proxy; use as a context manager.

        with ReleaseServer(release_dir) as server:
            env = {"http_proxy": server.proxy_url}
            server.set_fault(server.storage_path("app.zip"), status=404)
            ...
            server.requests  # what arrived, in order
    """

    def __init__(self, release_dir, ca=None, storage_host=STORAGE_HOST, cdn_host=CDN_HOST):
        self.release_dir = pathlib.Path(release_dir)
        self.storage_host = storage_host
        self.cdn_host = cdn_host
        self._ca = ca
        self._lock = threading.Lock()
        self._faults = {}
        self._tls_modes = {}
        self._requests = []
        self._connects = []
        self._tls_failures = []
        self._redirect_targets = set()
        self._stopping = threading.Event()
        self._servers = {}
        self._proxy = None
        self._threads = []
        self._relays = set()
        self._work_dir = None
        self._ca_in_use = None
        self.ca_file = None

    # -- life cycle ---------------------------------------------------------------------

    def __enter__(self):
        self.start()
        return self

    def __exit__(self, *exc):
        self.stop()

    def start(self):
        self._ca_in_use = self._ca or test_ca.run_ca()
        self._work_dir = tempfile.mkdtemp(prefix="server-", dir=self._ca_in_use.directory)
        self.ca_file = self._ca_in_use.certificate
        self._ensure_listener("ok")
        self._proxy = _ProxyServer(self)
        self._spawn(self._proxy.serve_forever, 0.2)

    def _ensure_listener(self, mode):
        """Starts the TLS listener for a certificate mode; the faulty ones only when asked."""
        if mode in self._servers:
            return
        work = pathlib.Path(self._work_dir)
        names = [self.storage_host, self.cdn_host]
        if mode == "ok":
            certificate, key = test_ca.issue_server_certificate(self._ca_in_use, work, names,
                                                                "release")
        elif mode == "wrong_host":
            certificate, key = test_ca.issue_server_certificate(self._ca_in_use, work,
                                                                [OTHER_HOST], "wrong-host")
        else:
            # A CA made here and now: no bundle and no earlier run can have trusted it.
            stranger = test_ca.make_ca(work / "unknown-ca", "Unknown Test CA")
            certificate, key = test_ca.issue_server_certificate(stranger, work, names,
                                                                "unknown-ca")
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.minimum_version = ssl.TLSVersion.TLSv1_2
        context.load_cert_chain(str(certificate), str(key))
        server = _TLSServer(self, mode, context)
        with self._lock:
            self._servers[mode] = server
        self._spawn(server.serve_forever, 0.2)

    def stop(self):
        self._stopping.set()
        for server in [*list(self._servers.values()), self._proxy]:
            if server is not None:
                server.shutdown()
                server.server_close()
        with self._lock:
            relays = list(self._relays)
        for sock in relays:
            _reset(sock)
        for thread in self._threads:
            thread.join(timeout=5)
        if self._work_dir:
            shutil.rmtree(self._work_dir, ignore_errors=True)
            self._work_dir = None

    def _spawn(self, target, *args):
        thread = threading.Thread(target=target, args=args, daemon=True)
        thread.start()
        self._threads.append(thread)

    # -- addresses ----------------------------------------------------------------------

    @property
    def proxy_url(self):
        return "http://127.0.0.1:%d" % self._proxy.server_address[1]

    @property
    def proxy_port(self):
        return self._proxy.server_address[1]

    def port(self, listener="ok"):
        return self._servers[listener].server_address[1]

    @staticmethod
    def storage_path(name):
        return STORAGE_PREFIX + name

    @staticmethod
    def cdn_path(name):
        return CDN_PREFIX + name

    def storage_url(self, name):
        return "https://%s%s" % (self.storage_host, self.storage_path(name))

    def cdn_url(self, name):
        return "https://%s%s" % (self.cdn_host, self.cdn_path(name))

    @property
    def manifest_url(self):
        return "https://%s%s" % (self.storage_host, MANIFEST_PATH)

    # -- faults -------------------------------------------------------------------------

    def set_fault(self, path, **fault):
        """Answers requests for path (as sent, e.g. storage_path("app.zip")) with a fault.

        See FAULT_KEYS. With times=N the fault applies to the next N requests only.
        """
        unknown = set(fault) - FAULT_KEYS
        if unknown:
            raise ValueError("unknown fault settings: %s" % ", ".join(sorted(unknown)))
        with self._lock:
            self._faults[path] = dict(fault)

    def clear_fault(self, path=None):
        with self._lock:
            if path is None:
                self._faults.clear()
            else:
                self._faults.pop(path, None)

    def set_tls(self, mode, host=None):
        """Serves the host (or both release hosts) with a good certificate ("ok"), one for
        another host name ("wrong_host"), or one from a CA nobody trusts ("unknown_ca")."""
        if mode not in TLS_MODES:
            raise ValueError("unknown TLS mode %r" % mode)
        self._ensure_listener(mode)
        with self._lock:
            for name in ([host] if host else [self.storage_host, self.cdn_host]):
                self._tls_modes[name.lower()] = mode

    # -- what the server saw ------------------------------------------------------------

    @property
    def requests(self):
        with self._lock:
            return list(self._requests)

    def requests_for(self, path):
        return [record for record in self.requests if record.path.split("?", 1)[0] == path]

    @property
    def connects(self):
        with self._lock:
            return list(self._connects)

    @property
    def tls_failures(self):
        with self._lock:
            return list(self._tls_failures)

    @property
    def redirects_followed(self):
        return [record for record in self.requests if record.redirect_followed]

    # -- internals ----------------------------------------------------------------------

    def _file_for(self, host, path):
        if host == self.storage_host.lower() and path.startswith(STORAGE_PREFIX):
            name = path[len(STORAGE_PREFIX):]
        elif host == self.cdn_host.lower() and path.startswith(CDN_PREFIX):
            name = path[len(CDN_PREFIX):]
        else:
            return None
        parts = name.split("/")
        if not name or any(part in ("", ".", "..") or "\\" in part for part in parts):
            return None
        candidate = self.release_dir.joinpath(*parts)
        return candidate if candidate.is_file() else None

    def _take_fault(self, path):
        path = path.split("?", 1)[0]
        with self._lock:
            fault = self._faults.get(path)
            if fault is None:
                return {}
            if "times" in fault:
                fault["times"] -= 1
                if fault["times"] <= 0:
                    del self._faults[path]
            return {key: value for key, value in fault.items() if key != "times"}

    def _note_redirect(self, location):
        with self._lock:
            self._redirect_targets.add(location)

    def _record_request(self, handler, host, fault):
        path = handler.path
        url = "https://%s%s" % (host, path)
        with self._lock:
            followed = url in self._redirect_targets or path in self._redirect_targets
            self._requests.append(RequestRecord(
                handler.command, path, host, handler.headers.get("User-Agent"),
                dict(handler.headers.items()), handler.server.listener, followed,
                {key: value for key, value in fault.items() if key != "body"}))

    def _record_tls_failure(self, listener, error):
        with self._lock:
            self._tls_failures.append((listener, str(error)))

    def _record_connect(self, request_line, host, port, allowed):
        with self._lock:
            self._connects.append(ConnectRecord(request_line, host, port, allowed))

    def _route(self, host, port):
        """The local TLS port for a CONNECT target, or None to refuse it."""
        if port != 443 or host not in (self.storage_host.lower(), self.cdn_host.lower()):
            return None
        with self._lock:
            mode = self._tls_modes.get(host, "ok")
        return self._servers[mode].server_address[1]

    def _relay(self, client, upstream):
        """Copies bytes both ways until both sides have closed. A clean close (FIN) on one
        side becomes a FIN on the other; a reset becomes a reset."""
        with self._lock:
            self._relays.update((client, upstream))
        peer = {client: upstream, upstream: client}
        pending = {client: bytearray(), upstream: bytearray()}  # bytes waiting to go to key
        ended = set()      # sockets that sent FIN
        shut = set()       # sockets we sent FIN to
        for sock in (client, upstream):
            sock.setblocking(False)
        try:
            while not self._stopping.is_set():
                readable = [s for s in (client, upstream)
                            if s not in ended and len(pending[peer[s]]) < 4 * SEND_BLOCK]
                writable = [s for s in (client, upstream) if pending[s]]
                if not readable and not writable:
                    break
                try:
                    ready_r, ready_w, _ = select.select(readable, writable, [], 0.5)
                except (OSError, ValueError):
                    break
                for sock in ready_r:
                    try:
                        data = sock.recv(SEND_BLOCK)
                    except (BlockingIOError, InterruptedError):
                        continue
                    except OSError:
                        self._pass_reset(peer[sock], pending[peer[sock]])
                        return
                    if data:
                        pending[peer[sock]] += data
                    else:
                        ended.add(sock)
                for sock in ready_w:
                    try:
                        count = sock.send(pending[sock])
                    except (BlockingIOError, InterruptedError):
                        continue
                    except OSError:
                        self._pass_reset(peer[sock], b"")
                        return
                    del pending[sock][:count]
                for sock in (client, upstream):
                    if peer[sock] in ended and not pending[sock] and sock not in shut:
                        shut.add(sock)
                        try:
                            sock.shutdown(socket.SHUT_WR)
                        except OSError:
                            pass
        finally:
            for sock in (client, upstream):
                try:
                    sock.close()
                except OSError:
                    pass
            with self._lock:
                self._relays.difference_update((client, upstream))

    @staticmethod
    def _pass_reset(sock, pending):
        """The other side reset: deliver what it had sent, then reset this side too."""
        try:
            sock.setblocking(True)
            sock.settimeout(2)
            if pending:
                sock.sendall(pending)
        except OSError:
            pass
        _reset(sock)
