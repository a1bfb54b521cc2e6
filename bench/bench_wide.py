"""Text beyond ASCII: every scorer, metric, Soundex and default_process per call on words
(and phrases for the text scorers; texts of 17 to 64 characters for the functions that
build one word of masks) of Latin with accents, Greek, Cyrillic, CJK (40 characters
apart in their low bytes, and code points drawn from the whole common range, which share
low bytes as real text does), emoji and a mixture, beside the same function on ASCII words of the same lengths and the peers that
compute the same quantity; then realistic batches: person names, company names and
addresses made by Faker in seven locales, with typos, matched with extract and cdist.

    python3 bench/bench_wide.py [--quick]      (or: python3 bench/run.py bench_wide)
    python3 bench/bench_wide.py --baseline OTHER/_tarnwick.abi3.so [NAME ...]

With --baseline, the per-call table compares this build with another build of the module
instead (the named functions, or the token scorers, the weighted ratio and
default_process): both are loaded into this process and timed alternately, round after
round, so that both see the same machine load; the peers of a named function take their
turns in the same rounds.

Peers (bench/requirements.txt) that are not installed are left out; without Faker the
batch section is skipped. Times are the best of several rounds; nothing is asserted.
"""
import random
import sys
import time

from common import best_of, fmt_time, mutate, optional, per_call, words  # also puts build/ and python/ on the path

import _tarnwick
import tarnwick

ALPHABETS = {
    "ascii": "abcdefghijklmnopqrstuvwxyz",
    "latin": "abcdeéèêëàâäôöüçñß",
    "greek": "αβγδεζηθικλμνξοπρστυφχψω",
    "cyrillic": "абвгдежзийклмнопрстуфхцчшщыэюя",
    "cjk": "".join(chr(0x4E00 + 37 * i) for i in range(40)),
    "emoji": "".join(chr(0x1F600 + i) for i in range(40)),
    "mixed": "abcdéèüßαβγδжзий中文字😀😁",
}
# Last column: code points drawn from the whole common CJK range. Its data come from a
# generator of their own, so that the other columns keep theirs.
REAL_CJK = ("cjk_real", "".join(chr(c) for c in range(0x4E00, 0x9FA6)))
TEXT_SCORERS = ("fuzz_token", "fuzz_partial_token", "fuzz_wratio")
# Functions of one text.
ONE_TEXT = ("default_process", "soundex_encode")
# Functions whose kernels build one word of masks for 17 to 64 characters: also timed on
# such texts.
ONE_WORD_METRICS = ("levenshtein_distance", "osa_distance", "indel_distance", "lcs_seq_similarity",
                    "jaro_similarity", "jaro_winkler_similarity", "fuzz_ratio", "fuzz_partial_ratio")


def word_pairs(alphabet, count, rng, lo=5, hi=12):
    a = words(rng, count, lo=lo, hi=hi, alphabet=alphabet)
    return [(w, mutate(rng, w, 0.3, alphabet)) for w in a]


def phrase_pairs(alphabet, count, rng):
    out = []
    for _ in range(count):
        ws = words(rng, rng.randint(2, 4), lo=3, hi=8, alphabet=alphabet)
        other = [mutate(rng, w, 0.25, alphabet) for w in rng.sample(ws, len(ws))]
        out.append((" ".join(ws), " ".join(other)))
    return out


