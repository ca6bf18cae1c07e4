#include "platform/accelerate/vDSP.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

namespace {

constexpr float sentinel = -999.0f;

struct StrideCase {
  vDSP_Stride in;
  vDSP_Stride out;
  vDSP_Length n;
};

// Element k of an operand with `stride` over `n` elements, in a buffer sized
// by spanOf(); negative strides start at the far end, as callers pass them.
std::size_t spanOf(vDSP_Stride stride, vDSP_Length n) {
  const auto step = static_cast<std::size_t>(stride < 0 ? -stride : stride);
  return n == 0 ? 1 : (n - 1) * step + 1;
}

std::size_t firstOf(vDSP_Stride stride, vDSP_Length n) {
  return stride < 0 ? spanOf(stride, n) - 1 : 0;
}

std::size_t slot(vDSP_Stride stride, vDSP_Length n, vDSP_Length k) {
  return static_cast<std::size_t>(static_cast<std::ptrdiff_t>(firstOf(stride, n)) +
                                  static_cast<std::ptrdiff_t>(k) * stride);
}

// Interleaved channels are read through strides; a wrong step or a write
// outside the strided slots corrupts neighbouring channels.
class vDSPStrideTest : public ::testing::TestWithParam<StrideCase> {};

TEST_P(vDSPStrideTest, EachOperationWritesEveryStridedSlotAndNothingElse) {
  const auto [in, out, n] = GetParam();
  std::vector<float> a(spanOf(in, n)), b(spanOf(in, n));
  std::vector<std::int16_t> a16(spanOf(in, n));
  std::vector<std::int32_t> a32(spanOf(in, n));
  for (std::size_t i = 0; i < a.size(); ++i) {
    a[i] = static_cast<float>(i) * 0.5f;
    b[i] = 1000.0f + static_cast<float>(i);
    a16[i] = static_cast<std::int16_t>(static_cast<int>(i * 37 % 65536) - 32768);
    a32[i] = static_cast<std::int32_t>(i * 2654435761u);
  }
  std::vector<float> sum(spanOf(out, n), sentinel), c16 = sum, c32 = sum, divided = sum;
  const std::size_t i0 = firstOf(in, n), o0 = firstOf(out, n);
  vDSP_vadd(a.data() + i0, in, b.data() + i0, in, sum.data() + o0, out, n);
  vDSP_vflt16(a16.data() + i0, in, c16.data() + o0, out, n);
  vDSP_vflt32(a32.data() + i0, in, c32.data() + o0, out, n);
  const float divisor = 32767.0f;
  vDSP_vsdiv(c16.data() + o0, out, &divisor, divided.data() + o0, out, n);
  std::vector<bool> written(sum.size(), false);
  for (vDSP_Length k = 0; k < n; ++k) {
    const std::size_t s = slot(in, n, k), o = slot(out, n, k);
    EXPECT_EQ(sum[o], a[s] + b[s]) << "element " << k;
    EXPECT_EQ(c16[o], static_cast<float>(a16[s]));
    EXPECT_EQ(c32[o], static_cast<float>(a32[s]));
    EXPECT_EQ(divided[o], c16[o] / divisor);
    written[o] = true;
  }
  for (std::size_t i = 0; i < sum.size(); ++i) {
    if (written[i]) continue;
    EXPECT_EQ(sum[i], sentinel) << "slot " << i << " overwritten";
    EXPECT_EQ(c16[i], sentinel) << "slot " << i << " overwritten";
    EXPECT_EQ(c32[i], sentinel) << "slot " << i << " overwritten";
    EXPECT_EQ(divided[i], sentinel) << "slot " << i << " overwritten";
  }
}

// Lengths around the vector width exercise the vector body and its tail.
INSTANTIATE_TEST_SUITE_P(Strides, vDSPStrideTest,
                         ::testing::Values(StrideCase{1, 1, 0}, StrideCase{1, 1, 7},
                                           StrideCase{1, 1, 1003}, StrideCase{6, 1, 33},
                                           StrideCase{1, 3, 17}, StrideCase{-1, 1, 9},
                                           StrideCase{1, -2, 9}));

// The converter's scaling constants rely on exact conversions and true division,
// also when the output (or the divisor) aliases the input.
TEST(vDSPValueTest, ExtremesConvertExactlyAndInPlaceDivisionIsTrueDivision) {
  const std::vector<std::int16_t> a16{32767, -32768};
  const std::vector<std::int32_t> a32{std::numeric_limits<std::int32_t>::min(), 1 << 24};
  std::vector<float> c16(2), c32(2);
  vDSP_vflt16(a16.data(), 1, c16.data(), 1, 2);
  vDSP_vflt32(a32.data(), 1, c32.data(), 1, 2);
  EXPECT_EQ(c16, (std::vector<float>{32767.0f, -32768.0f}));
  EXPECT_EQ(c32, (std::vector<float>{-2147483648.0f, 16777216.0f}));

  // x * (1/3) differs from x / 3 for some x; sweep enough values to hit them.
  std::vector<float> a(4096);
  for (std::size_t i = 0; i < a.size(); ++i) a[i] = static_cast<float>(i) * 1.37f - 2000.0f;
  a[0] = 1.5f;
  const std::vector<float> original = a;
  vDSP_vadd(a.data(), 1, a.data(), 1, a.data(), 1, a.size());
  // The divisor (3) lives inside the array being divided: read before it is overwritten.
  vDSP_vsdiv(a.data(), 1, &a[0], a.data(), 1, a.size());
  for (std::size_t i = 0; i < a.size(); ++i) {
    ASSERT_EQ(a[i], (original[i] + original[i]) / 3.0f) << i;
  }
}

}  // namespace
