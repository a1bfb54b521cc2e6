"""fuzz_ratio against difflib's ratio and the fastest edit-distance functions of peers."""
import difflib

from common import (ASCII_LETTERS, NON_ASCII_LETTERS, optional, pairs_of_texts,
                    pairs_of_words, per_call, table)

import tarnwick


def peers():
    out = []
    jf = optional("jellyfish")
    if jf:
        out.append(("jellyfish.levenshtein_distance", jf.levenshtein_distance))
    pl = optional("polyleven")
    if pl:
        out.append(("polyleven.levenshtein", pl.levenshtein))
    ed = optional("editdistance")
    if ed:
        out.append(("editdistance.eval", ed.eval))
    return out


def difflib_ratio(a, b):
    return difflib.SequenceMatcher(None, a, b).ratio()


def run():
    cases = [
        ("100,000 word pairs, ASCII", pairs_of_words(100_000), 20_000),
        ("100,000 word pairs, non-ASCII", pairs_of_words(100_000, NON_ASCII_LETTERS), 20_000),
        ("5,000 pairs of 1,000 characters, ASCII", pairs_of_texts(5_000, 1000), 100),
        ("5,000 pairs of 1,000 characters, non-ASCII",
         pairs_of_texts(5_000, 1000, NON_ASCII_LETTERS), 100),
    ]
    for title, pairs, difflib_n in cases:
        ours = per_call(tarnwick.fuzz_ratio, pairs)
        rows = [(name, per_call(fn, pairs)) for name, fn in peers()]
        rows.append(("difflib SequenceMatcher.ratio", per_call(difflib_ratio, pairs[:difflib_n], 1)))
        table(title, "tarnwick.fuzz_ratio", ours, rows)


if __name__ == "__main__":
    run()