def data_sets(count):
    """Word pairs, phrase pairs and pairs of 17 to 64 characters of each column."""
    rng = random.Random(7)
    words_of = {k: word_pairs(v, count, rng) for k, v in ALPHABETS.items()}
    phrases_of = {k: phrase_pairs(v, count // 2, rng) for k, v in ALPHABETS.items()}
    long_of = {k: word_pairs(v, count // 2, rng, 17, 64) for k, v in ALPHABETS.items()}
    name, alphabet = REAL_CJK
    rng = random.Random(17)
    words_of[name] = word_pairs(alphabet, count, rng)
    phrases_of[name] = phrase_pairs(alphabet, count // 2, rng)
    long_of[name] = word_pairs(alphabet, count // 2, rng, 17, 64)
    return words_of, phrases_of, long_of


def peers():
    """Peer functions by the name of ours that computes the same quantity."""
    out = {}
    pl, ed, jf = optional("polyleven"), optional("editdistance"), optional("jellyfish")
    lev = []
    if pl:
        lev.append(("polyleven", pl.levenshtein))
    if ed:
        lev.append(("editdistance", ed.eval))
    if jf:
        lev.append(("jellyfish", jf.levenshtein_distance))
        out["damerau_levenshtein_distance"] = [("jellyfish", jf.damerau_levenshtein_distance)]
        out["hamming_distance"] = [("jellyfish", jf.hamming_distance)]
        out["jaro_similarity"] = [("jellyfish", jf.jaro_similarity)]
        out["jaro_winkler_similarity"] = [("jellyfish", jf.jaro_winkler_similarity)]
    out["levenshtein_distance"] = lev
    return out


def functions():
    names = [n for n in _tarnwick.__all__ if n.startswith("fuzz_")]
    names += [n for n in _tarnwick.__all__
              if n.endswith(("_distance", "_similarity", "_editops", "_opcodes"))
              or n in ("sorensen_dice", "jaccard", "soundex_encode")]
    return names + ["default_process"]


def per_call_table(quick):
    count = 300 if quick else 1500
    rounds = 3 if quick else 5
    words_of, phrases_of, long_of = data_sets(count)
    peer_fns = peers()
    cols = list(words_of)
    print("\nper call, ns (words of 5 to 12 letters; [phrase]: 2 to 4 words); "
          "'worst' is the slowest non-ASCII column over the ASCII one")
    print(f"  {'function':44}" + "".join(f"{c:>9}" for c in cols) + f"{'worst':>8}")

    def row(label, fn, data):
        t = {c: per_call(fn, data[c], rounds) for c in cols}
        worst = max(t[c] / t["ascii"] for c in cols if c != "ascii")
        print(f"  {label:44}" + "".join(f"{t[c] * 1e9:9.0f}" for c in cols) + f"{worst:8.2f}")
        return t

    for name in functions():
        f = getattr(_tarnwick, name)
        if name in ONE_TEXT:
            call = lambda a, b, f=f: f(a)  # noqa: E731
        else:
            call = f
        data = words_of
        if name.startswith(("gotoh_", "sorensen_dice", "jaccard")):
            # These refuse an ASCII text against a non-ASCII one: same-kind pairs only.
            data = {c: [(a, b) for a, b in v if a.isascii() == b.isascii()] for c, v in words_of.items()}
        ours = row(name, call, data)
        if name.startswith(TEXT_SCORERS) or name == "default_process":
            row(f"{name} [phrase]", call, phrases_of)
        for peer, pf in peer_fns.get(name, []):
            t = {c: per_call(pf, data[c], rounds) for c in cols}
            print(f"  {'  ' + peer:44}" + "".join(f"{t[c] * 1e9:9.0f}" for c in cols)
                  + "   ours faster by " + " ".join(f"{t[c] / ours[c]:.1f}" for c in cols))
        if name in ONE_WORD_METRICS:
            long_ours = row(f"{name} [17-64]", call, long_of)
            for peer, pf in peer_fns.get(name, []):
                t = {c: per_call(pf, long_of[c], rounds) for c in cols}
                print(f"  {'  ' + peer + ' [17-64]':44}" + "".join(f"{t[c] * 1e9:9.0f}" for c in cols)
                      + "   ours faster by " + " ".join(f"{t[c] / long_ours[c]:.1f}" for c in cols))


# ---- Faker batches ----

LOCALES = ["en_US", "de_DE", "fr_FR", "ru_RU", "el_GR", "ja_JP", "zh_CN"]
KINDS = {"names": "name", "companies": "company", "addresses": "address"}


def typo(rng, s):
    """One to three single-character edits, letters drawn from the text itself."""
    chars = list(s)
    for _ in range(rng.randint(1, 3)):
        if not chars:
            break
        i = rng.randrange(len(chars))
        op = rng.randrange(4)
        if op == 0:
            chars[i] = rng.choice(chars)
        elif op == 1:
            chars.insert(i, rng.choice(chars))
        elif op == 2 and len(chars) > 1:
            del chars[i]
        elif i + 1 < len(chars):
            chars[i], chars[i + 1] = chars[i + 1], chars[i]
    return "".join(chars)


def faker_data(faker_mod, locale, kind, n, queries, seed):
    fake = faker_mod.Faker(locale)
    fake.seed_instance(seed)
    method = getattr(fake, KINDS[kind])
    choices = [method().replace("\n", ", ") for _ in range(n)]
    rng = random.Random(seed)
    return choices, [typo(rng, rng.choice(choices)) for _ in range(queries)]


def faker_tables(quick):
    faker_mod = optional("faker")
    if faker_mod is None:
        print("\n(Faker is not installed: the batch section is skipped)")
        return
    pl = optional("polyleven")
    n = 5_000 if quick else 50_000
    nq = 5
    nc = 300 if quick else 1000
    rounds = 2 if quick else 3
    print(f"\nFaker batches: extract over {n:,} choices (per query), cdist {nc} x {nc}; "
          "peer: a Python loop over polyleven.levenshtein (one query, scaled)")
    print(f"  {'locale / kind':28}{'share':>7}{'extract_one':>13}{'extract 5':>12}{'wratio one':>12}"
          f"{'cdist ratio':>13}{'cdist tset':>12}{'polyleven':>12}{'x one':>8}{'x cdist':>9}")
    for locale in LOCALES:
        for kind in KINDS:
            choices, queries = faker_data(faker_mod, locale, kind, n, nq, seed=hash((locale, kind)) & 0xFFFF)
            ascii_share = sum(c.isascii() for c in choices) / len(choices)
            one = best_of(lambda: [tarnwick.extract_one(q, choices, tarnwick.fuzz_ratio)
                                     for q in queries], rounds) / nq
            five = best_of(lambda: [tarnwick.extract(q, choices, tarnwick.fuzz_ratio, limit=5)
                                      for q in queries], rounds) / nq
            wone = best_of(lambda: [tarnwick.extract_one(q, choices, tarnwick.fuzz_wratio)
                                      for q in queries], rounds) / nq
            sub = choices[:nc]
            cd = best_of(lambda: tarnwick.cdist(sub, sub, tarnwick.fuzz_ratio), rounds)
            cdt = best_of(lambda: tarnwick.cdist(sub, sub, tarnwick.fuzz_token_set_ratio), rounds)
            cells = [f"{locale + ' ' + kind:28}{ascii_share:7.0%}", f"{fmt_time(one):>13}",
                     f"{fmt_time(five):>12}", f"{fmt_time(wone):>12}", f"{fmt_time(cd):>13}",
                     f"{fmt_time(cdt):>12}"]
            if pl:
                q = queries[0]
                loop = best_of(lambda: min(range(n), key=lambda i: pl.levenshtein(q, choices[i])), 1)
                rows = sub[:max(1, nc // 20)]
                cd_loop = best_of(lambda: [[pl.levenshtein(a, b) for b in sub] for a in rows], 1)
                cd_loop *= nc / len(rows)
                cells += [f"{fmt_time(loop):>12}", f"{loop / one:7.1f}x", f"{cd_loop / cd:8.1f}x"]
            print("  " + "".join(cells))


# ---- Two builds side by side ----

AB_DEFAULT = ["fuzz_token_sort_ratio", "fuzz_token_set_ratio", "fuzz_token_ratio",
              "fuzz_partial_token_sort_ratio", "fuzz_partial_token_set_ratio",
              "fuzz_partial_token_ratio", "fuzz_wratio", "default_process"]


def load_build(path):
    """The module of another build, loaded beside this one under its own name."""
    import importlib.machinery
    import importlib.util
    loader = importlib.machinery.ExtensionFileLoader("_tarnwick", path)
    spec = importlib.util.spec_from_file_location("_tarnwick", path, loader=loader)
    module = importlib.util.module_from_spec(spec)
    loader.exec_module(module)
    return module


def builds_table(baseline, names, quick):
    builds = {"base": load_build(baseline), "this": _tarnwick}
    count = 300 if quick else 1500
    rounds = 3 if quick else 7
    words_of, phrases_of, long_of = data_sets(count)
    cols = list(words_of)
    peer_fns = peers()
    print(f"\nper call, ns, this build against {baseline}: best of {rounds} rounds, the builds "
          "alternating; 'worst' is the slowest non-ASCII column over the ASCII one")
    print(f"  {'function':40}{'build':>6}" + "".join(f"{c:>9}" for c in cols) + f"{'worst':>8}")
    for name in names:
        kinds = [("", words_of)]
        if name.startswith(TEXT_SCORERS) or name == "default_process":
            kinds.append((" [phrase]", phrases_of))
        if name in ONE_WORD_METRICS:
            kinds.append((" [17-64]", long_of))
        for label, data in kinds:
            if name.startswith(("gotoh_", "sorensen_dice", "jaccard")):
                # These refuse an ASCII text against a non-ASCII one: same-kind pairs only.
                data = {c: [(a, b) for a, b in v if a.isascii() == b.isascii()] for c, v in data.items()}
            fns = {}
            for b, module in builds.items():
                f = getattr(module, name)
                fns[b] = (lambda x, y, f=f: f(x)) if name in ONE_TEXT else f
            # The peers that compute the same quantity take their turns in the same rounds.
            fns.update(peer_fns.get(name, []))
            best = {b: {c: float("inf") for c in cols} for b in fns}
            for _ in range(rounds):
                for b, call in fns.items():
                    for c in cols:
                        best[b][c] = min(best[b][c], per_call(call, data[c], 1))
            for b, t in best.items():
                worst = max(t[c] / t["ascii"] for c in cols if c != "ascii")
                label_b = b if b in builds else b[:6]
                print(f"  {name + label:40}{label_b:>6}" + "".join(f"{t[c] * 1e9:9.0f}" for c in cols)
                      + f"{worst:8.2f}", flush=True)


def run(quick=False):
    per_call_table(quick)
    faker_tables(quick)


if __name__ == "__main__":
    args = sys.argv[1:]
    quick = "--quick" in args
    if "--baseline" in args:
        i = args.index("--baseline")
        names = [a for a in args[i + 2:] + args[:i] if not a.startswith("--")]
        builds_table(args[i + 1], names or AB_DEFAULT, quick)
    else:
        run(quick)
