// Finding the next byte that a JSON string cannot carry as it is, many bytes at a time: the
// reader and the writer spend most of their time on megabyte strings of plain text, and
// looking at them a byte at a time would cost several times the rest of the hook's work.
// Sixteen bytes at a time with SSE2 (every x86-64) or NEON (every arm64), eight at a time
// with plain 64-bit arithmetic elsewhere; all three give the same answers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

// OMBREL_SCAN_PORTABLE leaves the vector units out, so the tests can run the plain path too.
#if defined(__SSE2__) && !defined(OMBREL_SCAN_PORTABLE)
#define OMBREL_SCAN_SSE2 1
#include <emmintrin.h>
#elif defined(__ARM_NEON) && defined(__aarch64__) && !defined(OMBREL_SCAN_PORTABLE)
#define OMBREL_SCAN_NEON 1
#include <arm_neon.h>
#endif

namespace ombrel::hook::scan {

// What stops a scan: always '"', '\\' and the control characters below U+0020; with
// kStopAtNonAscii, the bytes from 0x80 up too (the reader checks each UTF-8 sequence).
template <bool kStopAtNonAscii>
constexpr bool is_special(unsigned char c) {
  return c < 0x20 || c == '"' || c == '\\' || (kStopAtNonAscii && c >= 0x80);
}

// Whether any of eight bytes is special: the classic test for a zero byte, applied to the
// bytes xor'ed with '"' and with '\\', and a borrow test for the bytes below 0x20. Only the
// yes or no is used, never which byte, so the test is the same on either byte order.
template <bool kStopAtNonAscii>
inline bool any_special(std::uint64_t x) {
  constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
  constexpr std::uint64_t kHighs = 0x8080808080808080ULL;
  const std::uint64_t quote = x ^ (kOnes * '"');
  const std::uint64_t slash = x ^ (kOnes * '\\');
  std::uint64_t found =
      ((quote - kOnes) & ~quote) | ((slash - kOnes) & ~slash) | ((x - kOnes * 0x20) & ~x);
  if (kStopAtNonAscii) found |= x;
  return (found & kHighs) != 0;
}

// The bits of the first special byte among sixteen at s, lowest bit first; 0 for none.
#if defined(OMBREL_SCAN_SSE2)
template <bool kStopAtNonAscii>
inline unsigned special_mask16(const char* s, __m128i& v) {
  v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
  // Signed, a byte below 0x20 is a control character or one from 0x80 up; unsigned (the
  // minimum test), only a control character.
  const __m128i low = kStopAtNonAscii ? _mm_cmplt_epi8(v, _mm_set1_epi8(0x20))
                                      : _mm_cmpeq_epi8(_mm_min_epu8(v, _mm_set1_epi8(0x1F)), v);
  const __m128i hit = _mm_or_si128(
      _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('"')), _mm_cmpeq_epi8(v, _mm_set1_epi8('\\'))),
      low);
  return static_cast<unsigned>(_mm_movemask_epi8(hit));
}
#elif defined(OMBREL_SCAN_NEON)
template <bool kStopAtNonAscii>
inline std::uint64_t special_mask16(const char* s, uint8x16_t& v) {
  v = vld1q_u8(reinterpret_cast<const std::uint8_t*>(s));
  uint8x16_t hit = vorrq_u8(vorrq_u8(vceqq_u8(v, vdupq_n_u8('"')), vceqq_u8(v, vdupq_n_u8('\\'))),
                            vcltq_u8(v, vdupq_n_u8(0x20)));
  if (kStopAtNonAscii) hit = vorrq_u8(hit, vcgeq_u8(v, vdupq_n_u8(0x80)));
  // Four bits per byte: narrowing each 16-bit lane by four keeps one nibble of each byte.
  const uint8x8_t nibbles = vshrn_n_u16(vreinterpretq_u16_u8(hit), 4);
  return vget_lane_u64(vreinterpret_u64_u8(nibbles), 0);
}
#endif

