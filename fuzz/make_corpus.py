#!/usr/bin/env python3
"""Writes the fuzzers' seed corpora (fuzz/corpus/<target>/) from what the
camera simulator really sends: stream frames of every kind, command answers,
search answers, JPEG pictures and H.264 access units.

    fuzz/make_corpus.py BUILD/apps/camsim/lumvara-camsim

Talks to the simulator on 127.0.0.1 only. Run it again when the simulator's
answers change; the seeds are small and kept in the repository.
"""
import os
import socket
import struct
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(ROOT, "corpus")
MAGIC = 0xA815AA55
HEADER = 32


def write(target, name, data):
    folder = os.path.join(CORPUS, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as out:
        out.write(data)


def request(port, line):
    """Sends one request; returns the socket for the answer."""
    s = socket.create_connection(("127.0.0.1", port), timeout=5)
    s.sendall((line + "\r\nHost: 127.0.0.1\r\nConnection: keep-alive\r\n\r\n").encode())
    return s


def command_answer(port, cgi_and_query):
    """The whole answer (header and body) of one command."""
    s = request(port, f"GET {cgi_and_query} HTTP/1.1")
    data = b""
    while True:
        head_end = data.find(b"\r\n\r\n")
        if head_end >= 0:
            head = data[:head_end].decode("latin-1")
            length = 0
            for field in head.split("\r\n"):
                if field.startswith("Content-length:"):
                    length = int(field.split(":", 1)[1])
            if len(data) >= head_end + 4 + length:
                s.close()
                return data[: head_end + 4 + length]
        chunk = s.recv(65536)
        if not chunk:
            s.close()
            return data
        data += chunk


def read_frames(s, count, wanted_kinds=None):
    """Reads whole frames off a stream connection; keeps `count` of the
    wanted kinds (all kinds when None), in order."""
    data = b""
    frames = []
    deadline = time.time() + 10
    while len(frames) < count and time.time() < deadline:
        while len(data) >= HEADER:
            magic, kind = struct.unpack_from("<IB", data, 0)
            length = struct.unpack_from("<I", data, 16)[0]
            if magic != MAGIC or len(data) < HEADER + length:
                break
            frame, data = data[: HEADER + length], data[HEADER + length :]
            if wanted_kinds is None or kind in wanted_kinds:
                frames.append(frame)
        if len(frames) >= count:
            break
        try:
            chunk = s.recv(65536)
        except socket.timeout:
            break
        if not chunk:
            break
        data += chunk
    s.close()
    return frames[:count]


def live(port, count, kinds=None, stream=10):
    return read_frames(request(port, f"GET /livestream.cgi?user=admin&pwd=&streamid={stream} HTTP/1.1"),
                       count, kinds)


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    camsim = sys.argv[1]
    with tempfile.TemporaryDirectory() as tmp:
        port_file = os.path.join(tmp, "port")
        sim = subprocess.Popen([camsim, "--port", "0", "--port-file", port_file, "--search-port", "0",
                                "--alarm-interval", "150", "--audio", "6"],
                               stdout=subprocess.PIPE, text=True)
        try:
            banner = sim.stdout.readline()
            port = int(open(port_file).read())
            search_port = int(banner.rsplit("udp", 1)[1]) if "udp" in banner else 0
            make_seeds(camsim, port, search_port)
        finally:
            sim.terminate()
            sim.wait()
        # A second simulator for the A-law audio and the refusals.
        sim = subprocess.Popen([camsim, "--port", "0", "--port-file", port_file, "--audio", "7",
                                "--max-connections", "0", "--video-loss"],
                               stdout=subprocess.PIPE, text=True)
        try:
            sim.stdout.readline()
            port = int(open(port_file).read())
            make_refusal_seeds(port)
        finally:
            sim.terminate()
            sim.wait()


def audio(port, count):
    return read_frames(request(port, "GET /audiostream.cgi?user=admin&pwd=&streamid=0 HTTP/1.1"), count)


def make_seeds(camsim, port, search_port):
    login = "loginuse=admin&loginpas="
    # Stream frames: live H.264 with its alarm notices, ADPCM audio, MJPEG playback.
    video = live(port, 4, kinds={0, 1})
    notices = live(port, 3, kinds={32, 33, 34, 35})
    adpcm = audio(port, 3)
    playback = read_frames(request(port, "GET /livestream.cgi?user=admin&pwd=&streamid=4"
                                   "&filename=20261210073000_003.mjpg&offset=0 HTTP/1.1"), 2)

    # Frame reassembly: no cuts, and the same bytes cut in a few places.
    write("frame_reassembly", "live_video", b"\x00" + b"".join(video[:2]))
    write("frame_reassembly", "notices_audio", b"\x00" + b"".join(notices + adpcm))
    cut = b"\x03" + struct.pack("<HHH", 7, 0x8000 | 33, 500)
    write("frame_reassembly", "cut_notices", cut + b"".join(notices + adpcm[:1]))

    # HTTP answers and their bodies.
    answers = {
        "get_params": command_answer(port, f"get_params.cgi?{login}"),
        "get_misc": command_answer(port, f"get_misc.cgi?{login}"),
        "wifi_scan": command_answer(port, f"get_wifi_scan_result.cgi?{login}"),
        "record_list": command_answer(port, f"get_record_file.cgi?{login}&startdate=0&enddate=2000000000"),
        "set_ok": command_answer(port, f"set_alias.cgi?{login}&alias=door"),
        "auth_failed": command_answer(port, "get_params.cgi?loginuse=nobody&loginpas=x"),
    }
    for name, answer in answers.items():
        write("http_response", name, answer)

    def body(answer):
        return answer.split(b"\r\n\r\n", 1)[1]

    # Record filling: the first byte picks the family (see the fuzzer).
    for selector, (name, source) in enumerate([("network", "get_params"), ("users", "get_params"),
                                               ("ddns", "get_params"), ("ftp", "get_params"),
                                               ("mail", "get_params"), ("misc", "get_misc"),
                                               ("wifi_scan", "wifi_scan")]):
        write("param_records", name, bytes([selector]) + body(answers[source]))

    # Value readers: a key length, the key, then the body.
    for name, key, source in [("string", b"ip=", "get_params"), ("int", b"port=", "get_params"),
                              ("result", b"result=", "set_ok"), ("wifi", b"ap_ssid[0] =", "wifi_scan")]:
        write("http_values", name, bytes([len(key)]) + key + body(answers[source]))

    # Search answers as the responder sends them.
    if search_port:
        s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        s.settimeout(3)
        s.sendto(b"DH\x01\x01", ("127.0.0.1", search_port))
        answer, _ = s.recvfrom(2048)
        s.close()
        write("search_answer", "simulator", answer)
        write("search_answer", "header_only", answer[:4])

    # JPEG pictures from SD playback, and a few small ones of other shapes.
    for i, frame in enumerate(playback[:1]):
        write("jpeg", f"playback{i}", frame[HEADER:])
    for name, args in [("gray_progressive", ["-size", "24x17", "gradient:", "-colorspace", "Gray",
                                             "-interlace", "Plane"]),
                       ("colour_444", ["-size", "19x9", "plasma:", "-sampling-factor", "1x1"]),
                       ("colour_422", ["-size", "33x20", "xc:red", "-sampling-factor", "2x1"])]:
        out = subprocess.run(["convert", *args, "-quality", "70", "jpeg:-"], capture_output=True)
        if out.returncode == 0 and out.stdout[:2] == b"\xff\xd8":
            write("jpeg", name, out.stdout)

    # H.264 access units: 16-bit little-endian length, then the unit.
    units = [frame[HEADER:] for frame in video]
    write("h264", "key_and_three", b"".join(struct.pack("<H", len(u)) + u for u in units if len(u) < 65536))
    write("h264", "key_only", struct.pack("<H", len(units[0])) + units[0])

    make_player_seeds(video, notices, adpcm, playback)


CAMERA_KINDS = [0, 1, 3, 6, 7, 8, 32, 33, 34, 35, 200, 201, 202, 203]


def player_steps(frames, ticks_after_each=1, calls=b""):
    """A player fuzzer's script (see fuzz/player_fuzz_input.h): each frame
    as a step, each followed by ticks; window calls at the end."""
    out = b""
    for frame in frames:
        kind = frame[4]
        time_, length = struct.unpack_from("<I", frame, 8)[0], struct.unpack_from("<I", frame, 16)[0]
        zone = frame[25]
        selector = CAMERA_KINDS.index(kind) if kind in CAMERA_KINDS and kind < 0x80 else kind
        out += bytes([0, selector]) + struct.pack("<IBH", time_, zone, length) + frame[HEADER:]
        out += b"\x02" * ticks_after_each
    return out + calls


def make_player_seeds(video, notices, adpcm, playback):
    sound_on = bytes([3 | (8 << 2)]) + b"\0" * 4
    write("player_h264", "key_other_audio_notices",
          sound_on + player_steps(video[:2] + adpcm[:1] + notices[:1]))
    # Window calls between pictures: effect, snapshot buffer, resize, restart.
    calls = bytes([3 | (0 << 2)]) + struct.pack("<i", 2) + bytes([3 | (3 << 2)]) + b"\0" * 4 + \
        bytes([3 | (6 << 2)]) + struct.pack("<i", 100 | (57 << 9)) + bytes([3 | (2 << 2)]) + b"\0" * 4
    write("player_h264", "calls", player_steps(video[:2], 1, calls) + player_steps(video[:1]))
    sound_on = bytes([3 | (4 << 2)]) + b"\0" * 4
    write("player_jpeg", "pictures_audio_notices",
          sound_on + player_steps(playback[:1] + adpcm[:1] + notices[:1]))
    calls = bytes([3 | (0 << 2)]) + struct.pack("<i", 1) + bytes([3 | (3 << 2)]) + struct.pack("<i", 64 | (30 << 9))
    write("player_jpeg", "calls", player_steps(playback[:1], 1, calls) + player_steps(playback[:1]))


def make_refusal_seeds(port):
    refused = live(port, 1)
    alaw = audio(port, 2)
    write("frame_reassembly", "refusal_alaw", b"\x01" + struct.pack("<H", 40) + b"".join(refused + alaw))


if __name__ == "__main__":
    main()
