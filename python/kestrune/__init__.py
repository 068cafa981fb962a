"""Kestrune: exact x2 enlargement and crisp reduction of raster images.

Images are numpy arrays of shape (H, W), (H, W, 3) or (H, W, 4) and dtype
uint8, uint16 or float32 (0..1); every function returns the dtype and channel
count it was given. The keyword defaults are the library's own.

    import kestrune
    image, info = kestrune.read("photo.png")
    kestrune.write(kestrune.upscale(image), "big.png", info=info)
    kestrune.upscale_file("scan.tif", "big.tif", iterations=8)
"""
from ._kestrune import (
    Info,
    ProgressReport,
    Stage,
    downscale,
    read,
    resize,
    set_threads,
    test_chart,
    threads,
    upscale,
    upscale_file,
    version,
    write,
)

__version__ = version()
__all__ = [
    "Info", "ProgressReport", "Stage", "downscale", "read", "resize", "set_threads", "test_chart", "threads",
    "upscale", "upscale_file", "version", "write",
]
