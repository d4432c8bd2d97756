"""How much another Python thread gets to run while some call runs."""
import threading
import time


def ticks_during(work):
    """Runs `work` while a second thread loops on 1 ms sleeps; returns how many
    times that thread ran during `work`, and how long `work` took (seconds). A
    call that holds the interpreter lock throughout lets it in about once; one
    that releases the lock, about once per 1.1 ms."""
    ticks = 0
    done = threading.Event()

    def tick():
        nonlocal ticks
        while not done.is_set():
            ticks += 1
            time.sleep(0.001)

    thread = threading.Thread(target=tick)
    thread.start()
    time.sleep(0.01)
    start, started = ticks, time.perf_counter()
    try:
        work()
        ticks_in_work, seconds = ticks - start, time.perf_counter() - started
    finally:
        done.set()
        thread.join()
    return ticks_in_work, seconds
