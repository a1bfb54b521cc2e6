"""Index directories under a hostile file system: files rewritten in place under a loaded
index, files that are not regular (FIFOs, devices), a meta.json larger than any index
needs, an empty path, and Ctrl-C while a directory is being written."""
import os
import struct
import textwrap

import pytest

from _tarnwick import MmapBM25Index, MmapHybridSearchIndex, save_mmap_bm25, save_mmap_hybrid

import test_robustness as robustness

CORPUS = ["alpha beta", "beta gamma beta", "gamma delta", "alpha alpha delta", "beta"]


def write(path, hybrid=False):
    if hybrid:
        save_mmap_hybrid(str(path), CORPUS, 1.5, 0.75, False, embeddings=[[1.0, 0.5]] * len(CORPUS),
                         include_positions=True)
    else:
        save_mmap_bm25(str(path), CORPUS, 1.5, 0.75, False, include_positions=True)
    return str(path)


def overwrite(path, name, change):
    """Rewrites the file in place, same length: the loaded index's mapping stays valid."""
    f = os.path.join(path, name)
    with open(f, "r+b") as fh:
        data = bytearray(fh.read())
        change(data)
        fh.seek(0)
        fh.write(bytes(data))


def set_fields(field):
    """A change that sets one field (0 document, 2 position count) of every record."""
    def change(data):
        for at in range(0, len(data) - 11, 12):
            values = list(struct.unpack_from("<IfI", data, at))
            values[field] = 0xFFFFFFFF
            struct.pack_into("<IfI", data, at, *values)
    return change


class TestRewrittenAfterLoad:
    """Each term's records are checked once, but every document number and position count
    is bounded again when a query uses it: a file rewritten after that check raises the
    check's ValueError instead of writing past the score list (a crash before)."""

    QUERIES = {
        "get_scores": lambda i: i.get_scores("beta"),
        "get_top_n": lambda i: i.get_top_n("beta alpha", 3),
        "get_top_n_filtered": lambda i: i.get_top_n_filtered("beta", 3, [True, False]),
        "get_batch_scores": lambda i: i.get_batch_scores(["gamma", "beta"]),
        "get_top_n_rrf": lambda i: i.get_top_n_rrf("beta"),
        "get_top_n_fuzzy": lambda i: i.get_top_n_fuzzy("beta"),
        "get_top_n_phrase": lambda i: i.get_top_n_phrase("alpha beta"),
    }

    @pytest.mark.parametrize("query", sorted(QUERIES))
    def test_document_numbers(self, tmp_path, query):
        path = write(tmp_path)
        idx = MmapBM25Index.load(path)
        before = self.QUERIES[query](idx)  # the records are checked here
        overwrite(path, "postings.bin", lambda data: data.__setitem__(slice(None), b"\xff" * len(data)))
        with pytest.raises(ValueError, match=r"^postings\.bin: term '(beta|alpha|gamma)' has a record of "
                                             r"document 4294967295 but the index holds 5 documents$"):
            self.QUERIES[query](idx)

    def test_restored_bytes_answer_again(self, tmp_path):
        path = write(tmp_path)
        idx = MmapBM25Index.load(path)
        before = idx.get_scores("beta gamma")
        with open(os.path.join(path, "postings.bin"), "rb") as f:
            original = f.read()
        overwrite(path, "postings.bin", set_fields(0))
        with pytest.raises(ValueError, match="has a record of document 4294967295"):
            idx.get_scores("beta gamma")
        overwrite(path, "postings.bin", lambda data: data.__setitem__(slice(None), original))
        # A failed check is not remembered: the original bytes answer as before.
        assert idx.get_scores("beta gamma") == before

    def test_position_counts(self, tmp_path):
        path = write(tmp_path)
        idx = MmapBM25Index.load(path)
        idx.get_top_n_phrase("alpha beta")
        overwrite(path, "postings.bin", set_fields(2))
        with pytest.raises(ValueError, match=r"^positions\.bin: the records of term '(alpha|beta)' count"):
            idx.get_top_n_phrase("alpha beta")

    def test_lookups_stay_inside_the_records(self, tmp_path):
        # explain and document vectors search a term's records by document: over garbage
        # they find nothing or a record, never a byte outside the term's records.
        path = write(tmp_path)
        idx = MmapBM25Index.load(path)
        idx.get_scores("alpha beta gamma delta")
        overwrite(path, "postings.bin", lambda data: data.__setitem__(slice(None), b"\xff" * len(data)))
        assert [t for t, idf, w, s in idx.explain("beta", 1)] == ["beta"]
        assert not idx.get_document_vector(0)

    def test_hybrid(self, tmp_path):
        path = write(tmp_path, hybrid=True)
        idx = MmapHybridSearchIndex.load(path)
        idx.search("beta", [1.0, 0.5])
        overwrite(path, "postings.bin", set_fields(0))
        with pytest.raises(ValueError, match="has a record of document 4294967295"):
            idx.search("beta", [1.0, 0.5])


