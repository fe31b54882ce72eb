"""A local https release server and the CONNECT proxy through which Wine's WinINet reaches it.

The installer asks for fixed addresses on the release storage host and the release CDN host.
Wine's WinINet honours http_proxy and tunnels https through CONNECT, so a test points
http_proxy at ReleaseServer.proxy_url: the proxy routes those two host names (port 443) to
the local TLS server and refuses everything else. Nothing here ever connects anywhere but
127.0.0.1.

Paths served, both from one release folder:
    https://<storage host>/s3-mirrowfold-upgrade-3/vantile/desktop/<name>
    https://<cdn host>/vantile/desktop/<name>

Tests can ask for faults per path (set_fault, a Fault description), at the proxy
(set_proxy_fault) and per host at the TLS level (set_tls), and read what the server saw
(requests, connects).
"""
import dataclasses
import email.utils
import gzip
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
import typing

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

@dataclasses.dataclass
class Fault:
    """How the server answers one path instead of serving its file as it is."""
    status: typing.Optional[int] = None       # this status instead of the file (a short text body)
    location: typing.Optional[str] = None     # Location header for a 3xx status
    body: typing.Optional[bytes] = None       # bytes to serve instead of the file
    append: int = 0                           # extra bytes after the file (in Content-Length)
    cut_after: typing.Optional[int] = None    # send this many body bytes, then close cleanly
    reset_after: typing.Optional[int] = None  # send this many body bytes, then reset (TCP RST)
    stall_after: typing.Optional[int] = None  # send this many body bytes, then pause
    stall_seconds: float = 60
    headers_delay: float = 0                  # seconds to wait before the status line
    rate: typing.Optional[int] = None         # bytes per second for the body
    no_content_length: bool = False           # no Content-Length; the body ends at a clean close
    gzip: bool = False                        # the body gzip-compressed, with Content-Encoding
    times: typing.Optional[int] = None        # applies to this many requests, then the file
    # How a status answer is framed: its body (None: a short text), chunked instead of a
    # Content-Length, and whether the server closes the connection after it.
    status_body: typing.Optional[bytes] = None
    chunked: bool = False
    close: bool = False

    @classmethod
    def from_settings(cls, settings):
        names = {field.name for field in dataclasses.fields(cls)}
        unknown = set(settings) - names
        if unknown:
            raise ValueError("unknown fault settings: %s" % ", ".join(sorted(unknown)))
        return cls(**settings)

    def settings(self):
        """The settings that differ from a plain answer (the body left out), for the record."""
        plain = Fault()
        return {field.name: getattr(self, field.name) for field in dataclasses.fields(self)
                if field.name not in ("body", "times")
                and getattr(self, field.name) != getattr(plain, field.name)}

    def ending(self, total):
        """(bytes to send, how the connection ends: "complete", "cut" or "reset")."""
        limit, ending = total, "complete"
        for after, name in ((self.cut_after, "cut"), (self.reset_after, "reset")):
            if after is not None and after < limit:
                limit, ending = after, name
        return limit, ending


@dataclasses.dataclass
class ProxyFault:
    """How the proxy answers a CONNECT instead of opening the tunnel."""
    status: int                             # 407 asks for credentials (Proxy-Authenticate)
    times: typing.Optional[int] = None      # applies to this many CONNECTs, then tunnels again


PROXY_REASONS = {403: "Forbidden", 407: "Proxy Authentication Required",
                 502: "Bad Gateway", 503: "Service Unavailable"}


