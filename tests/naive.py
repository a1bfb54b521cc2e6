"""Independent reference computations for the tests: plain dynamic programs."""


def lcs_length(a, b):
    """Length of the longest common subsequence, by the textbook table."""
    prev = [0] * (len(b) + 1)
    for x in a:
        cur = [0]
        for j, y in enumerate(b):
            cur.append(prev[j] + 1 if x == y else max(prev[j + 1], cur[j]))
        prev = cur
    return prev[-1]


def indel_distance(a, b):
    return len(a) + len(b) - 2 * lcs_length(a, b)


def ratio(a, b):
    """Normalized Indel similarity on 0..100, with the same float operations."""
    lensum = len(a) + len(b)
    if lensum == 0:
        return 100.0
    return 100.0 * (1.0 - indel_distance(a, b) / lensum)
