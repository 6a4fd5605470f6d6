#!/usr/bin/python3
"""A simulated QOR device: its web server, its TFTP client and its restart.

Plays one device on one IPv4 address, for tests and demos inside the test
world. It shares nothing with the upgrade program: its own Digest check
(RFC 2617), its own TFTP client (RFC 1350, 2347, 2349). Standard library only.
Run with --help for the options; README.md beside this file explains them.
"""

import argparse
import hashlib
import json
import os
import random
import re
import secrets
import select
import signal
import socket
import struct
import sys
import threading
import time

PAGE_LABELS = ("Product Name:", "MAC Address:", "Software Version:",
               "Hardware Version:", "Serial Number:")

TFTP_RRQ, TFTP_DATA, TFTP_ACK, TFTP_ERROR, TFTP_OACK = 1, 3, 4, 5, 6
TFTP_BLOCK = 512
HEADER_SIZE = 128
VERSION_OFFSET = 92


# --- log and state -----------------------------------------------------------

class Log:
    """One line per event, flushed at once, so a failing test shows why."""

    def __init__(self, path):
        self.out = open(path, "a", buffering=1) if path else sys.stdout
        self.lock = threading.Lock()
        self.start = time.monotonic()

    def __call__(self, text):
        stamp = time.monotonic() - self.start
        with self.lock:
            self.out.write("%9.3f %s\n" % (stamp, text))
            self.out.flush()


class State:
    """What the device saw, as JSON in --state-file, rewritten at each change."""

    def __init__(self, path, initial):
        self.path = path
        self.lock = threading.Lock()
        self.data = initial

    def update(self, change):
        with self.lock:
            change(self.data)
            self.write_locked()

    def append(self, key, record):
        self.update(lambda d: d[key].append(record))
        return record

    def write_locked(self):
        if not self.path:
            return
        temp = self.path + ".tmp"
        with open(temp, "w") as f:
            json.dump(self.data, f, indent=1, sort_keys=True)
        os.replace(temp, self.path)


# --- Digest check (RFC 2617) -------------------------------------------------

def md5_hex(text):
    if isinstance(text, str):
        text = text.encode("latin-1")
    return hashlib.md5(text).hexdigest()


def parse_digest_params(text):
    """Parses 'name=value, name="value"' pairs. A bare token after an unquoted
    value is kept with that value, so qop=auth,auth-int stays one list."""
    params = {}
    i, n = 0, len(text)
    last_unquoted = None
    while i < n:
        while i < n and text[i] in " \t,":
            i += 1
        m = re.compile(r"([A-Za-z0-9_-]+)\s*(=?)\s*").match(text, i)
        if not m:
            break
        name, has_value = m.group(1).lower(), m.group(2)
        i = m.end()
        if not has_value:
            if last_unquoted:
                params[last_unquoted] += "," + m.group(1)
            continue
        if i < n and text[i] == '"':
            end = i + 1
            value = []
            while end < n and text[end] != '"':
                if text[end] == "\\" and end + 1 < n:
                    end += 1
                value.append(text[end])
                end += 1
            params[name] = "".join(value)
            i = end + 1
            last_unquoted = None
        else:
            end = i
            while end < n and text[end] not in ", \t":
                end += 1
            params[name] = text[i:end]
            i = end
            last_unquoted = name
    return params


