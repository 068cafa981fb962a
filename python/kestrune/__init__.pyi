# Type stub of the kestrune package (the compiled kestrune._kestrune). The
# defaults are the library's options' own, read when the module loads.
import enum
import os
from typing import Callable, Literal, Optional, Union

import numpy as np
import numpy.typing as npt

Array = npt.NDArray[Union[np.uint8, np.uint16, np.float32]]
Path = Union[str, os.PathLike[str]]
Method = Literal["bilinear", "bicubic", "edge", "nedi", "learned"]
SourceModel = Literal["camera", "reduced", "auto"]
Filter = Literal["box", "bilinear", "bspline", "catmull-rom", "lanczos2", "lanczos3", "sinc"]
Format = Literal["bmp", "png", "jpeg", "jpg", "pfm", "tiff", "tif", "webp"]
Depth = Union[None, Literal[8, 16, 32, "8", "16", "32", "32f"]]

__version__: str

class Stage(enum.Enum):
    ALLOCATING: Stage
    INITIAL_ENLARGEMENT: Stage
    PREPARING: Stage
    ENHANCEMENT: Stage
    HINT_SEARCH: Stage
    FINAL_SCALING: Stage

class ProgressReport:
    @property
    def stage(self) -> Stage: ...
    @property
    def step(self) -> int: ...
    @property
    def total(self) -> int: ...
    @property
    def substitution(self) -> bool: ...
    @property
    def percent(self) -> float: ...
    @property
    def best_score(self) -> float: ...
    @property
    def rows_done(self) -> int: ...
    @property
    def tile(self) -> int: ...
    @property
    def tiles(self) -> int: ...

Progress = Optional[Callable[[ProgressReport], object]]

class Info:
    format: str
    width: int
    height: int
    depth: int
    greyscale: bool
    has_alpha: bool
    icc: bytes
    exif: bytes
    xmp: bytes
    iptc: bytes
    warnings: list[str]
    def __init__(self) -> None: ...

def upscale(image: Array, *, method: Method = ..., initial: Optional[Array] = ..., iterations: int = ...,
            fractal_substitutions: int = ..., edge_dir_iterations: int = ..., strength: float = ...,
            side_lobe: float = ..., regularization: float = ..., variable_regularization: float = ...,
            width: int = ..., height: int = ..., source_model: SourceModel = ...,
            progress: Progress = ...) -> Array: ...
def downscale(image: Array, width: int, height: int, *, filter: Filter = ..., smoothness: float = ...,
              trials: int = ..., scale_deviation: float = ..., progress: Progress = ...) -> Array: ...
def resize(image: Array, width: int, height: int, *, filter: Filter = ..., offset_x: float = ...,
           offset_y: float = ..., deviation_x: float = ..., deviation_y: float = ...,
           smoothness: float = ...) -> Array: ...
def read(path: Path, *, keep_damaged: bool = ...) -> tuple[Array, Info]: ...
def write(image: Array, path: Path, *, info: Optional[Info] = ..., format: Optional[Format] = ...,
          depth: Depth = ..., quality: int = ..., lossless: bool = ...) -> None: ...
def upscale_file(src: Path, dst: Path, *, method: Method = ..., iterations: int = ...,
                 fractal_substitutions: int = ..., edge_dir_iterations: int = ..., strength: float = ...,
                 side_lobe: float = ..., regularization: float = ..., variable_regularization: float = ...,
                 width: int = ..., height: int = ..., jpeg_model: bool = ..., source_model: SourceModel = ...,
                 format: Optional[Format] = ...,
                 depth: Depth = ...,
                 quality: int = ..., lossless: bool = ..., progress: Progress = ...) -> None: ...
def test_chart(width: int, height: int, seed: int = ...) -> npt.NDArray[np.uint8]: ...
def threads() -> int: ...
def set_threads(threads: int) -> None: ...
def version() -> str: ...
