"""Helpers for the simulator's tests: they run inside the test world.

The device, tftpd-hpa and curl are started as child processes on the world's
test addresses; every helper stops what it started."""

import json
import os
import shutil
import signal
import socket
import struct
import subprocess
import tempfile
import threading
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
TOP = os.path.dirname(os.path.dirname(HERE))
DEVICE = os.path.join(TOP, "tools", "qor_device", "qor_device.py")
PC = "192.0.2.10"
DEV = "192.0.2.20"
PYTHON = "/usr/bin/python3"


def require_world():
    if os.environ.get("QOR_WORLD") != "1":
        raise unittest.SkipTest("runs only inside tools/testworld/run_in_world.sh")


def make_image(size, version=b"2.0.13(SEg)", tag=b"qor7101", seed=7):
    header = bytearray(128)
    header[0:len(tag)] = tag
    header[92:92 + len(version)] = version
    body = bytes((i * 131 + seed) & 0xFF for i in range(max(0, size - 128)))
    return (bytes(header) + body)[:size]


class Device:
    """One simulated device process with its own log, state file and saves."""

    def __init__(self, *options, address=DEV):
        self.dir = tempfile.mkdtemp(prefix="qor-dev-")
        self.state_path = os.path.join(self.dir, "state.json")
        self.log_path = os.path.join(self.dir, "device.log")
        self.save_dir = os.path.join(self.dir, "saved")
        self.address = address
        self.proc = subprocess.Popen(
            [PYTHON, DEVICE, address, "--state-file", self.state_path,
             "--log", self.log_path, "--save-dir", self.save_dir] + list(options),
            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        try:
            self.wait_for(lambda s: s.get("started"), 10, "device start")
        except AssertionError:
            self.cleanup()
            raise

    def state(self):
        try:
            with open(self.state_path) as f:
                return json.load(f)
        except (OSError, ValueError):
            return {}

    def log(self):
        with open(self.log_path) as f:
            return f.read()

    def wait_for(self, predicate, seconds, what):
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            state = self.state()
            if state and predicate(state):
                return state
            if self.proc.poll() is not None:
                raise AssertionError("device ended (%d) waiting for %s: %s" %
                                     (self.proc.returncode, what, self.proc.stderr.read()))
            time.sleep(0.05)
        raise AssertionError("timed out waiting for %s; log:\n%s" % (what, self.log()))

    def stop(self):
        """SIGTERM, and returns the exit status (the tests expect 0, quickly)."""
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
        try:
            return self.proc.wait(5)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
            return None
        finally:
            self.proc.stderr.close()

    def cleanup(self):
        self.stop()
        shutil.rmtree(self.dir, ignore_errors=True)


def http_get(path, address=DEV, port=80, extra_lines=(), timeout=5, source=PC):
    """Sends a request as the upgrade program does and reads until close.
    Returns the answer bytes."""
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    s.settimeout(timeout)
    s.bind((source, 0))
    try:
        s.connect((address, port))
        text = "GET %s HTTP/1.1\r\nHost: 192.168.2.110\r\n" % path
        text += "".join(line + "\r\n" for line in extra_lines) + "\r\n"
        s.sendall(text.encode("latin-1"))
        answer = b""
        while True:
            chunk = s.recv(65536)
            if not chunk:
                return answer
            answer += chunk
    finally:
        s.close()


def curl(*args, timeout=20):
    """Runs curl and returns (exit status, body, http code)."""
    done = subprocess.run(["curl", "-s", "--max-time", "10", "-w", "\n%{http_code}"] + list(args),
                          capture_output=True, timeout=timeout)
    body, _, code = done.stdout.rpartition(b"\n")
    return done.returncode, body, code.decode()


class Tftpd:
    """tftpd-hpa in the foreground, serving a directory on the PC address."""

    def __init__(self, files, port=69, address=PC):
        self.dir = tempfile.mkdtemp(prefix="qor-tftpd-")
        os.chmod(self.dir, 0o755)  # tftpd-hpa reads as an unprivileged user
        for name, data in files.items():
            with open(os.path.join(self.dir, name), "wb") as f:
                f.write(data)
        self.proc = subprocess.Popen(["in.tftpd", "-L", "-s", self.dir, "-a",
                                      "%s:%d" % (address, port)],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(0.3)

    def cleanup(self):
        self.proc.terminate()
        try:
            self.proc.wait(5)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
        shutil.rmtree(self.dir, ignore_errors=True)


class RecordingTftpServer:
    """A small lock-step TFTP server that keeps every packet it receives with
    its source port, so tests can see the device's wire behaviour. It answers
    the RRQ with an OACK (tsize, timeout) from the listening socket, as the
    upgrade program does, and resends after `resend` seconds of silence."""

    def __init__(self, data, port=6969, address=PC, resend=0.1, give_up=3.0, oack=True):
        self.data = data
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.bind((address, port))
        self.resend = resend
        self.give_up = give_up
        self.oack = oack
        self.received = []  # (source port, opcode, block or name, raw)
        self.rrq_port = None
        self.acked_all = threading.Event()
        self.stopping = threading.Event()
        self.thread = threading.Thread(target=self.serve, daemon=True)
        self.thread.start()

    def packet_for(self, block):
        if block == 0:
            return (struct.pack("!H", 6) + b"tsize\0" + str(len(self.data)).encode()
                    + b"\0timeout\0" + b"5\0")
        start = (block - 1) * 512
        return struct.pack("!HH", 3, block & 0xFFFF) + self.data[start:start + 512]

    def serve(self):
        self.sock.settimeout(0.05)
        peer = None
        next_block = 0
        last_count = len(self.data) // 512 + 1
        silent_since = time.monotonic()
        last_sent = 0.0
        while not self.stopping.is_set():
            try:
                packet, source = self.sock.recvfrom(2048)
            except socket.timeout:
                packet = None
            now = time.monotonic()
            if packet:
                opcode = struct.unpack("!H", packet[:2])[0]
                number = struct.unpack("!H", packet[2:4])[0] if opcode != 1 else packet[2:]
                self.received.append((source[1], opcode, number, packet))
                if opcode == 1 and peer is None:
                    peer = source
                    self.rrq_port = source[1]
                    next_block = 0 if self.oack else 1
                    self.sock.sendto(self.packet_for(next_block), peer)
                    silent_since = last_sent = now
                elif opcode == 4 and source == peer and number == next_block & 0xFFFF:
                    next_block += 1
                    silent_since = now
                    if next_block > last_count:
                        self.acked_all.set()
                        peer = None
                        continue
                    self.sock.sendto(self.packet_for(next_block), peer)
                    last_sent = now
            if peer and now - last_sent >= self.resend:
                if now - silent_since > self.give_up:
                    peer = None
                    continue
                self.sock.sendto(self.packet_for(next_block), peer)
                last_sent = now

    def acks(self):
        return [(port, number) for port, opcode, number, _ in self.received if opcode == 4]

    def cleanup(self):
        self.stopping.set()
        self.thread.join(2)
        self.sock.close()