class DigestServer:
    """The device's side of Digest: the challenge it sends, the check it makes."""

    def __init__(self, args):
        self.args = args
        self.user = args.user
        self.password = args.password
        self.realm = args.realm
        self.qop = "" if args.qop == "none" else args.qop
        self.algorithm = "" if args.algorithm == "none" else args.algorithm
        self.opaque = args.opaque
        self.nonce = ""
        self.last_nc = 0
        self.new_nonce()
        if args.nonce:
            self.nonce = args.nonce

    def new_nonce(self):
        self.nonce = secrets.token_hex(16)
        self.last_nc = 0

    def challenge_header(self, stale=False):
        parts = ['realm="%s"' % self.realm, 'nonce="%s"' % self.nonce]
        if stale:
            parts.append("stale=true")
        if self.qop:
            parts.append('qop="%s"' % self.qop)
        if self.algorithm:
            parts.append('algorithm="%s"' % self.algorithm)
        if self.opaque is not None:
            parts.append('opaque="%s"' % self.opaque)
        return "WWW-Authenticate: Digest " + ", ".join(parts)

    def session_keys(self, p):
        """H(A1) in the forms this device accepts. For MD5-sess the reference
        code of RFC 2617 hashes the raw 16 bytes of the first digest; the
        RFC's text (and curl) hashes its hexadecimal form."""
        secret = ("%s:%s:%s" % (self.user, self.realm, self.password)).encode("latin-1")
        if self.algorithm.lower() != "md5-sess":
            return [hashlib.md5(secret).hexdigest()]
        tail = (":%s:%s" % (p.get("nonce", ""), p.get("cnonce", ""))).encode("latin-1")
        forms = {"raw": hashlib.md5(secret).digest(),
                 "hex": hashlib.md5(secret).hexdigest().encode("latin-1")}
        names = ("raw", "hex") if self.args.sess_form == "both" else (self.args.sess_form,)
        return [hashlib.md5(forms[name] + tail).hexdigest() for name in names]

    def expected_responses(self, p, method):
        return [self.expected_response(ha1, p, method) for ha1 in self.session_keys(p)]

    def expected_response(self, ha1, p, method):
        qop = p.get("qop", "")
        if qop.lower() == "auth-int":
            ha2 = md5_hex("%s:%s:%s" % (method, p.get("uri", ""), md5_hex(b"")))
        else:
            ha2 = md5_hex("%s:%s" % (method, p.get("uri", "")))
        if qop:
            return md5_hex("%s:%s:%s:%s:%s:%s" % (ha1, p.get("nonce", ""), p.get("nc", ""),
                                                  p.get("cnonce", ""), qop, ha2))
        return md5_hex("%s:%s:%s" % (ha1, p.get("nonce", ""), ha2))

    def check(self, header_value, method, path):
        """Returns a record of the check: ok, reason and what the client sent."""
        record = {"ok": False, "reason": "", "header": header_value}
        if not header_value.lower().startswith("digest "):
            record["reason"] = "not a Digest authorization"
            return record
        p = parse_digest_params(header_value[7:])
        for key in ("username", "realm", "nonce", "uri", "response", "algorithm",
                    "qop", "nc", "cnonce", "opaque"):
            if key in p:
                record[key] = p[key]
        record["reason"] = self.find_fault(p, method, path)
        if record["reason"]:
            return record
        if self.qop:
            record["nc_value"] = int(p["nc"], 16)
            record["nc_in_sequence"] = record["nc_value"] == self.last_nc + 1
            self.last_nc = record["nc_value"]
        record["ok"] = True
        record["reason"] = "ok"
        return record

    def find_fault(self, p, method, path):
        if p.get("username") != self.user:
            return "wrong user %r" % p.get("username")
        if p.get("realm") != self.realm:
            return "wrong realm %r" % p.get("realm")
        if p.get("nonce") != self.nonce:
            return "stale nonce %r" % p.get("nonce")
        if p.get("uri") != path:
            return "uri %r is not the request's %r" % (p.get("uri"), path)
        if self.opaque and p.get("opaque") != self.opaque:
            return "opaque %r not echoed" % p.get("opaque")
        algorithm = p.get("algorithm", "")
        if algorithm and algorithm.lower() != (self.algorithm or "md5").lower():
            return "algorithm %r not offered" % algorithm
        if self.qop:
            fault = self.find_qop_fault(p)
            if fault:
                return fault
        elif "qop" in p or "nc" in p:
            return "qop/nc sent though none was offered"
        if p.get("response", "").lower() not in self.expected_responses(p, method):
            return "wrong response (password or hash)"
        return ""

    def find_qop_fault(self, p):
        qop = p.get("qop", "")
        offered = [q.strip() for q in self.qop.split(",")]
        if qop not in offered and qop != self.qop:
            return "qop %r not offered" % qop
        nc = p.get("nc", "")
        if not re.fullmatch(r"[0-9a-fA-F]{8,9}", nc):
            return "nc %r is not 8 or 9 hex digits" % nc
        if "cnonce" not in p:
            return "no cnonce"
        if int(nc, 16) <= self.last_nc:
            return "nc %s replayed (last %d)" % (nc, self.last_nc)
        return ""


# --- the web server ----------------------------------------------------------

