"""sd_vesk behind a real speech-dispatcher server, as Orca reaches it.

Runs a private server (its own HOME, XDG_RUNTIME_DIR, socket, configuration
and module directory) whose ALSA output is a file plugin writing into a FIFO
that this test reads, so the captured audio can be measured and held back.
The server is always stopped at the end, also when a test fails.

    sd_vesk_server_test.py SD_VESK ENGINE_LIBRARY
"""

import os
import re
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import threading
import time
import unittest

import speechd

MODULE = ENGINE = None
UNIT_A, UNIT_B, UNIT_C, UNIT_PAUSE = 8, 424, 840, 24
UNIT_SAMPLES = 1000
# Only guards against a hang; no result depends on it.
LIMIT = 30


def marker_voice(rate, units, per_unit):
    """A voice file whose every sample tells which unit is playing."""
    entries = max(units) + 1
    data = bytearray(24 + 8 * entries)
    struct.pack_into("<I", data, 8, rate)
    for unit in sorted(units):
        struct.pack_into("<II", data, 24 + 8 * unit, len(data), per_unit * 2)
        data += struct.pack("<%dh" % per_unit, *([unit] * per_unit))
    return bytes(data)


class Capture(threading.Thread):
    """Reads the FIFO the ALSA file plugin writes; closing the gate stops
    reading, so the server's audio output, and behind it the module, waits."""

    def __init__(self, path):
        super().__init__(daemon=True)
        # Read and write: the FIFO stays open across the server's opens.
        self.fd = os.open(path, os.O_RDWR)
        self.gate = threading.Event()
        self.gate.set()
        self.lock = threading.Condition()
        self.total = 0
        self.running = True

    def run(self):
        while self.running:
            self.gate.wait()
            data = os.read(self.fd, 65536)
            with self.lock:
                self.total += len(data)
                self.lock.notify_all()

    def wait_for(self, total):
        with self.lock:
            return self.lock.wait_for(lambda: self.total >= total, LIMIT)

    def stop(self):
        self.running = False
        self.gate.set()
        os.write(self.fd, b"\0")  # wakes the blocked read
        self.join(LIMIT)
        os.close(self.fd)


class Events:
    """Speech events of one message, in order."""

    def __init__(self):
        self.events = []
        self.done = threading.Event()
        self.begun = threading.Event()

    def __call__(self, kind, index_mark=None):
        self.events.append(index_mark if kind == "index_marks" else kind)
        if kind == "begin":
            self.begun.set()
        if kind in ("end", "cancel"):
            self.done.set()


def after_begin(events):
    """The events after BEGIN. python3-speechd registers a message's
    callback only once the server has replied to SPEAK, so a BEGIN that comes
    sooner is lost; the module's log shows that it was sent."""
    return events[1:] if events[:1] == ["begin"] else events


def read(path):
    with open(path, "rb") as f:
        return f.read()


# The private server's own settings; with debian=True they follow the
# configuration Debian ships (symbol pre-processing on, its dictionaries).
OWN_SETTINGS = ('AudioOutputMethod "alsa"\nAudioALSADevice "vesk_capture"\n'
                'DefaultModule vesk\nDefaultVolume 100\n'
                'LanguageDefaultModule "zh" "vesk"\n')
SYSTEM_CONF = "/etc/speech-dispatcher"


