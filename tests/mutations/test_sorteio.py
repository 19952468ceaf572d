#!/usr/bin/python3
"""The fault finder of scripts/mutate on small C++ snippets: the places it
must find, and the text it must never touch (literals, comments,
directives, template brackets, shifts and arrows)."""

import importlib.machinery
import pathlib
import sys
import tempfile
import types
import unittest
from unittest import mock

TOP = pathlib.Path(__file__).resolve().parents[2]
loader = importlib.machinery.SourceFileLoader("mutate", str(TOP / "scripts" / "mutate"))
mutate = types.ModuleType("mutate")
mutate.__file__ = loader.path
sys.modules["mutate"] = mutate
loader.exec_module(mutate)


def changes(code):
    return [f.change for f in mutate.find_faults(code)]


# (snippet, changes it must offer, the same snippet's text after one of them)
FOUND = [
    ("if (a < b) go();", "`<` → `<=`", "if (a <= b) go();"),
    ("#ifndef _WIN32\nif (a < b) go();\n#else\n#endif", "`<` → `<=`",
     "#ifndef _WIN32\nif (a <= b) go();\n#else\n#endif"),
    ("#ifdef _WIN32\n#else\nif (a < b) go();\n#endif", "`<` → `<=`",
     "#ifdef _WIN32\n#else\nif (a <= b) go();\n#endif"),
    ("if (a >= b) go();", "`>=` → `>`", "if (a > b) go();"),
    ("ok = a == b;", "`==` → `!=`", "ok = a != b;"),
    ("ok = a != b;", "`!=` → `==`", "ok = a == b;"),
    ("ok = a &&\n     b;", "`&&` → `||`", "ok = a ||\n     b;"),
    ("ok = a || b;", "`||` → `&&`", "ok = a && b;"),
    ("if (!ok) go();", "sem `!`", "if (ok) go();"),
    ("n = 41u;", "`41u` → `42u`", "n = 42u;"),
    ("n = 0x7F;", "`0x7F` → `0x80`", "n = 0x80;"),
    ("n = 0;", "`0` → `-1`", "n = -1;"),
    ("us = ms * 1000;", "sem `* 1000`", "us = ms;"),
    ("s = ms / 1000.0;", "sem `/ 1000.0`", "s = ms;"),
    ("s = 60 * m;", "sem `60 *`", "s = m;"),
    ("if (a && b(1, 2) && c) go();", "sem a cláusula `a`", "if (b(1, 2) && c) go();"),
    ("if (a && b(1, 2) && c) go();", "sem a cláusula `b(1, 2)`", "if (a && c) go();"),
    ("if (a || b && c) go();", "sem a cláusula `b && c`", "if (a) go();"),
    ("return a.x ||\n  b;", "sem a cláusula `b`", "return a.x;"),
    ("{ m.x(1).y(); }", "sem a chamada", "{  }"),
    ("{ ::close(fd); }", "sem a chamada", "{  }"),
    ("int f() { if (x) return 1; return 2; }", "sem o `return`",
     "int f() { if (x) ; return 2; }"),
    ("void f() { for (;;) { go(); return; } }", "sem o `return`",
     "void f() { for (;;) { go(); ; } }"),
    ("switch (k) { case 1: return 'a'; }", "sem o `return`", "switch (k) { case 1: ; }"),
    ("if (c == '<') go();", "`==` → `!=`", "if (c != '<') go();"),
    ("n = 1'000 + (a < b);", "`<` → `<=`", "n = 1'000 + (a <= b);"),
    ("x = qMax<int>(a, b) < c;", "`<` → `<=`", "x = qMax<int>(a, b) <= c;"),
]

