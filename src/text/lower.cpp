#include "text/lower.hpp"

#include <unicode/ucasemap.h>

#include <cstdint>
#include <new>
#include <stdexcept>

namespace tarnwick::text {
namespace {

/// The root-locale case map, shared read-only by every thread.
const UCaseMap* root_case_map() {
    static const UCaseMap* map = [] {
        UErrorCode err = U_ZERO_ERROR;
        UCaseMap* m = ucasemap_open("", 0, &err);
        if (U_FAILURE(err)) throw std::bad_alloc();
        return m;
    }();
    return map;
}

}  // namespace

void lower(std::string_view fragment, std::string& out) {
    // The case map takes 32-bit lengths; a longer word is refused rather than cut short.
    if (fragment.size() > INT32_MAX / 3 - 8) throw std::length_error("a word of 700 MB or more cannot be lowercased");
    // Lowercasing grows a text by at most three times (the longest full lowercase mapping
    // of one character is three UTF-8 bytes longer per input byte at most); retry once on
    // overflow anyway.
    out.resize(fragment.size() * 3 + 8);
    UErrorCode err = U_ZERO_ERROR;
    int32_t len = ucasemap_utf8ToLower(root_case_map(), out.data(), static_cast<int32_t>(out.size()),
                                       fragment.data(), static_cast<int32_t>(fragment.size()), &err);
    if (err == U_BUFFER_OVERFLOW_ERROR) {
        out.resize(static_cast<std::size_t>(len));
        err = U_ZERO_ERROR;
        len = ucasemap_utf8ToLower(root_case_map(), out.data(), static_cast<int32_t>(out.size()),
                                   fragment.data(), static_cast<int32_t>(fragment.size()), &err);
    }
    if (U_FAILURE(err)) throw std::bad_alloc();
    out.resize(static_cast<std::size_t>(len));
}

}  // namespace tarnwick::text
