#!/usr/bin/env python3
"""Hostile clients for the portal benchmark, loopback only, for a bounded time.

  attackers.py PORT SECONDS [SLOW] [READERS]
  attackers.py --big-list PORT PID [CLIENTS] [HOLD_SECONDS]
  attackers.py --idle-crowd PORT [ADDRESSES] [PER_ADDRESS]

SLOW connections (default 2000) send a request head one byte every 3 s, spread over
source addresses 127.0.0.10 and up, 200 per address; READERS clients (default 2) from
127.0.0.30 pipeline requests for the site list and never read a reply. What the portal
closes is opened again (at most 400 a second), so the crowd stays attached. Prints
"ready" once all are connected, and a summary on stderr when the time is up or on SIGTERM.

--big-list: a made-up id adds 500 sites of its own, 4.5 KB each; CLIENTS (default 200)
from 127.0.0.40 pipeline requests for that list and never read. Prints how much the
portal (PID) grew and how long a client from 127.0.0.2 waited, then keeps them
attached for HOLD_SECONDS (default 0).
--idle-crowd: ADDRESSES x PER_ADDRESS (default 17 x 256) connections from 127.0.0.50 and up
each have one request answered and stay idle; prints how long a client from 127.0.0.2 waited.
"""
import resource
import selectors
import signal
import socket
import sys
import time

PER_ADDRESS = 200
TRICKLE_EVERY = 3.0
REOPEN_PER_SECOND = 400
ESTABLISHED = 1  # tcpi_state of an open connection
HEAD = b"GET /tad/version.htm HTTP/1.1\r\nHost: portal.example\r\nX-Slow: "
READER_REQUEST = (b"GET /tad/tad_available.asp?t=1&userid=2026120612000012345 HTTP/1.1\r\n"
                  b"Host: portal.example\r\n\r\n")


