"""Deduplicate company names: every name against every other with cdist, grouped where
the score reaches a threshold, and a quicker pass with BKTree on exact edit distance.

    python3 examples/dedupe_names.py [number_of_names]
"""
import random
import sys

import tarnwick

STEMS = ["Acme", "Globex", "Initech", "Umbrella", "Stark", "Wayne", "Tyrell", "Cyberdyne",
         "Soylent", "Hooli", "Vandelay", "Wonka", "Müller", "Société Générale", "Nordström",
         "García Hermanos", "Łukasiewicz", "Østergaard", "Dupont", "Schäfer"]
SUFFIXES = ["Inc.", "GmbH", "S.A.", "Ltd", "AB", "SARL", "LLC", "AG", "Sp. z o.o.", ""]


def noisy(name: str, rng: random.Random) -> str:
    """The name as a clerk might type it: another case, a dropped or doubled letter."""
    r = rng.random()
    if r < 0.3:
        return name.upper()
    if r < 0.6 and len(name) > 4:
        i = rng.randrange(1, len(name) - 1)
        return name[:i] + name[i + 1:]
    if r < 0.8:
        i = rng.randrange(len(name))
        return name[:i] + name[i] + name[i:]
    return name


def make_names(count: int, seed: int = 7) -> list[str]:
    """`count` names of about count / 3 companies, each written one to five times."""
    rng = random.Random(seed)
    companies = sorted({f"{a} {b} {s}".strip() for a in STEMS for b in STEMS if a != b
                        for s in SUFFIXES})
    rng.shuffle(companies)
    companies = companies[:max(1, count // 3)]
    return [noisy(rng.choice(companies), rng) for _ in range(count)]


def groups_by_cdist(names: list[str], threshold: float) -> list[list[int]]:
    """Groups of indices whose names score at least `threshold` against another member
    (single linkage, by union-find over the score matrix)."""
    scores, n, m = tarnwick.cdist(names, names, scorer=tarnwick.fuzz_ratio,
                                  processor=tarnwick.default_process, score_cutoff=threshold)
    parent = list(range(n))

    def root(i: int) -> int:
        while parent[i] != i:
            parent[i] = parent[parent[i]]
            i = parent[i]
        return i

    for i in range(n):
        row = scores[i * m:(i + 1) * m]
        for j in range(i + 1, m):
            if row[j] >= threshold:
                parent[root(j)] = root(i)
    groups: dict[int, list[int]] = {}
    for i in range(n):
        groups.setdefault(root(i), []).append(i)
    return [g for g in groups.values() if len(g) > 1]


def main(count: int) -> None:
    names = make_names(count)
    groups = groups_by_cdist(names, threshold=90.0)
    print(f"{len(names)} names, {len(groups)} groups of near-duplicates (fuzz_ratio >= 90)")
    for group in sorted(groups, key=len, reverse=True)[:3]:
        print("  ", [names[i] for i in group][:6])

    # BKTree: distances are counted in UTF-8 bytes, so "ü" against "u" costs 2, and the
    # comparison is case-sensitive: normalise the names first.
    cleaned = [tarnwick.default_process(n) for n in names]
    kept = tarnwick.BKTree().dedupe(cleaned, 1)
    print(f"BKTree keeps {len(kept)} of {len(cleaned)} cleaned names within edit distance 1")

    # The closest names to a query by edit distance (a distance ranks smallest first).
    query = tarnwick.default_process("Globex Hooli GmbH")
    for name, distance, index in tarnwick.extract(query, cleaned,
                                                  scorer=tarnwick.levenshtein_distance, limit=3):
        print(f"  distance {distance:.0f}: {names[index]!r}")


if __name__ == "__main__":
    main(int(sys.argv[1]) if len(sys.argv) > 1 else 2000)
