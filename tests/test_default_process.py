"""default_process: worked examples and models of its character classes in plain Python."""
import pytest
from _tarnwick import default_process, fuzz_ratio

from naive import ratio


class TestDefaultProcess:
    @pytest.mark.parametrize("given,expected", [
        (None, ""),
        ("!!! ,,, ???", ""),
        ("Hello, World!", "hello  world"),
        (b"\xc9t\xc9", "\u00e9t\u00e9"),
        ("\u0663\u00b2x", "\u0663\u00b2x"),
        ("a_b\u00b7c", "a b c"),
        ("\u0130", "i\u0307"),
        ("\u039f\u0394\u039f\u03a3 \u03a3\u0391", "\u03bf\u03b4\u03bf\u03c2 \u03c3\u03b1"),
        ("  Mixed\tCASE\u00a0text  ", "mixed case text"),
        ("\u2167 \u00bd", "\u2177 \u00bd"),
    ])
    def test_examples(self, given, expected):
        assert default_process(given) == expected

    def test_processor_is_ignored(self):
        assert default_process("A", processor=5) == "a"
        assert default_process(s="B") == "b"

    def test_ascii_model(self, rng):
        for _ in range(300):
            s = "".join(chr(rng.randrange(128)) for _ in range(rng.randint(0, 40)))
            expected = "".join(c.lower() if c.isascii() and c.isalnum() else " " for c in s).strip(" ")
            assert default_process(s) == expected

    def test_letters_of_cased_scripts_against_python_model(self, rng):
        # Latin, Greek (final sigma included) and Cyrillic letters, digits and punctuation.
        pool = ("abcXYZÉßİΣσΑΒАЖж"
                "019 ,.-_! ")
        for _ in range(300):
            s = "".join(rng.choice(pool) for _ in range(rng.randint(0, 30)))
            mapped = "".join(c if c.isalpha() or c.isdigit() else " " for c in s)
            assert default_process(s) == mapped.lower().strip(" "), s

    def test_type_errors(self):
        with pytest.raises(TypeError, match=r"^'int' object cannot be converted to 'PyString'$"):
            default_process(1)
        with pytest.raises(TypeError):
            default_process(bytearray(b"x"))
        with pytest.raises(UnicodeEncodeError):
            default_process("\ud800")

    def test_as_processor(self):
        assert fuzz_ratio("Hello, World!", "hello world", processor=default_process) == pytest.approx(
            ratio("hello  world", "hello world"))
