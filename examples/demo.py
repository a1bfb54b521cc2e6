"""Scores a few pairs with the ratio scorers and prints them."""
import tarnwick

PAIRS = [
    ("kitten", "sitting"),
    ("New York Mets", "new york mets"),
    ("caf\u00e9 au lait", "cafe au lait"),
    ("fuzzy wuzzy was a bear", "wuzzy fuzzy was a bear"),
    ("", ""),
]

print(f"{'s1':<26}{'s2':<26}{'ratio':>8}{'qratio':>8}{'processed':>11}")
for a, b in PAIRS:
    r = tarnwick.fuzz_ratio(a, b)
    q = tarnwick.fuzz_qratio(a, b)
    p = tarnwick.fuzz_ratio(a, b, processor=tarnwick.default_process)
    print(f"{a!r:<26}{b!r:<26}{r:8.2f}{q:8.2f}{p:11.2f}")
