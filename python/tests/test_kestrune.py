# The module against the tool: the same bytes for the same settings, arrays
# in and out in their own dtype and layout, errors as Python's exceptions.
import _thread
import importlib.metadata
import os
import subprocess
import threading

import numpy as np
import pytest

import kestrune

CLI = os.environ.get("KESTRUNE_CLI", os.path.join(os.path.dirname(__file__), "../../build/kestrune-cli"))
PNGSUITE = "/work/shared/peers/pngsuite/png"


def cli(*args):
    subprocess.run([CLI, *map(str, args)], check=True, capture_output=True)


def chart(dtype, channels, h=40, w=48):
    a = kestrune.test_chart(w, h).astype(np.float32) / 255
    if channels == 1:
        a = a[:, :, 1]
    elif channels == 4:
        a = np.dstack([a, np.linspace(0, 1, w, dtype=np.float32)[None, :].repeat(h, 0)])
    return a if dtype == np.float32 else np.round(a * np.iinfo(dtype).max).astype(dtype)


@pytest.mark.parametrize("name,dtype,channels,settings", [
    ("rgb.png", np.uint8, 3, {}),
    ("rgba.png", np.uint16, 4, {"method": "bicubic", "iterations": 3, "fractal_substitutions": 0}),
    ("grey.tif", np.float32, 1, {"method": "edge", "strength": 2.5, "width": 70, "height": 90}),
])
def test_same_bytes_as_the_tool(tmp_path, name, dtype, channels, settings):
    src = tmp_path / name
    kestrune.write(chart(dtype, channels), src)
    flags = [f"--{k.replace('fractal_substitutions', 'fractal').replace('_', '-')}={v}" for k, v in settings.items()]
    (tmp_path / "cli").mkdir()
    cli("upscale", "--quiet", src, tmp_path / "cli" / name, *flags)
    image, info = kestrune.read(src)
    assert image.dtype == dtype and image.shape[2:] == ((channels,) if channels > 1 else ())
    kestrune.write(kestrune.upscale(image, **settings), tmp_path / f"py-{name}", info=info)
    kestrune.upscale_file(src, tmp_path / f"file-{name}", **settings)
    expected = (tmp_path / "cli" / name).read_bytes()
    assert (tmp_path / f"py-{name}").read_bytes() == expected
    assert (tmp_path / f"file-{name}").read_bytes() == expected


def test_jpeg_model_as_the_tool(tmp_path):
    src = tmp_path / "src.jpg"
    kestrune.write(chart(np.uint8, 3), src, quality=70)
    out = {}
    for model in (True, False):
        cli("upscale", "--quiet", src, tmp_path / f"cli-{model}.png", f"--jpeg-model={'on' if model else 'off'}")
        kestrune.upscale_file(src, tmp_path / f"py-{model}.png", iterations=16, jpeg_model=model)
        out[model] = (tmp_path / f"py-{model}.png").read_bytes()
        assert out[model] == (tmp_path / f"cli-{model}.png").read_bytes()
    assert out[True] != out[False]


def test_resize_and_downscale_as_the_tool(tmp_path):
    src = tmp_path / "src.png"
    kestrune.write(chart(np.uint8, 4), src)
    image, info = kestrune.read(src)
    for command, call in [("resize", kestrune.resize), ("downscale", kestrune.downscale)]:
        cli(command, src, tmp_path / f"{command}.png", "--width=30", "--height=17", "--filter=lanczos3")
        kestrune.write(call(image, 30, 17, filter="lanczos3"), tmp_path / "py.png", info=info)
        assert (tmp_path / "py.png").read_bytes() == (tmp_path / f"{command}.png").read_bytes()


@pytest.mark.parametrize("dtype,value", [(np.uint8, 200), (np.uint16, 51400), (np.float32, 0.75)])
@pytest.mark.parametrize("channels", [1, 3, 4])
def test_flat_stays_flat_in_its_own_layout(dtype, value, channels):
    shape = (9, 7) if channels == 1 else (9, 7, channels)
    flat = np.full(shape, value, dtype)
    for out, size in [(kestrune.upscale(flat, iterations=2), (18, 14)), (kestrune.resize(flat, 5, 4), (4, 5)),
                      (kestrune.downscale(flat, 5, 4, trials=4), (4, 5))]:
        assert out.dtype == dtype and out.shape == size + shape[2:]
        np.testing.assert_allclose(out, np.broadcast_to(flat[0, 0], out.shape), rtol=1e-6)


