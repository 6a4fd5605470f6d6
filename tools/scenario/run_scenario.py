#!/usr/bin/env python3
"""Plays one scenario on one back end: the native runner (the program on the
headless dialog manager), or the real QorUpgrade.exe under Wine with the UI
driver beside it in the same prefix. A scenario with a "world", "device",
"pc-addresses" or "occupy-udp" line runs inside the test world
(tools/testworld); with "device", the simulated device plays there and what
it saw is checked after the run (device_checks.py), as is the program's trace
when SCENARIO.trace lies beside the scenario (trace_check.py).

    run_scenario.py --native|--wine [--build DIR] [--shots DIR] [--out DIR]
                    [--timeout SECONDS] [--completion-rate N] SCENARIO

--build    the native or Windows build (default build/native, build/windows)
--shots    where the PNG screenshots go (Wine only; default: none taken)
--out      the run's files (default <build>/scenario-runs/<scenario>): the
           device's log and state, the images it received, the program's
           trace (trace.txt), Wine's standard error, the device checks
--timeout  bounds the program's run (default 300 s)
--completion-rate  native only: the updating wait and the re-query's spacing
           pass N times quick, and the device's restart alike (default 1)
QOR_WINE_VERSION (win7, win10): the Windows version the Wine prefix reports,
checked before the run (default: Wine's own, Windows 7).

Exit status 0: the scenario passed; 1: it failed; 2: a wrong start."""
import argparse
import os
import re
import shlex
import socket
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
TOP = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, HERE)
import device_checks  # noqa: E402
import trace_check  # noqa: E402

# The Wine side through the one Wine setup of the project: a prefix of the
# build that no other run holds, made once; a private X server without a
# DISPLAY; the prefix's wineserver and the X server ended with the run.
WINE_RUN = r'''
. "$1/tools/wine/wine_setup.sh" && build=$2 out=$3 && shift 3 || exit 2
trap qor_stop_display EXIT
[ -n "${DISPLAY:-}" ] || qor_start_display "$out" || exit 2
qor_take_prefix "$build" && qor_make_prefix || exit 2
trap 'timeout 20 wineserver -k 2>/dev/null || true; qor_stop_display' EXIT
[ -z "${QOR_WINE_VERSION:-}" ] || qor_check_windows_version || exit 2
WINEDEBUG="$WINEDEBUG,+debugstr" "$@" 2>"$out/wine-stderr.txt"
'''


def fail_start(message):
    sys.stderr.write("run_scenario: %s\n" % message)
    sys.exit(2)


class Parser(argparse.ArgumentParser):
    def error(self, message):
        fail_start("%s\n\n%s" % (message, __doc__))


def winpath(path):
    """A Linux path as Wine sees it: drive Z: is the root."""
    return "Z:" + path.replace("/", "\\")