class WebServer:
    """TCP server: one request per connection, one answer, then close."""

    def __init__(self, device):
        self.device = device
        self.args = device.args
        self.log = device.log
        self.listener = None
        self.backlog_fillers = []
        self.held = []

    def open_listener(self, mode):
        """mode: 'up' serves; 'drop' listens with a full backlog so that
        connects hang unanswered; 'refuse' has no listener at all."""
        self.close_listener()
        if mode == "refuse":
            return
        s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        s.bind((self.args.address, self.args.http_port))
        s.listen(0 if mode == "drop" else 16)
        self.listener = s
        if mode == "drop":
            self.fill_backlog()

    def fill_backlog(self):
        for _ in range(64):
            c = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
            c.setblocking(False)
            try:
                c.connect((self.args.address, self.args.http_port))
            except (BlockingIOError, InterruptedError):
                pass
            self.backlog_fillers.append(c)
            _, writable, _ = select.select([], [c], [], 0.05)
            if not writable:
                return

    def close_listener(self):
        for c in self.backlog_fillers:
            c.close()
        self.backlog_fillers = []
        if self.listener:
            self.listener.close()
            self.listener = None

    def serve_pending(self, timeout):
        if not self.listener or self.backlog_fillers:
            time.sleep(timeout)
            return
        ready, _, _ = select.select([self.listener], [], [], timeout)
        if not ready:
            return
        conn, peer = self.listener.accept()
        try:
            self.handle(conn, "%s:%d" % peer)
        except OSError as e:
            self.log("http: %s:%d connection error %s" % (peer[0], peer[1], e))
        except Exception as e:  # a broken request must not end the device
            self.log("http: %s:%d request failed: %r" % (peer[0], peer[1], e))
        if self.args.never_close:
            self.held.append(conn)
            self.log("http: connection left open (never-close)")
        else:
            conn.close()

    def close_all(self):
        self.close_listener()
        for c in self.held:
            c.close()

    def read_request(self, conn):
        conn.settimeout(10)
        data = b""
        while b"\r\n\r\n" not in data and len(data) < 65536:
            try:
                chunk = conn.recv(4096)
            except socket.timeout:
                break
            if not chunk:
                break
            data += chunk
        return data

    def handle(self, conn, peer):
        raw = self.read_request(conn)
        head = raw.split(b"\r\n\r\n", 1)[0].decode("latin-1")
        lines = head.split("\r\n")
        self.log("http: %s sent %d bytes: %r" % (peer, len(raw), lines[0]))
        for line in lines[1:]:
            self.log("http:   header %r" % line)
        request = {"peer": peer, "line": lines[0], "headers": lines[1:],
                   "bytes": len(raw), "raw": raw.decode("latin-1")}
        parts = lines[0].split(" ")
        if len(parts) != 3 or parts[0] != "GET":
            answer = self.device.answer(400, "Bad Request", "<html>Bad request</html>")
            request["status"] = 400
        else:
            request["path"] = parts[1]
            request["version"] = parts[2]
            status, answer = self.device.respond(parts[1], lines[1:], request)
            request["status"] = status
        self.device.state.append("requests", request)
        if self.args.answer_delay > 0:
            time.sleep(self.args.answer_delay)
        conn.sendall(answer)
        self.log("http: %s answered %s (%d bytes)" %
                 (peer, answer.split(b"\r\n", 1)[0].decode("latin-1"), len(answer)))


# --- the TFTP client ---------------------------------------------------------

