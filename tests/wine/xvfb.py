"""Starts a private Xvfb display for the Wine scenarios and the benchmark."""

import os
import select
import subprocess
import time


def start_xvfb(log):
    """Starts Xvfb on a free display number, its output to `log`; returns the
    process and the DISPLAY value, or raises RuntimeError when it does not
    come up within 15 s. Xvfb picks the number itself (-displayfd), so runs
    side by side never collide."""
    read_end, write_end = os.pipe()
    process = subprocess.Popen(
        ['Xvfb', '-displayfd', str(write_end), '-screen', '0', '1024x768x24',
         '-nolisten', 'tcp', '-noreset'],
        pass_fds=(write_end,), stdin=subprocess.DEVNULL, stdout=log, stderr=log,
        start_new_session=True)
    os.close(write_end)
    number = b''
    deadline = time.monotonic() + 15
    while not number.endswith(b'\n') and time.monotonic() < deadline:
        if select.select([read_end], [], [], 0.5)[0]:
            chunk = os.read(read_end, 16)
            if not chunk:
                break
            number += chunk
    os.close(read_end)
    if not number.strip():
        process.kill()
        process.wait()
        raise RuntimeError('Xvfb did not start')
    return process, ':' + number.decode().strip()


def stop_xvfb(process):
    """Ends an Xvfb started by start_xvfb, if it still runs."""
    if process and process.poll() is None:
        process.terminate()
        try:
            process.wait(10)
        except subprocess.TimeoutExpired:
            process.kill()
