"""What tarnwick does, a few lines per capability."""
import tempfile

import tarnwick as tw

print("== Scorers: how alike two strings are, 0 to 100")
pairs = [("kitten", "sitting"), ("New York Mets", "new york mets"),
         ("fuzzy wuzzy was a bear", "wuzzy fuzzy was a bear"), ("Mr. Smith", "Smith")]
print(f"  {'s1':<26}{'s2':<26}{'ratio':>7}{'token_sort':>12}{'partial':>9}{'wratio':>8}")
for a, b in pairs:
    print(f"  {a!r:<26}{b!r:<26}{tw.fuzz_ratio(a, b):7.1f}{tw.fuzz_token_sort_ratio(a, b):12.1f}"
          f"{tw.fuzz_partial_ratio(a, b):9.1f}{tw.fuzz_wratio(a, b):8.1f}")
print("  with default_process:",
      tw.fuzz_ratio("New York Mets!", "new york mets", processor=tw.default_process))

print("\n== A metric and its edit script")
print("  levenshtein_distance('kitten', 'sitting') =", tw.levenshtein_distance("kitten", "sitting"))
for op in tw.levenshtein_editops("kitten", "sitting"):
    print("   ", op)
print("  jaro_winkler_similarity('martha', 'marhta') =",
      round(tw.jaro_winkler_similarity("martha", "marhta"), 4))

cities = ["New York", "Newark", "New Orleans", "Boston", "Los Angeles", "San Francisco",
          "San Diego", "Santa Fe", "Philadelphia", "Phoenix", "Chicago", "Houston"]
print("\n== extract: the best matches of a query in a list")
for choice, score, index in tw.extract("new yrok", cities, processor=tw.default_process, limit=3):
    print(f"  {choice:<14}{score:6.1f}  (index {index})")
print("  extract_one('sna fransisco'):",
      tw.extract_one("sna fransisco", cities, processor=tw.default_process))

print("\n== cdist: every query against every choice")
names = ["san fran", "phila", "chicgo"]
scores, n, m = tw.cdist(names, cities, scorer=tw.fuzz_wratio, processor=tw.default_process)
for i, q in enumerate(names):
    cells = scores[i * m:(i + 1) * m]
    best = max(range(m), key=cells.__getitem__)
    print(f"  {q:<10} best {cities[best]!r} ({cells[best]:.1f})")

print("\n== BKTree: drop near-duplicates (Levenshtein distance up to 1)")
tree = tw.BKTree()
print("  ", tree.dedupe(["color", "colour", "flavor", "flavour", "colr", "taste"], 1))
print("   kept in the tree:", sorted(tree.all_values()))

print("\n== BM25 search over a small corpus")
corpus = ["The quick brown fox jumps over the lazy dog", "A fox, a dog and a cat",
          "Dogs and cats living together", "Café au lait à Paris", "Πολύ καλός καφές"]
corpus_index = tw.BM25Index(corpus)
for text, score in corpus_index.get_top_n("fox dog", n=2):
    print(f"  {score:6.3f}  {text}")
print("  normalize=True matches accents away:",
      tw.BM25Index(corpus, normalize=True).get_top_n("cafe paris", n=1))

print("\n== BM25 re-ranking: fuzzy blend, rank fusion, phrase boosting, explanations")
docs = ["the quick brown fox", "a quick brown dog", "brown bread recipe", "the fox and the hound",
        "quick fox facts"]
docs_index = tw.BM25Index(docs)
print("  get_top_n('quick fox', 3):", [(t, round(s, 3)) for t, s in docs_index.get_top_n("quick fox", 3)])
print("  get_top_n_fuzzy('quikc fox', 2):",
      [(t, round(s, 3)) for t, s in docs_index.get_top_n_fuzzy("quikc fox", 2)])
print("  get_top_n_rrf('quick fox', 2):",
      [(t, round(s, 4)) for t, s in docs_index.get_top_n_rrf("quick fox", 2)])