class PrivateServer:
    """A speech-dispatcher of its own in a temporary directory, with sd_vesk
    as its only module speaking with the engine in engine_dir."""

    def __init__(self, root, engine, debian=False):
        self.root = root
        path = self.path
        for d in ("home", "run", "conf/modules", "modules", "logs"):
            os.makedirs(path(d))
        os.symlink(MODULE, path("modules", "sd_vesk"))
        with open(path("conf", "modules", "vesk.conf"), "w") as f:
            # The marker voice's letters are spelled, not read as English.
            f.write('VeskEngine "%s"\nDebug 1\nVeskEnglishWords 0\n' % engine)
        system = ""
        if debian:
            # Read, never changed: a copy with this server's settings after.
            system = read(os.path.join(SYSTEM_CONF, "speechd.conf")).decode()
            shutil.copytree(os.path.join(SYSTEM_CONF, "clients"),
                            path("conf", "clients"))
        with open(path("conf", "speechd.conf"), "w") as f:
            f.write(system + "\n" + OWN_SETTINGS)
        os.mkfifo(path("capture"))
        with open(path("home", ".asoundrc"), "w") as f:
            f.write('pcm.vesk_capture { type file; slave.pcm "null"; '
                    'file "%s"; format "raw" }\n' % path("capture"))
        self.env = dict(os.environ, HOME=path("home"), XDG_RUNTIME_DIR=path("run"),
                        SPEECHD_ADDRESS="unix_socket:" + path("socket"))
        self.pidfile = path("server.pid")
        self.server_log = path("logs", "speech-dispatcher.log")
        self.module_log = path("logs", "vesk.log")
        self.process = None

    def path(self, *parts):
        return os.path.join(self.root, *parts)

    def start(self):
        """True once the server listens; False when it ended instead."""
        # What the server says before its log file is open.
        self.console = open(self.path("logs", "console.log"), "wb")
        self.process = subprocess.Popen(
            ["speech-dispatcher", "-s", "-t", "0", "-C", self.path("conf"),
             "-m", self.path("modules"), "-c", "unix_socket",
             "-S", self.path("socket"), "-P", self.pidfile,
             "-L", self.path("logs"), "-l", "5"],
            env=self.env, stdout=self.console, stderr=subprocess.STDOUT)
        deadline = time.monotonic() + LIMIT
        while not os.path.exists(self.path("socket")):
            if self.process.poll() is not None:
                return False
            if time.monotonic() > deadline:
                raise RuntimeError("speech-dispatcher neither started nor ended")
            time.sleep(0.05)
        return True

    def stop(self):
        if self.process is None:
            return
        try:
            os.kill(int(read(self.pidfile).strip()), signal.SIGTERM)
        except (OSError, ValueError):
            pass
        try:
            self.process.wait(LIMIT)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        self.console.close()


def engine_directory(cls, prefix, units):
    """A scratch root, removed with the test class, holding an engine
    directory with the library and a marker voice of the given units."""
    root = tempfile.mkdtemp(prefix=prefix)
    cls.addClassCleanup(shutil.rmtree, root, ignore_errors=True)
    engine = os.path.join(root, "engine")
    os.makedirs(engine)
    shutil.copy(ENGINE, os.path.join(engine, "libvesksynth.so"))
    with open(os.path.join(engine, "marker.vl"), "wb") as f:
        f.write(marker_voice(16000, units, UNIT_SAMPLES))
    return root, engine


def start_server(cls, root, engine, debian=False):
    """cls.server, a private server with the module, and cls.capture, what
    it plays; both stopped with the test class."""
    cls.server = PrivateServer(os.path.join(root, "server"), engine, debian=debian)
    cls.capture = Capture(cls.server.path("capture"))
    cls.capture.start()
    cls.addClassCleanup(cls.capture.stop)
    cls.addClassCleanup(cls.server.stop)
    if not cls.server.start():
        tail = read(cls.server.server_log)[-2000:].decode(errors="replace")
        raise RuntimeError("speech-dispatcher did not start:\n" + tail)