// Copies the bytes from s[p] on to w up to `end`, moving p and w past them, and hands each
// special byte it meets to `special(p, w)`: that writes what the byte stands for and moves
// p and w past what it took (true), or leaves both as they are (false), and the copy stops
// there. It also stops once w has reached `wend` (never, when every byte read gives at least
// one written and the room is counted from `end`); an escape written just before may have
// taken w past it. So the caller sees the end, a byte `special` declined, or a full window.
// In whole blocks, all the special bytes come from one look at the block and the bytes
// between two of them are moved with one load and one store of sixteen. Blocks are stored
// before they are looked at: everything from w up to `wend` must be writable, and `special`
// is called only with w before `wend`.
template <bool kStopAtNonAscii, class Special>
inline void copy_runs(const char* s, std::size_t& p, std::size_t end, char*& w, char* wend,
                      Special&& special) {
#if defined(OMBREL_SCAN_SSE2) || defined(OMBREL_SCAN_NEON)
#if defined(OMBREL_SCAN_SSE2)
  using Vector = __m128i;
  using Mask = unsigned;
  auto load = [](const char* at) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at)); };
  auto store = [](char* at, Vector v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(at), v); };
  auto first = [](Mask m) { return static_cast<std::size_t>(__builtin_ctz(m)); };
  auto drop_below = [](Mask m, std::size_t k) { return m & (~0U << k); };
#else
  using Vector = uint8x16_t;
  using Mask = std::uint64_t;  // four bits a byte
  auto load = [](const char* at) { return vld1q_u8(reinterpret_cast<const std::uint8_t*>(at)); };
  auto store = [](char* at, Vector v) { vst1q_u8(reinterpret_cast<std::uint8_t*>(at), v); };
  auto first = [](Mask m) { return static_cast<std::size_t>(__builtin_ctzll(m) >> 2); };
  auto drop_below = [](Mask m, std::size_t k) { return m & (~0ULL << (4 * k)); };
#endif
  while (p + 16 <= end && w + 16 <= wend) {
    Vector v;
    Mask mask = special_mask16<kStopAtNonAscii>(s + p, v);
    store(w, v);
    if (mask == 0) {
      p += 16;
      w += 16;
      continue;
    }
    const std::size_t base = p;  // the block's first byte: bit k of the mask is s[base + k]
    for (;;) {
      const std::size_t at = base + first(mask);
      w += at - p;  // the last store began at p and held the bytes up to the special one
      p = at;
      if (!special(p, w)) return;
      const std::size_t behind = p - base;
      if (behind >= 16) break;
      mask = drop_below(mask, behind);
      if (mask == 0) break;  // the rest of the block is plain: the next block starts at p
      if (p + 16 > end || w + 16 > wend) goto tail;
      store(w, load(s + p));
    }
  }
tail:
#endif
  for (;;) {
    while (p + 8 <= end && w + 8 <= wend) {
      std::uint64_t chunk;
      std::memcpy(&chunk, s + p, 8);
      if (any_special<kStopAtNonAscii>(chunk)) break;
      std::memcpy(w, &chunk, 8);
      p += 8;
      w += 8;
    }
    while (p < end && w < wend && !is_special<kStopAtNonAscii>(static_cast<unsigned char>(s[p]))) {
      *w++ = s[p++];
    }
    // At the end, with the window full, or at a special byte.
    if (p >= end || w >= wend || !special(p, w)) return;
  }
}

// The first position from `from` up to `to` whose byte is special, or `to`.
template <bool kStopAtNonAscii>
inline std::size_t next_special(const char* s, std::size_t from, std::size_t to) {
  std::size_t i = from;
#if defined(OMBREL_SCAN_SSE2) || defined(OMBREL_SCAN_NEON)
  while (i + 16 <= to) {
#if defined(OMBREL_SCAN_SSE2)
    __m128i v;
    const unsigned mask = special_mask16<kStopAtNonAscii>(s + i, v);
    if (mask != 0) return i + static_cast<std::size_t>(__builtin_ctz(mask));
#else
    uint8x16_t v;
    const std::uint64_t mask = special_mask16<kStopAtNonAscii>(s + i, v);
    if (mask != 0) return i + static_cast<std::size_t>(__builtin_ctzll(mask) >> 2);
#endif
    i += 16;
  }
#endif
  while (i + 8 <= to) {
    std::uint64_t chunk;
    std::memcpy(&chunk, s + i, 8);
    if (any_special<kStopAtNonAscii>(chunk)) break;
    i += 8;
  }
  while (i < to && !is_special<kStopAtNonAscii>(static_cast<unsigned char>(s[i]))) ++i;
  return i;
}

