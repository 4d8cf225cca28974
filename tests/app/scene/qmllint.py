#!/usr/bin/env python3
"""Runs qmllint over every *.qml file below the scene folder, found when the test runs.

The module MyWorker and the context objects are registered by the program at run time
(src/app/startup.cpp), so qmllint cannot see them: it reports their import and every use of
their names as unqualified. Those names are read from the registration itself and only
those reports are let through; every other warning fails the test.
  qmllint.py QMLLINT SCENE_DIR STARTUP_CPP [IMPORT_DIR...]
"""
import json
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile


def runtime_names(startup):
    text = startup.read_text(encoding="utf-8")
    names = set(re.findall(r'Uri,\s*1,\s*0,\s*"(\w+)"', text))
    names |= set(re.findall(r'setContextProperty\(QStringLiteral\("(\w+)"\)', text))
    return names


def deduplicated_type_description(text):
    """Debian's QtCharts 6.4 describes QValueAxis twice, once per QML name (ValueAxis and the
    old ValuesAxis); qmllint keeps only the last, so ValueAxis is never found. Keeps the first
    description of each C++ name (the scene uses only the current QML names)."""
    body, end = text.rstrip()[:-1], "}\n"  # the module's own closing brace
    seen = set()
    kept = []
    for block in re.split(r"(?m)^(?=    Component \{$)", body):
        name = re.search(r'(?m)^        name: "([^"]+)"$', block)
        if name and block.startswith("    Component {"):
            if name.group(1) in seen:
                continue
            seen.add(name.group(1))
        kept.append(block)
    return "".join(kept) + end


def patched_charts_module(qmllint, workdir):
    """A folder holding a copy of the QtCharts module whose type description qmllint can
    read, and Qt's own QML folder; None when Qt's QML folder is not found."""
    qtpaths = pathlib.Path(qmllint).with_name("qtpaths")
    try:
        qml_dir = subprocess.run([str(qtpaths), "--query", "QT_INSTALL_QML"], capture_output=True,
                                 text=True, check=True).stdout.strip()
    except (OSError, subprocess.CalledProcessError):
        return None
    module = pathlib.Path(qml_dir) / "QtCharts"
    if not (module / "plugins.qmltypes").is_file():
        return None
    copy = pathlib.Path(workdir) / "QtCharts"
    copy.mkdir()
    # qmllint follows a linked qmldir back to the original folder, so the qmldir is copied.
    shutil.copy(module / "qmldir", copy / "qmldir")
    text = (module / "plugins.qmltypes").read_text(encoding="utf-8")
    (copy / "plugins.qmltypes").write_text(deduplicated_type_description(text), encoding="utf-8")
    return workdir, qml_dir


def identifier(path, line, column, length):
    lines = path.read_text(encoding="utf-8").splitlines()
    if 0 < line <= len(lines):
        return lines[line - 1][column - 1:column - 1 + length]
    return ""


def main():
    if len(sys.argv) < 4:
        print(__doc__, file=sys.stderr)
        return 2
    qmllint, scene, startup = sys.argv[1], pathlib.Path(sys.argv[2]), pathlib.Path(sys.argv[3])
    imports = [arg for directory in sys.argv[4:] for arg in ("-I", directory)]
    names = runtime_names(startup)
    if "Worker" not in names:
        print(f"qmllint.py: no MyWorker registration found in {startup}", file=sys.stderr)
        return 1
    files = sorted(str(p) for p in scene.rglob("*.qml"))
    with tempfile.TemporaryDirectory() as workdir, \
            tempfile.NamedTemporaryFile(suffix=".json") as report:
        # Without default folders, so that the patched QtCharts comes before Qt's own.
        patched = patched_charts_module(qmllint, workdir)
        if patched:
            imports = ["--bare", "-I", patched[0], *imports, "-I", patched[1]]
        run = subprocess.run([qmllint, *imports, "--json", report.name, *files],
                             capture_output=True, text=True)
        try:
            results = json.load(open(report.name, encoding="utf-8"))
        except ValueError:
            print(run.stdout + run.stderr, file=sys.stderr)
            print("qmllint.py: qmllint wrote no report", file=sys.stderr)
            return 1

    failures = 0
    for result in results.get("files", []):
        path = pathlib.Path(result["filename"])
        if not result.get("success", True) and not result.get("warnings"):
            print(f"{path}: qmllint could not read the file", file=sys.stderr)
            failures += 1
        for warning in result.get("warnings", []):
            if warning.get("type") not in ("warning", "critical"):
                continue
            message = warning.get("message", "")
            line, column = warning.get("line", 0), warning.get("column", 0)
            if message.startswith("Failed to import MyWorker") or message.startswith(
                    'Warnings occurred while importing module "MyWorker"'):
                continue
            if message == "Unqualified access" and identifier(
                    path, line, column, warning.get("length", 0)) in names:
                continue
            print(f"{path}:{line}:{column}: {message}", file=sys.stderr)
            failures += 1
    print(f"qmllint: {len(files)} files, {failures} warnings")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