class TftpFetch:
    """Fetches one file: RRQ with tsize and timeout, ACK per DATA block, end
    on a short block. Faults act on the ACKs it sends."""

    def __init__(self, device, server, port, name):
        self.device = device
        self.args = device.args
        self.log = device.log
        self.server = (server, port)
        self.name = name
        self.rng = random.Random(self.args.seed)
        self.dropped_once = set()
        self.last_data_at = None
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.bind((self.args.address, 0))
        self.other = None
        if self.args.ack_from_other_port:
            self.other = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
            self.other.bind((self.args.address, 0))
        self.record = {"name": name, "server": server, "port": port,
                       "client_port": self.sock.getsockname()[1],
                       "server_tid_port": None, "oack": None, "size": 0,
                       "blocks": 0, "complete": False, "accepted": False,
                       "reason": "", "acks_sent": 0, "acks_dropped": 0,
                       "duplicate_data": 0, "retransmits": 0, "foreign_packets": 0,
                       "longest_data_gap": 0.0}

    def rrq(self):
        options = [b"tsize", b"0", b"timeout", str(self.args.tftp_timeout).encode()]
        return (struct.pack("!H", TFTP_RRQ) + self.name.encode("latin-1") + b"\0octet\0"
                + b"".join(o + b"\0" for o in options))

    def send_ack(self, block, peer, repeat=False):
        packet = struct.pack("!HH", TFTP_ACK, block)
        time.sleep(self.args.ack_delay)
        if block in self.args.drop_ack and block not in self.dropped_once:
            self.dropped_once.add(block)
            self.record["acks_dropped"] += 1
            self.log("tftp: ACK %d dropped (drop-ack)" % block)
            return
        if self.args.acks_up_to is not None and block > self.args.acks_up_to:
            self.record["acks_dropped"] += 1
            self.log("tftp: ACK %d dropped (acks-up-to)" % block)
            return
        if self.args.drop_ack_fraction and self.rng.random() < self.args.drop_ack_fraction:
            self.record["acks_dropped"] += 1
            self.log("tftp: ACK %d dropped (drop-ack-fraction)" % block)
            return
        sock = self.other or self.sock
        copies = 2 if self.args.duplicate_acks else 1
        for _ in range(copies):
            sock.sendto(packet, peer)
            self.record["acks_sent"] += 1
        self.log("tftp: sent ACK %d%s%s%s" % (block, " again" if repeat else "",
                                             " twice" if copies == 2 else "",
                                             " from port %d" % sock.getsockname()[1]
                                             if self.other else ""))

    def run(self):
        self.log("tftp: RRQ %r to %s:%d from port %d" % (self.name, self.server[0],
                                                         self.server[1], self.record["client_port"]))
        try:
            data = self.transfer()
        except OSError as e:
            data = self.fail("socket error %s" % e)
        if self.record["complete"]:
            # The image is taken at once; the socket lingers for a lost last ACK.
            threading.Thread(target=self.dally_and_close, daemon=True).start()
        else:
            self.close()
        return data

    def close(self):
        self.sock.close()
        if self.other:
            self.other.close()

    def transfer(self):
        rrq = self.rrq()
        self.sock.sendto(rrq, self.server)
        peer = None
        expected = 1
        received = bytearray()
        tsize = None
        retries = 0
        while not self.device.stopping.is_set():
            ready, _, _ = select.select([self.sock], [], [], self.args.tftp_timeout)
            if not ready:
                retries += 1
                if retries > self.args.tftp_retries:
                    return self.fail("timed out after %d retransmissions" % (retries - 1))
                self.record["retransmits"] += 1
                self.log("tftp: timeout, resending %s" % ("RRQ" if peer is None else
                                                            "ACK %d" % ((expected - 1) & 0xFFFF)))
                if peer is None:
                    self.sock.sendto(rrq, self.server)
                else:
                    self.send_ack((expected - 1) & 0xFFFF, peer, repeat=True)
                continue
            packet, source = self.sock.recvfrom(65536)
            if peer is None:
                peer = source
                self.record["server_tid_port"] = source[1]
            elif source != peer:
                self.record["foreign_packets"] += 1
                self.log("tftp: packet from unknown %s:%d ignored" % source)
                continue
            if len(packet) < 4:
                self.log("tftp: short packet of %d bytes ignored" % len(packet))
                continue
            opcode, number = struct.unpack("!HH", packet[:4])
            if opcode == TFTP_OACK and self.record["oack"] is None and expected == 1:
                tsize = self.take_oack(packet[2:])
                if self.args.oack_error:
                    self.sock.sendto(struct.pack("!HH", TFTP_ERROR, 8)
                                     + b"option negotiation refused\0", peer)
                    self.log("tftp: answered OACK with ERROR 8 (oack-error)")
                    return self.fail("OACK refused by oack-error")
                retries = 0
                self.send_ack(0, peer)
            elif opcode == TFTP_DATA:
                self.note_data_gap()
                payload = packet[4:]
                if number == expected & 0xFFFF:
                    retries = 0
                    received += payload
                    self.record["blocks"] = expected
                    self.log("tftp: DATA %d (%d bytes)" % (number, len(payload)))
                    self.send_ack(number, peer)
                    expected += 1
                    if len(payload) < TFTP_BLOCK:
                        self.record["complete"] = True
                        self.last = (peer, number)
                        return self.finish(received, tsize)
                elif number == (expected - 1) & 0xFFFF:
                    self.record["duplicate_data"] += 1
                    self.log("tftp: DATA %d again" % number)
                    self.send_ack(number, peer, repeat=True)
                else:
                    self.log("tftp: DATA %d out of order (want %d) ignored" % (number, expected))
            elif opcode == TFTP_ERROR:
                text = packet[4:].split(b"\0", 1)[0].decode("latin-1")
                return self.fail("ERROR %d %r from server" % (number, text))
            elif opcode == TFTP_OACK:
                self.log("tftp: OACK again")
                if expected == 1:
                    self.send_ack(0, peer, repeat=True)
            else:
                self.log("tftp: opcode %d ignored" % opcode)
        return self.fail("stopped")

    def note_data_gap(self):
        """The longest time without a DATA packet, from the first to the last or
        to the give-up; retransmissions count."""
        now = time.monotonic()
        if self.last_data_at is not None:
            gap = now - self.last_data_at
            self.record["longest_data_gap"] = max(self.record["longest_data_gap"], round(gap, 4))
        self.last_data_at = now

    def take_oack(self, body):
        fields = body.split(b"\0")
        options = {}
        for i in range(0, len(fields) - 1, 2):
            options[fields[i].decode("latin-1").lower()] = fields[i + 1].decode("latin-1")
        self.record["oack"] = options
        self.record["oack_bytes"] = len(body) + 2
        self.log("tftp: OACK %s (%d bytes)" % (options, len(body) + 2))
        tsize = options.get("tsize")
        return int(tsize) if tsize and tsize.isdigit() else None

    def dally_and_close(self):
        """RFC 1350 section 6: stay a while to re-ACK a repeated last block."""
        peer, last_block = self.last
        deadline = time.monotonic() + self.args.dally
        while time.monotonic() < deadline and not self.device.stopping.is_set():
            ready, _, _ = select.select([self.sock], [], [], deadline - time.monotonic())
            if not ready:
                break
            packet, source = self.sock.recvfrom(65536)
            if source == peer and packet[:4] == struct.pack("!HH", TFTP_DATA, last_block):
                self.record["duplicate_data"] += 1
                self.log("tftp: last DATA %d again" % last_block)
                self.send_ack(last_block, peer, repeat=True)
        self.close()

    def fail(self, reason):
        self.note_data_gap()
        self.record["reason"] = reason
        self.log("tftp: transfer of %r failed: %s" % (self.name, reason))
        return None

    def finish(self, received, tsize):
        data = bytes(received)
        self.record["size"] = len(data)
        self.record["tsize"] = tsize
        self.record["sha256"] = hashlib.sha256(data).hexdigest()
        self.log("tftp: transfer of %r complete: %d bytes in %d blocks, sha256 %s"
                 % (self.name, len(data), self.record["blocks"], self.record["sha256"]))
        if tsize is not None and tsize != len(data):
            self.record["reason"] = "size %d differs from tsize %d" % (len(data), tsize)
            return None
        return data


