#!/usr/bin/env python3
"""Checks every #include under src/ against the layers: which folder may include which.

Usage: check_layers.py SRC_DIR
Prints one line per forbidden include (file:line: what and why) and exits 1 when there is one.
The link side of the same rules is in cmake/LayerLinks.cmake and the target_link_libraries of
each layer; keep the two in step.
"""

import fnmatch
import pathlib
import re
import sys

# Folders (paths below src/, first match wins) and the layer they belong to. A new folder
# needs a line here: a file in no layer is an error, so no folder escapes the check.
LAYERS = [
    ("core/browse/in_memory_*", "fakes"),
    ("core/browse/browse_service.h", "browse_api"),
    ("core/browse/credentials.h", "browse_api"),
    ("core/browse/directory_lister.h", "browse_api"),
    ("core/browse/host_discovery.h", "browse_api"),
    ("core/browse/name_resolver.h", "browse_api"),
    ("core/browse/*", "browse"),
    ("core/base/*", "base"),
    ("core/tree/*", "tree"),
    ("core/results/*", "results"),
    ("core/discovery/*", "discovery"),
    ("core/search/*", "search"),
    ("core/treefile/*", "treefile"),
    ("core/transfer/*", "transfer"),
    ("core/status/*", "status"),
    ("core/smbconf/*", "smbconf"),
    ("core/protocol/*", "protocol"),
    ("core/wsd/*", "wsd_protocol"),
    ("platform/*", "posix"),
    ("smb/channel/*", "smb_channel"),
    ("smb/spawn/*", "smb_spawn"),
    ("smb/worker/*", "smb_worker"),
    ("smb/client/*", "smb_client"),
    ("wsd/client/*", "wsd_client"),
    ("index/*", "index"),
    ("session/*", "session"),
    ("cli/*", "cli"),
    ("app/*", "app"),
]

# What each layer may include besides itself; what those may include it may include too.
# Nothing may include cli or app, and only the tests include the fakes.
USES = {
    "base": [],
    "browse_api": ["base"],
    "browse": ["browse_api"],
    "fakes": ["browse"],
    "tree": ["base"],
    "results": ["base"],
    "status": ["base"],
    "smbconf": [],
    "discovery": ["tree", "browse", "status"],
    "search": ["tree", "browse", "results", "status"],
    "treefile": ["tree"],
    "transfer": ["browse"],
    "protocol": ["browse_api"],  # credentials travel to the worker
    "wsd_protocol": ["browse_api"],  # it implements host discovery
    "posix": [],
    "smb_channel": ["protocol", "posix"],
    "smb_spawn": [],
    "smb_worker": ["smb_channel", "smb_spawn", "browse", "smbconf"],  # browse: smb:// URLs
    "smb_client": ["smb_channel", "smb_spawn", "browse"],
    "wsd_client": ["wsd_protocol", "posix"],
    "index": ["search"],  # the index narrows, the search's matcher decides
    "session": ["smb_client", "wsd_client", "discovery", "search", "treefile", "transfer", "index"],
    "cli": ["session", "discovery", "search", "treefile", "transfer", "index"],
    "app": ["session", "discovery", "search", "treefile", "transfer", "index"],
}

CORE_LAYERS = {"base", "browse_api", "browse", "fakes", "tree", "results", "status", "discovery",
               "search", "treefile", "transfer", "protocol", "wsd_protocol", "smbconf"}

# The core is standard C++: these and nothing else in angle brackets, but for SYSTEM_EXTRAS.
STANDARD_HEADERS = set("""
algorithm any array atomic barrier bit bitset cassert cctype cerrno cfenv cfloat charconv chrono
cinttypes climits clocale cmath codecvt compare complex concepts condition_variable coroutine
csetjmp csignal cstdarg cstddef cstdint cstdio cstdlib cstring ctime cuchar cwchar cwctype deque
exception execution filesystem format forward_list fstream functional future initializer_list
iomanip ios iosfwd iostream istream iterator latch limits list locale map memory memory_resource
mutex new numbers numeric optional ostream queue random ranges ratio regex scoped_allocator
semaphore set shared_mutex source_location span sstream stack stdexcept stop_token streambuf
string string_view syncstream system_error thread tuple type_traits typeindex typeinfo
unordered_map unordered_set utility valarray variant vector version
""".split())

