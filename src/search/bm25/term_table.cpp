#include "search/bm25/term_table.hpp"

#include <cstring>
#include <stdexcept>
#include <utility>

namespace tarnwick::search {

std::string_view TermTable::store(std::string_view term) {
    if (term.size() > kChunkBytes) {
        chunks_.push_back(std::make_unique<char[]>(term.size()));
        std::memcpy(chunks_.back().get(), term.data(), term.size());
        return {chunks_.back().get(), term.size()};
    }
    if (chunk_used_ + term.size() > kChunkBytes) {
        chunks_.push_back(std::make_unique<char[]>(kChunkBytes));
        chunk_used_ = 0;
    }
    char* dst = chunks_.back().get() + chunk_used_;
    if (!term.empty()) std::memcpy(dst, term.data(), term.size());
    chunk_used_ += term.size();
    return {dst, term.size()};
}

uint32_t TermTable::intern(std::string_view term) {
    const auto it = ids_.find(term);
    if (it != ids_.end()) return *it;
    if (terms_->size() >= UINT32_MAX - 1) throw std::length_error("corpus has too many terms");
    const auto id = static_cast<uint32_t>(terms_->size());
    // The text goes in first: the set hashes an id through it.
    terms_->push_back(store(term));
    try {
        ids_.insert(id);
    } catch (...) {
        terms_->pop_back();
        throw;
    }
    return id;
}

std::size_t TermTable::memory_bytes() const noexcept {
    return terms_->capacity() * sizeof(std::string_view) + chunks_.size() * kChunkBytes +
           text_id_set_bytes(ids_);
}

}  // namespace tarnwick::search
