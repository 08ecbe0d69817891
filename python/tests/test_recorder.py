import threading

import numpy as np
import pytest

import varrow


def test_recorder_inserts_like_a_histogram():
    recorder, reference = varrow.Recorder(), varrow.Histogram()
    values = np.array([0.012, 0.015, 0.015, 7.0, -3.0, 0.0, np.nan, 1e300])
    integers = np.array([99_999_999_999_999_999, 3], dtype=np.uint64)  # bucketed exactly, as Histogram does
    for target in (recorder, reference):
        assert target.insert(0.5, count=3) == 3
        assert target.insert_many(values) == len(values)
        assert target.insert_many(integers, counts=[2, 1]) == 3
        assert target.insert_corrected(1.0, 0.25) == 4
        assert target.insert_corrected(1.0, 2.0**-13) == 8192
        assert target.insert_many([2.0], expected_interval=0.5) == 4
    snapshot = recorder.snapshot()
    assert snapshot == reference and not snapshot.fast and recorder.snapshot(fast=True).fast
    assert repr(recorder) == f"varrow.Recorder(count={reference.count})"


def test_snapshots_with_reset_hold_disjoint_intervals():
    recorder = varrow.Recorder()
    recorder.insert_many([1.0, 2.0])
    first = recorder.snapshot(reset=True)
    assert first.count == 2 and recorder.snapshot().count == 0
    recorder.insert(3.0)
    assert recorder.snapshot() == recorder.snapshot(reset=True) and recorder.snapshot().count == 0


def test_threads_record_while_snapshots_are_taken_and_nothing_is_lost():
    recorder = varrow.Recorder()
    data = np.random.default_rng(3).lognormal(size=50_000)
    reference = varrow.Histogram()
    threads = [threading.Thread(target=recorder.insert_many, args=(data,)) for _ in range(3)]
    threads.append(threading.Thread(target=lambda: [recorder.insert(5.0) for _ in range(10_000)]))
    for _ in range(3):
        reference.insert_many(data)
    reference.insert(5.0, 10_000)
    intervals = []
    for t in threads:
        t.start()
    while any(t.is_alive() for t in threads):
        intervals.append(recorder.snapshot(reset=True))
    for t in threads:
        t.join()
    intervals.append(recorder.snapshot(reset=True))
    assert varrow.merge(intervals) == reference


@pytest.mark.parametrize("call, error", [
    (lambda r: r.insert(1.0, -1), ValueError),
    (lambda r: r.insert("x"), TypeError),
    (lambda r: r.insert_many(["a"]), TypeError),
    (lambda r: r.insert_many([1.0, 2.0], counts=[1, -1]), ValueError),
    (lambda r: r.insert_corrected(1.0, np.nan), ValueError),
    (lambda r: r.snapshot(True), TypeError),  # reset is a keyword: a bare True reads ambiguously
])
def test_recorder_rejects_bad_input(call, error):
    recorder = varrow.Recorder()
    with pytest.raises(error):
        call(recorder)
    assert recorder.snapshot().count == 0