# The atomic save of tree files and the local side of copies need fsync and friends.
SYSTEM_EXTRAS = {"treefile": {"fcntl.h", "unistd.h", "sys/stat.h", "sys/types.h"},
                 "transfer": {"fcntl.h", "unistd.h", "sys/stat.h", "sys/types.h"}}

# libsmbclient is neither thread-safe nor crash-proof: only the worker process may use it.
SYSTEM_ONLY_IN = [
    (re.compile(r"^libsmbclient\.h$"), {"smb_worker"}, "libsmbclient"),
    (re.compile(r"^Q[A-Za-z0-9]*(/.*)?$"), {"app"}, "Qt"),
]

INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')
SOURCE_SUFFIXES = {".h", ".hpp", ".cpp", ".cc"}


def layer_of(relative):
    for pattern, layer in LAYERS:
        if fnmatch.fnmatchcase(relative, pattern):
            return layer
    return None


def allowed_layers():
    """Each layer with all the layers it reaches through USES, itself included."""
    reach = {}
    for layer in USES:
        seen, todo = {layer}, list(USES[layer])
        while todo:
            used = todo.pop()
            if used not in seen:
                seen.add(used)
                todo.extend(USES[used])
        reach[layer] = seen
    return reach


def resolve(src, including, name):
    """The file a quoted include names: beside the includer, then below src/core, then src/.
    None when there is none, or when both src/core and src/ have one (which one the compiler
    takes depends on the target's include order)."""
    if (including.parent / name).is_file():
        return (including.parent / name).resolve()
    found = [base / name for base in (src / "core", src) if (base / name).is_file()]
    return found[0].resolve() if len(found) == 1 else None


def check_system_include(layer, name):
    for pattern, layers, what in SYSTEM_ONLY_IN:
        if pattern.match(name) and layer not in layers:
            return f"{layer} may not include {what} (<{name}>): only {', '.join(sorted(layers))}"
    if layer in CORE_LAYERS and name not in STANDARD_HEADERS and name not in SYSTEM_EXTRAS.get(layer, ()):
        return f"{layer} is standard C++ only and may not include <{name}>"
    return None


def check_file(src, path, reach):
    src = src.resolve()
    relative = path.resolve().relative_to(src).as_posix()
    layer = layer_of(relative)
    if layer is None:
        return [f"src/{relative}: in no layer; give its folder a line in LAYERS of {pathlib.Path(__file__).name}"]
    problems = []
    text = path.read_text(encoding="utf-8", errors="replace")
    for number, line in enumerate(text.splitlines(), 1):
        match = INCLUDE.match(line)
        if not match:
            continue
        bracket, name = match.groups()
        where = f"src/{relative}:{number}"
        if bracket == "<":
            problem = check_system_include(layer, name)
            if problem:
                problems.append(f"{where}: {problem}")
            continue
        target = resolve(src, path, name)
        if target is None:
            problems.append(f'{where}: "{name}" names no file, or two, under src/core and src/')
            continue
        target_layer = layer_of(target.relative_to(src).as_posix())
        if target_layer not in reach[layer]:
            problems.append(f'{where}: {layer} may not include "{name}" ({target_layer or "in no layer"}); '
                            f"it may use {', '.join(sorted(reach[layer] - {layer})) or 'nothing'}")
    return problems


# Only tests link the fakes: a production target that did could hand them to a user.
LINK_CALL = re.compile(r"target_link_libraries\s*\(\s*([^\s)]+)([^)]*)\)", re.S)


def check_cmake(src):
    problems = []
    for path in sorted(src.rglob("CMakeLists.txt")):
        text = path.read_text(encoding="utf-8")
        for match in LINK_CALL.finditer(text):
            target, arguments = match.groups()
            if target != "vuvuveva_fakes" and re.search(r"\bvuvuveva_fakes\b", arguments):
                line = text.count("\n", 0, match.start()) + 1
                problems.append(f"src/{path.relative_to(src).as_posix()}:{line}: {target} links "
                                "vuvuveva_fakes; only tests may")
    return problems


def check_tree(src):
    src = pathlib.Path(src)
    reach = allowed_layers()
    problems = []
    for path in sorted(src.rglob("*")):
        if path.suffix in SOURCE_SUFFIXES and path.is_file():
            problems.extend(check_file(src, path, reach))
    return problems + check_cmake(src)


def main(argv):
    if len(argv) != 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    problems = check_tree(argv[1])
    for problem in problems:
        print(problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
