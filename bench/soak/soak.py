#!/usr/bin/env python3
"""A site soak on loopback with ground truth.

camsim plays a fleet (200 cameras by default) with seeded random faults;
quorvane-cli runs batches back to back: the largest group of cameras on one
version at --parallel 10, the cameras left behind on other versions, the same
file again, 30 with a canary per hardware version, six at --parallel 1,
modify-ip on a few, restore-ip on one, and in the first round (then every
third) an upgrade killed with SIGKILL mid-batch, then `history` and the batch
again. After every batch each camera's outcome in the record is compared with
what camsim says it began, kept and runs or holds now (check.py); camsim's
resident memory and open files must stay flat and no workspace may be left.

  soak.py [--build DIR] [--seed N] [--minutes M | --rounds R] [--cameras N] [--keep]

Without --minutes or --rounds: three rounds, about two minutes (CI). The seed is
printed; give it back with --seed to replay a run. Exit 0 when every check
held, 1 with each disagreement printed, 2 when the soak could not run.
Everything stays on 127.0.0.0/8: the fleet on 127.90.x.y, the tool's searches
on the lab's loopback broadcast.
"""
import argparse
import fcntl
import glob
import json
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check  # noqa: E402

BASE = "127.90.1.1"
DEFAULT_IP = "127.90.250.1"
HWS = ("101", "102", "111")
REBOOT_MS = 300
VERIFY_S = 4
# One camera in four plays a fault. The rare ones take a camera out for good or
# cost each batch a worker's time-outs (a camera that hangs: five attempts of
# 30 s), so there are only a few of them, and no hanging one in the short run.
FAULTS = [("drop-at-percent", None), ("refuse-connect", True), ("keep-version", True),
          ("throttle", 262144), ("reply-delay", 150), ("refuse-ip-change", True),
          ("fail-verify", True)]
RARE = {"never-back": 3, "hang": 1}


def log(msg):
    print(msg, flush=True)


def make_fleet(rng, count, long_run):
    cams, faults = [], {}
    rare_left = dict(RARE, hang=RARE["hang"] if long_run else 0)
    for i in range(count):
        cam = {"hw": HWS[i % len(HWS)]}
        f = {}
        if rng.random() < 0.25:
            rare = [n for n, left in rare_left.items() if left > 0]
            if rare and rng.random() < 0.15:
                name = rng.choice(rare)
                rare_left[name] -= 1
                f[name] = True
            else:
                name, value = rng.choice(FAULTS)
                f[name] = rng.randint(5, 95) if value is None else value
        if f:
            cam["faults"] = f
        cams.append(cam)
        faults[i] = f
    return {"defaults": {"ip": BASE, "type": "QV-LPR200", "sw": "V2.1.3_20240115",
                         "reboot_ms": REBOOT_MS, "flash_ms": 50}, "cameras": cams}, faults


class Proc:
    """Resident memory (KiB) and open descriptors of a running process."""

    @staticmethod
    def rss(pid):
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
        return 0

    @staticmethod
    def fds(pid):
        return len(os.listdir("/proc/%d/fd" % pid))