print("  get_top_n_phrase('quick fox', 2):",
      [(t, round(s, 3)) for t, s in docs_index.get_top_n_phrase("quick fox", 2, proximity_window=1)])
print("  explain('quick fox', 4):",
      [(t, round(idf, 3), round(w, 3)) for t, idf, w, _ in docs_index.explain("quick fox", 4)])

print("\n== HybridSearchIndex: BM25, fuzzy and embedding rankings fused by rank")
hybrid = tw.HybridSearchIndex(docs, [[1.0, 0.0], [0.8, 0.6], [0.0, 1.0], [0.9, 0.1], [0.7, 0.7]])
for t, s in hybrid.search("quick fox", [1.0, 0.0], n=3):
    print(f"  {t!r:<24} {s:.4f}")
hybrid.set_metadata_json(['{"year": 2019, "tags": ["animal"]}', '{"year": 2023, "tags": ["animal"]}',
                          '{"year": 2021, "tags": ["food"]}', '{"year": 1981}', '{"year": 2024, "tags": []}'])
recent = '{"type": "range", "attribute": "year", "low": 2020, "high": 2030}'
print("  evaluate_filter_mask(year in 2020..2030):", hybrid.evaluate_filter_mask(recent))
print("  search_filtered_sorted('quick', filter, newest first):")
for t, s in hybrid.search_filtered_sorted("quick", n=3, filter_json=recent, sort_keys=[("year", True)]):
    print(f"  {t!r:<24} {s:.4f}")

print("\n== Index directories: written once, opened by memory mapping")
with tempfile.TemporaryDirectory() as directory:
    tw.save_mmap_hybrid(directory, docs, 1.5, 0.75, False, embeddings=[[1.0, 0.0], [0.8, 0.6], [0.0, 1.0],
                                                                        [0.9, 0.1], [0.7, 0.7]],
                        include_positions=True)
    mapped = tw.MmapBM25Index.load(directory)
    print("  MmapBM25Index get_top_n('quick fox', 3):",
          [(t, round(s, 3)) for t, s in mapped.get_top_n("quick fox", 3)])
    print("  get_top_n_phrase('quick fox', 2):",
          [(t, round(s, 3)) for t, s in mapped.get_top_n_phrase("quick fox", 2, proximity_window=1)])
    mapped_hybrid = tw.MmapHybridSearchIndex.load(directory)
    print("  MmapHybridSearchIndex search:",
          [(t, round(s, 4)) for t, s in mapped_hybrid.search("quick fox", [1.0, 0.0], n=3)])
    del mapped, mapped_hybrid  # the mappings end with the instances

print("\n== Score utilities")
ranking = [("doc a", 7.2), ("doc b", 3.1), ("doc c", 0.0), ("doc d", 5.0)]
print("  normalize_bayes:", [(t, round(s, 3)) for t, s in tw.normalize_bayes(ranking)])
query_rows = [[1.0, 0.0], [0.6, 0.8]]
corpus_rows = [[1.0, 0.0], [0.0, 1.0], [0.8, 0.6]]
flat, nq, nc = tw.cosine_similarity_matrix(query_rows, corpus_rows)
for i in range(nq):
    print(f"  cosine_similarity_matrix row {i}:", [round(x, 3) for x in flat[i * nc:(i + 1) * nc]])

print("\n== MultiJoiner: join named arrays by text, sparse and dense vectors")
joiner = tw.MultiJoiner()
joiner.add_array("shop", texts=["red apple pie", "banana bread", "cherry tart"],
                 dense=[[1.0, 0.0], [0.0, 1.0], [0.6, 0.8]])
joiner.add_array("menu", texts=["apple pie (red)", "tart with cherries", "bread of banana"],
                 dense=[[0.9, 0.1], [0.5, 0.9], [0.1, 1.0]])
for joined in joiner.join_pair("shop", "menu"):
    print(f"  {joined['src_text']!r:<16} -> {joined['tgt_text']!r:<22} score {joined['score']:.4f}"
          f"  (text {joined['text_score']:.3f}, dense {joined['dense_score']:.3f})")
