"""A private PulseAudio daemon with a null sink whose monitor is recorded,
for the tests that play through the soft synth's live audio output."""
import contextlib
import os
import shutil
import subprocess
import tempfile
import time

RATE = 44100


def wait_for(predicate, seconds):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if predicate():
            return True
        time.sleep(0.1)
    return False


def missing_programs():
    return [p for p in ("pulseaudio", "parec", "pactl") if not shutil.which(p)]


@contextlib.contextmanager
def null_sink(channels=1):
    """Yields (env, work, start_recording): env reaches the private daemon;
    start_recording() starts recording the sink's monitor and returns a
    function that stops it and gives the raw s16le samples (interleaved when
    channels is 2)."""
    work = tempfile.mkdtemp(prefix="qmidi-live-audio-")
    env = dict(os.environ, XDG_RUNTIME_DIR=os.path.join(work, "run"), HOME=work,
               PULSE_SERVER="unix:" + os.path.join(work, "run", "pulse", "native"))
    env.pop("QMIDI_CAPTURE", None)
    os.makedirs(env["XDG_RUNTIME_DIR"], mode=0o700)
    daemon = subprocess.Popen(
        ["pulseaudio", "--daemonize=no", "--exit-idle-time=-1", "-n", "--use-pid-file=no",
         "--load=module-null-sink sink_name=qmidi_null",
         "--load=module-native-protocol-unix", "--log-target=file:" + os.path.join(work, "pulse.log")],
        env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    recorders = []

    def start_recording():
        raw = os.path.join(work, f"monitor{len(recorders)}.raw")
        rec = subprocess.Popen(["parec", "-d", "qmidi_null.monitor", "--format=s16le", f"--rate={RATE}",
                                f"--channels={channels}", "--latency-msec=20", "--raw", raw], env=env)
        recorders.append(rec)
        # The monitor delivers silence as soon as the recorder is connected.
        if not wait_for(lambda: os.path.exists(raw) and os.path.getsize(raw) > RATE // 5, 20):
            raise RuntimeError("the recorder did not start")

        def stop():
            time.sleep(0.5)
            rec.terminate()
            rec.wait(10)
            with open(raw, "rb") as f:
                return f.read()
        return stop

    try:
        if not wait_for(lambda: subprocess.run(["pactl", "info"], env=env, capture_output=True).returncode == 0, 15):
            raise RuntimeError("the private PulseAudio daemon did not start")
        yield env, work, start_recording
    finally:
        for rec in recorders:
            if rec.poll() is None:
                rec.kill()
        daemon.terminate()
        try:
            daemon.wait(10)
        except subprocess.TimeoutExpired:
            daemon.kill()
        shutil.rmtree(work, ignore_errors=True)
