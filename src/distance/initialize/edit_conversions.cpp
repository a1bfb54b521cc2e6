// Conversions between edit-operation forms, and the record hash.
#include "distance/initialize/edit_records.hpp"

#include <algorithm>
#include <cstring>
#include <new>

namespace tarnwick::distance::initialize {
namespace {

const std::string kReplace = "replace";
const std::string kInsert = "insert";
const std::string kDelete = "delete";
const std::string kEqual = "equal";

/// Length of the half-open range [start, end); a backward range counts as empty.
inline uint64_t span_len(uint64_t start, uint64_t end) noexcept {
    return end > start ? end - start : 0;
}

/// Makes room for `extra` more records, throwing std::bad_alloc when the total cannot be
/// represented (growth stays geometric, so repeated calls cost amortised linear time).
template <class V>
void reserve_more(V& v, uint64_t extra) {
    if (extra > v.max_size() - v.size()) throw std::bad_alloc();
    const std::size_t need = v.size() + static_cast<std::size_t>(extra);
    if (need > v.capacity()) v.reserve(std::max(need, std::min(v.max_size(), 2 * v.capacity())));
}

}  // namespace

const std::string& tag_text(algorithms::EditType t) {
    switch (t) {
        case algorithms::EditType::Insert: return kInsert;
        case algorithms::EditType::Delete: return kDelete;
        default: return kReplace;
    }
}

std::vector<Editop> editops_from_trace(const std::vector<algorithms::EditOp>& trace) {
    std::vector<Editop> out;
    out.reserve(trace.size());
    for (const algorithms::EditOp& op : trace)
        out.push_back(Editop{tag_text(op.type), op.src_pos, op.dest_pos});
    return out;
}

void push_opcode(std::vector<Opcode>& list, const Opcode& op) {
    if (!list.empty() && list.back().tag == op.tag) {
        list.back().src_end = op.src_end;
        list.back().dest_end = op.dest_end;
        return;
    }
    list.push_back(op);
}

// Each run starts at its first operation's own positions, so every pass of the outer
// loop consumes at least one operation, whatever the order of the input. For input in
// application order this is the position already reached, or one beyond it after a gap.
std::vector<Opcode> editops_to_opcodes(std::span<const Editop> ops, uint64_t src_len,
                                       uint64_t dest_len) {
    std::vector<Opcode> out;
    uint64_t s = 0;
    uint64_t d = 0;
    std::size_t i = 0;
    while (i < ops.size()) {
        const Editop& op = ops[i];
        if (op.src_pos > s || op.dest_pos > d)
            out.push_back(Opcode{kEqual, s, op.src_pos, d, op.dest_pos});
        const uint64_t rs = op.src_pos;
        const uint64_t rd = op.dest_pos;
        s = rs;
        d = rd;
        const std::string& t = op.tag;
        const bool rep = t == kReplace, del = t == kDelete, ins = t == kInsert;
        while (i < ops.size() && ops[i].tag == t && ops[i].src_pos == s && ops[i].dest_pos == d) {
            ++i;
            if (rep || del) ++s;
            if (rep || ins) ++d;
        }
        if (!out.empty() && out.back().tag == t && out.back().src_end == rs &&
            out.back().dest_end == rd) {
            out.back().src_end = s;
            out.back().dest_end = d;
        } else {
            out.push_back(Opcode{t, rs, s, rd, d});
        }
    }
    if (s < src_len || d < dest_len) out.push_back(Opcode{kEqual, s, src_len, d, dest_len});
    return out;
}

void expand_opcode(const Opcode& op, std::vector<Editop>& out) {
    if (op.tag == kReplace) {
        const uint64_t n = span_len(op.src_start, op.src_end);
        reserve_more(out, n);
        for (uint64_t i = 0; i < n; ++i)
            out.push_back(Editop{kReplace, op.src_start + i, op.dest_start + i});
    } else if (op.tag == kDelete) {
        const uint64_t n = span_len(op.src_start, op.src_end);
        reserve_more(out, n);
        for (uint64_t p = op.src_start; p < op.src_end; ++p)
            out.push_back(Editop{kDelete, p, op.dest_start});
    } else if (op.tag == kInsert) {
        const uint64_t n = span_len(op.dest_start, op.dest_end);
        reserve_more(out, n);
        for (uint64_t q = op.dest_start; q < op.dest_end; ++q)
            out.push_back(Editop{kInsert, op.src_start, q});
    }
}

std::vector<Editop> opcodes_to_editops(std::span<const Opcode> ops) {
    std::vector<Editop> out;
    for (const Opcode& op : ops) expand_opcode(op, out);
    return out;
}

std::vector<Opcode> normalize_opcodes(std::span<const Opcode> ops, uint64_t src_len,
                                      uint64_t dest_len) {
    std::vector<Opcode> out;
    uint64_t sp = 0;
    uint64_t dp = 0;
    for (const Opcode& op : ops) {
        if (op.src_start > sp || op.dest_start > dp) {
            const uint64_t g = std::min(op.src_start - sp, op.dest_start - dp);
            if (g > 0) {
                if (!out.empty() && out.back().tag == kEqual) {
                    out.back().src_end = sp + g;
                    out.back().dest_end = dp + g;
                } else {
                    out.push_back(Opcode{kEqual, sp, sp + g, dp, dp + g});
                }
            }
        }
        push_opcode(out, op);
        sp = op.src_end;
        dp = op.dest_end;
    }
    if (src_len > sp || dest_len > dp) {
        const uint64_t g = std::min(src_len - sp, dest_len - dp);
        if (g > 0) push_opcode(out, Opcode{kEqual, sp, sp + g, dp, dp + g});
    }
    return out;
}

std::vector<MatchingBlock> editops_matching_blocks(const Editops& e) {
    std::vector<MatchingBlock> out;
    uint64_t s = 0;
    uint64_t d = 0;
    for (const Editop& op : e.ops) {
        const uint64_t p = op.src_pos;
        const uint64_t q = op.dest_pos;
        if (p > s && q > d) out.push_back(MatchingBlock{s, d, std::min(p - s, q - d)});
        if (op.tag == kReplace) {
            s = p + 1;
            d = q + 1;
        } else if (op.tag == kDelete) {
            s = p + 1;
            d = q;
        } else if (op.tag == kInsert) {
            s = p;
            d = q + 1;
        }
    }
    if (e.src_len > s && e.dest_len > d)
        out.push_back(MatchingBlock{s, d, std::min(e.src_len - s, e.dest_len - d)});
    out.push_back(MatchingBlock{e.src_len, e.dest_len, 0});
    return out;
}

std::vector<MatchingBlock> opcodes_matching_blocks(const Opcodes& o) {
    std::vector<MatchingBlock> out;
    for (const Opcode& op : o.ops) {
        if (op.tag != kEqual) continue;
        const uint64_t n = std::min(span_len(op.src_start, op.src_end),
                                    span_len(op.dest_start, op.dest_end));
        if (n > 0) out.push_back(MatchingBlock{op.src_start, op.dest_start, n});
    }
    out.push_back(MatchingBlock{o.src_len, o.dest_len, 0});
    return out;
}

namespace {
/// "insert" and "delete" swapped, every other tag kept.
const std::string& inverse_tag(const std::string& t) {
    if (t == kInsert) return kDelete;
    if (t == kDelete) return kInsert;
    return t;
}
}  // namespace

Editops inverse(const Editops& e) {
    Editops r;
    r.ops.reserve(e.ops.size());
    for (const Editop& op : e.ops) r.ops.push_back(Editop{inverse_tag(op.tag), op.dest_pos, op.src_pos});
    r.src_len = e.dest_len;
    r.dest_len = e.src_len;
    return r;
}

Opcodes inverse(const Opcodes& o) {
    Opcodes r;
    r.ops.reserve(o.ops.size());
    for (const Opcode& op : o.ops)
        r.ops.push_back(Opcode{inverse_tag(op.tag), op.dest_start, op.dest_end, op.src_start, op.src_end});
    r.src_len = o.dest_len;
    r.dest_len = o.src_len;
    return r;
}

Editops remove_subsequence(const Editops& e, const Editops& other) {
    std::vector<bool> removed(e.ops.size(), false);
    for (const Editop& x : other.ops) {
        for (std::size_t i = 0; i < e.ops.size(); ++i) {
            if (!removed[i] && e.ops[i] == x) {
                removed[i] = true;
                break;
            }
        }
    }
    Editops r;
    r.src_len = e.src_len;
    r.dest_len = e.dest_len;
    for (std::size_t i = 0; i < e.ops.size(); ++i)
        if (!removed[i]) r.ops.push_back(e.ops[i]);
    return r;
}

namespace {

/// SipHash with 1 compression round per block and 3 finalisation rounds, keys zero,
/// fed incrementally.
class SipHash13 {
public:
    void write(const uint8_t* p, std::size_t n) noexcept {
        for (std::size_t i = 0; i < n; ++i) {
            tail_ |= static_cast<uint64_t>(p[i]) << (8 * ntail_);
            if (++ntail_ == 8) {
                compress(tail_);
                tail_ = 0;
                ntail_ = 0;
            }
        }
        len_ += n;
    }
    uint64_t finish() noexcept {
        const uint64_t b = (static_cast<uint64_t>(len_ & 0xff) << 56) | tail_;
        compress(b);
        v2_ ^= 0xff;
        round();
        round();
        round();
        return v0_ ^ v1_ ^ v2_ ^ v3_;
    }

private:
    static uint64_t rotl(uint64_t x, int b) noexcept { return (x << b) | (x >> (64 - b)); }
    void round() noexcept {
        v0_ += v1_; v1_ = rotl(v1_, 13); v1_ ^= v0_; v0_ = rotl(v0_, 32);
        v2_ += v3_; v3_ = rotl(v3_, 16); v3_ ^= v2_;
        v0_ += v3_; v3_ = rotl(v3_, 21); v3_ ^= v0_;
        v2_ += v1_; v1_ = rotl(v1_, 17); v1_ ^= v2_; v2_ = rotl(v2_, 32);
    }
    void compress(uint64_t m) noexcept {
        v3_ ^= m;
        round();
        v0_ ^= m;
    }
    uint64_t v0_ = 0x736f6d6570736575ULL;
    uint64_t v1_ = 0x646f72616e646f6dULL;
    uint64_t v2_ = 0x6c7967656e657261ULL;
    uint64_t v3_ = 0x7465646279746573ULL;
    uint64_t tail_ = 0;
    std::size_t ntail_ = 0;
    std::size_t len_ = 0;
};

}  // namespace

int64_t record_hash(const std::string& tag, std::span<const uint64_t> fields) {
    SipHash13 h;
    h.write(reinterpret_cast<const uint8_t*>(tag.data()), tag.size());
    const uint8_t sep = 0xff;
    h.write(&sep, 1);
    for (const uint64_t f : fields) {
        uint8_t le[8];
        for (int k = 0; k < 8; ++k) le[k] = static_cast<uint8_t>(f >> (8 * k));
        h.write(le, 8);
    }
    const int64_t v = static_cast<int64_t>(h.finish());
    return v == -1 ? -2 : v;
}

}  // namespace tarnwick::distance::initialize