// The length of the well-formed UTF-8 sequence that starts with the byte 0x80 or above at
// p, with `left` bytes from p to the end of the text; 0 when there is none (a stray
// continuation byte, an overlong form, a surrogate, a value above U+10FFFF, a cut sequence).
// The same verdict as utf8::sequence_length, without decoding the character.
inline std::size_t sequence_length(const char* p, std::size_t left) {
  const auto* u = reinterpret_cast<const unsigned char*>(p);
  const unsigned char b0 = u[0];
  auto cont = [&](std::size_t k) { return (u[k] & 0xC0) == 0x80; };
  if (b0 < 0xE0) {  // two bytes (accented letters, Cyrillic, Greek...), from C2 up
    return b0 >= 0xC2 && left >= 2 && cont(1) ? 2 : 0;
  }
  if (b0 < 0xF0) {  // three bytes (CJK, most symbols); E0 would be overlong below A0, ED a
                    // surrogate above 9F
    if (left < 3 || !cont(1) || !cont(2)) return 0;
    if ((b0 == 0xE0 && u[1] < 0xA0) || (b0 == 0xED && u[1] > 0x9F)) return 0;
    return 3;
  }
  // Four bytes, up to F4 8F (U+10FFFF); F0 would be overlong below 90.
  if (b0 > 0xF4 || left < 4 || !cont(1) || !cont(2) || !cont(3)) return 0;
  if ((b0 == 0xF0 && u[1] < 0x90) || (b0 == 0xF4 && u[1] > 0x8F)) return 0;
  return 4;
}

#if defined(OMBREL_SCAN_SSE2) || defined(OMBREL_SCAN_NEON)
// Whether the sixteen bytes at s are well-formed UTF-8 as far as they go, given the three
// bytes before them (well-formed too, and read): every continuation byte stands exactly
// where a lead byte up to three places before asks for one, no byte is C0, C1 or F5 and up,
// and the second byte after E0, ED, F0 and F4 keeps to its narrower range (no overlong
// form, no surrogate, nothing above U+10FFFF). A sequence cut at the end of the block is
// the next block's to judge. Blocks of ASCII, three bytes before included, pass at once.
inline bool block_is_valid_utf8(const char* s) {
#if defined(OMBREL_SCAN_SSE2)
  auto load = [](const char* at) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at)); };
  const __m128i v0 = load(s), v3 = load(s - 3);
  if (_mm_movemask_epi8(_mm_or_si128(v0, v3)) == 0) return true;
  const __m128i v1 = load(s - 1), v2 = load(s - 2);
  auto set = [](unsigned char c) { return _mm_set1_epi8(static_cast<char>(c)); };
  // A byte asks for a continuation where a lead of two bytes or more stands one place
  // before, of three or more two before, of four three before: each saturating difference
  // is above zero exactly then, and their sum stays below 0x80.
  const __m128i asks =
      _mm_or_si128(_mm_or_si128(_mm_subs_epu8(v1, set(0xBF)), _mm_subs_epu8(v2, set(0xDF))),
                   _mm_subs_epu8(v3, set(0xEF)));
  const __m128i need = _mm_cmpgt_epi8(asks, _mm_setzero_si128());
  // As signed bytes, 80..BF are those below C0, 80..9F below A0, 80..8F below 90.
  const __m128i cont = _mm_cmplt_epi8(v0, set(0xC0));
  const __m128i below_a0 = _mm_cmplt_epi8(v0, set(0xA0));
  const __m128i below_90 = _mm_cmplt_epi8(v0, set(0x90));
  __m128i bad = _mm_xor_si128(cont, need);
  bad = _mm_or_si128(bad, _mm_cmpeq_epi8(_mm_and_si128(v0, set(0xFE)), set(0xC0)));
  bad = _mm_or_si128(bad, _mm_cmpeq_epi8(_mm_max_epu8(v0, set(0xF5)), v0));
  bad = _mm_or_si128(bad, _mm_and_si128(_mm_cmpeq_epi8(v1, set(0xE0)), below_a0));
  bad = _mm_or_si128(bad, _mm_andnot_si128(below_a0, _mm_cmpeq_epi8(v1, set(0xED))));
  bad = _mm_or_si128(bad, _mm_and_si128(_mm_cmpeq_epi8(v1, set(0xF0)), below_90));
  bad = _mm_or_si128(bad, _mm_andnot_si128(below_90, _mm_cmpeq_epi8(v1, set(0xF4))));
  return _mm_movemask_epi8(bad) == 0;
