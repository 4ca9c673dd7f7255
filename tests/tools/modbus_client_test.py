#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""`sicvm run --modbus` against an independent client (pymodbus) and raw
sockets, over loopback only. Every wait is bounded; the runs are ended by
SIGINT and killed if they outlive their time.

usage: modbus_client_test.py SICVM TANK.sic WORKDIR
"""
import math
import re
import os
import signal
import socket
import struct
import subprocess
import sys
import threading
import time
import unittest

from pymodbus.client import ModbusTcpClient

SICVM, TANK, WORK = sys.argv[1:4]

POINTS = """index,id,type,mode,value,status,name
1,1001,LREAL,0,50.0,0,TANK.LEVEL
2,1002,BOOL,0,0,0,TANK.INLET
3,1003,LREAL,0,40.0,0,TANK.LOW
4,1004,LREAL,0,80.0,0,TANK.HIGH
5,1005,LREAL,0,85.0,0,TANK.ALARM_LIMIT
6,1006,BOOL,0,0,0,TANK.ALARM
7,1007,LREAL,0,1.5,0,TANK.OUTFLOW
8,1008,DINT,0,0,0,T.DINT
9,1009,INT,0,0,0,T.INT
10,1010,REAL,0,0,0,T.REAL
11,1011,BOOL,0,0,0,T.FLAG
12,1012,LREAL,0,-7.25,0,T.FIXED
"""

MAP = """# every type; LOW, HIGH and OUTFLOW are only read by the program
point,table,address,type,access,word_order
TANK.INLET,discrete,0,bool,ro
TANK.ALARM,discrete,1,bool,ro
TANK.LEVEL,input,0,float32,ro
TANK.LEVEL,input,2,int16,ro
TANK.LOW,holding,0,float32,rw
TANK.HIGH,holding,2,float32,rw
TANK.OUTFLOW,holding,4,float32,rw,swapped
TANK.LEVEL,holding,10,float64,rw
1003,holding,20,int16,ro
1003,holding,21,uint16,ro
1003,holding,22,int32,ro
1003,holding,24,uint32,ro
1003,holding,26,float32,ro,swapped
1003,holding,28,float64,ro,swapped
1003,holding,32,float64,rw
T.DINT,holding,40,int32,rw
T.INT,holding,42,int16,rw
T.REAL,holding,43,float64,rw
T.FIXED,holding,47,float32,ro
T.INT,holding,50,uint16,rw
T.DINT,holding,51,float32,rw
T.FLAG,coil,0,bool,rw
T.FIXED,coil,1,bool,ro
"""


def words(fmt, value, swapped=False):
    """The registers of a value, high word first unless swapped (struct is the oracle)."""
    raw = struct.pack(">" + fmt, value)
    w = [int.from_bytes(raw[i:i + 2], "big") for i in range(0, len(raw), 2)]
    return w[::-1] if swapped else w


def value_of(fmt, regs, swapped=False):
    regs = regs[::-1] if swapped else regs
    return struct.unpack(">" + fmt, b"".join(r.to_bytes(2, "big") for r in regs))[0]


def saturate(x, lo, hi):
    """Round half away from zero, clamp; NaN gives 0."""
    if math.isnan(x):
        return 0
    r = math.floor(abs(x) + 0.5) * (1 if x >= 0 else -1) if math.isfinite(x) else x
    return int(max(lo, min(hi, r)))


def write_file(name, text):
    os.makedirs(WORK, exist_ok=True)
    path = os.path.join(WORK, name)
    with open(path, "w") as f:
        f.write(text)
    return path


class Run:
    """One `sicvm run --modbus` process on a free loopback port."""

    def __init__(self, *extra, map_text=MAP, shm=None):
        self.points = write_file("modbus_points.csv", POINTS)
        self.map = write_file("modbus_map.csv", map_text)
        args = [SICVM, "run", TANK, "--points", self.points, "--nvram", "none", "--period", "20",
                "--modbus", "127.0.0.1:0", "--modbus-map", self.map, *extra]
        if shm:
            args += ["--shm", shm]
        self.proc = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        self.lines = []
        self.port = None
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()
        deadline = time.monotonic() + 10
        while self.port is None and self.proc.poll() is None and time.monotonic() < deadline:
            time.sleep(0.02)

    def _read(self):
        for line in self.proc.stdout:
            self.lines.append(line)
            serving = re.match(r"modbus: serving \d+ mappings on 127\.0\.0\.1:(\d+)", line)
            if serving:
                self.port = int(serving.group(1))

    def cycles(self):
        return sum(1 for line in self.lines if line.startswith("cycle "))

    def wait_cycles(self, n):
        target = self.cycles() + n
        deadline = time.monotonic() + 5
        while self.cycles() < target and time.monotonic() < deadline:
            time.sleep(0.01)

    def stop(self):
        """SIGINT; the exit status, standard output and error."""
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGINT)
        try:
            self.proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
        self.reader.join(timeout=5)
        err = self.proc.stderr.read()
        self.proc.stdout.close()
        self.proc.stderr.close()
        return self.proc.returncode, "".join(self.lines), err

    def client(self):
        c = ModbusTcpClient("127.0.0.1", port=self.port, timeout=3, retries=0)
        assert c.connect()
        return c


def raw_request(port, frame, timeout=3.0):
    """Sends a frame and returns what comes back before the server closes or goes quiet."""
    with socket.create_connection(("127.0.0.1", port), timeout=timeout) as s:
        s.sendall(frame)
        return recv_until_closed(s, timeout)


def recv_until_closed(s, timeout):
    """Bytes received, and whether the server closed the connection within `timeout`."""
    data = b""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        s.settimeout(max(0.01, deadline - time.monotonic()))
        try:
            chunk = s.recv(300)
        except socket.timeout:
            return data, False
        except ConnectionResetError:
            return data, True
        if not chunk:
            return data, True
        data += chunk
    return data, False


def mbap(pdu, unit=1, tid=7, length=None, protocol=0):
    return struct.pack(">HHHB", tid, protocol, len(pdu) + 1 if length is None else length, unit) + pdu


class ModbusRun(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.shm = "sicvm_modbus_test_%d" % os.getpid()
        cls.run_ = Run(shm=cls.shm)
        assert cls.run_.port, "the run did not start serving: " + "".join(cls.run_.lines)
        cls.c = cls.run_.client()

    @classmethod
    def tearDownClass(cls):
        cls.c.close()
        code, _, err = cls.run_.stop()
        assert code == 0, "the run did not end cleanly: " + err

    def read_holding(self, address, count):
        r = self.c.read_holding_registers(address, count, slave=1)
        self.assertFalse(r.isError(), r)
        return r.registers

    def test_1_reads_every_type(self):
        low = 40.0
        self.assertEqual(self.read_holding(0, 2), words("f", low))
        self.assertEqual(self.read_holding(20, 16),
                         [saturate(low, -32768, 32767) & 0xFFFF, saturate(low, 0, 65535)]
                         + words("i", saturate(low, -2**31, 2**31 - 1)) + words("I", saturate(low, 0, 2**32 - 1))
                         + words("f", low, True) + words("d", low, True) + words("d", low))
        self.assertEqual(value_of("f", self.read_holding(47, 2)), -7.25)
        # A read that starts inside a value gets its remaining words.
        self.assertEqual(self.read_holding(1, 1), words("f", low)[1:])
        coils = self.c.read_coils(0, 2, slave=1)
        self.assertEqual(coils.bits[:2], [False, True])
        for unit in (0, 1, 247, 255):  # any unit id is served
            r = self.c.read_input_registers(0, 3, slave=unit)
            self.assertFalse(r.isError(), r)
            self.assertEqual(saturate(value_of("f", r.registers[:2]), -32768, 32767), r.registers[2])

    def test_2_writes_reach_the_points_and_the_program(self):
        c = self.c
        # LOW and HIGH below any level in one request: the valve closes for good.
        self.assertFalse(c.write_registers(0, words("f", -1.0) + words("f", -1.0), slave=1).isError())
        self.assertFalse(c.write_registers(4, words("f", 0.0, True), slave=1).isError())  # no outflow
        self.run_.wait_cycles(3)
        self.assertFalse(c.write_registers(10, words("d", 75.0), slave=1).isError())  # LEVEL
        self.run_.wait_cycles(3)
        self.assertEqual(value_of("d", self.read_holding(10, 4)), 75.0)  # the program loaded and saved it
        self.assertEqual(c.read_discrete_inputs(0, 1, slave=1).bits[0], False)
        # The served value is the one `sicvm points` sees in the same tables.
        listed = subprocess.run([SICVM, "points", "list", self.shm], capture_output=True, text=True, timeout=10)
        level_row = [line for line in listed.stdout.splitlines() if "TANK.LEVEL" in line]
        self.assertEqual(len(level_row), 1, listed.stdout)
        self.assertEqual(float(level_row[0].split()[4]), 75.0)
        # The program reads OUTFLOW: 2 per cycle drains the tank.
        self.assertFalse(c.write_registers(4, words("f", 2.0, True), slave=1).isError())
        self.run_.wait_cycles(4)
        self.assertLess(value_of("d", self.read_holding(10, 4)), 75.0 - 2.0)
        # and LOW: above the level the valve opens (and HIGH, which must not close it).
        self.assertFalse(c.write_registers(0, words("f", 200.0) + words("f", 300.0), slave=1).isError())
        self.run_.wait_cycles(3)
        self.assertEqual(c.read_discrete_inputs(0, 1, slave=1).bits[0], True)

        # Conversions on read, from a value written through the float64 view of LOW.
        # (LOW is write-only for the program now: it opened the valve, so keep it high.)
        x = 40000.7
        self.assertFalse(c.write_registers(32, words("d", x), slave=1).isError())
        self.run_.wait_cycles(2)
        regs = self.read_holding(20, 8)
        self.assertEqual(regs[0], saturate(x, -32768, 32767) & 0xFFFF)
        self.assertEqual(regs[1], saturate(x, 0, 65535))
        self.assertEqual(value_of("i", regs[2:4]), saturate(x, -2**31, 2**31 - 1))
        self.assertEqual(value_of("I", regs[4:6]), saturate(x, 0, 2**32 - 1))
        self.assertEqual(value_of("f", regs[6:8], True), struct.unpack(">f", struct.pack(">f", x))[0])
        self.assertFalse(c.write_registers(32, words("d", -x), slave=1).isError())
        self.run_.wait_cycles(2)
        regs = self.read_holding(20, 6)
        self.assertEqual([regs[0], regs[1], value_of("i", regs[2:4]), value_of("I", regs[4:6])],
                         [0x8000, 0, -40001, 0])

        # Typed points take what their type holds.
        self.assertFalse(c.write_registers(40, words("i", -123456), slave=1).isError())
        self.assertFalse(c.write_register(42, words("h", -5)[0], slave=1).isError())
        self.assertFalse(c.write_registers(43, words("d", 0.1), slave=1).isError())
        self.assertFalse(c.write_coil(0, True, slave=1).isError())
        self.run_.wait_cycles(2)
        self.assertEqual(value_of("i", self.read_holding(40, 2)), -123456)
        self.assertEqual(value_of("h", self.read_holding(42, 1)), -5)
        self.assertEqual(value_of("d", self.read_holding(43, 4)), struct.unpack("f", struct.pack("f", 0.1))[0])
        self.assertTrue(c.read_coils(0, 1, slave=1).bits[0])

    def test_3_refusals_are_exceptions(self):
        c = self.c
        cases = [
            ("unmapped address", lambda: c.read_holding_registers(100, 1, slave=1), 2),
            ("range past a mapping", lambda: c.read_holding_registers(0, 7, slave=1), 2),
            ("input past 65535", lambda: c.read_input_registers(65535, 2, slave=1), 2),
            ("write to ro", lambda: c.write_register(20, 1, slave=1), 2),
            ("write to an ro coil", lambda: c.write_coil(1, True, slave=1), 2),
            ("half of a float32", lambda: c.write_register(0, 0, slave=1), 2),
            ("count over 125", lambda: c.read_holding_registers(0, 126, slave=1), 3),
            ("count over 2000", lambda: c.read_coils(0, 2001, slave=1), 3),
            ("40000 into an INT point", lambda: c.write_register(50, 40000, slave=1), 3),
            ("2.5 into a DINT point", lambda: c.write_registers(51, words("f", 2.5), slave=1), 3),
            ("1e39 into a REAL point", lambda: c.write_registers(43, words("d", 1e39), slave=1), 3),
            ("read/write registers", lambda: c.readwrite_registers(read_address=0, read_count=1, write_address=0,
                                                                  write_registers=[0], slave=1), 1),
        ]
        for what, call, code in cases:
            r = call()
            self.assertTrue(r.isError(), what)
            self.assertEqual(r.exception_code, code, what)
        # An unserved function with data is read whole and refused; the connection stays.
        with socket.create_connection(("127.0.0.1", self.run_.port), timeout=3) as s:
            s.sendall(mbap(b"\x2b\x0e\x01\x00", unit=9, tid=0x4242))
            s.settimeout(3)
            self.assertEqual(s.recv(100), struct.pack(">HHHBBB", 0x4242, 0, 3, 9, 0xAB, 1))
            s.sendall(mbap(b"\x04\x00\x02\x00\x01", tid=2))
            self.assertEqual(len(s.recv(100)), 11)

    def test_4_bad_frames_drop_only_their_connection(self):
        port = self.run_.port
        before = self.run_.cycles()
        bad = [
            ("garbage", b"\xde\xad\xbe\xef" * 8),
            ("protocol 1", mbap(b"\x03\x00\x00\x00\x01", protocol=1)),
            ("length field past the bytes", mbap(b"\x03\x00\x00\x00\x01", length=200)),
            ("byte count past the limit", mbap(b"\x10\x00\x00\x00\x7d\xfa" + bytes(250))),
            ("truncated frame", mbap(b"\x03\x00\x00\x00\x01")[:9]),
        ]
        for what, frame in bad:
            data, closed = raw_request(port, frame, timeout=3)
            self.assertTrue(closed, what)
            self.assertNotIn(b"\x83", data[7:8], what)
        # Meanwhile the others go on and so do the cycles.
        self.assertEqual(len(self.read_holding(0, 2)), 2)
        self.run_.wait_cycles(2)
        self.assertGreater(self.run_.cycles(), before)

    def test_5_many_clients_at_once(self):
        errors = []

        def reader():
            try:
                c = self.run_.client()
                for _ in range(40):
                    r = c.read_input_registers(0, 3, slave=1)
                    if r.isError() or saturate(value_of("f", r.registers[:2]), -32768, 32767) != r.registers[2]:
                        errors.append(str(r))
                c.close()
            except Exception as e:  # reported below
                errors.append(repr(e))

        threads = [threading.Thread(target=reader) for _ in range(20)]
        for t in threads:
            t.start()
        for t in threads:
            t.join(timeout=30)
        self.assertFalse(any(t.is_alive() for t in threads))
        self.assertEqual(errors, [])


class ModbusOptions(unittest.TestCase):
    def test_read_only_and_idle_timeout(self):
        run = Run("--modbus-read-only", "--modbus-idle-timeout", "1")
        try:
            self.assertIn("(read-only)", "".join(run.lines))
            c = run.client()
            self.assertFalse(c.read_holding_registers(0, 2, slave=1).isError())
            for r in (c.write_register(42, 1, slave=1), c.write_coil(0, True, slave=1),
                      c.write_registers(0, [0, 0], slave=1), c.write_coils(0, [True], slave=1)):
                self.assertEqual(r.exception_code, 1)
            c.close()
            with socket.create_connection(("127.0.0.1", run.port), timeout=5) as s:
                started = time.monotonic()
                _, closed = recv_until_closed(s, 5)
                self.assertTrue(closed)
                self.assertGreater(time.monotonic() - started, 0.5)
        finally:
            code, out, err = run.stop()
        self.assertEqual(code, 0, err)
        self.assertIn("interrupted", out)
        self.assertRegex(out, r"modbus: \d+ requests on 2 connections, 4 refused")
        with self.assertRaises(OSError):  # the socket is closed
            socket.create_connection(("127.0.0.1", run.port), timeout=2).close()

    def test_bad_map_serves_nothing(self):
        bad = "point,table,address,type,access\nTANK.LEVEL,input,0,float32,ro\nTANK.LOW,holding,0,bool,rw\n"
        run = Run(map_text=bad)
        code, out, err = run.stop()
        self.assertEqual(code, 1)
        self.assertIn(run.map + ":3: type bool does not fit a holding", err)
        self.assertNotIn("modbus: serving", out)
        self.assertNotIn("cycle 1", out)

    def test_taken_address_is_a_set_up_failure(self):
        with socket.socket() as taken:
            taken.bind(("127.0.0.1", 0))
            taken.listen()
            port = taken.getsockname()[1]
            args = [SICVM, "run", TANK, "--points", write_file("modbus_points.csv", POINTS), "--nvram", "none",
                    "--modbus", "127.0.0.1:%d" % port, "--modbus-map", write_file("modbus_map.csv", MAP)]
            r = subprocess.run(args, capture_output=True, text=True, timeout=20)
        self.assertEqual(r.returncode, 2)
        self.assertIn("cannot listen on 127.0.0.1:%d" % port, r.stderr)
        self.assertNotIn("cycle 1", r.stdout)


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0], "-v"])