class Soak:
    def __init__(self, args):
        self.args = args
        self.bin = os.path.join(args.build, "bin")
        self.work = tempfile.mkdtemp(prefix="qvsoak.")
        self.tmp = os.path.join(self.work, "tmp")  # the tool's TMPDIR: its workspaces
        self.tool = os.path.join(self.work, "tool")
        self.files = os.path.join(self.work, "files")
        for d in (self.tmp, self.tool):
            os.makedirs(d)
        with open(os.path.join(self.tool, "config.ini"), "w") as f:
            f.write("[config]\ndefaultip=%s\n" % DEFAULT_IP)
        self.rng = random.Random(args.seed)
        self.mismatches = []
        self.findings = []
        self.batches = 0
        self.camera_outcomes = 0
        self.sim_figures = []  # (batch, rss KiB, fds)
        self.tool_rss = []
        self.restored = []
        self.image_n = 0
        self.key_n = 0
        self.notes = []

    # ---------------------------------------------------------------- camsim
    def start_camsim(self):
        fleet, self.faults = make_fleet(self.rng, self.args.cameras,
                                               bool(self.args.minutes or self.args.rounds))
        path = os.path.join(self.work, "fleet.json")
        with open(path, "w") as f:
            json.dump(fleet, f)
        counts = {}
        for f in self.faults.values():
            for name in f:
                counts[name] = counts.get(name, 0) + 1
        log("fleet: %d cameras, faults %s" % (self.args.cameras, ", ".join(
            "%s %d" % kv for kv in sorted(counts.items())) or "none"))
        ready = os.path.join(self.work, "ready")
        conf = os.path.join(self.work, "quorvane-net.conf")
        self.sim = subprocess.Popen(
            [os.path.join(self.bin, "camsim"), "--conf", os.path.join(self.bin, "quorvane-net.conf"),
             "--fleet", path, "--discovery-port", "0", "--control-port", "0", "--ipset-port", "0",
             "--dir", self.files, "--log", os.path.join(self.work, "camsim.log"),
             "--write-conf", conf, "--ready-file", ready, "--seed", str(self.args.seed)],
            stdout=subprocess.DEVNULL)
        for _ in range(300):
            if os.path.exists(ready):
                break
            if self.sim.poll() is not None:
                raise RuntimeError("camsim did not start: see %s/camsim.log" % self.work)
            time.sleep(0.1)
        else:
            raise RuntimeError("camsim not ready after 30 s")
        with open(conf, "a") as f:
            f.write("verify_timeout_ms = %d\n" % (VERIFY_S * 1000))
        self.env = dict(os.environ, QUORVANE_NET_CONF=conf, TMPDIR=self.tmp)
        self.cameras = []
        for i, mac_ip in enumerate(self.fleet_addresses()):
            self.cameras.append({"mac": mac_ip[0], "ip": mac_ip[1], "sw": "V2.1.3_20240115",
                                 "faults": self.faults[i]})

    def fleet_addresses(self):
        # camsim's own rule: consecutive addresses skipping .0 and .255, MACs counting up
        ip = [int(x) for x in BASE.split(".")]
        mac = 0x000001
        for _ in range(self.args.cameras):
            yield ("02:51:56:%02X:%02X:%02X" % (mac >> 16, (mac >> 8) & 255, mac & 255),
                   ".".join(map(str, ip)))
            mac += 1
            while True:
                ip[3] += 1
                if ip[3] > 254:
                    ip[2], ip[3] = ip[2] + 1, 0
                if 0 < ip[3] < 255:
                    break

    def states(self):
        return check.read_states(self.files, self.cameras)

    def settle(self, timeout=60):
        """Waits until no camera is mid-update or rebooting (but those that never come back)."""
        end = time.time() + timeout
        while True:
            st = self.states()
            busy = [m for m, s in st.items()
                    if s["busy"] or (s["rebooting"] and not self.never_back(m))]
            if not busy:
                return st
            if time.time() > end:
                self.findings.append("camsim not settled after %d s: %s" % (timeout, busy[:5]))
                return st
            time.sleep(0.2)

    def never_back(self, mac):
        return any(c["mac"] == mac and c["faults"].get("never-back") for c in self.cameras)

    def alive(self, st, exclude=()):
        """Cameras that answer now, by MAC: not silent for good."""
        return [c["mac"] for c in self.cameras
                if not st[c["mac"]]["rebooting"] and not any(f in c["faults"] for f in exclude)]

    # ------------------------------------------------------------------ tool
    def image(self, new_key=True):
        """A fresh image per batch (so the proof holds): the next version, or
        the one the fleet was last given (sent with --resend)."""
        self.image_n += 1
        if new_key:
            self.key_n += 1
        path = os.path.join(self.work, "%03d" % self.image_n, "uImage_V3.%d" % self.key_n)
        os.makedirs(os.path.dirname(path))
        with open(path, "wb") as f:
            f.write(self.rng.randbytes(64 << 10))
        return path

    def group(self, st, exclude=()):
        """The largest set of answering cameras on one version: the tool
        upgrades only cameras of one version at once."""
        by_key = {}
        for mac in self.alive(st, exclude):
            by_key.setdefault(check.version_key(st[mac]["sw"]), []).append(mac)
        return max(by_key.values(), key=len)

    def run_tool(self, name, argv, kill_after=None):
        """Runs one batch; returns (exit status, stdout). kill_after: SIGKILL
        once that many cameras have finished (progress lines on stderr)."""
        out_path = os.path.join(self.work, "%03d-%s.out" % (self.batches + 1, name))
        with open(out_path, "wb") as out, open(out_path[:-4] + ".err", "wb") as err:
            p = subprocess.Popen([os.path.join(self.bin, "quorvane-cli"), "--config-dir",
                                  self.tool] + argv, stdout=out, stderr=err, env=self.env)
            killed = False
            # wait4, not Popen's own wait: it gives this process's largest memory
            pid, status, usage = os.wait4(p.pid, os.WNOHANG if kill_after is not None else 0)
            while pid == 0:
                with open(out_path[:-4] + ".err", "rb") as f:
                    # "[3/200] ..." on stderr: one line per camera finished
                    done = len(re.findall(rb"(?m)^\[\d+/\d+\] ", f.read()))
                    if not killed and done >= kill_after:
                        os.kill(p.pid, signal.SIGKILL)
                        killed = True
                time.sleep(0.05)
                pid, status, usage = os.wait4(p.pid, os.WNOHANG)
            p.returncode = os.waitstatus_to_exitcode(status)
        self.tool_rss.append(usage.ru_maxrss)
        with open(out_path, encoding="utf-8", errors="replace") as f:
            text = f.read()
        return p.returncode, text, killed

    def reports(self):
        return set(glob.glob(os.path.join(self.tool, "reports", "batch-*.json")))

    def batch(self, name, argv, json_out=False, expect_refusal=False):
        before = self.settle()
        had = self.reports()
        t0 = time.time()
        rc, text, _ = self.run_tool(name, argv)
        after = self.settle()
        self.batches += 1
        new = sorted(self.reports() - had)
        report = None
        if json_out and text.strip():
            try:
                report = json.loads(text)
            except ValueError as e:
                self.mismatches.append("batch %d %s: --json output unreadable: %s" %
                                       (self.batches, name, e))
        elif new:
            bid = os.path.basename(new[-1])[len("batch-"):-len(".json")]
            rc2, text2, _ = self.run_tool("history", ["history", bid, "--json"])
            report = json.loads(text2) if rc2 == 0 else None
        if expect_refusal:
            found = check.compare({"kind": "upgrade", "cameras": [], "summary": {"total": 0}},
                                  before, after)
            self.mismatches += ["batch %d %s: %s" % (self.batches, name, m) for m in found]
            self.notes.append("batch %d %s: exit %d, %s" % (self.batches, name, rc, "no record"
                              if report is None else "a record"))
            log("batch %3d %-10s %5.1f s exit %d (refused as expected: %s); %d disagreement(s)" %
                (self.batches, name, time.time() - t0, rc, "no record" if report is None
                 else "A RECORD", len(found)))
            if rc != 2 or report is not None:
                self.mismatches.append("batch %d %s: exit %d, not refused" % (self.batches, name, rc))
            return
        if report is None:
            self.mismatches.append("batch %d %s: no record (exit %d)" % (self.batches, name, rc))
            return
        found = check.compare(report, before, after, resend="--resend" in argv)
        self.mismatches += ["batch %d %s: %s" % (self.batches, name, m) for m in found]
        self.camera_outcomes += len(report.get("cameras", []))
        self.figures(name)
        s = report.get("summary", {})
        log("batch %3d %-10s %5.1f s exit %d: %d cameras, %d succeeded (%d proven), %d refused, "
            "%d failed, %d held or stopped, %d already current; %d disagreement(s)" %
            (self.batches, name, time.time() - t0, rc, s.get("total", 0), s.get("succeeded", 0),
             s.get("verified", 0), s.get("refused", 0), s.get("failed", 0),
             s.get("not_started", 0), s.get("already_current", 0), len(found)))

    def figures(self, name):
        rss, fds = Proc.rss(self.sim.pid), Proc.fds(self.sim.pid)
        self.sim_figures.append((self.batches, rss, fds))
        left = glob.glob(os.path.join(self.tmp, "*", "UpdatePacket_*"))
        if left:
            self.findings.append("batch %d %s: workspace left: %s" % (self.batches, name, left))

    def killed_batch(self):
        """SIGKILL mid-batch; then the tool's state must be sane and the batch can run again."""
        st = self.settle()
        group = self.group(st)
        image = self.image()
        kill_after = self.rng.randint(10, min(40, len(group) // 2))
        upgrade = ["upgrade", image, "--parallel", "10", "--verify-timeout", str(VERIFY_S)]
        t0 = time.time()
        rc, _, killed = self.run_tool("killed", upgrade + ["--mac"] + group, kill_after)
        self.batches += 1
        log("batch %3d killed     %5.1f s: SIGKILL after %d of %d cameras finished%s" %
            (self.batches, time.time() - t0, kill_after, len(group), "" if killed else
             " (it ended first, exit %d)" % rc))
        st = self.settle()
        lock = os.path.join(self.tool, "quorvane.lock")
        if os.path.exists(lock):
            with open(lock) as f:
                try:
                    fcntl.flock(f, fcntl.LOCK_EX | fcntl.LOCK_NB)
                    fcntl.flock(f, fcntl.LOCK_UN)
                except OSError:
                    self.mismatches.append("after the kill: the batch lock is still held")
        rc, text, _ = self.run_tool("history", ["history"])
        if rc != 0:
            self.mismatches.append("after the kill: history exits %d" % rc)
        self.figures("killed")
        name = os.path.basename(image)
        flashed = [m for m in group if st[m]["last_file"] == name]
        log("          after the kill: lock free, history exit %d, %d cameras hold the file" %
            (rc, len(flashed)))
        # The journal outlives the kill: history lists the batch as interrupted
        # and --retry-from takes exactly the cameras it did not prove.
        interrupted = [line.split("\t")[0] for line in text.splitlines() if "已中断" in line]
        if killed and not interrupted:
            self.mismatches.append("after the kill: history does not list the batch as "
                                   "interrupted")
        if interrupted:
            self.batch("retry-from", upgrade + ["--json", "--retry-from", interrupted[0]],
                       json_out=True)
            return
        rest = [m for m in group if m not in flashed and not st[m]["rebooting"]]
        if rest:
            self.batch("retry", upgrade + ["--json", "--mac"] + rest, json_out=True)

    def round(self, r):
        st = self.settle()
        verify = ["--verify-timeout", str(VERIFY_S), "--json"]
        group = self.group(st)
        image = self.image()
        self.batch("all-10", ["upgrade", image, "--parallel", "10", "--mac"] + group + verify,
                   json_out=True)
        st = self.settle()
        group = self.group(st)
        # Those left behind on other versions (their faults made them fail)
        # are brought to the group's version, one batch per version, so that
        # every round meets the faulty cameras again.
        main = check.version_key(st[group[0]]["sw"])
        behind = {}
        for mac in self.alive(st):
            key = check.version_key(st[mac]["sw"])
            if key != main:
                behind.setdefault(key, []).append(mac)
        for key in sorted(behind):
            self.batch("behind", ["upgrade", self.image(False), "--parallel", "10", "--mac"] +
                       behind[key] + verify, json_out=True)
        st = self.settle()
        group = self.group(st)
        # The same file again: those already on its version are sent nothing.
        self.batch("again", ["upgrade", image, "--parallel", "10", "--mac"] +
                   self.rng.sample(group, min(20, len(group))) + verify, json_out=True)
        # Canaries are the first camera of each hardware version in the list:
        # one of them failing holds the others, which must then be untouched.
        self.batch("canary", ["upgrade", self.image(False), "--resend", "--parallel", "10",
                              "--canary", "per-hardware", "--mac"] +
                   self.rng.sample(group, min(30, len(group))) + verify, json_out=True)
        st = self.settle()
        # A time-out per hanging camera is too dear one at a time.
        few = self.group(st, exclude=("hang",))
        self.batch("serial-1", ["upgrade", self.image(False), "--resend", "--parallel", "1",
                                "--mac"] + self.rng.sample(few, min(6, len(few))) + verify,
                   json_out=True)
        st = self.settle()
        alive = self.alive(st)
        moved = [m for m in self.restored if m in alive]
        pick = moved + self.rng.sample([m for m in alive if m not in moved], 8)
        start = "127.90.%d.1" % (10 + r % 230)
        self.batch("modify-ip", ["modify-ip", start, "--mac"] + pick)
        if r % 2 == 0 and self.reports():
            # Every other round the change is undone from its record.
            bid = os.path.basename(max(self.reports()))[len("batch-"):-len(".json")]
            self.batch("undo", ["modify-ip", "--undo", bid])
        st = self.settle()
        one = self.rng.choice([m for m in self.alive(st) if st[m]["ip"] != DEFAULT_IP])
        self.restored = [one]
        # An undo may have put an earlier restored camera back on the default
        # address: the tool must then refuse to give it to another camera.
        holder = [m for m in self.alive(st) if st[m]["ip"] == DEFAULT_IP]
        self.batch("restore-ip", ["restore-ip", "--mac", one], expect_refusal=bool(holder))
        if r % 3 == 1:
            self.killed_batch()

    def run(self):
        self.start_camsim()
        started = time.time()
        r = 0
        while True:
            r += 1
            log("== round %d" % r)
            self.round(r)
            if self.args.minutes:
                if time.time() - started >= self.args.minutes * 60:
                    break
            elif r >= (self.args.rounds or 3):
                break
        self.verdict(time.time() - started, r)

    def verdict(self, secs, rounds):
        first, last = self.sim_figures[0], self.sim_figures[-1]
        peak_rss = max(f[1] for f in self.sim_figures)
        log("== %d rounds, %d batches, %d camera outcomes compared in %.0f s (seed %d)" %
            (rounds, self.batches, self.camera_outcomes, secs, self.args.seed))
        log("camsim resident memory: %.1f MiB after batch 1, %.1f MiB at the end, peak %.1f MiB" %
            (first[1] / 1024, last[1] / 1024, peak_rss / 1024))
        log("camsim open files: %d after batch 1, %d at the end, most %d" %
            (first[2], last[2], max(f[2] for f in self.sim_figures)))
        log("quorvane-cli largest resident memory per batch: %.1f MiB first, %.1f MiB last, "
            "most %.1f MiB" % (self.tool_rss[0] / 1024, self.tool_rss[-1] / 1024,
                               max(self.tool_rss) / 1024))
        # Flat: the first batch's figures plus room for allocator noise.
        if last[2] > first[2] + 2:
            self.findings.append("camsim open files grew from %d to %d" % (first[2], last[2]))
        if last[1] > first[1] * 1.25 + 4096:
            self.findings.append("camsim resident memory grew from %d to %d KiB" %
                                 (first[1], last[1]))
        for m in self.mismatches + self.findings:
            log("MISMATCH " + m)
        log("mismatches: %d, other findings: %d" % (len(self.mismatches), len(self.findings)))

    def stop(self):
        if getattr(self, "sim", None) and self.sim.poll() is None:
            self.sim.terminate()
            try:
                self.sim.wait(10)
            except subprocess.TimeoutExpired:
                self.sim.kill()
                self.sim.wait()
        if self.args.keep:
            log("kept: %s" % self.work)
        else:
            shutil.rmtree(self.work, ignore_errors=True)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--build", default=os.path.join(here, "..", "..", "build", "dev"))
    ap.add_argument("--seed", type=int, default=None)
    ap.add_argument("--minutes", type=float, default=0)
    ap.add_argument("--rounds", type=int, default=0)
    ap.add_argument("--cameras", type=int, default=200)
    ap.add_argument("--keep", action="store_true", help="keep the run folder")
    args = ap.parse_args()
    if args.seed is None:
        args.seed = random.SystemRandom().randint(1, 2**31 - 1)
    log("soak: seed %d (replay with --seed %d)" % (args.seed, args.seed))
    for exe in ("camsim", "quorvane-cli"):
        if not os.access(os.path.join(args.build, "bin", exe), os.X_OK):
            log("missing %s/bin/%s: build first" % (args.build, exe))
            return 2
    soak = Soak(args)
    try:
        soak.run()
    except (RuntimeError, OSError) as e:
        log("soak could not run: %s" % e)
        return 2
    finally:
        soak.stop()
    return 1 if soak.mismatches or soak.findings else 0


if __name__ == "__main__":
    sys.exit(main())