#else
  auto load = [](const char* at) { return vld1q_u8(reinterpret_cast<const std::uint8_t*>(at)); };
  const uint8x16_t v0 = load(s), v3 = load(s - 3);
  if (vmaxvq_u8(vorrq_u8(v0, v3)) < 0x80) return true;
  const uint8x16_t v1 = load(s - 1), v2 = load(s - 2);
  auto set = [](unsigned char c) { return vdupq_n_u8(c); };
  const uint8x16_t need =
      vorrq_u8(vorrq_u8(vcgeq_u8(v1, set(0xC0)), vcgeq_u8(v2, set(0xE0))), vcgeq_u8(v3, set(0xF0)));
  const uint8x16_t cont = vandq_u8(vcgeq_u8(v0, set(0x80)), vcltq_u8(v0, set(0xC0)));
  const uint8x16_t below_a0 = vcltq_u8(v0, set(0xA0));
  const uint8x16_t below_90 = vcltq_u8(v0, set(0x90));
  uint8x16_t bad = veorq_u8(cont, need);
  bad = vorrq_u8(bad, vceqq_u8(vandq_u8(v0, set(0xFE)), set(0xC0)));
  bad = vorrq_u8(bad, vcgeq_u8(v0, set(0xF5)));
  bad = vorrq_u8(bad, vandq_u8(vceqq_u8(v1, set(0xE0)), below_a0));
  bad = vorrq_u8(bad, vbicq_u8(vceqq_u8(v1, set(0xED)), below_a0));
  bad = vorrq_u8(bad, vandq_u8(vceqq_u8(v1, set(0xF0)), below_90));
  bad = vorrq_u8(bad, vbicq_u8(vceqq_u8(v1, set(0xF4)), below_90));
  return vmaxvq_u8(bad) == 0;
#endif
}
#endif

// Whether the text is well-formed UTF-8: utf8::is_valid's verdict, sixteen bytes at a time
// with a vector unit, else eight bytes at a time over ASCII and one sequence at a time
// over the rest.
inline bool is_valid_utf8(std::string_view text) {
  const char* s = text.data();
  const std::size_t n = text.size();
  std::size_t i = 0;
#if defined(OMBREL_SCAN_SSE2) || defined(OMBREL_SCAN_NEON)
  if (n >= 16 + 3) {
    // A block looks three bytes back, so the first sequences are checked one at a time.
    while (i < 3) {
      if (static_cast<unsigned char>(s[i]) < 0x80) {
        ++i;
        continue;
      }
      const std::size_t len = sequence_length(s + i, n - i);
      if (len == 0) return false;
      i += len;
    }
    for (; i + 16 <= n; i += 16) {
      if (!block_is_valid_utf8(s + i)) return false;
    }
    // The rest from the start of the sequence that the last block cut, if it cut one.
    for (std::size_t back = 1; back <= 3; ++back) {
      const auto b = static_cast<unsigned char>(s[i - back]);
      if (b < 0x80) break;
      if (b >= 0xC0) {
        const std::size_t len = b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
        if (len > back) i -= back;
        break;
      }
    }
  }
#endif
  for (;;) {
    while (i + 8 <= n) {
      std::uint64_t chunk;
      std::memcpy(&chunk, s + i, 8);
      if ((chunk & 0x8080808080808080ULL) != 0) break;
      i += 8;
    }
    while (i < n && static_cast<unsigned char>(s[i]) < 0x80) ++i;
    if (i >= n) return true;
    // A run of other characters (accented letters, Cyrillic, CJK), one sequence at a time.
    do {
      const std::size_t len = sequence_length(s + i, n - i);
      if (len == 0) return false;
      i += len;
    } while (i < n && static_cast<unsigned char>(s[i]) >= 0x80);
  }
}

