"""Join two tables of addresses that spell the same places differently: a fuzzy join on
the text (BM25 candidates re-scored by character similarity) fused with a dense vector
per row.

    python3 examples/join_tables.py [number_of_rows]
"""
import random
import sys
import zlib

import numpy as np
import numpy.typing as npt

import tarnwick

STREETS = ["Main", "Elm", "Oak", "Maple", "Cedar", "Pine", "Lake", "Hill", "Church", "Mill",
           "Station", "Park", "Bridge", "Castle", "Market", "Victoria"]
KINDS = [("Street", "St"), ("Road", "Rd"), ("Avenue", "Ave"), ("Lane", "Ln")]
TOWNS = ["Springfield", "Shelbyville", "Ogdenville", "North Haverbrook", "Capital City",
         "Brockway", "Cypress Creek", "Waverly Hills"]


def make_tables(count: int, seed: int = 11) -> tuple[list[str], list[str], list[int]]:
    """A register of addresses, the same addresses as a customer table types them (upper
    case, abbreviated, a typo), in another order, and where each customer row belongs."""
    rng = random.Random(seed)
    seen: set[tuple[int, str, int, str]] = set()
    while len(seen) < count:
        kind = rng.choice(KINDS)
        seen.add((rng.randrange(1, 400), rng.choice(STREETS), KINDS.index(kind),
                  rng.choice(TOWNS)))
    places = sorted(seen)
    register = [f"{n} {s} {KINDS[k][0]}, {t}" for n, s, k, t in places]
    order = list(range(count))
    rng.shuffle(order)
    customers = []
    for i in order:
        n, street, k, town = places[i]
        text = f"{n} {street} {KINDS[k][1]} {town}"
        if rng.random() < 0.5:
            text = text.upper()
        if rng.random() < 0.3:
            j = rng.randrange(len(text))
            text = text[:j] + text[j + 1:]
        customers.append(text)
    return register, customers, order


def embed(texts: list[str], dim: int = 256) -> npt.NDArray[np.float64]:
    """A stand-in for an address encoder: hashed character trigrams of the lowercase text,
    unit length."""
    rows = np.zeros((len(texts), dim))
    for i, text in enumerate(texts):
        padded = f" {text.lower().replace(',', '')} "
        for j in range(len(padded) - 2):
            rows[i, zlib.crc32(padded[j:j + 3].encode()) % dim] += 1.0
    rows /= np.linalg.norm(rows, axis=1, keepdims=True)
    return rows


def top1_precision(customers: list[str], register: list[str], truth: list[int],
                   dense: bool) -> float:
    joiner = tarnwick.MultiJoiner(dense_weight=1.0 if dense else 0.0, sparse_weight=0.0)
    joiner.add_array("customers", texts=customers,
                     dense=embed(customers) if dense else None)
    joiner.add_array("register", texts=register, dense=embed(register) if dense else None)
    rows = joiner.join_pair("customers", "register", n=1)
    right = sum(1 for row in rows if row["tgt_idx"] == truth[row["src_idx"]])
    return right / len(customers)


def main(count: int) -> None:
    register, customers, truth = make_tables(count)
    print(f"{count} customer rows against a register of {count} addresses, top-1 precision:")
    # The text channel compares texts as given: case differences cost similarity.
    print(f"  texts as typed:                   {top1_precision(customers, register, truth, False):.4f}")
    lower_c = [t.lower() for t in customers]
    lower_r = [t.lower() for t in register]
    print(f"  texts lowercased:                 {top1_precision(lower_c, lower_r, truth, False):.4f}")
    print(f"  lowercased, with dense stand-in: {top1_precision(lower_c, lower_r, truth, True):.4f}")

    # One row looked up by hand, ranked by a metric instead (smallest distance first).
    best = tarnwick.extract_one(lower_c[0], lower_r, scorer=tarnwick.indel_normalized_distance)
    assert best is not None
    print(f"  {customers[0]!r} -> {register[best[2]]!r} (distance {best[1]:.3f})")


if __name__ == "__main__":
    main(int(sys.argv[1]) if len(sys.argv) > 1 else 10_000)