class Run:
    def __init__(self, args):
        self.args = args
        self.backend = "native" if args.native else "wine"
        self.scenario = os.path.abspath(args.scenario)
        if not os.path.isfile(self.scenario):
            fail_start("%s is missing" % args.scenario)
        with open(self.scenario, encoding="utf-8") as f:
            self.text = f.read()
        self.build = os.path.abspath(args.build or os.path.join(TOP, "build", self.backend))
        name = os.path.basename(self.scenario)[:-len(".scn")]
        self.out = os.path.abspath(args.out or os.path.join(self.build, "scenario-runs", name))
        os.makedirs(self.out, exist_ok=True)
        # "build handset": the build whose Target image carries the handset tag.
        variant = "_handset" if self.line(r"build\s+handset") else ""
        if self.backend == "native":
            self.program = os.path.join(self.build, "tools/scenario/native_runner" + variant)
            self.embedded = os.path.join(self.build, "resources/qor_resources%s/qor_resources%s.res"
                                         % (variant, variant))
            needed = [self.program, self.embedded]
        else:
            exe = "QorUpgradeHandset.exe" if variant else "QorUpgrade.exe"
            self.embedded = os.path.join(self.build, "src", exe)  # the exe, with its resources
            self.driver = os.path.join(self.build, "tools/uidriver/uidriver.exe")
            needed = [self.embedded, self.driver]
        for path in needed:
            if not os.path.isfile(path):
                fail_start("%s is missing (build first)" % path)
        device = self.line(r"device(\s.*)?")
        self.device_args = shlex.split(device.group(1) or "", comments=True) if device else None
        self.occupied = [int(m) for m in re.findall(r"^\s*occupy-udp\s+(\d+)", self.text, re.M)]
        # "pc-addresses A B ...": the PC's addresses in the world, in this order.
        addresses = self.line(r"pc-addresses\s+([0-9. ]+)")
        self.pc_addresses = addresses.group(1).split() if addresses else []
        self.needs_world = (device is not None or bool(self.occupied) or bool(self.pc_addresses)
                            or self.line(r"world([\s#].*)?") is not None)

    def line(self, pattern):
        return re.search(r"^\s*%s$" % pattern, self.text, re.M)

    def enter_world(self):
        """Plays again inside the test world, bounded a minute past the run."""
        command = [sys.executable, os.path.abspath(__file__), "--" + self.backend, "--in-world", "--build",
                   self.build, "--out", self.out, "--timeout", str(self.args.timeout),
                   "--completion-rate", self.args.completion_rate]
        if self.args.shots:
            command += ["--shots", os.path.abspath(self.args.shots)]
        world = os.path.join(TOP, "tools/testworld/run_in_world.sh")
        addresses = [word for address in self.pc_addresses for word in ("--pc", address)]
        os.execv(world, [world, "--timeout", str(self.args.timeout + 60)] + addresses + ["--"] + command
                 + [self.scenario])

    def start_device(self):
        self.clear("device-state.json", "device.log", "received")
        options = self.device_args
        if self.backend == "native":  # the device restarts at the pace of the program's updating wait
            options = ["--clock-rate", self.args.completion_rate] + options
        state = os.path.join(self.out, "device-state.json")
        device = subprocess.Popen([sys.executable, os.path.join(TOP, "tools/qor_device/qor_device.py"),
                                   os.environ["QOR_DEVICE_ADDRS"].split()[0], "--log",
                                   os.path.join(self.out, "device.log"), "--state-file", state, "--save-dir",
                                   os.path.join(self.out, "received")] + options)
        for _ in range(100):
            if os.path.exists(state) or device.poll() is not None:
                break
            time.sleep(0.1)
        if not os.path.exists(state):
            print("run_scenario: the simulated device did not start; its log:", file=sys.stderr)
            self.show_device_log(sys.stderr)
            device.kill()
            sys.exit(1)
        return device

    def clear(self, *names):
        subprocess.run(["rm", "-rf"] + [os.path.join(self.out, name) for name in names], check=True)

    def occupy_ports(self):
        """Another program holding UDP ports on the PC's address, as a TFTP server would."""
        held = []
        for port in self.occupied:
            held.append(socket.socket(socket.AF_INET, socket.SOCK_DGRAM))
            held[-1].bind((os.environ["QOR_PC_ADDRS"].split()[0], port))
        return held

    def play(self):
        checks = os.path.join(self.out, "device-checks.jsonl")
        trace = os.path.join(self.out, "trace.txt")
        bounded = ["timeout", "--kill-after=10", str(self.args.timeout)]
        self.clear("trace.txt", "shots")
        if self.backend == "native":
            command = bounded + [self.program, "--device-checks", checks, "--trace", trace, "--completion-rate",
                                 self.args.completion_rate, self.scenario]
        else:
            command = ["bash", "-c", WINE_RUN, "wine", TOP, self.build, self.out] + bounded + [
                "wine", self.driver, "--device-checks", winpath(checks)]
            if self.args.shots:
                os.makedirs(os.path.join(self.out, "shots"))
                command += ["--shots", winpath(os.path.join(self.out, "shots"))]
            command += [winpath(self.scenario), winpath(self.embedded)]
        rc = subprocess.run(command, cwd=self.out).returncode
        if self.args.shots:
            self.convert_shots()
        return rc

    def convert_shots(self):
        os.makedirs(self.args.shots, exist_ok=True)
        shots = os.path.join(self.out, "shots")
        for name in sorted(os.listdir(shots)) if os.path.isdir(shots) else []:
            if name.endswith(".bmp"):
                subprocess.run(["convert", os.path.join(shots, name),
                                os.path.join(self.args.shots, name[:-len(".bmp")] + ".png")], check=True)

    def check_trace(self):
        """The trace as a file (under Wine decoded from its standard error),
        held against SCENARIO.trace when there is one."""
        trace = os.path.join(self.out, "trace.txt")
        wine_log = os.path.join(self.out, "wine-stderr.txt")
        if self.backend == "wine" and os.path.isfile(wine_log):
            trace_check.decode_wine_log(wine_log, trace)
        expected = self.scenario[:-len(".scn")] + ".trace"
        return trace_check.check_file(trace, expected) if os.path.isfile(expected) else 0

    def show_device_log(self, stream):
        path = os.path.join(self.out, "device.log")
        if os.path.isfile(path):
            with open(path, encoding="utf-8", errors="replace") as f:
                lines = f.readlines()
            stream.write("--- device log (%s), last lines:\n%s" % (path, "".join(lines[-40:])))


def main():
    parser = Parser(add_help=False)
    backend = parser.add_mutually_exclusive_group(required=True)
    backend.add_argument("--native", action="store_true")
    backend.add_argument("--wine", action="store_true")
    parser.add_argument("--build")
    parser.add_argument("--shots")
    parser.add_argument("--out")
    parser.add_argument("--timeout", type=int, default=300)
    parser.add_argument("--in-world", action="store_true")
    parser.add_argument("--completion-rate", default="1")
    parser.add_argument("scenario")
    run = Run(parser.parse_args())
    if run.needs_world and not run.args.in_world:
        run.enter_world()
    held = run.occupy_ports()
    device = run.start_device() if run.device_args is not None else None
    try:
        rc = run.play()
        rc = run.check_trace() or rc
        if rc == 0 and device is not None:
            rc = device_checks.check_file(os.path.join(run.out, "device-state.json"), run.embedded,
                                          os.path.join(run.out, "device-checks.jsonl"))
    finally:
        if device is not None:
            device.terminate()
            device.wait()
        for port in held:
            port.close()
    if rc != 0:
        run.show_device_log(sys.stdout)
        print("--- the run's files: %s" % run.out)
    return rc


if __name__ == "__main__":
    sys.exit(main())
