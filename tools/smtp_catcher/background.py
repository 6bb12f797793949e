"""Servers of the tests and the demo that run in the background: started with
a pid file in their state folder, awaited until they say they are ready,
stopped by that pid."""

import os
import signal
import subprocess
import sys
import time


def start(command, state_dir, log_name, ready, seconds=20):
    """Starts `command`, logging to DIR/log_name; True once DIR/ready exists."""
    with open(os.path.join(state_dir, log_name), "w") as log:
        process = subprocess.Popen(command, stdout=log, stderr=log, stdin=subprocess.DEVNULL, start_new_session=True)
    with open(os.path.join(state_dir, "pid"), "w") as f:
        f.write(str(process.pid))
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if os.path.exists(os.path.join(state_dir, ready)):
            return True
        if process.poll() is not None:
            break
        time.sleep(0.05)
    print("it did not start; see %s" % os.path.join(state_dir, log_name), file=sys.stderr)
    return False


def stop(state_dir, *leftovers):
    """Stops what `start` started there, and removes the files it left."""
    pid_file = os.path.join(state_dir, "pid")
    if os.path.exists(pid_file):
        try:
            with open(pid_file) as f:
                os.kill(int(f.read()), signal.SIGTERM)
        except ProcessLookupError:
            pass
    for name in ("pid",) + leftovers:
        if os.path.exists(os.path.join(state_dir, name)):
            os.remove(os.path.join(state_dir, name))
    return 0