def _proxy_answer(status):
    head = "HTTP/1.1 %d %s\r\n" % (status, PROXY_REASONS.get(status, "Refused"))
    if status == 407:
        head += 'Proxy-Authenticate: Basic realm="Vantile test proxy"\r\n'
    return (head + "Content-Length: 0\r\nConnection: close\r\n\r\n").encode()


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
        host = (self.headers.get("Host") or "").split(":", 1)[0].lower()
        fault = owner._take_fault(self.path)
        owner._record_request(self, host, fault)
        if fault.headers_delay and owner._stopping.wait(fault.headers_delay):
            self.close_connection = True
            return
        if fault.status is not None:
            self._send_status(fault.status, fault.location, fault)
            return
        blocks, length = self._body(fault, host)
        if blocks is None:
            self._send_status(404)
            return
        self._send_head(fault, length)
        limit, ending = fault.ending(length)
        if not self._send_body(blocks, limit, fault, pause_at_end=ending != "reset"):
            ending = "reset"
        self._end(ending, fault)

    def _body(self, fault, host):
        """(the body's blocks, its length), or (None, 0) when the path names no file."""
        if fault.body is not None:
            body = bytes(fault.body)
        else:
            file_path = self.server.owner._file_for(host, self.path.split("?", 1)[0])
            if file_path is None:
                return None, 0
            if not fault.gzip:
                return (self._file_blocks(file_path, fault.append),
                        file_path.stat().st_size + fault.append)
            body = file_path.read_bytes()
        body += b"\x5a" * fault.append
        if fault.gzip:
            body = gzip.compress(body, mtime=0)
        return self._memory_blocks(body), len(body)

    def _send_head(self, fault, length):
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Last-Modified", email.utils.formatdate(usegmt=True))
        if fault.gzip:
            self.send_header("Content-Encoding", "gzip")
        if fault.no_content_length:
            self.send_header("Connection", "close")
        else:
            self.send_header("Content-Length", str(length))
        self.end_headers()

    def _send_body(self, blocks, limit, fault, pause_at_end):
        """Sends up to limit bytes, pausing once at stall_after (past the end: after all of it,
        unless pause_at_end is false); False when the server stops during the pause."""
        stall_at = fault.stall_after
        sent = 0
        for block in blocks:
            if sent >= limit:
                break
            block = block[:limit - sent]
            if stall_at is not None and sent + len(block) > stall_at:
                head, block = block[:stall_at - sent], block[stall_at - sent:]
                self._write(head, fault.rate)
                sent += len(head)
                stall_at = None
                if not self._pause(fault):
                    return False
            self._write(block, fault.rate)
            sent += len(block)
        return stall_at is None or not pause_at_end or self._pause(fault)

    def _pause(self, fault):
        return not self.server.owner._stopping.wait(fault.stall_seconds)

    def _end(self, ending, fault):
        if ending == "reset":
            self._reset_connection()
        elif ending == "cut" or fault.no_content_length:
            self._close_cleanly()

    @staticmethod
    def _memory_blocks(body):
        for start in range(0, len(body), SEND_BLOCK):
            yield body[start:start + SEND_BLOCK]

    @staticmethod
    def _file_blocks(file_path, append):
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

    def _send_status(self, status, location=None, fault=None):
        fault = fault or Fault()
        body = fault.status_body
        if body is None:
            body = ("HTTP %d from the Vantile test release server\n" % status).encode()
        # A 204 has neither a body nor a length.
        framed = status != 204
        self.send_response(status)
        if location:
            self.send_header("Location", location)
            self.server.owner._note_redirect(location)
        if fault.close:
            self.send_header("Connection", "close")
        if framed:
            self.send_header("Content-Type", "text/plain")
            if fault.chunked:
                self.send_header("Transfer-Encoding", "chunked")
            else:
                self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if framed and fault.chunked:
            self.wfile.write((b"%x\r\n%s\r\n" % (len(body), body) if body else b"") + b"0\r\n\r\n")
        elif framed:
            self.wfile.write(body)
        if fault.close:
            self._close_cleanly()

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

    def __init__(self, owner, listener, context, port=0):
        self.owner = owner
        self.listener = listener
        self.context = context
        super().__init__(("127.0.0.1", port), _Handler)

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
        head, rest = self._read_head(client)
        if head is None:
            return
        request_line = head.split(b"\r\n", 1)[0].decode("latin-1")
        host, port = _connect_target(request_line)
        upstream_port = owner._route(host, port)
        owner._record_connect(request_line, host, port, upstream_port is not None)
        fault = owner._take_proxy_fault() if upstream_port is not None else None
        if upstream_port is None or fault is not None:
            _send_quietly(client, _proxy_answer(fault.status if fault else 403))
            return
        try:
            upstream = socket.create_connection(("127.0.0.1", upstream_port), timeout=10)
        except OSError:
            _send_quietly(client, _proxy_answer(502))
            return
        if not _send_quietly(client, b"HTTP/1.1 200 Connection established\r\n\r\n") or (
                rest and not _send_quietly(upstream, rest)):
            upstream.close()
            return
        _Relay(owner, client, upstream).run()

    @staticmethod
    def _read_head(client):
        """(the request head, bytes after it), or (None, b"") when the client went away."""
        head = b""
        try:
            while b"\r\n\r\n" not in head and len(head) < 16384:
                data = client.recv(4096)
                if not data:
                    return None, b""
                head += data
        except OSError:
            return None, b""
        head, _, rest = head.partition(b"\r\n\r\n")
        return head, rest

    def finish(self):
        pass


def _connect_target(request_line):
    """(host, port) of a CONNECT request line, or ("", 0) for anything else."""
    parts = request_line.split()
    if len(parts) != 3 or parts[0] != "CONNECT":
        return "", 0
    host, _, port_text = parts[1].rpartition(":")
    return host.strip("[]").lower(), int(port_text) if port_text.isdigit() else 0


def _send_quietly(sock, data):
    try:
        sock.sendall(data)
        return True
    except OSError:
        return False


