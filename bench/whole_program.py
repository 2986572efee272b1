#!/usr/bin/python3
"""Whole-program benchmarks: brzmqtt against the peer clients, through one local mosquitto broker.

Every scenario runs brzmqtt and its peer in alternation, R times each, and the table reports the
median wall time, messages per second, peak RSS and the median of the per-pair ratios ours/peer.
All sockets are on 127.0.0.1; every wait is bounded in time and every load loop in count.
"""

import argparse
import datetime
import os
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
PYTHON = "/usr/bin/python3"  # Debian's interpreter: the one with python3-paho-mqtt
PAYLOAD_FILL = b"abcdefghijklmnopqrstuvwx"  # 8 digits + 24 = 32-byte payloads


class BenchError(Exception):
    pass


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_listening(port, timeout):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=0.2):
                return True
        except OSError:
            time.sleep(0.05)
    return False


def payload(i):
    return b"%08d" % i + PAYLOAD_FILL


class Broker:
    """mosquitto on free loopback ports, one plain TCP and one WebSocket listener."""

    def __init__(self):
        self.dir = tempfile.mkdtemp(prefix="brzbench-")
        self.port = free_port()
        self.ws_port = free_port()
        conf = [
            "allow_anonymous true",
            "persistence false",
            "log_dest none",
            # No queue limits: a burst of QoS 0 messages to a slower subscriber must not be dropped.
            "max_queued_messages 0",
            "max_queued_bytes 0",
            "listener %d 127.0.0.1" % self.port,
            "listener %d" % self.ws_port,
            "protocol websockets",
            # Without it the websockets listener binds every address.
            "bind_interface lo",
        ]
        if os.geteuid() == 0:
            conf.insert(0, "user root")
        path = os.path.join(self.dir, "mosquitto.conf")
        with open(path, "w") as f:
            f.write("\n".join(conf) + "\n")
        self.proc = subprocess.Popen(["mosquitto", "-c", path], stdin=subprocess.DEVNULL,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if not wait_listening(self.port, 10) or not wait_listening(self.ws_port, 10):
            self.stop()
            raise BenchError("mosquitto did not start")

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        shutil.rmtree(self.dir, ignore_errors=True)


class Watcher:
    """Reads a child's stdout on a thread in large chunks and counts patterns in whole lines.

    wait(pattern, count, timeout) returns the monotonic time at which the count was first reached.
    """

    def __init__(self, stream, patterns):
        self.fd = stream.fileno()
        self.counts = {p: 0 for p in patterns}
        self.reached = {}  # (pattern, count) -> time
        self.targets = []
        self.head = []  # the first lines, for error messages
        self.cond = threading.Condition()
        self.eof = False
        self.thread = threading.Thread(target=self._run, daemon=True)
        self.thread.start()

    def _run(self):
        partial = b""
        while True:
            try:
                data = os.read(self.fd, 1 << 20)
            except OSError:
                data = b""
            now = time.monotonic()
            if not data:
                with self.cond:
                    self.eof = True
                    self.cond.notify_all()
                return
            buf = partial + data
            cut = buf.rfind(b"\n") + 1
            whole, partial = buf[:cut], buf[cut:]
            if not whole:
                continue
            with self.cond:
                if len(self.head) < 20:
                    self.head.extend(whole.split(b"\n")[: 20 - len(self.head)])
                for p in self.counts:
                    self.counts[p] += whole.count(p)
                for (p, n) in self.targets:
                    if (p, n) not in self.reached and self.counts[p] >= n:
                        self.reached[(p, n)] = now
                self.cond.notify_all()

    def wait(self, pattern, count, timeout):
        deadline = time.monotonic() + timeout
        with self.cond:
            key = (pattern, count)
            if key not in self.targets:
                self.targets.append(key)
                if self.counts[pattern] >= count:
                    self.reached[key] = time.monotonic()
            while key not in self.reached:
                left = deadline - time.monotonic()
                if left <= 0 or self.eof:
                    raise BenchError("waited for %d x %r, saw %d; output began %r" %
                                     (count, pattern, self.counts[pattern], b"\n".join(self.head[:8])))
                self.cond.wait(min(left, 0.5))
            return self.reached[key]


class Child:
    """A started program with pipes; finish() closes its input and collects its peak RSS."""

    def __init__(self, argv, patterns=(), stdin=True):
        self.argv = argv
        self.proc = subprocess.Popen(argv, stdin=subprocess.PIPE if stdin else subprocess.DEVNULL,
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, bufsize=0)
        self.watch = Watcher(self.proc.stdout, patterns) if patterns is not None else None
        self.writer = None
        # ru_maxrss of a child started from this interpreter counts the interpreter's own pages at
        # exec, so the peak is VmHWM, sampled until the child ends and once more before its input ends.
        self.maxrss_kib = 0
        self.sampler = threading.Thread(target=self._sample, daemon=True)
        self.sampler.start()

    def _sample(self):
        while self.proc.returncode is None:
            self.sample_hwm()
            time.sleep(0.02)

    def sample_hwm(self):
        try:
            with open("/proc/%d/status" % self.proc.pid) as f:
                for line in f:
                    if line.startswith("VmHWM:"):
                        self.maxrss_kib = max(self.maxrss_kib, int(line.split()[1]))
        except OSError:
            pass

    def feed(self, data):
        """Writes data to the child's stdin on a thread (the child may block on its own output)."""
        def run():
            try:
                view = memoryview(data)
                while view:
                    n = os.write(self.proc.stdin.fileno(), view[: 1 << 16])
                    view = view[n:]
            except OSError:
                pass
        self.writer = threading.Thread(target=run, daemon=True)
        self.writer.start()

    def finish(self, timeout=10.0, close_input=True, sig=None):
        if self.writer:
            self.writer.join(timeout)
        self.sample_hwm()
        if close_input and self.proc.stdin:
            try:
                self.proc.stdin.close()
            except OSError:
                pass
        if sig is not None and self.proc.returncode is None:
            self.proc.send_signal(sig)
        deadline = time.monotonic() + timeout
        while True:
            pid, status, usage = os.wait4(self.proc.pid, os.WNOHANG)
            if pid:
                break
            if time.monotonic() > deadline:
                self.proc.kill()
                pid, status, usage = os.wait4(self.proc.pid, 0)
                break
            time.sleep(0.005)
        self.proc.returncode = os.waitstatus_to_exitcode(status)
        return self.maxrss_kib

    def kill(self):
        if self.proc.returncode is None and self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()


class Bench:
    def __init__(self, args):
        self.args = args
        self.broker = Broker()
        self.brz = args.brzmqtt
        self.seq = 0
        self.probe_topic = "bench/probe"
        # A retained probe: a counting subscriber sees it right after its subscription is active.
        subprocess.run(["mosquitto_pub", "-h", "127.0.0.1", "-p", str(self.broker.port), "-t",
                        self.probe_topic, "-r", "-m", "ready"], check=True, timeout=10)

    def topic(self):
        self.seq += 1
        return "bench/%d/%d" % (os.getpid(), self.seq)

    def url(self, ws=False):
        return ("ws://127.0.0.1:%d" % self.broker.ws_port) if ws else ("tcp://127.0.0.1:%d" % self.broker.port)

    # --- helpers ---------------------------------------------------------------------------------

    def counter(self, topic, n, timeout=10):
        """mosquitto_sub counting n messages of topic; returns once it is subscribed."""
        c = Child(["mosquitto_sub", "-h", "127.0.0.1", "-p", str(self.broker.port), "-t", topic, "-t",
                   self.probe_topic, "-C", str(n + 1), "-F", "%t"], patterns=[b"\n"], stdin=False)
        try:
            c.watch.wait(b"\n", 1, timeout)
        except BenchError:
            c.kill()
            raise
        return c

    def ours(self, url=None):
        c = Child([self.brz], patterns=[b'"event": "connect"', b'"event": "puback"', b'"event": "publish"',
                                       b'"event": "subscribe"', b'"event": "error"'])
        if url:
            c.feed(b'{"message":"open", "params":{"url":"%s"}}\n' % url.encode())
        return c

    @staticmethod
    def publish_lines(topic, n, qos):
        head = b'{"message":"publish", "protocol":"mqtt", "params":{"topic":"%s", "text":"' % topic.encode()
        tail = b'", "qos":%d}}\n' % qos
        return b"".join(head + payload(i) + tail for i in range(n))

    @staticmethod
    def payload_lines(n):
        return b"".join(payload(i) + b"\n" for i in range(n))

    def load_timeout(self, n):
        return 30 + n / 2000.0

    # --- P1, P2, P4: publishing --------------------------------------------------------------------

    def run_publish_ours(self, n, qos, ws):
        topic = self.topic()
        data = self.publish_lines(topic, n, qos)
        sub = self.counter(topic, n)
        t0 = time.monotonic()
        brz = self.ours(self.url(ws))
        try:
            brz.watch.wait(b'"event": "connect"', 1, 10)
            brz.feed(data)
            t1 = sub.watch.wait(b"\n", n + 1, self.load_timeout(n))
            if qos > 0:
                t1 = max(t1, brz.watch.wait(b'"event": "puback"', n, self.load_timeout(n)))
            # Input ends only once everything is out: end of input ends the program at once.
            rss = brz.finish()
            return t1 - t0, rss
        finally:
            brz.kill()
            sub.kill()

    def run_publish_mosquitto(self, n, qos):
        topic = self.topic()
        data = self.payload_lines(n)
        sub = self.counter(topic, n)
        t0 = time.monotonic()
        pub = Child(["mosquitto_pub", "-h", "127.0.0.1", "-p", str(self.broker.port), "-t", topic, "-q",
                     str(qos), "-l"], patterns=[])
        try:
            pub.feed(data)
            t1 = sub.watch.wait(b"\n", n + 1, self.load_timeout(n))
            rss = pub.finish()
            return t1 - t0, rss
        finally:
            pub.kill()
            sub.kill()

    def run_publish_paho_ws(self, n):
        topic = self.topic()
        data = self.payload_lines(n)
        sub = self.counter(topic, n)
        t0 = time.monotonic()
        pub = Child([PYTHON, os.path.join(HERE, "paho_pub.py"), "--port", str(self.broker.ws_port),
                     "--transport", "websockets", "--topic", topic], patterns=[b"ready\n"])
        try:
            pub.watch.wait(b"ready\n", 1, 10)
            pub.feed(data)
            t1 = sub.watch.wait(b"\n", n + 1, self.load_timeout(n))
            rss = pub.finish()
            return t1 - t0, rss
        finally:
            pub.kill()
            sub.kill()

    # --- P3: receiving -----------------------------------------------------------------------------

    def start_publisher(self, topic, n):
        """A publisher faster than the broker (packets encoded ahead): the receivers set the pace."""
        pub = Child([PYTHON, os.path.join(HERE, "fast_pub.py"), "--port", str(self.broker.port), "--topic", topic,
                     "--count", str(n)], patterns=[b"ready\n"])
        try:
            pub.watch.wait(b"ready\n", 1, 30)
        except BenchError:
            pub.kill()
            raise
        return pub

    def run_receive_ours(self, n):
        topic = self.topic()
        brz = self.ours(self.url())
        pub = None
        try:
            brz.watch.wait(b'"event": "connect"', 1, 10)
            brz.feed(b'{"message":"subscribe", "protocol":"mqtt", "params":{"topic":"%s"}}\n' % topic.encode())
            brz.watch.wait(b'"event": "subscribe"', 1, 10)
            pub = self.start_publisher(topic, n)
            t0 = time.monotonic()
            pub.feed(b"go\n")
            t1 = brz.watch.wait(b'"event": "publish"', n, self.load_timeout(n))
            pub.finish()
            rss = brz.finish()
            return t1 - t0, rss
        finally:
            if pub:
                pub.kill()
            brz.kill()

    def run_receive_mosquitto(self, n):
        topic = self.topic()
        # The retained probe (counted by -C) shows when the subscription is active.
        sub = Child(["mosquitto_sub", "-h", "127.0.0.1", "-p", str(self.broker.port), "-t", topic, "-t",
                     self.probe_topic, "-v", "-C", str(n + 1)], patterns=[b"\n"], stdin=False)
        pub = None
        try:
            sub.watch.wait(b"\n", 1, 10)
            pub = self.start_publisher(topic, n)
            t0 = time.monotonic()
            pub.feed(b"go\n")
            t1 = sub.watch.wait(b"\n", n + 1, self.load_timeout(n))
            pub.finish()
            rss = sub.finish(close_input=False)
            return t1 - t0, rss
        finally:
            if pub:
                pub.kill()
            sub.kill()

    # --- P5: round-trip latency --------------------------------------------------------------------

    @staticmethod
    def round_trips(proc, lines, match, timeout):
        """Writes one line at a time and waits for the next output line containing match."""
        out = proc.stdout
        fd_in = proc.stdin.fileno()
        rtts = []
        deadline = time.monotonic() + timeout
        buf = b""
        for line in lines:
            t0 = time.perf_counter()
            os.write(fd_in, line)
            while True:
                cut = buf.find(b"\n")
                if cut >= 0:
                    got, buf = buf[:cut], buf[cut + 1:]
                    if match in got:
                        break
                    continue
                if time.monotonic() > deadline:
                    raise BenchError("round trip timed out")
                chunk = os.read(out.fileno(), 65536)
                if not chunk:
                    raise BenchError("output ended during round trips")
                buf += chunk
            rtts.append(time.perf_counter() - t0)
        return rtts

    def pipe_floor(self, m):
        cat = Child(["cat"], patterns=None)
        try:
            lines = [b"%08d\n" % i for i in range(m)]
            return self.round_trips(cat.proc, lines, b"", 60)
        finally:
            cat.finish(5)
            cat.kill()

    def run_latency_ours(self, m):
        topic = self.topic()
        brz = Child([self.brz], patterns=None)
        try:
            fd = brz.proc.stdin.fileno()
            os.write(fd, b'{"message":"open", "params":{"url":"%s"}}\n' % self.url().encode())
            self.round_trips(brz.proc, [b""], b'"event": "connect"', 10)
            os.write(fd, b'{"message":"subscribe", "protocol":"mqtt", "params":{"topic":"%s"}}\n' % topic.encode())
            self.round_trips(brz.proc, [b""], b'"event": "subscribe"', 10)
            head = b'{"message":"publish", "protocol":"mqtt", "params":{"topic":"%s", "text":"' % topic.encode()
            lines = [head + payload(i) + b'", "qos":0}}\n' for i in range(m)]
            t0 = time.monotonic()
            rtts = self.round_trips(brz.proc, lines, b'"event": "publish"', 30 + m / 100.0)
            wall = time.monotonic() - t0
            rss = brz.finish()
            return rtts, wall, rss
        finally:
            brz.kill()

    def run_latency_paho(self, m):
        topic = self.topic()
        c = Child([PYTHON, os.path.join(HERE, "paho_latency.py"), "--port", str(self.broker.port), "--topic", topic,
                   "--count", str(m)], patterns=None, stdin=False)
        try:
            out, _ = c.proc.communicate(timeout=30 + m / 100.0)
        except subprocess.TimeoutExpired:
            c.kill()
            raise BenchError("paho latency script timed out")
        fields = out.decode().split()
        if len(fields) != m + 1:
            raise BenchError("paho latency script printed %r" % out[:200])
        wall = float(fields[0])
        return [float(x) for x in fields[1:]], wall, None

    # --- P6: idle -----------------------------------------------------------------------------------

    @staticmethod
    def cpu_seconds(pid):
        with open("/proc/%d/stat" % pid) as f:
            fields = f.read().rsplit(")", 1)[1].split()
        tick = os.sysconf("SC_CLK_TCK")
        return (int(fields[11]) + int(fields[12])) / tick  # utime + stime

    @staticmethod
    def rss_kib(pid):
        values = {}
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                if line.startswith(("VmRSS:", "VmHWM:")):
                    k, v = line.split(":")
                    values[k] = int(v.split()[0])
        return values.get("VmRSS", 0), values.get("VmHWM", 0)

    def run_idle(self, pairs, seconds):
        """All pairs idle at the same time: idle programs do not disturb each other."""
        ours, peers = [], []
        try:
            for _ in range(pairs):
                topic = self.topic()
                brz = self.ours(self.url())
                ours.append(brz)
                peers.append(Child(["mosquitto_sub", "-h", "127.0.0.1", "-p", str(self.broker.port), "-t", topic,
                                    "-t", self.probe_topic], patterns=[b"\n"], stdin=False))
                brz.watch.wait(b'"event": "connect"', 1, 10)
                brz.feed(b'{"message":"subscribe", "protocol":"mqtt", "params":{"topic":"%s"}}\n' % topic.encode())
                brz.watch.wait(b'"event": "subscribe"', 1, 10)
                peers[-1].watch.wait(b"\n", 1, 10)
            time.sleep(1.0)  # let start-up work settle
            start = [(self.cpu_seconds(c.proc.pid), self.cpu_seconds(p.proc.pid)) for c, p in zip(ours, peers)]
            time.sleep(seconds)
            results = []
            for (c, p), (c0, p0) in zip(zip(ours, peers), start):
                cpu_c = (self.cpu_seconds(c.proc.pid) - c0) * 60.0 / seconds
                cpu_p = (self.cpu_seconds(p.proc.pid) - p0) * 60.0 / seconds
                results.append((self.rss_kib(c.proc.pid), cpu_c, self.rss_kib(p.proc.pid), cpu_p))
            return results
        finally:
            for c in ours + peers:
                c.kill()


def median(xs):
    return statistics.median(xs) if xs else float("nan")


def loadavg():
    with open("/proc/loadavg") as f:
        return " ".join(f.read().split()[:3])


def main():
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("--brzmqtt", default=os.environ.get("BRZMQTT", os.path.join(HERE, "..", "build", "brzmqtt")))
    ap.add_argument("--repeat", type=int, default=5, help="runs per client and scenario (default 5)")
    ap.add_argument("--smoke", action="store_true", help="small counts, one run each; asserts nothing about time")
    ap.add_argument("--quick", action="store_true", help="shorter idle window for P6")
    ap.add_argument("--only", default="", help="comma-separated scenarios, e.g. P1,P3")
    args = ap.parse_args()
    if not os.access(args.brzmqtt, os.X_OK):
        sys.exit("brzmqtt not found at %s (build it first)" % args.brzmqtt)
    for tool in ("mosquitto", "mosquitto_pub", "mosquitto_sub"):
        if not shutil.which(tool) and not os.path.exists("/usr/sbin/" + tool):
            sys.exit("%s is missing (Debian package mosquitto / mosquitto-clients)" % tool)
    os.environ["PATH"] = os.environ.get("PATH", "") + ":/usr/sbin"

    if args.smoke:
        repeat, n1, n2, n3, n4, m5, idle = 1, 2000, 500, 2000, 1000, 50, 2.0
    else:
        repeat, n1, n2, n3, n4, m5 = args.repeat, 100000, 20000, 100000, 100000, 2000
        idle = 10.0 if args.quick else 60.0
    only = set(s.strip().upper() for s in args.only.split(",") if s.strip())

    def wanted(name):
        return not only or name in only

    print("# brzmqtt whole-program benchmarks, %s" % datetime.datetime.now().strftime("%Y-%m-%d %H:%M"))
    print("# load average at start: %s; %d runs per client and scenario; cpus: %d" %
          (loadavg(), repeat, os.cpu_count()))
    sys.stdout.flush()

    bench = Bench(args)
    rows = []  # (client, scenario, n, wall, rate, rss_kib, ratio, note)
    failures = []

    def pairs(name, n, ours_fn, peer_fn, peer_name):
        walls_o, walls_p, rss_o, rss_p, ratios = [], [], [], [], []
        busy = {"o": [], "p": []}
        for r in range(repeat):
            order = [("o", ours_fn), ("p", peer_fn)] if r % 2 == 0 else [("p", peer_fn), ("o", ours_fn)]
            got = {}
            for who, fn in order:
                try:
                    # The broker's share of one core during the run shows when it sets the pace.
                    c0, t0 = bench.cpu_seconds(bench.broker.proc.pid), time.monotonic()
                    got[who] = fn()
                    busy[who].append((bench.cpu_seconds(bench.broker.proc.pid) - c0) / (time.monotonic() - t0))
                except BenchError as e:
                    failures.append("%s %s run %d: %s" % (name, "brzmqtt" if who == "o" else peer_name, r + 1, e))
            if "o" in got:
                walls_o.append(got["o"][0]); rss_o.append(got["o"][1])
            if "p" in got:
                walls_p.append(got["p"][0]); rss_p.append(got["p"][1])
            if "o" in got and "p" in got:
                ratios.append(got["o"][0] / got["p"][0])
        for client, walls, rss, who in (("brzmqtt", walls_o, rss_o, "o"), (peer_name, walls_p, rss_p, "p")):
            w = median(walls)
            note = "broker busy %.0f%%" % (100 * median(busy[who])) if busy[who] else ""
            rows.append((client, name, n, w, n / w if walls else float("nan"), max(rss) if rss else None,
                         median(ratios) if client == "brzmqtt" else None, note))
        print("  %s done: ratios %s" % (name, " ".join("%.2f" % x for x in ratios)), file=sys.stderr)

    try:
        if wanted("P1"):
            pairs("P1 publish QoS 0", n1, lambda: bench.run_publish_ours(n1, 0, False),
                  lambda: bench.run_publish_mosquitto(n1, 0), "mosquitto_pub")
        if wanted("P2"):
            pairs("P2 publish QoS 1", n2, lambda: bench.run_publish_ours(n2, 1, False),
                  lambda: bench.run_publish_mosquitto(n2, 1), "mosquitto_pub")
        if wanted("P3"):
            pairs("P3 receive QoS 0", n3, lambda: bench.run_receive_ours(n3),
                  lambda: bench.run_receive_mosquitto(n3), "mosquitto_sub")
        if wanted("P4"):
            pairs("P4 publish ws://", n4, lambda: bench.run_publish_ours(n4, 0, True),
                  lambda: bench.run_publish_paho_ws(n4), "paho (ws)")
        if wanted("P5"):
            name = "P5 round trip"
            res = {"o": [], "p": [], "f": []}
            ratios = []
            for r in range(repeat):
                got = {}
                steps = [("f", lambda: (bench.pipe_floor(m5), 0.0, None)),
                         ("o", lambda: bench.run_latency_ours(m5)), ("p", lambda: bench.run_latency_paho(m5))]
                if r % 2:
                    steps = [steps[0], steps[2], steps[1]]
                for who, fn in steps:
                    try:
                        got[who] = fn()
                        res[who].append(got[who])
                    except BenchError as e:
                        failures.append("%s %s run %d: %s" % (name, who, r + 1, e))
                if len(got) == 3:
                    floor = median(got["f"][0])
                    ratios.append((median(got["o"][0]) - floor) / median(got["p"][0]))
            for who, client in (("o", "brzmqtt"), ("p", "paho script"), ("f", "pipe floor (cat)")):
                runs = res[who]
                if not runs:
                    continue
                p50 = median([median(x[0]) for x in runs])
                p99 = median([sorted(x[0])[int(0.99 * (len(x[0]) - 1))] for x in runs])
                wall = median([x[1] for x in runs]) if who != "f" else None
                rss = max([x[2] for x in runs if x[2]], default=None)
                note = "p50 %.3f ms, p99 %.3f ms" % (p50 * 1e3, p99 * 1e3)
                if who == "o":
                    note += " (p50 minus pipe floor, per pair, over paho p50)"
                rows.append((client, name, m5, wall, m5 / wall if wall else None, rss,
                             median(ratios) if who == "o" else None, note))
            print("  %s done: ratios %s" % (name, " ".join("%.2f" % x for x in ratios)), file=sys.stderr)
        if wanted("P6"):
            name = "P6 idle %gs" % idle
            try:
                res = bench.run_idle(repeat, idle)
                ratios = [x[0][1] / x[2][1] for x in res]  # peak RSS, ours over peer
                for client, rssi, cpui in (("brzmqtt", 0, 1), ("mosquitto_sub", 2, 3)):
                    hwm = max(x[rssi][1] for x in res)
                    rss_now = median([x[rssi][0] for x in res])
                    cpu = median([x[cpui] for x in res])
                    rows.append((client, name, 0, None, None, hwm, median(ratios) if client == "brzmqtt" else None,
                                 "RSS now %.1f MiB, CPU %.3f s/min" % (rss_now / 1024.0, cpu)))
            except BenchError as e:
                failures.append("%s: %s" % (name, e))
    finally:
        bench.broker.stop()

    print("# load average at end: %s" % loadavg())
    print()
    print("| client | scenario | N | median wall s | msg/s | peak RSS MiB | ours/peer | notes |")
    print("|---|---|---:|---:|---:|---:|---:|---|")
    for client, name, n, wall, rate, rss, ratio, note in rows:
        print("| %s | %s | %s | %s | %s | %s | %s | %s |" % (
            client, name, n if n else "", "%.3f" % wall if wall else "", "%.0f" % rate if rate else "",
            "%.1f" % (rss / 1024.0) if rss else "", "%.2f" % ratio if ratio is not None else "", note))
    if failures:
        print()
        print("Failures:")
        for f in failures:
            print("- " + f)
        sys.exit(1)


if __name__ == "__main__":
    main()
