#!/usr/bin/env python3
"""The layer rules of check_layers.py on a made-up source tree: each case one file, one include."""

import pathlib
import sys
import tempfile
import unittest

sys.path.insert(0, str(pathlib.Path(__file__).parent))
import check_layers  # noqa: E402

HEADERS = [
    "core/base/casefold.h", "core/tree/network_tree.h", "core/browse/host_discovery.h",
    "core/browse/merged_browse_service.h", "core/browse/in_memory_network.h",
    "core/wsd/http_exchange.h", "core/wsd/discovery_round.h", "smb/client/pool.h", "cli/y.h",
    "app/y.h", "core/wsd/client/z.h", "wsd/client/z.h",
]

# (including file, include line, allowed)
CASES = [
    ("core/wsd/a.cpp", '#include "browse/host_discovery.h"', True),
    ("core/wsd/b.cpp", '#include "browse/merged_browse_service.h"', False),
    ("core/browse/a.cpp", '#include "wsd/http_exchange.h"', False),
    ("core/search/a.cpp", '#include "base/casefold.h"', True),
    ("core/base/a.cpp", '#include "tree/network_tree.h"', False),
    ("core/base/b.cpp", "#  include <string_view>", True),
    ("core/treefile/a.cpp", "#include <unistd.h>", True),
    ("core/tree/a.cpp", "#include <unistd.h>", False),
    ("core/protocol/a.cpp", "#include <sys/socket.h>", False),
    ("core/results/a.cpp", "#include <QString>", False),
    ("smb/worker/a.cpp", "#include <libsmbclient.h>", True),
    ("smb/client/a.cpp", "#include <libsmbclient.h>", False),
    ("app/a.cpp", "#include <QtWidgets/QTreeView>", True),
    ("session/a.cpp", "#include <QtCore/QString>", False),
    ("session/b.cpp", '#include "smb/client/pool.h"', True),
    ("session/c.cpp", '#include "cli/y.h"', False),
    ("cli/a.cpp", '#include "app/y.h"', False),
    ("cli/b.cpp", '#include "browse/in_memory_network.h"', False),
    ("wsd/client/a.cpp", '#include "wsd/discovery_round.h"', True),
    ("wsd/client/b.cpp", '#include "smb/client/pool.h"', False),
    ("core/wsd/c.cpp", '#include "wsd/gone.h"', False),
    ("wsd/client/c.cpp", '#include "wsd/client/z.h"', False),  # in src/core/ and src/ alike
    ("core/newfolder/a.cpp", "#include <string>", False),
]


class LayerRulesTest(unittest.TestCase):
    def test_includes(self):
        with tempfile.TemporaryDirectory() as directory:
            src = pathlib.Path(directory)
            for header in HEADERS:
                (src / header).parent.mkdir(parents=True, exist_ok=True)
                (src / header).write_text("#pragma once\n")
            for path, line, _ in CASES:
                (src / path).parent.mkdir(parents=True, exist_ok=True)
                (src / path).write_text(line + "\n")
            problems = check_layers.check_tree(src)
            for path, line, allowed in CASES:
                found = [p for p in problems if p.startswith(f"src/{path}:")]
                self.assertEqual(not found, allowed, f"{path}: {line} -> {found}")

    def test_only_tests_link_the_fakes(self):
        with tempfile.TemporaryDirectory() as directory:
            src = pathlib.Path(directory)
            (src / "core").mkdir()
            (src / "core/CMakeLists.txt").write_text(
                "target_link_libraries(vuvuveva_fakes PUBLIC vuvuveva_browse)\n")
            (src / "CMakeLists.txt").write_text(
                "target_link_libraries(vuvuveva-cli PRIVATE\n  vuvuveva_core\n  vuvuveva_fakes)\n")
            problems = check_layers.check_tree(src)
            self.assertEqual([p.split(":")[:2] for p in problems], [["src/CMakeLists.txt", "1"]], problems)


if __name__ == "__main__":
    unittest.main()
