"""Entity id normalisation checked against an independent reference.

The reference below is written from the rules alone with Python's
`unicodedata`: compatibility decomposition, removal of a fixed list of 170
format characters, full lower-casing of the whole string, splitting at
White_Space, and ten Greek letters spelled out. The store computes the same
thing with ICU, so the two meet only in the Unicode data.

Python 3.11 ships Unicode 14 while the store's ICU may be newer (ICU 72 is
Unicode 15). Code points whose data differs between the two versions are left
out of the comparison and listed in VERSION_DIFFERENCES.
"""

import random
import unicodedata

import pytest

import zorlet_native

NativeStore = zorlet_native.NativeStore

pytestmark = pytest.mark.skipif(
    not hasattr(NativeStore, "resolve_readonly"),
    reason="NativeStore.resolve_readonly is not available in this build",
)

# The removed format characters: the fixed list, not whatever a Unicode
# version calls Cf.
FORMAT_RANGES = [
    (0x00AD, 0x00AD), (0x0600, 0x0605), (0x061C, 0x061C), (0x06DD, 0x06DD),
    (0x070F, 0x070F), (0x0890, 0x0891), (0x08E2, 0x08E2), (0x180E, 0x180E),
    (0x200B, 0x200F), (0x202A, 0x202E), (0x2060, 0x2064), (0x2066, 0x206F),
    (0xFEFF, 0xFEFF), (0xFFF9, 0xFFFB), (0x110BD, 0x110BD), (0x110CD, 0x110CD),
    (0x13430, 0x1343F), (0x1BCA0, 0x1BCA3), (0x1D173, 0x1D17A), (0xE0001, 0xE0001),
    (0xE0020, 0xE007F),
]
FORMAT = frozenset(c for lo, hi in FORMAT_RANGES for c in range(lo, hi + 1))

# The White_Space property (PropList.txt; unchanged since Unicode 6). Python's
# str.isspace is a different set: it includes U+001C..U+001F.
WHITE_SPACE = frozenset(
    [0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x20, 0x85, 0xA0, 0x1680, 0x2028, 0x2029,
     0x202F, 0x205F, 0x3000, *range(0x2000, 0x200B)]
)

GREEK = [
    ("\u03b1", "alpha"), ("\u03b2", "beta"), ("\u03b3", "gamma"), ("\u03b4", "delta"),
    ("\u03b5", "epsilon"), ("\u03ba", "kappa"), ("\u03bb", "lambda"), ("\u03bc", "mu"),
    ("\u03c4", "tau"), ("\u03c9", "omega"),
]

# Code points whose data differs between Python 3.11's Unicode 14 and ICU 72's
# Unicode 15, found by running the comparison over every code point: the 62
# Cyrillic modifier letters U+1E030..U+1E06D, new in Unicode 15 with
# compatibility decompositions to Cyrillic letters (ICU decomposes and
# lower-cases them; for Unicode 14 they are unassigned and pass unchanged).
# No code point assigned in Unicode 14 differs. The other Unicode 15
# additions are unassigned in Python and skipped by sample_code_points; the
# Egyptian format controls U+13439..U+1343F among them are removed by both
# sides through the fixed list.
VERSION_DIFFERENCES = frozenset(range(0x1E030, 0x1E06E))


def reference_lower(text):
    """Full lower-casing of the whole string.

    CPython's str.lower applies the full mappings of SpecialCasing.txt,
    including the Final_Sigma context (capital sigma after a cased letter,
    ignoring case-ignorable characters, and not before one becomes U+03C2).
    """
    return text.lower()


def reference_normalize(text):
    decomposed = unicodedata.normalize("NFKD", text)
    kept = "".join(ch for ch in decomposed if ord(ch) not in FORMAT)
    lowered = reference_lower(kept)
    words, word = [], []
    for ch in lowered:
        if ord(ch) in WHITE_SPACE:
            if word:
                words.append("".join(word))
                word = []
        else:
            word.append(ch)
    if word:
        words.append("".join(word))
    result = " ".join(words)
    for letter, name in GREEK:
        result = result.replace(letter, name)
    return result


def sample_code_points():
    """Every code point assigned in Python's Unicode data, minus surrogates
    and the known version differences."""
    for cp in range(0x110000):
        if 0xD800 <= cp <= 0xDFFF or cp in VERSION_DIFFERENCES:
            continue
        if unicodedata.category(chr(cp)) == "Cn":
            continue
        yield cp


@pytest.fixture(scope="module")
def resolve():
    return NativeStore.in_memory().resolve_readonly


def mismatches(resolve, texts):
    found = []
    for text in texts:
        got, want = resolve(text), reference_normalize(text)
        if got != want:
            found.append((ascii(text), ascii(got), ascii(want)))
    return found


@pytest.mark.parametrize(
    "context",
    [
        "{}",         # alone
        "A{}b",       # between letters: case contexts, Greek replacement inside words
        " \u03a3{} ",  # after a capital sigma: final-sigma context on both sides
    ],
    ids=["alone", "between-letters", "after-sigma"],
)
def test_every_assigned_code_point_matches_the_reference(resolve, context):
    texts = [context.format(chr(cp)) for cp in sample_code_points()]
    bad = mismatches(resolve, texts)
    assert not bad, f"{len(bad)} mismatches (text, store, reference), first: {bad[:5]}"


# Characters whose combinations exercise ordering, casing context, white-space
# runs and format removal together.
POOL = (
    "aAzZ09-_./ \t\n\x0b\x0c\r\x1c\x85\xa0\u1680\u2000\u2028\u3000"
    "\u00ad\u200b\u200d\u2060\ufeff\U000e0041"
    "\u0300\u0301\u0307\u0323\u0345\u05b0"
    "\u03a3\u03c3\u03c2\u0391\u0392\u0393\u0394\u0395\u039a\u039b\u039c\u03a4\u03a9\u03b7"
    "\u00b5\u03f5\u0130\u0049\u00df\u1e9e\ufb01\uff21\uac00\u1100\u00c5\u212b\u01c5\u1f88'"
)


def test_random_mixtures_match_the_reference(resolve):
    rng = random.Random(20240611)
    texts = ["".join(rng.choice(POOL) for _ in range(rng.randint(1, 12))) for _ in range(20000)]
    bad = mismatches(resolve, texts)
    assert not bad, f"{len(bad)} mismatches (text, store, reference), first: {bad[:5]}"


@pytest.mark.parametrize(
    "text, expected",
    [
        ("  TNF-\u03b1  ", "tnf-alpha"),
        ("IL\u00a06", "il 6"),
        ("\u03a9mega", "omegamega"),
        ("Caf\u00e9", "cafe\u0301"),
        ("\u039f\u0394\u039f\u03a3 \u039f\u0394\u039f\u03a3.", "\u03bfdelta\u03bf\u03c2 \u03bfdelta\u03bf\u03c2."),
        ("\u03a3", "\u03c3"),
        ("a\x1cb", "a\x1cb"),
    ],
)
def test_reference_agrees_with_the_documented_examples(resolve, text, expected):
    assert reference_normalize(text) == expected
    assert resolve(text) == expected