class TestPrunedScanRewritten:
    """Top-1 of common terms over thousands of documents reads the records in place
    document at a time, skipping blocks by their bounds (and, from 10,000 documents, in
    parts on the pool): a rewrite after the check raises the check's error, and records out
    of order or with odd weights give some answer, never a crash or a hang."""

    QUERY = "alpha beta gamma"

    @staticmethod
    def big(tmp_path, n):
        # "alpha" everywhere, "beta" in every second document, "gamma" in every fiftieth:
        # the scan follows gamma's list and looks the other two up.
        corpus = [" ".join(["alpha"] + ["beta"] * (i % 2 == 0) + ["gamma"] * (i % 50 == 0) + [f"w{i % 97}"])
                  for i in range(n)]
        save_mmap_bm25(str(tmp_path), corpus, 1.5, 0.75, False)
        idx = MmapBM25Index.load(str(tmp_path))
        first = idx.get_top_n(TestPrunedScanRewritten.QUERY, 1)  # the records are checked here
        assert first and first[0][0].startswith("alpha beta gamma")
        return str(tmp_path), idx, corpus

    @pytest.mark.parametrize("n", [3000, 20000])
    def test_document_numbers(self, tmp_path, n):
        path, idx, _ = self.big(tmp_path, n)
        overwrite(path, "postings.bin", lambda data: data.__setitem__(slice(None), b"\xff" * len(data)))
        with pytest.raises(ValueError, match=rf"^postings\.bin: term '(alpha|beta|gamma)' has a record of "
                                             rf"document 4294967295 but the index holds {n} documents$"):
            idx.get_top_n(self.QUERY, 1)

    def test_document_numbers_past_the_first_block(self, tmp_path):
        # The scan meets them after entering, skipping or seeking into later blocks.
        path, idx, _ = self.big(tmp_path, 3000)

        def change(data):
            for at in range(12 * 200, len(data) - 11, 12):
                struct.pack_into("<I", data, at, 3000 + at)
        overwrite(path, "postings.bin", change)
        with pytest.raises(ValueError, match=r"has a record of document \d+ but the index holds 3000 documents$"):
            idx.get_top_n(self.QUERY, 1)

    @pytest.mark.parametrize("n", [3000, 20000])
    def test_records_out_of_order_and_odd_weights(self, tmp_path, n):
        path, idx, corpus = self.big(tmp_path, n)

        def change(data):
            count = len(data) // 12
            for k, at in enumerate(range(0, len(data) - 11, 12)):
                doc = (count - k) * 7919 % n  # in range, in no order
                weight = [float("nan"), -1.0, float("inf"), 1e30][k % 4]
                struct.pack_into("<If", data, at, doc, weight)
        overwrite(path, "postings.bin", change)
        texts = set(corpus)
        for top in (1, 3, 10, 100):
            assert all(t in texts for t, _ in idx.get_top_n(self.QUERY, top))