def test_views_and_thread_counts_give_the_same_result():
    image = kestrune.test_chart(30, 20)
    view = image[::-1, ::2]
    assert not view.flags.c_contiguous
    assert np.array_equal(kestrune.resize(view, 9, 11), kestrune.resize(np.ascontiguousarray(view), 9, 11))
    expected = kestrune.upscale(image, iterations=1)
    kestrune.set_threads(1)
    try:
        assert kestrune.threads() == 1
        assert np.array_equal(kestrune.upscale(np.asfortranarray(image), iterations=1), expected)
    finally:
        kestrune.set_threads(0)


@pytest.mark.parametrize("call,error,text", [
    (lambda: kestrune.upscale(np.zeros((8, 8))), ValueError, "dtype float64"),
    (lambda: kestrune.upscale(np.zeros((8, 8, 2), np.uint8)), ValueError, "(8, 8, 2)"),
    (lambda: kestrune.upscale(np.zeros((8, 8), np.uint8), method="x"), ValueError, "unknown method 'x'"),
    (lambda: kestrune.upscale(np.zeros((8, 8), np.uint8), source_model="x"), ValueError, "unknown source_model"),
    (lambda: kestrune.upscale(np.zeros((8, 8), np.uint8), iterations=-1), ValueError, "from 0 to 1000"),
    (lambda: kestrune.upscale(np.zeros((8, 8), np.uint8), strength=float("nan")), ValueError, "finite"),
    (lambda: kestrune.resize(np.zeros((8, 8), np.uint8), 4, 4, smoothness=9), ValueError, ""),
    (lambda: kestrune.read("/nonexistent/a.png"), FileNotFoundError, "/nonexistent/a.png"),
    (lambda: kestrune.read(__file__), OSError, __file__),
    (lambda: kestrune.write(np.zeros((4, 4), np.uint8), "/nonexistent/a.png"), OSError, "/nonexistent"),
    (lambda: kestrune.upscale_file(__file__, "/tmp/x.png"), OSError, __file__),
])
def test_errors(call, error, text):
    with pytest.raises(error) as raised:
        call()
    assert text in str(raised.value)
    if error is not ValueError:
        assert raised.value.filename in str(raised.value)


def test_progress_reports_and_stops():
    image = kestrune.test_chart(40, 32)
    reports = []
    kestrune.upscale(image, iterations=3, progress=reports.append)
    steps = [r.step for r in reports if r.stage == kestrune.Stage.ENHANCEMENT and not r.substitution]
    assert steps == list(range(3 + 4 * 2)) and reports[-1].percent <= 100

    def stop(report):
        if report.stage == kestrune.Stage.ENHANCEMENT:
            raise RuntimeError("enough")
    with pytest.raises(RuntimeError, match="enough"):
        kestrune.upscale(image, progress=stop)
    # Ctrl+C while the library works without the GIL: raised at its next check.
    timer = threading.Timer(0.3, _thread.interrupt_main)
    timer.start()
    with pytest.raises(KeyboardInterrupt):
        kestrune.upscale(kestrune.test_chart(256, 256), iterations=1000)
    timer.join()


def test_metadata_survives_read_and_write(tmp_path):
    image, info = kestrune.read(os.path.join(PNGSUITE, "exif2c08.png"))
    assert info.exif and info.format == "png" and info.depth == 8
    kestrune.write(image, tmp_path / "kept.png", info=info)
    kestrune.write(image, tmp_path / "bare.png")
    assert kestrune.read(tmp_path / "kept.png")[1].exif and not kestrune.read(tmp_path / "bare.png")[1].exif
    grey, info = kestrune.read(os.path.join(PNGSUITE, "basn4a16.png"))
    assert grey.shape == (32, 32, 4) and grey.dtype == np.uint16 and info.greyscale
    kestrune.write(grey, tmp_path / "grey.png", info=info)
    assert kestrune.read(tmp_path / "grey.png")[1].greyscale


def test_version_is_the_packages():
    assert kestrune.__version__ == kestrune.version() == importlib.metadata.version("kestrune")