class SdVeskServer(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        root, engine = engine_directory(cls, "sd-vesk-server-",
                                        [UNIT_A, UNIT_B, UNIT_C, UNIT_PAUSE])
        start_server(cls, root, engine)
        cls.env = cls.server.env
        cls.log = cls.server.module_log
        os.environ["SPEECHD_ADDRESS"] = cls.env["SPEECHD_ADDRESS"]

    def client(self):
        client = speechd.SSIPClient("sd-vesk-test")
        self.addCleanup(client.close)
        client.set_output_module("vesk")
        client.set_language("zh")
        client.set_data_mode(speechd.DataMode.SSML)
        return client

    def speak(self, client, ssml):
        events = Events()
        kinds = (speechd.CallbackType.BEGIN, speechd.CallbackType.END,
                 speechd.CallbackType.CANCEL, speechd.CallbackType.INDEX_MARK)
        client.speak(ssml, callback=events, event_types=kinds)
        return events

    def spd_say(self, *args):
        run = subprocess.run(["spd-say", *args], env=self.env, timeout=LIMIT,
                             capture_output=True, text=True)
        self.assertEqual(run.returncode, 0, run.stderr)
        return run.stdout

    def wait_in_log(self, start, text):
        deadline = time.monotonic() + LIMIT
        while text not in read(self.log)[start:]:
            self.assertLess(time.monotonic(), deadline, "not in the log: %r" % text)
            time.sleep(0.02)

    def test_lists_the_module_and_its_voice(self):
        self.assertIn("vesk", self.spd_say("-O").split())
        voices = [line.split() for line in self.spd_say("-o", "vesk", "-L").splitlines()]
        self.assertIn(["marker", "zh-CN", "none"], voices)

    def test_reports_marks_in_order_and_plays_all_the_audio(self):
        client = self.client()
        before = self.capture.total
        log_start = len(read(self.log))
        events = self.speak(client, '<speak>ab<mark name="one"/>c'
                                    '<mark name="two"/>ba</speak>')
        self.assertTrue(events.done.wait(LIMIT))
        self.assertEqual(after_begin(events.events), ["one", "two", "end"])
        sent = [line.split(": ", 1)[1] for line in
                read(self.log)[log_start:].decode().splitlines()
                if ": 70" in line]
        self.assertEqual(sent, ["701 BEGIN", "700 INDEX MARK one",
                                "700 INDEX MARK two", "702 END"])
        expected = before + 5 * UNIT_SAMPLES * 2
        self.assertTrue(self.capture.wait_for(expected))
        self.assertEqual(self.capture.total, expected)

    def test_stop_in_the_middle_is_reported_as_cancel(self):
        client = self.client()
        log_start = len(read(self.log))
        # The output held: the message cannot end before the cancel.
        self.capture.gate.clear()
        events = self.speak(client, "<speak>" + "a" * 400 + "</speak>")
        try:
            # The module's 701, not the client's BEGIN event, which can come
            # before the client library has registered the callback.
            self.wait_in_log(log_start, b": 701 BEGIN\n")
            canceller = threading.Thread(target=client.cancel)
            canceller.start()
            deadline = time.monotonic() + LIMIT
            while b"command STOP" not in read(self.log)[log_start:]:
                self.assertLess(time.monotonic(), deadline, "no STOP reached the module")
                time.sleep(0.02)
        finally:
            self.capture.gate.set()
        canceller.join(LIMIT)
        self.assertTrue(events.done.wait(LIMIT))
        self.assertEqual(after_begin(events.events), ["cancel"])


def normalized(text):
    """Prepared text with its runs of blanks as one: the server adds blanks
    around what it rewrites, and blanks are not spoken."""
    return " ".join(text.split())


def prepared_lines(log):
    return [normalized(line.split(" prepared |", 1)[1].rsplit("|", 1)[0])
            for line in log.decode().splitlines() if " prepared |" in line]


def module_prepares(root, engine, texts):
    """What sd_vesk prepares for each text given to it directly, without a
    server in between: how the hosts read the client's own text."""
    log = os.path.join(root, "direct.log")
    conf = os.path.join(root, "direct.conf")
    with open(conf, "w") as f:
        f.write('VeskEngine "%s"\nDebug 1\nDebugFile "%s"\n' % (engine, log))
    module = subprocess.Popen([MODULE, conf], stdin=subprocess.PIPE,
                              stdout=subprocess.PIPE)
    try:
        def until(last):
            while True:
                line = module.stdout.readline()
                if not line or line.rstrip(b"\n") == last:
                    return line
        module.stdin.write(b"INIT\nAUDIO\naudio_output_method=server\n.\n")
        module.stdin.flush()
        until(b"203 OK AUDIO INITIALIZED")
        for text in texts:
            module.stdin.write(("SPEAK\n<speak>%s</speak>\n.\n" % text).encode())
            module.stdin.flush()
            if not until(b"702 END"):
                raise RuntimeError("sd_vesk ended while speaking " + text)
        module.stdin.write(b"QUIT\n")
        module.stdin.close()
        module.wait(LIMIT)
    finally:
        if module.poll() is None:
            module.kill()
            module.wait()
        module.stdout.close()
    lines = prepared_lines(read(log))
    if len(lines) != len(texts):
        raise RuntimeError("expected one prepared text per message: %r" % lines)
    return dict(zip(texts, lines))


LEVELS = ("none", "some", "most", "all")
# Inputs, and the punctuation levels at which the server leaves enough of
# them to read them as the client wrote them: below those levels it drops a
# sign outright (a '%' or '+' at none, a '-' after a Chinese character or
# between numbers at none and some).
NUMBERS = [
    ("25.5", LEVELS),
    ("3.14元", LEVELS),
    ("-3℃", LEVELS),
    ("-0.5", LEVELS),
    ("10:30", LEVELS),
    ("12:30:45", LEVELS),
    ("2024-05-01", LEVELS),
    ("1,000", LEVELS),
    ("价格¥25.5", LEVELS),
    ("50%", LEVELS[1:]),
    ("1.5%", LEVELS[1:]),
    ("+5", LEVELS[1:]),
    ("2024/05/01", LEVELS[1:]),
    ("温度-3℃", LEVELS[2:]),
    ("5-3", LEVELS[2:]),
]


class SdVeskNumbers(unittest.TestCase):
    """Numbers through a server configured as Debian ships it, whose symbol
    pass rewrites them before the module sees them: the engine is asked to
    speak what it is asked for the client's own text."""

    @classmethod
    def setUpClass(cls):
        root, engine = engine_directory(cls, "sd-vesk-numbers-", [UNIT_A, UNIT_PAUSE])
        cls.expected = module_prepares(root, engine, [t for t, _ in NUMBERS])
        start_server(cls, root, engine, debian=True)
        os.environ["SPEECHD_ADDRESS"] = cls.server.env["SPEECHD_ADDRESS"]

    def prepared_through_server(self, client, level, text):
        client.set_punctuation(getattr(speechd.PunctuationMode, level.upper()))
        start = len(read(self.server.module_log))
        client.speak(text)
        # The module's log, not the client's END event: the client library
        # registers a message's callback only after the server's reply, so
        # the END of a message without audio can come before it and be lost.
        deadline = time.monotonic() + LIMIT
        while not re.search(rb"\n[^\n]*: 70[23] [A-Z]+\n",
                            read(self.server.module_log)[start:]):
            self.assertLess(time.monotonic(), deadline, "the message never ended")
            time.sleep(0.02)
        return prepared_lines(read(self.server.module_log)[start:])

    def test_numbers_are_read_as_written_at_every_punctuation_level(self):
        # zh-CN: Orca in a Chinese locale; zh: the server's English names.
        for language in ("zh-CN", "zh"):
            client = speechd.SSIPClient("sd-vesk-numbers")
            self.addCleanup(client.close)
            client.set_output_module("vesk")
            client.set_language(language)
            for text, levels in NUMBERS:
                for level in levels:
                    with self.subTest(language=language, level=level, text=text):
                        self.assertEqual(
                            self.prepared_through_server(client, level, text),
                            [self.expected[text]])


class SdVeskBadEngine(unittest.TestCase):
    def test_an_engine_that_does_not_load_is_refused_with_a_clear_error(self):
        root = tempfile.mkdtemp(prefix="sd-vesk-server-")
        self.addCleanup(shutil.rmtree, root, ignore_errors=True)
        server = PrivateServer(root, "/nonexistent/libvesksynth.so")
        self.addCleanup(server.stop)
        # Its only module refused INIT: the server gives up.
        self.assertFalse(server.start())
        self.assertIn(b"sd_vesk: cannot start: /nonexistent/libvesksynth.so: "
                      b"no such engine library", read(server.module_log))
        console = read(server.path("logs", "console.log"))
        self.assertIn(b"Module vesk failed to initialize. Reason: \n"
                      b"---------------\n"
                      b"sd_vesk: /nonexistent/libvesksynth.so: no such engine library",
                      console)


if __name__ == "__main__":
    MODULE, ENGINE = (os.path.abspath(arg) for arg in sys.argv[1:3])
    unittest.main(argv=sys.argv[:1], verbosity=2)
