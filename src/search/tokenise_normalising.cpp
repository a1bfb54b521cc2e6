// Placeholder until the normalising segmentation lands: the word-splitting terms.
#include "search/tokenise_normalising.hpp"

#include "search/tokenise.hpp"

namespace tarnwick::search {

void tokenise_normalising(std::string_view text, std::vector<std::string>& out) {
    for_each_word(text, [&](std::string_view term) { out.emplace_back(term); });
}

}  // namespace tarnwick::search
