# examples/dask_batch.py on a small folder: every output present once, the
# tool's bytes, the damaged input failed alone in the report.
import json
import os
import subprocess
import sys

import kestrune
from test_kestrune import CLI

EXAMPLE = os.path.join(os.path.dirname(__file__), "../../examples/dask_batch.py")


def test_dask_batch_writes_what_the_tool_writes(tmp_path):
    photos = tmp_path / "photos"
    (photos / "sub").mkdir(parents=True)
    names = [f"{'sub/' if i % 2 else ''}c{i}.png" for i in range(5)]
    for i, name in enumerate(names):
        kestrune.write(kestrune.test_chart(30 + i, 24, seed=i + 1), photos / name)
    (photos / "bad.png").write_bytes((photos / names[0]).read_bytes()[:100])
    run = subprocess.run([sys.executable, EXAMPLE, photos, tmp_path / "big", "--recursive", "--report",
                          tmp_path / "report.jsonl", "--set", "iterations=6"], capture_output=True, text=True)
    assert run.returncode == 6, run.stderr
    subprocess.run([CLI, "upscale", "--quiet", "--iterations=6", photos, "-o", tmp_path / "ref", "--recursive"])
    lines = [json.loads(line) for line in open(tmp_path / "report.jsonl")]
    assert sorted(line["input"] for line in lines) == sorted(str(photos / n) for n in names + ["bad.png"])
    assert [line["input"] for line in lines if line["status"] == "failed"] == [str(photos / "bad.png")]
    written = sorted(str(p.relative_to(tmp_path / "big")) for p in (tmp_path / "big").rglob("*") if p.is_file())
    assert written == sorted(names)
    for name in names:
        assert (tmp_path / "big" / name).read_bytes() == (tmp_path / "ref" / name).read_bytes()