# Snippets that offer no fault, or none of the kind named.
UNTOUCHED = [
    ("string", 's = "a < b && !c || d >= 1 * 1000";', None),
    ("raw string", 's = R"x(a < b)x";', None),
    ("character", "c = '!';", None),
    ("line comment", "// if (a < b && !c) return 1;", None),
    ("block comment", "/* a >= 1000 * 60 */", None),
    ("include", "#include <vector>\n#define BIG (a > 1)", None),
    ("templates", "std::vector<int> v;\nQVector<QVector<int>> w;\n"
                  "template <typename T> T f(const std::function<T()> &g);", None),
    ("cast", "auto y = static_cast<qint64>(x);", None),
    ("shifts and arrows", "out << x >> y;\nz = p->q;", None),
    ("reference", "void f(T &&x);", None),
    ("float, name, separator", "x = 1.5 + v2 + 1e3 + 1'000;", None),
    ("declarations", "QString s(x);\nvoid g();", None),
    ("braceless if", "if (x) go();", None),
    ("not a negation", "ok = a != b;", "sem `!`"),
    ("last return", "int f() { return 2; }", "sem o `return`"),
    ("never built", "#ifdef _WIN32\nif (a < b) go();\n#endif\n"
                    "#if !defined(LETREIRO_ANNOTATE_HANDOFF)\n#else\nf(a < b);\n#endif", None),
    ("the other branch", "#ifndef _WIN32\n#else\ng(1);\n#endif", None),
]

