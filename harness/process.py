"""Ending the helper processes the harness starts (nginx, Xvfb, the fault server)."""
import subprocess


def end_process(process, grace=5.0):
    """Asks `process` (a Popen) to end, kills it when it has not after `grace` seconds,
    and reaps it. A process that has already ended is only reaped."""
    if process.poll() is not None:
        return
    process.terminate()
    try:
        process.wait(grace)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait(grace)