// The bytes that escaping adds to the text (valid UTF-8): one for each '"', '\\' and the
// control characters with a short name (\b \t \n \f \r), five for every other control
// character (\u00XX). Counted sixteen bytes at a time, without stopping at any of them.
inline std::size_t escape_growth(std::string_view text) {
  constexpr auto growth_of = [](unsigned char c) -> std::size_t {
    if (c == '"' || c == '\\' || c == '\b' || c == '\t' || c == '\n' || c == '\f' || c == '\r')
      return 1;
    return c < 0x20 ? 5 : 0;
  };
  const char* s = text.data();
  const std::size_t n = text.size();
  std::size_t i = 0, growth = 0;
#if defined(OMBREL_SCAN_SSE2)
  while (i + 16 <= n) {
    __m128i v;
    if (special_mask16<false>(s + i, v) != 0) {
      const __m128i named =
          _mm_or_si128(_mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('"')),
                                                 _mm_cmpeq_epi8(v, _mm_set1_epi8('\\'))),
                                    _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('\b')),
                                                 _mm_cmpeq_epi8(v, _mm_set1_epi8('\t')))),
                       _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('\n')),
                                                 _mm_cmpeq_epi8(v, _mm_set1_epi8('\f'))),
                                    _mm_cmpeq_epi8(v, _mm_set1_epi8('\r'))));
      const __m128i control = _mm_cmpeq_epi8(_mm_min_epu8(v, _mm_set1_epi8(0x1F)), v);
      // One or five per byte, added up by the sum of absolute differences from zero.
      const __m128i per_byte =
          _mm_or_si128(_mm_and_si128(named, _mm_set1_epi8(1)),
                       _mm_and_si128(_mm_andnot_si128(named, control), _mm_set1_epi8(5)));
      const __m128i sums = _mm_sad_epu8(per_byte, _mm_setzero_si128());
      growth += static_cast<std::size_t>(_mm_cvtsi128_si32(sums)) +
                static_cast<std::size_t>(_mm_extract_epi16(sums, 4));
    }
    i += 16;
  }
#elif defined(OMBREL_SCAN_NEON)
  while (i + 16 <= n) {
    const uint8x16_t v = vld1q_u8(reinterpret_cast<const std::uint8_t*>(s + i));
    const uint8x16_t named =
        vorrq_u8(vorrq_u8(vorrq_u8(vceqq_u8(v, vdupq_n_u8('"')), vceqq_u8(v, vdupq_n_u8('\\'))),
                          vorrq_u8(vceqq_u8(v, vdupq_n_u8('\b')), vceqq_u8(v, vdupq_n_u8('\t')))),
                 vorrq_u8(vorrq_u8(vceqq_u8(v, vdupq_n_u8('\n')), vceqq_u8(v, vdupq_n_u8('\f'))),
                          vceqq_u8(v, vdupq_n_u8('\r'))));
    const uint8x16_t control = vcltq_u8(v, vdupq_n_u8(0x20));
    // One or five per byte: at most 80 in sixteen bytes, within a byte's range.
    const uint8x16_t per_byte =
        vorrq_u8(vandq_u8(named, vdupq_n_u8(1)), vandq_u8(vbicq_u8(control, named), vdupq_n_u8(5)));
    growth += vaddvq_u8(per_byte);
    i += 16;
  }
#endif
  for (; i < n; ++i) growth += growth_of(static_cast<unsigned char>(s[i]));
  return growth;
}

}  // namespace ombrel::hook::scan