class FaultFinder(unittest.TestCase):
    def test_finds_each_kind_and_applies_it_in_place(self):
        for code, change, after in FOUND:
            with self.subTest(code=code, change=change):
                faults = {f.change: f for f in mutate.find_faults(code)}
                self.assertIn(change, faults, list(faults))
                self.assertEqual(faults[change].apply(code), after)

    def test_never_touches_literals_comments_directives_or_templates(self):
        for name, code, kind in UNTOUCHED:
            with self.subTest(name):
                found = changes(code)
                if kind is None:
                    self.assertEqual(found, [])
                else:
                    self.assertNotIn(kind, found)

    def test_a_fault_is_named_by_its_line_and_kept_apart_from_its_twin(self):
        code = "void f()\n{\n    ok = a < b && c < d;\n}\n"
        faults = [f for f in mutate.find_faults(code, "src/x/y.cpp") if "`<`" in f.change]
        self.assertEqual([(f.line, f.change) for f in faults],
                         [(3, "`<` → `<=`"), (3, "`<` → `<=` (2ª)")])
        self.assertEqual(faults[1].entry(), "src/x/y.cpp ¦ ok = a < b && c < d; ¦ `<` → `<=` (2ª)")
        with tempfile.TemporaryDirectory() as d:
            listed = pathlib.Path(d, "equivalentes.txt")
            listed.write_text("# comentário\n" + faults[1].entry() + " ¦ porque sim\n",
                              encoding="utf-8")
            self.assertEqual(mutate.read_equivalents(listed), {faults[1].key()})

    def test_draws_each_line_alike_and_never_twice(self):
        # One line with many places, one with a single place: the single
        # one comes first about half the time, however few places it has.
        faults = mutate.find_faults("x = 1 + 2 + 3 + 4 + 5 + 6 + 7 + 8;\ny = !z;\n")
        firsts = [next(mutate.draw(faults, s)).line for s in range(2000)]
        self.assertAlmostEqual(firsts.count(2) / 2000, 0.5, delta=0.05)
        drawn = list(mutate.draw(faults, 1))
        self.assertEqual(sorted(map(id, drawn)), sorted(map(id, faults)))
        self.assertEqual([f.change for f in drawn], [f.change for f in mutate.draw(faults, 1)])

    def test_neither_an_equivalent_nor_an_edit_elsewhere_moves_the_rest(self):
        code = "if (a < b && c) go();\nif (d == e) stop();\nif (d == e) stop();\n"
        before = [f.key() for f in mutate.drawing(mutate.find_faults(code), set(), 3)]
        after = [f.key() for f in mutate.drawing(mutate.find_faults(code), {before[1]}, 3)]
        self.assertEqual(after, before[:1] + before[2:])
        edited = mutate.find_faults("int n = 0;\n" + code.replace("go()", "run()"))
        kept = [f.key() for f in mutate.drawing(edited, set(), 3)
                if "n = 0" not in f.text and "run()" not in f.text]
        self.assertEqual(kept, [k for k in before if "go()" not in k[1]])

    def test_a_timeout_alone_is_no_fault_caught(self):
        out = ("The following tests FAILED:\n\t 12 - tst_a (Failed)\n\t 13 - tst_b (Timeout)\n"
               "\t 14 - tst_c (SEGFAULT)\n")
        self.assertEqual(mutate.failures(out, 8), ({"tst_a", "tst_c"}, {"tst_b"}))
        self.assertEqual(mutate.failures("", 8), ({"?"}, set()))
        self.assertEqual(mutate.durations("3/9 Test  #5: tst_a ......   Passed    4.31 sec\n"
                                          "4/9 Test  #6: tst_b ......***Failed    1.00 sec\n"),
                         {"tst_a": 4.31})

    def test_a_timeout_is_a_hang_only_where_the_test_is_usually_quick(self):
        fault = mutate.find_faults("if (a < b) go();", "src/x/a.cpp")[0]
        for usual, verdict in ((5.9, "detectada"), (6.1, "INCERTA")):
            runner = mutate.Sorteio({"tst_b": 60.0})
            runner.usual, runner.whole, runner.known = {"tst_b": usual}, True, {"tst_b", "tst_b_2"}
            with mock.patch.object(mutate, "build", return_value=True) as build, \
                    mock.patch.object(mutate, "ctest", return_value=(set(), {"tst_b"})), \
                    mock.patch.object(mutate, "folder_tests", return_value=["tst_b", "tst_b_2"]):
                self.assertEqual(runner.verdict(fault)[0], verdict, usual)
                build.assert_any_call(["tst_b"])  # a program's second half is no target

    def test_nearest_tests_first_and_the_suite_runs_what_a_stage_cut_short(self):
        fault = mutate.find_faults("if (a < b) go();", "src/x/y/a.cpp")[0]
        runner = mutate.Sorteio(dict.fromkeys(["tst_y", "tst_x", "tst_z", "tst_bad"], 60.0))
        runner.whole, runner.failing, runner.known = True, {"tst_bad"}, set(runner.names)
        calls = []

        def ctest(args, timeout, passed=None):
            calls.append(args[args.index("-R" if "-R" in args else "-E") + 1])
            if passed is not None and len(calls) == 1:
                passed["tst_y"] = 1.0
            return set(), set()
        near = {"src/x/y": ["tst_y", "tst_bad"], "src/x": ["tst_y", "tst_x", "tst_bad"]}
        with mock.patch.object(mutate, "build", return_value=True), \
                mock.patch.object(mutate, "ctest", side_effect=ctest), \
                mock.patch.object(mutate, "folder_tests", side_effect=lambda f, _: near[f]):
            self.assertEqual(runner.verdict(fault)[0], "SOBREVIVEU")
        # tst_x never ran to the end in its stage, so the suite runs it again.
        self.assertEqual(calls, ["^(tst_y)$", "^(tst_x)$", "^(tst_bad|tst_y)$"])
        # For a first look, the part's tests only, and the fault is not
        # called a survivor.
        runner.part_only, calls[:] = True, []
        with mock.patch.object(mutate, "build", return_value=True), \
                mock.patch.object(mutate, "ctest", side_effect=ctest), \
                mock.patch.object(mutate, "folder_tests", side_effect=lambda f, _: near[f]):
            self.assertEqual(runner.verdict(fault)[0], "NÃO NA PARTE")
        self.assertEqual(calls, ["^(tst_y)$", "^(tst_x)$"])

    def test_a_far_test_that_fails_without_the_fault_too_catches_nothing(self):
        runner = mutate.Sorteio({"tst_y": 60.0, "tst_x": 60.0})
        folders = {"src/x/y": ["tst_y"], "src/x": ["tst_y", "tst_x"]}
        # The part's tests pass without the fault; tst_x fails with it and
        # once more on the clean sources; the suite runs clean only once it
        # is needed.
        ok = (set(), set())
        answers = iter([ok, ok, ({"tst_x"}, set()), ({"tst_x"}, set()), ok, ok, ok, ok])
        with tempfile.TemporaryDirectory() as top:
            path = pathlib.Path(top, "a.cpp")
            path.write_bytes(b"if (a < b) go();")
            fault = mutate.find_faults("if (a < b) go();", "src/x/y/a.cpp")[0]
            with mock.patch.object(mutate, "build", return_value=True), \
                    mock.patch.object(mutate, "ctest", side_effect=lambda *a: next(answers)), \
                    mock.patch.object(mutate, "folder_tests", side_effect=lambda f, _: folders[f]):
                self.assertEqual(mutate.try_fault(runner, fault, path, path.read_bytes())[0],
                                 "SOBREVIVEU")
            self.assertEqual(path.read_bytes(), b"if (a < b) go();")
        self.assertEqual(runner.failing, {"tst_x"})
        self.assertTrue(runner.whole)
        self.assertEqual(next(answers, None), None)


if __name__ == "__main__":
    unittest.main()