def read_image_header(data, accept_tag):
    """Returns (tag, version, reason): reason is empty for a usable image."""
    if len(data) < HEADER_SIZE:
        return "", "", "image of %d bytes is shorter than its header" % len(data)
    header = data[:HEADER_SIZE]
    tag = header[:VERSION_OFFSET].split(b"\0", 1)[0].decode("latin-1")
    field = header[VERSION_OFFSET:]
    if b"\0" not in field:
        return tag, "", "version text not terminated in the header"
    version = field.split(b"\0", 1)[0].decode("latin-1")
    if not version:
        return tag, "", "empty version text"
    if accept_tag and not tag.lower().startswith(accept_tag.lower()):
        return tag, version, "tag %r is not %r" % (tag, accept_tag)
    return tag, version, ""


# --- the device --------------------------------------------------------------

class Device:
    def __init__(self, args):
        self.args = args
        self.log = Log(args.log)
        self.lock = threading.RLock()
        self.stopping = threading.Event()
        self.digest = DigestServer(args) if args.password else None
        self.software_version = args.software_version
        self.mode = "refuse" if args.unreachable == "refuse" else (
            "drop" if args.unreachable == "drop" else "up")
        self.busy = False
        self.booting_left = 0
        self.booting_until = 0.0
        self.state = State(args.state_file, {
            "pid": os.getpid(), "started": False, "address": args.address, "http_port": args.http_port,
            "up": False, "mode": self.mode, "software_version": self.software_version,
            "nonce": self.digest.nonce if self.digest else None,
            "requests": [], "authorizations": [], "triggers": [], "transfers": [],
            "restarts": []})
        self.web = WebServer(self)
        self.wanted_mode = self.mode

    # HTTP answers

    def answer(self, code, reason, body, extra=()):
        version = "HTTP/1.0" if self.args.http10 else "HTTP/1.1"
        body = body.encode("latin-1")
        head = ["%s %d %s" % (version, code, reason), "Server: qor-httpd",
                "Content-Type: text/html", "Content-Length: %d" % len(body)]
        head += list(extra)
        head.append("Connection: close")
        return ("\r\n".join(head) + "\r\n\r\n").encode("latin-1") + body

    def page(self):
        a = self.args
        values = (a.product_name, a.mac, self.software_version, a.hardware_version, a.serial)
        rows = "".join('<tr><td class="label">%s</td><td>%s</td></tr>\n' % (label, value)
                       for label, value in zip(PAGE_LABELS, values))
        table = "<table>\n%s</table>\n" % rows
        padding = ""
        if a.big_page:
            padding = "<!-- %s -->\n" % ("x" * a.big_page_size)
        before = padding if a.big_page == "before" else ""
        after = padding if a.big_page == "after" else ""
        return ("<html><head><title>%s Advanced</title></head><body>\n%s%s%s</body></html>\n"
                % (a.product_name, before, table, after))

    def respond(self, path, headers, request):
        with self.lock:
            if self.digest:
                refusal = self.authorize(path, headers, request)
                if refusal:
                    return 401, refusal
            if path == "/admin/advanced" and self.still_booting():
                return 503, self.answer(503, "Service Unavailable",
                                        "<html><body>%s is starting, please wait</body></html>"
                                        % self.args.product_name)
            if path == "/admin/advanced":
                return 200, self.answer(200, "OK", self.page())
            if path.startswith("/admin/upgrade?"):
                return self.trigger(path[len("/admin/upgrade?"):])
            return 404, self.answer(404, "Not Found", "<html>Not found</html>")

    def still_booting(self):
        if self.booting_left > 0:
            self.booting_left -= 1
            return True
        return time.monotonic() < self.booting_until

    def authorize(self, path, headers, request):
        """Returns the 401 answer, or None when the request may pass."""
        lines = [h for h in headers if h.lower().startswith("authorization:")]
        if lines:
            check = self.digest.check(lines[0].split(":", 1)[1].strip(), "GET", path)
            if check["ok"] and self.args.refuse_password:
                check["ok"] = False
                check["reason"] = "refused (refuse-password)"
            gap = "" if check.get("nc_in_sequence", True) else " (nc out of sequence)"
            self.log("auth: %s, nc=%s%s, user=%r" % (check["reason"], check.get("nc"), gap,
                                                       check.get("username")))
            request["authorization"] = check
            self.state.append("authorizations", check)
            if check["ok"]:
                return None
        else:
            self.log("auth: no Authorization line")
        stale = bool(lines) and check["reason"].startswith("stale nonce")
        # A client that starts afresh gets a fresh nonce, so that its nc 1 is
        # no replay; one that answered keeps the nonce (RFC 2617 3.2.1).
        if self.args.nonce_per_401 or (not lines and not self.args.keep_nonce):
            self.digest.new_nonce()
            self.state.update(lambda d: d.update(nonce=self.digest.nonce))
        challenge = self.digest.challenge_header(stale)
        self.log("auth: challenge %s" % challenge)
        return self.answer(401, "Unauthorized", "<html>401 Unauthorized</html>", [challenge])

    def trigger(self, url):
        m = re.fullmatch(r"tftp://(\d+\.\d+\.\d+\.\d+):(\d+)(/.*)", url)
        if not m:
            self.log("upgrade: bad URL %r" % url)
            return 400, self.answer(400, "Bad Request", "<html>Bad upgrade URL</html>")
        server, port, name = m.group(1), int(m.group(2)), m.group(3)
        if port > 65535 or any(int(octet) > 255 for octet in server.split(".")):
            self.log("upgrade: bad address in %r" % url)
            return 400, self.answer(400, "Bad Request", "<html>Bad upgrade URL</html>")
        record = {"url": url, "server": server, "port": port, "name": name,
                  "fetched": False}
        self.state.append("triggers", record)
        body = "<html>Upgrade from %s requested</html>" % url
        if self.busy:
            self.log("upgrade: busy with a transfer, %r ignored" % url)
        elif self.args.never_fetch:
            self.log("upgrade: %r accepted, never fetched (never-fetch)" % url)
            if self.args.flood_after_trigger:
                threading.Thread(target=self.flood, args=(server, port), daemon=True).start()
        else:
            self.busy = True
            record["fetched"] = True
            self.log("upgrade: fetching %r from %s:%d in %.1f s" %
                     (name, server, port, self.args.idle_delay))
            threading.Thread(target=self.fetch, args=(server, port, name),
                             daemon=True).start()
        return 200, self.answer(200, "OK", body)

    def flood(self, server, port):
        """Stray datagrams (4-byte DATA packets, which no read request is) to
        the PC's TFTP port at --flood-after-trigger a second, in bursts every
        10 ms, until the device stops; the count goes to the state file."""
        sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        sock.bind((self.args.address, 0))
        burst = max(1, self.args.flood_after_trigger // 100)
        packet = struct.pack(">HH", TFTP_DATA, 1)
        sent = 0
        self.log("flood: %d datagrams a second to %s:%d" % (burst * 100, server, port))
        next_burst = next_count = time.monotonic()
        while not self.stopping.is_set():
            for _ in range(burst):
                try:
                    sock.sendto(packet, (server, port))
                    sent += 1
                except OSError:
                    pass
            if time.monotonic() >= next_count:  # the count so far, four times a second
                self.state.update(lambda d: d.update(flood_sent=sent))
                next_count += 0.25
            next_burst += 0.01
            self.stopping.wait(max(0.0, next_burst - time.monotonic()))
        sock.close()

    # upgrade and restart

    def fetch(self, server, port, name):
        if self.stopping.wait(self.args.idle_delay):
            return
        fetch = TftpFetch(self, server, port, name)
        data = fetch.run()
        record = fetch.record
        if data is not None:
            record["tag"], record["version"], reason = read_image_header(data, self.args.accept_tag)
            record["accepted"] = not reason
            record["reason"] = reason or "ok"
            record["saved_as"] = self.save(name, data)
            self.log("image: tag %r version %r: %s" % (record["tag"], record["version"],
                                                        record["reason"]))
        self.state.append("transfers", record)
        if data is not None and record["accepted"]:
            self.restart(self.args.return_version or record["version"])
            return
        with self.lock:
            self.busy = False

    def save(self, name, data):
        if not self.args.save_dir:
            return None
        os.makedirs(self.args.save_dir, exist_ok=True)
        base = name.strip("/").replace("/", "_") or "image"
        path = os.path.join(self.args.save_dir, base)
        count = 1
        while os.path.exists(path):
            count += 1
            path = os.path.join(self.args.save_dir, "%s.%d" % (base, count))
        with open(path, "wb") as f:
            f.write(data)
        self.log("image: saved as %s" % path)
        return path

    def restart(self, version):
        away = self.args.restart_delay / self.args.clock_rate
        record = {"away_at": time.time(), "back_at": None, "version": version}
        self.state.append("restarts", record)
        self.log("restart: writing image, web server away (%s) for %s" %
                 (self.args.away_mode, "ever" if self.args.never_return else "%.1f s" % away))
        self.set_mode(self.args.away_mode)
        if self.args.never_return or self.stopping.wait(away):
            return
        with self.lock:
            self.software_version = version
            self.busy = False
            self.booting_left = self.args.booting_pages
            self.booting_until = time.monotonic() + self.args.booting_seconds / self.args.clock_rate
            if self.digest:
                self.digest.new_nonce()
        record["back_at"] = time.time()
        self.set_mode("up")
        self.log("restart: back with Software Version %r%s" %
                 (version, ", new nonce %s" % self.digest.nonce if self.digest else ""))

    def set_mode(self, mode):
        """Asks the serving loop to switch; the state file shows the switch
        once the listener has changed."""
        with self.lock:
            self.wanted_mode = mode

    def publish_mode(self):
        def change(d):
            d["mode"] = self.mode
            d["up"] = self.mode == "up"
            d["software_version"] = self.software_version
            d["nonce"] = self.digest.nonce if self.digest else None
            d["started"] = True
        with self.lock:
            self.state.update(change)

    def run(self):
        self.web.open_listener(self.mode)
        self.publish_mode()
        self.log("device: %s on %s:%d, Software Version %r, %s, mode %s" %
                 (self.args.product_name, self.args.address, self.args.http_port,
                  self.software_version,
                  "password set" if self.digest else "no password", self.mode))
        while not self.stopping.is_set():
            with self.lock:
                wanted = self.wanted_mode
            if wanted != self.mode:
                self.mode = wanted
                self.web.open_listener(wanted)
                self.publish_mode()
            self.web.serve_pending(0.05)
        self.web.close_all()
        self.log("device: stopped")


def build_parser():
    p = argparse.ArgumentParser(description="Simulated QOR device (web server, TFTP "
                                "client, restart) for tests inside the test world.")
    p.add_argument("address", help="IPv4 address the device plays on")
    p.add_argument("--http-port", type=int, default=80)
    model = p.add_argument_group("model")
    model.add_argument("--product-name", default="QOR-7101")
    model.add_argument("--mac", default="00:0B:82:11:22:33")
    model.add_argument("--software-version", default="2.0.10")
    model.add_argument("--hardware-version", default="1.0.2")
    model.add_argument("--serial", default="QOR71010001234")
    model.add_argument("--user", default="admin")
    model.add_argument("--password", default="", help="admin password; none by default")
    model.add_argument("--realm", default="QOR")
    model.add_argument("--qop", default="auth", help='auth (default), none, "auth,auth-int", auth-int')
    model.add_argument("--algorithm", default="none", help='none (default: not sent), MD5, MD5-sess')
    model.add_argument("--sess-form", choices=("raw", "hex", "both"), default="raw",
                       help="MD5-sess H(A1) over the raw (default) or hex first digest")
    model.add_argument("--nonce", default="", help="the first nonce (known-answer tests)")
    model.add_argument("--opaque", default=None, help="opaque value to send (and require back)")
    model.add_argument("--accept-tag", default="", help="reject images whose tag does not start so")
    timing = p.add_argument_group("timing")
    timing.add_argument("--idle-delay", type=float, default=1.0,
                        help="seconds between the trigger and the read request")
    timing.add_argument("--ack-delay", type=float, default=0.0,
                        help="seconds before each TFTP ACK (a slow device: a long upload)")
    timing.add_argument("--answer-delay", type=float, default=0.0,
                        help="seconds before each web answer, as a device busy with a call: "
                             "the connecting dialog stays up that long")
    timing.add_argument("--restart-delay", type=float, default=20.0,
                        help="seconds the web server stays away after the last block")
    timing.add_argument("--clock-rate", type=float, default=1.0,
                        help="the PC's clock runs this many times fast (native tests): "
                             "the restart takes restart-delay / clock-rate seconds")
    timing.add_argument("--away-mode", choices=("refuse", "drop"), default="refuse",
                        help="while away: refuse connections, or leave them unanswered")
    timing.add_argument("--tftp-timeout", type=int, default=1,
                        help="seconds before an ACK is resent (sent as the timeout option)")
    timing.add_argument("--tftp-retries", type=int, default=5)
    timing.add_argument("--dally", type=float, default=1.0,
                        help="seconds to wait for a repeated last block")
    out = p.add_argument_group("output")
    out.add_argument("--log", help="log file (default stdout)")
    out.add_argument("--state-file", help="JSON record of what the device saw")
    out.add_argument("--save-dir", help="directory for the received images")
    f = p.add_argument_group("faults")
    f.add_argument("--drop-ack", type=int, action="append", default=[], metavar="BLOCK",
                   help="do not send the first ACK of this block (0: the OACK's); repeatable")
    f.add_argument("--drop-ack-fraction", type=float, default=0.0,
                   help="drop this fraction of ACKs (with --seed)")
    f.add_argument("--seed", type=int, default=1)
    f.add_argument("--acks-up-to", type=int, default=None, metavar="BLOCK",
                   help="ACK blocks up to BLOCK, then none: the transfer stalls halfway")
    f.add_argument("--duplicate-acks", action="store_true", help="send every ACK twice")
    f.add_argument("--ack-from-other-port", action="store_true",
                   help="send ACKs from a port other than the read request's")
    f.add_argument("--oack-error", action="store_true", help="answer the OACK with ERROR 8")
    f.add_argument("--never-fetch", action="store_true", help="accept the trigger, never fetch")
    f.add_argument("--flood-after-trigger", type=int, default=0, metavar="RATE",
                   help="with --never-fetch: send RATE stray datagrams a second to the PC's TFTP port")
    f.add_argument("--never-return", action="store_true",
                   help="stay away for ever after the last block")
    f.add_argument("--booting-pages", type=int, default=0, metavar="N",
                   help="after the restart, answer the first N page requests with a 503 without the version")
    f.add_argument("--booting-seconds", type=float, default=0.0, metavar="S",
                   help="after the restart, answer page requests with a 503 without the version for S seconds")
    f.add_argument("--return-version", default="",
                   help="come back with this version instead of the image's")
    f.add_argument("--http10", action="store_true", help="answer with HTTP/1.0 status lines")
    f.add_argument("--big-page", choices=("before", "after"),
                   help="pad the page past 128 KiB, before or after the table")
    f.add_argument("--big-page-size", type=int, default=140000)
    f.add_argument("--never-close", action="store_true",
                   help="leave every HTTP connection open after the answer")
    f.add_argument("--refuse-password", action="store_true",
                   help="answer 401 even to the right password")
    f.add_argument("--nonce-per-401", action="store_true", help="a new nonce in every 401")
    f.add_argument("--keep-nonce", action="store_true",
                   help="one nonce until the restart, even for requests without Authorization")
    f.add_argument("--unreachable", choices=("refuse", "drop"),
                   help="never serve HTTP: refuse connections, or leave them unanswered")
    return p


def parse_args(argv):
    return build_parser().parse_args(argv)


def main(argv):
    args = parse_args(argv)
    device = Device(args)
    signal.signal(signal.SIGTERM, lambda *_: device.stopping.set())
    signal.signal(signal.SIGINT, lambda *_: device.stopping.set())
    try:
        device.run()
    except OSError as e:
        device.log("device: %s" % e)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
