"""Search a product catalogue: BM25, fuzzy and embedding rankings fused, filtered and
sorted by per-document metadata, then saved to an index directory and opened again.

    python3 examples/search_catalogue.py [number_of_titles]
"""
import json
import pathlib
import random
import sys
import tempfile
import zlib

import numpy as np
import numpy.typing as npt

import tarnwick

ADJECTIVES = ["wireless", "ergonomic", "waterproof", "compact", "vintage", "smart", "organic",
              "portable", "stainless", "handmade"]
NOUNS = ["keyboard", "mouse", "backpack", "kettle", "lamp", "speaker", "notebook", "jacket",
         "bottle", "headphones", "blender", "chair"]
BRANDS = ["Northwind", "Contoso", "Fabrikam", "Tailspin", "Adatum"]
DIM = 32


def embed(texts: list[str]) -> npt.NDArray[np.float32]:
    """A stand-in for a sentence encoder: hashed character trigrams, unit length."""
    rows = np.zeros((len(texts), DIM), dtype=np.float32)
    for i, text in enumerate(texts):
        padded = f"  {text.lower()}  "
        for j in range(len(padded) - 2):
            rows[i, zlib.crc32(padded[j:j + 3].encode()) % DIM] += 1.0
    rows /= np.maximum(np.linalg.norm(rows, axis=1, keepdims=True), 1e-9)
    return rows


def make_catalogue(count: int, seed: int = 3) -> tuple[list[str], list[str]]:
    """Titles and their metadata as JSON objects."""
    rng = random.Random(seed)
    titles, metadata = [], []
    for i in range(count):
        brand = rng.choice(BRANDS)
        titles.append(f"{brand} {rng.choice(ADJECTIVES)} {rng.choice(NOUNS)} {i}")
        item: dict[str, object] = {"brand": brand, "price": round(rng.uniform(5, 300), 2),
                                   "stock": {"count": rng.randrange(0, 50)},
                                   "tags": rng.sample(["sale", "new", "eco", "gift"], 2)}
        if rng.random() < 0.8:
            item["year"] = rng.randrange(2015, 2026)
        metadata.append(json.dumps(item))
    return titles, metadata


# A filter expression: cheaper than 100, in stock, and either on sale or from Contoso.
FILTER = json.dumps({
    "type": "and",
    "left": {"type": "range", "attribute": "price", "low": 0, "high": 100},
    "right": {"type": "and",
              "left": {"type": "comparison", "attribute": "stock.count", "op": ">", "value": 0},
              "right": ["or", ["in", "tags", ["sale"]],
                        ["comparison", "brand", "=", "Contoso"]]},
})


def main(count: int) -> None:
    titles, metadata = make_catalogue(count)
    embeddings = embed(titles)
    index = tarnwick.HybridSearchIndex(titles, embeddings, algorithm="bm25+")
    index.set_metadata_json(metadata)

    query = "wireles keyboard"  # a typo: the fuzzy and embedding rankings still find it
    query_embedding = embed([query])[0]
    print(f"top 3 of {len(titles)} titles for {query!r}:")
    for title, score in index.search(query, query_embedding, n=3):
        print(f"  {score:.4f}  {title}")

    mask = index.evaluate_filter_mask(FILTER)
    print(f"{sum(mask)} titles pass the filter; the best of them, newest first:")
    found = index.search_filtered_sorted(query, query_embedding, n=3, filter_json=FILTER,
                                         sort_keys=[("year", True), ("price", False)])
    for title, score in found:
        print(f"  {score:.4f}  {title}")

    with tempfile.TemporaryDirectory() as scratch:
        directory = pathlib.Path(scratch) / "catalogue"
        tarnwick.save_mmap_hybrid(directory, titles, 1.5, 0.75, False, algorithm="bm25+",
                                  embeddings=embeddings, include_positions=True)
        mapped = tarnwick.MmapHybridSearchIndex.load(directory)
        # The mapped index filters by a mask: compute it from the metadata once.
        again = mapped.search_filtered(query, query_embedding, n=3, allowed=np.array(mask))
        print("reopened from", directory.name, "->", [t for t, _ in again])
        assert again == index.search_filtered(query, query_embedding, n=3, allowed=mask)


if __name__ == "__main__":
    main(int(sys.argv[1]) if len(sys.argv) > 1 else 50_000)