class Attack:
    def __init__(self, port, slow, readers):
        self.port = port
        self.selector = selectors.DefaultSelector()
        self.slow = [None] * slow
        self.readers = [None] * readers
        self.reopened = 0
        self.refused = 0
        self.samples = []

    def open_slow(self, i):
        source = "127.0.0.%d" % (10 + i // PER_ADDRESS)
        try:
            s = socket.create_connection(("127.0.0.1", self.port), timeout=2, source_address=(source, 0))
            s.setblocking(False)
            s.send(HEAD)
        except OSError:
            self.refused += 1
            return
        self.selector.register(s, selectors.EVENT_READ, i)
        self.slow[i] = s

    def open_reader(self, i):
        s = socket.socket()
        try:
            # A small window: the portal's side backs up after a few replies.
            s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
            s.bind(("127.0.0.30", 0))
            s.settimeout(2)
            s.connect(("127.0.0.1", self.port))
            s.setblocking(False)
            s.send(READER_REQUEST * 2000)
        except OSError:
            s.close()
            self.refused += 1
            return
        self.readers[i] = s

    def attached(self):
        return sum(1 for s in self.slow if s is not None)

    def run(self, deadline):
        next_trickle = time.monotonic() + TRICKLE_EVERY
        while time.monotonic() < deadline:
            for key, _ in self.selector.select(timeout=0.25):
                try:
                    data = key.fileobj.recv(4096)
                except OSError:
                    data = b""
                if not data:  # closed by the portal
                    self.selector.unregister(key.fileobj)
                    key.fileobj.close()
                    self.slow[key.data] = None
            budget = REOPEN_PER_SECOND // 4
            for i, s in enumerate(self.slow):
                if s is None and budget > 0:
                    budget -= 1
                    self.reopened += 1
                    self.open_slow(i)
            if time.monotonic() >= next_trickle:
                next_trickle += TRICKLE_EVERY
                for s in self.slow:
                    if s is not None:
                        try:
                            s.send(b"a")
                        except OSError:
                            pass
                self.samples.append(self.attached())
            for i, s in enumerate(self.readers):
                # Its replies wait unread, so TCP is asked whether the portal has closed it.
                if s is None or s.getsockopt(socket.IPPROTO_TCP, socket.TCP_INFO, 8)[0] != ESTABLISHED:
                    if s is not None:
                        s.close()
                        self.readers[i] = None
                    self.reopened += 1
                    self.open_reader(i)


def rss_kb(pid):
    with open("/proc/%d/status" % pid) as f:
        return next(int(line.split()[1]) for line in f if line.startswith("VmRSS:"))


def read_to_end(s):
    """All a connection sends until the other side closes it; the socket is closed after."""
    reply = b""
    while True:
        chunk = s.recv(65536)
        if not chunk:
            break
        reply += chunk
    s.close()
    return reply


def timed_get(port, target):
    """Seconds until a new client from 127.0.0.2 has its whole reply; None when none came."""
    start = time.monotonic()
    try:
        s = socket.create_connection(("127.0.0.1", port), timeout=5, source_address=("127.0.0.2", 0))
        s.sendall(b"GET %s HTTP/1.1\r\nHost: portal.example\r\nConnection: close\r\n\r\n" % target)
        reply = read_to_end(s)
    except OSError:
        return None
    return time.monotonic() - start if reply.startswith(b"HTTP/1.1 200") else None


def big_list(port, pid, clients, hold):
    userid = b"2026120612000099999"
    for i in range(500):  # each field near its longest
        s = socket.create_connection(("127.0.0.1", port))
        s.sendall(b"GET /tad/tad_postsite.asp?url=http%%3A%%2F%%2Fs%d.example%%2F%s&shortname=Own%%20%d%s&comments=%s"
                  b"&AgeFrom=3&AgeTo=12&LogoLoc=%s.gif&id=0&userid=%s&Delete=0&Type=2 HTTP/1.1\r\n"
                  b"Host: portal.example\r\nConnection: close\r\n\r\n"
                  % (i, b"p" * 2000, i, b"s" * 190, b"c" * 2000, b"L" * 190, userid))
        reply = read_to_end(s)
        if not reply.startswith(b"HTTP/1.1 200"):  # a 429 would leave the list short of its size
            sys.exit("attackers.py: site %d not added (start the portal with --max-writes-per-minute 0): %s"
                     % (i, reply.split(b"\r\n", 1)[0].decode(errors="replace")))
    target = b"/tad/tad_available.asp?t=1&userid=" + userid
    size = len(urlopen(port, target))
    before = rss_kb(pid)
    request = b"GET " + target + b" HTTP/1.1\r\nHost: portal.example\r\n\r\n"
    held = []
    for _ in range(clients):
        s = socket.socket()
        s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        s.bind(("127.0.0.40", 0))
        s.connect(("127.0.0.1", port))
        s.setblocking(False)
        try:
            s.send(request * 200)
        except OSError:
            pass
        held.append(s)
    time.sleep(2)
    waited = timed_get(port, b"/tad/version.htm")
    print("big list: %d B; %d non-reading clients: portal grew by %.1f MB; another client waited %s" %
          (size, clients, (rss_kb(pid) - before) / 1024.0, "%.3f s" % waited if waited is not None else "in vain"),
          flush=True)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    time.sleep(hold)


def urlopen(port, target):
    s = socket.create_connection(("127.0.0.1", port))
    s.sendall(b"GET " + target + b" HTTP/1.1\r\nHost: portal.example\r\nConnection: close\r\n\r\n")
    data = b""
    while True:
        chunk = s.recv(65536)
        if not chunk:
            return data.split(b"\r\n\r\n", 1)[1]
        data += chunk


def idle_crowd(port, addresses, per_address):
    request = b"GET /tad/version.htm HTTP/1.1\r\nHost: portal.example\r\n\r\n"
    crowd = []
    for a in range(addresses):
        for _ in range(per_address):
            try:
                s = socket.create_connection(("127.0.0.1", port), timeout=2, source_address=("127.0.0.%d" % (50 + a), 0))
                s.sendall(request)
                if not s.recv(4096).startswith(b"HTTP/1.1 200"):
                    raise OSError
            except OSError:
                s.close()
                continue
            crowd.append(s)
    waited = timed_get(port, b"/tad/version.htm")
    print("idle crowd: %d kept-alive connections made; a new client waited %s" %
          (len(crowd), "%.3f s" % waited if waited is not None else "in vain"))


def main():
    _, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))
    if sys.argv[1] == "--big-list":
        return big_list(int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4]) if len(sys.argv) > 4 else 200,
                        float(sys.argv[5]) if len(sys.argv) > 5 else 0)
    if sys.argv[1] == "--idle-crowd":
        return idle_crowd(int(sys.argv[2]), int(sys.argv[3]) if len(sys.argv) > 3 else 17,
                          int(sys.argv[4]) if len(sys.argv) > 4 else 256)
    port = int(sys.argv[1])
    seconds = float(sys.argv[2])
    slow = int(sys.argv[3]) if len(sys.argv) > 3 else 2000
    readers = int(sys.argv[4]) if len(sys.argv) > 4 else 2
    _, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    if hard < slow + readers + 64:
        sys.exit("attackers.py: %d descriptors allowed, %d needed" % (hard, slow + readers + 64))
    resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))

    def stop(*_):
        raise KeyboardInterrupt
    signal.signal(signal.SIGTERM, stop)
    deadline = time.monotonic() + seconds
    attack = Attack(port, slow, readers)
    try:
        for i in range(slow):
            attack.open_slow(i)
        for i in range(readers):
            attack.open_reader(i)
        print("ready: %d slow-header connections, %d non-reading clients" %
              (attack.attached(), sum(1 for s in attack.readers if s is not None)), flush=True)
        attack.run(deadline)
    except KeyboardInterrupt:
        pass
    samples = attack.samples or [attack.attached()]
    print("attackers: %d..%d slow-header connections attached, %d reopened, %d connects failed" %
          (min(samples), max(samples), attack.reopened, attack.refused), file=sys.stderr, flush=True)


if __name__ == "__main__":
    main()