class _Relay:
    """Copies bytes both ways until both sides have closed. A clean close (FIN) on one side
    becomes a FIN on the other; a reset becomes a reset."""

    def __init__(self, owner, client, upstream):
        self.owner = owner
        self.sockets = (client, upstream)
        self.peer = {client: upstream, upstream: client}
        self.pending = {client: bytearray(), upstream: bytearray()}  # bytes waiting to go to key
        self.ended = set()  # sockets that sent FIN
        self.shut = set()   # sockets we sent FIN to

    def run(self):
        with self.owner._lock:
            self.owner._relays.update(self.sockets)
        for sock in self.sockets:
            sock.setblocking(False)
        try:
            while not self.owner._stopping.is_set() and self._step():
                pass
        finally:
            for sock in self.sockets:
                try:
                    sock.close()
                except OSError:
                    pass
            with self.owner._lock:
                self.owner._relays.difference_update(self.sockets)

    def _step(self):
        """One round of select: False once the relay is over."""
        readable = [s for s in self.sockets
                    if s not in self.ended and len(self.pending[self.peer[s]]) < 4 * SEND_BLOCK]
        writable = [s for s in self.sockets if self.pending[s]]
        if not readable and not writable:
            return False
        try:
            ready_r, ready_w, _ = select.select(readable, writable, [], 0.5)
        except (OSError, ValueError):
            return False
        if not all(self._receive(sock) for sock in ready_r):
            return False
        if not all(self._send(sock) for sock in ready_w):
            return False
        self._pass_on_fins()
        return True

    def _receive(self, sock):
        try:
            data = sock.recv(SEND_BLOCK)
        except (BlockingIOError, InterruptedError):
            return True
        except OSError:
            _pass_reset(self.peer[sock], self.pending[self.peer[sock]])
            return False
        if data:
            self.pending[self.peer[sock]] += data
        else:
            self.ended.add(sock)
        return True

    def _send(self, sock):
        try:
            count = sock.send(self.pending[sock])
        except (BlockingIOError, InterruptedError):
            return True
        except OSError:
            _pass_reset(self.peer[sock], b"")
            return False
        del self.pending[sock][:count]
        return True

    def _pass_on_fins(self):
        for sock in self.sockets:
            if self.peer[sock] in self.ended and not self.pending[sock] and sock not in self.shut:
                self.shut.add(sock)
                try:
                    sock.shutdown(socket.SHUT_WR)
                except OSError:
                    pass


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

    def __init__(self, release_dir, ca=None, storage_host=STORAGE_HOST, cdn_host=CDN_HOST,
                 port=0):
        """port: where the good-certificate listener listens (443 to be reached directly, with
        the release hosts mapped to 127.0.0.1); any free port by default."""
        self.release_dir = pathlib.Path(release_dir)
        self._port = port
        self.storage_host = storage_host
        self.cdn_host = cdn_host
        self._ca = ca
        self._lock = threading.Lock()
        self._faults = {}
        self._proxy_fault = None
        self._tls_modes = {}
        self._requests = []
        self._connects = []
        self._tls_failures = []
        self._redirect_targets = set()
        self._routed_port = None
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
        server = _TLSServer(self, mode, context, self._port if mode == "ok" else 0)
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

        The settings are Fault's fields. With times=N the fault applies to the next N requests
        only.
        """
        described = Fault.from_settings(fault)
        with self._lock:
            self._faults[path] = described

    def set_proxy_fault(self, status, times=None):
        """The proxy answers CONNECT with this status instead of opening the tunnel (407 with a
        Proxy-Authenticate header), for the next `times` CONNECTs or until cleared."""
        with self._lock:
            self._proxy_fault = ProxyFault(status, times)

    def clear_proxy_fault(self):
        with self._lock:
            self._proxy_fault = None

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
                return Fault()
            if fault.times is not None:
                fault.times -= 1
                if fault.times <= 0:
                    del self._faults[path]
            return fault

    def _take_proxy_fault(self):
        with self._lock:
            fault = self._proxy_fault
            if fault is not None and fault.times is not None:
                fault.times -= 1
                if fault.times <= 0:
                    self._proxy_fault = None
            return fault

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
                fault.settings()))

    def _record_tls_failure(self, listener, error):
        with self._lock:
            self._tls_failures.append((listener, str(error)))

    def _record_connect(self, request_line, host, port, allowed):
        with self._lock:
            self._connects.append(ConnectRecord(request_line, host, port, allowed))

    def route_to(self, port):
        """The proxy passes the release hosts on to this local port (another server under
        test, such as nginx) instead of this server's own listener."""
        self._routed_port = port

    def _route(self, host, port):
        """The local TLS port for a CONNECT target, or None to refuse it."""
        if port != 443 or host not in (self.storage_host.lower(), self.cdn_host.lower()):
            return None
        if self._routed_port is not None:
            return self._routed_port
        with self._lock:
            mode = self._tls_modes.get(host, "ok")
        return self._servers[mode].server_address[1]