class TestFilesThatAreNotRegular:
    def test_fifos_refused_without_waiting(self, tmp_path):
        # A FIFO blocked load in open() (with the interpreter lock held) until a writer
        # came: run in a child, which a hang would leave behind the timeout.
        script = f"""
            import os, _tarnwick as m
            for name, hybrid in [("meta.json", 0), ("postings.bin", 0), ("emb_dim.txt", 1)]:
                path = os.path.join({str(tmp_path)!r}, name)
                if hybrid:
                    m.save_mmap_hybrid(path, ["a b"], 1.5, 0.75, False, embeddings=[[1.0]])
                else:
                    m.save_mmap_bm25(path, ["a b"], 1.5, 0.75, False)
                os.remove(os.path.join(path, name))
                os.mkfifo(os.path.join(path, name))
                try:
                    (m.MmapHybridSearchIndex if hybrid else m.MmapBM25Index).load(path)
                except OSError as e:
                    print(type(e).__name__, e)
        """
        out = robustness.run_script(script, timeout=60)
        assert out.stdout.splitlines() == [
            "OSError meta.json: a FIFO, not a regular file",
            "OSError postings.bin: a FIFO, not a regular file",
            "OSError emb_dim.txt: a FIFO, not a regular file"], out.stderr

    def test_devices_directories_and_links(self, tmp_path):
        path = write(tmp_path, hybrid=True)
        dim = os.path.join(path, "emb_dim.txt")
        os.rename(dim, dim + ".real")
        os.symlink("/dev/zero", dim)
        with pytest.raises(OSError, match=r"^emb_dim\.txt: a character device, not a regular file$"):
            MmapHybridSearchIndex.load(path)
        # A link to a regular file is that file.
        os.remove(dim)
        os.symlink(dim + ".real", dim)
        assert MmapHybridSearchIndex.load(path).num_docs == len(CORPUS)
        os.rename(os.path.join(path, "postings.bin"), os.path.join(path, "p"))
        os.mkdir(os.path.join(path, "postings.bin"))
        with pytest.raises(OSError, match=r"^Is a directory \(os error 21\)$"):
            MmapBM25Index.load(path)

    def test_meta_json_beyond_the_parser_limit(self, tmp_path):
        # A sparse file of 4 GiB: refused from its size, nothing of it read (before, it was
        # read whole into memory and then refused by the parser).
        path = write(tmp_path)
        with open(os.path.join(path, "meta.json"), "r+b") as f:
            f.truncate(2**32)
        with pytest.raises(OSError, match=r"^meta\.json: 4294967296 bytes, larger than the "
                                          r"4294967295 bytes allowed$"):
            MmapBM25Index.load(path)

    def test_huge_dimension_file(self, tmp_path):
        # A sparse 8 GiB "emb_dim.txt" was read whole; a few digits are all it can hold.
        path = write(tmp_path, hybrid=True)
        with open(os.path.join(path, "emb_dim.txt"), "r+b") as f:
            f.truncate(2**33)
        with pytest.raises(OSError, match=r"^emb_dim\.txt: 8589934592 bytes, larger than the "
                                          r"4096 bytes allowed$"):
            MmapHybridSearchIndex.load(path)


def test_empty_path_is_refused():
    # Joined with the file names, "" named the root: save_mmap_bm25("") wrote /meta.json.
    before = os.path.lexists("/meta.json")
    for save in (save_mmap_bm25, save_mmap_hybrid):
        with pytest.raises(ValueError, match="^path must not be empty$"):
            save("", ["a b"], 1.5, 0.75, False)
    assert os.path.lexists("/meta.json") == before
    # The loaders read "/meta.json" for "": refused alike.
    for cls in (MmapBM25Index, MmapHybridSearchIndex):
        with pytest.raises(ValueError, match="^path must not be empty$"):
            cls.load("")


class TestInterruptedWriter:
    """SIGINT while save_mmap_bm25/save_mmap_hybrid reads the corpus or writes the files:
    KeyboardInterrupt from the running call, the old directory as it was, no temporary
    file left, and the next save works."""

    SCRIPT = """
        import os, random
        import _tarnwick as m
        path = {path!r}
        rng = random.Random(3)
        vocab = ["w%d" % i for i in range(30000)]
        docs = [" ".join(rng.choice(vocab) for _ in range(60)) for _ in range(1000)]
        corpus = docs * 400
        m.save_mmap_bm25(path, ["old text"], 1.5, 0.75, False)
        before = {{n: open(os.path.join(path, n), "rb").read() for n in os.listdir(path)}}
        def items():
            yield from corpus
            if {at_write}:
                print("started", flush=True)
        if not {at_write}:
            print("started", flush=True)
        try:
            m.{save}(path, items(), 1.5, 0.75, False, include_positions=True{extra})
            print("returned", flush=True)
        except KeyboardInterrupt:
            print("interrupted", flush=True)
        print({{n: open(os.path.join(path, n), "rb").read() for n in os.listdir(path)}} == before)
        m.{save}(path, ["new text"], 1.5, 0.75, False)
        print(m.MmapBM25Index.load(path).get_top_n("new", 1)[0][0] == "new text")
    """

    @pytest.mark.parametrize("save,extra", [("save_mmap_bm25", ""),
                                            ("save_mmap_hybrid", ", embeddings=[[0.5] * 8] * len(corpus)")])
    @pytest.mark.parametrize("at_write", [False, True])
    def test_old_directory_untouched(self, tmp_path, save, extra, at_write):
        script = textwrap.dedent(self.SCRIPT.format(path=str(tmp_path), save=save, extra=extra,
                                                    at_write=at_write))
        assert robustness.interrupt(script) == ["interrupted", "True", "True"]
        assert sorted(os.listdir(tmp_path)) == ["meta.json", "positions.bin", "postings.bin"]
