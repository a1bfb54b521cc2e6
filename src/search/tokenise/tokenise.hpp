// The search tokeniser: where text becomes the terms that every BM25 structure indexes and
// queries, and the terms the join compares.
//
// Word-splitting mode (`normalize` false) cuts the text into maximal runs of word
// characters and lowercases each run as a whole with the full Unicode lowercase mapping of
// the root locale (multi-character mappings expand; a capital sigma ending a word inside the
// run becomes final sigma). Word characters are the ASCII letters and digits and, from
// U+00AA on, the characters that are Alphabetic or whose general category is Nd, Nl or No;
// everything else separates and belongs to no term. Nothing else is normalised.
//
// Normalising mode (`normalize` true) is the library's own multilingual segmentation and
// normalisation (tokenise_normalising.hpp).
//
// Both modes keep the order of the terms in the text and every repetition; a term's
// position is its index in the list. They are reentrant and call no interpreter function.
#pragma once

#include "text/lower.hpp"
#include "text/utf8.hpp"

#include <string>
#include <string_view>
#include <vector>

namespace tarnwick::search {

/// The terms of `text` (UTF-8), in order, repetitions kept.
std::vector<std::string> tokenise(std::string_view text, bool normalize);

/// The word-splitting mode alone: what tokenise(text, false) returns.
std::vector<std::string> split_words(std::string_view text);

/// Calls f(term) for every term of the word-splitting mode, in order. `term` views a buffer
/// reused between calls (valid only during the call), so no term is allocated.
template <class F>
void for_each_word(std::string_view text, F&& f);

/// Calls f(term) for every term of tokenise(text, normalize), in order, as a string_view
/// valid only during the call (the word-splitting mode allocates no term).
template <class F>
void for_each_term(std::string_view text, bool normalize, F&& f) {
    if (normalize) {
        for (const std::string& t : tokenise(text, true)) f(std::string_view(t));
    } else {
        for_each_word(text, f);
    }
}

namespace detail {

/// Whether a character at or above U+0080 is a word character.
bool is_word_char_wide(char32_t c) noexcept;

inline bool is_ascii_word(unsigned char c) noexcept {
    return (c >= '0' && c <= '9') || ((c | 0x20) >= 'a' && (c | 0x20) <= 'z');
}

}  // namespace detail

template <class F>
void for_each_word(std::string_view text, F&& f) {
    std::string buf;
    const std::size_t n = text.size();
    std::size_t i = 0;
    while (i < n) {
        // Skip separators up to the start of the next fragment.
        std::size_t start = i;
        bool found = false;
        while (i < n) {
            const auto c = static_cast<unsigned char>(text[i]);
            if (c < 0x80) {
                if (detail::is_ascii_word(c)) {
                    found = true;
                    break;
                }
                ++i;
                continue;
            }
            std::size_t j = i;
            if (detail::is_word_char_wide(text::decode_next(text, j))) {
                found = true;
                break;
            }
            i = j;
        }
        if (!found) return;
        start = i;
        // The fragment: word characters up to the next separator.
        bool ascii = true;
        while (i < n) {
            const auto c = static_cast<unsigned char>(text[i]);
            if (c < 0x80) {
                if (!detail::is_ascii_word(c)) break;
                ++i;
                continue;
            }
            std::size_t j = i;
            if (!detail::is_word_char_wide(text::decode_next(text, j))) break;
            ascii = false;
            i = j;
        }
        const std::string_view fragment = text.substr(start, i - start);
        if (ascii) {
            buf.resize(fragment.size());
            for (std::size_t k = 0; k < fragment.size(); ++k) {
                const auto c = static_cast<unsigned char>(fragment[k]);
                buf[k] = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
            }
        } else {
            text::lower(fragment, buf);
        }
        f(std::string_view(buf));
    }
}

}  // namespace tarnwick::search
