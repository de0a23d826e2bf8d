"""Eight Python threads, each loading the Nym sample through the kelvane module into a drive-sim of
its own paced at 115200 baud, against one thread loading one such drive-sim: the wall time of the
eight over the one's (goal: at most 1.15 x), the median of each over the runs, which take turns.

    KELVANE_LIBRARY=build/libkelvane.so.1 DRIVE_SIM_BIN=build/bin/drive-sim \\
        python3 bench/python_threads.py [runs]

bench/run.sh runs it after the other loads, with the paths of its own build. Like them it
fails only when a load does, not when a figure misses its goal on a busy machine."""
import os
import pathlib
import statistics
import subprocess
import sys
import threading
import time

ROOT = pathlib.Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "python"))
import kelvane  # noqa: E402

GOAL = 1.15


def start_drives(count):
    sims = [subprocess.Popen([os.environ["DRIVE_SIM_BIN"], "--pace", "--baud", "115200"],
                             stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
            for _ in range(count)]
    return sims, [sim.stdout.readline().strip() for sim in sims]


def timed_loads(ports, image):
    """Wall and CPU seconds of loads into `ports` at once, one thread each."""
    results = {}

    def load(port):
        results[port] = kelvane.load(port, image, baud=115200)

    threads = [threading.Thread(target=load, args=(port,)) for port in ports]
    wall, cpu = time.perf_counter(), time.process_time()
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    wall, cpu = time.perf_counter() - wall, time.process_time() - cpu
    failed = [port for port, result in results.items() if result.verdict != "verified"]
    if failed:
        sys.exit(f"the load into {', '.join(failed)} did not verify")
    return wall, cpu


def main():
    runs = int(sys.argv[1]) if len(sys.argv) > 1 else 5
    image = kelvane.Image(ROOT / "examples/nym_sample.s")
    sims, ports = start_drives(9)
    try:
        one, eight = [], []
        for _ in range(runs):
            one.append(timed_loads(ports[:1], image))
            eight.append(timed_loads(ports[1:], image))
    finally:
        for sim in sims:
            sim.terminate()
            sim.wait()
    one_wall, one_cpu = (statistics.median(figure) for figure in zip(*one))
    eight_wall, eight_cpu = (statistics.median(figure) for figure in zip(*eight))
    ratio = eight_wall / one_wall
    print(f"Python, 1 thread into 1 paced drive-sim:   {one_wall:.3f} s, "
          f"CPU {one_cpu * 1000:.1f} ms")
    print(f"Python, 8 threads into 8 paced drive-sims: {eight_wall:.3f} s = {ratio:.3f} x "
          f"(goal at most {GOAL} x), CPU {eight_cpu * 1000 / 8:.1f} ms per drive "
          f"(median of {runs})")
    return 0


if __name__ == "__main__":
    sys.exit(main())
