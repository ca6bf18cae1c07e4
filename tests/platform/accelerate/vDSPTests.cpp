#include "platform/accelerate/vDSP.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

// Elements in an operand of n elements `stride` apart, and the offset of
// element k in it: negative strides start at the far end, as callers pass them.
std::ptrdiff_t span(vDSP_Stride stride, vDSP_Length n) {
  return n == 0 ? 1 : static_cast<std::ptrdiff_t>(n - 1) * (stride < 0 ? -stride : stride) + 1;
}

std::ptrdiff_t at(vDSP_Stride stride, vDSP_Length n, vDSP_Length k) {
  return (stride < 0 ? span(stride, n) - 1 : 0) + static_cast<std::ptrdiff_t>(k) * stride;
}

// Interleaved channels are read through strides; a wrong step or a write
// outside the strided slots (or past the last) corrupts neighbouring data. The
// converter reaches only unit output strides; lengths around the vector width
// cover the vector body and its tail.
TEST(vDSPTest, EachOperationWritesEveryStridedSlotAndNothingElse) {
  const struct {
    vDSP_Stride in, out;
    vDSP_Length n;
  } cases[] = {{1, 1, 0}, {1, 1, 7}, {1, 1, 1003}, {6, 1, 33}, {1, 3, 17}, {-1, 1, 9}, {1, -2, 9}};
  constexpr float sentinel = -999.0f;
  for (const auto& [in, out, n] : cases) {
    SCOPED_TRACE(testing::Message() << in << " " << out << " " << n);
    const auto size = static_cast<std::size_t>(span(in, n));
    std::vector<float> a(size), b(size);
    std::vector<std::int16_t> a16(size);
    std::vector<std::int32_t> a32(size);
    for (std::size_t i = 0; i < size; ++i) {
      a[i] = static_cast<float>(i) * 0.5f;
      b[i] = 1000.0f + static_cast<float>(i);
      a16[i] = static_cast<std::int16_t>(static_cast<int>(i * 37 % 65536) - 32768);
      a32[i] = static_cast<std::int32_t>(i * 2654435761u);
    }
    std::vector<float> sum(static_cast<std::size_t>(span(out, n)) + 1, sentinel);
    std::vector<float> c16 = sum, c32 = sum, quotient = sum;
    std::vector<float> sumWanted = sum, c16Wanted = sum, c32Wanted = sum, quotientWanted = sum;
    const float divisor = 32767.0f;
    const std::ptrdiff_t i0 = at(in, n, 0), o0 = at(out, n, 0);
    vDSP_vadd(a.data() + i0, in, b.data() + i0, in, sum.data() + o0, out, n);
    vDSP_vflt16(a16.data() + i0, in, c16.data() + o0, out, n);
    vDSP_vflt32(a32.data() + i0, in, c32.data() + o0, out, n);
    vDSP_vsdiv(c16.data() + o0, out, &divisor, quotient.data() + o0, out, n);
    for (vDSP_Length k = 0; k < n; ++k) {
      const auto s = static_cast<std::size_t>(at(in, n, k)),
                 o = static_cast<std::size_t>(at(out, n, k));
      sumWanted[o] = a[s] + b[s];
      c16Wanted[o] = static_cast<float>(a16[s]);
      c32Wanted[o] = static_cast<float>(a32[s]);
      quotientWanted[o] = c16Wanted[o] / divisor;
    }
    EXPECT_EQ(sum, sumWanted);
    EXPECT_EQ(c16, c16Wanted);
    EXPECT_EQ(c32, c32Wanted);
    EXPECT_EQ(quotient, quotientWanted);
  }
}

// The converter divides in place; a divisor that lives in the array being
// divided must be read before it is overwritten, and the division be true
// division (x * (1/3) differs from x / 3 for some x).
TEST(vDSPTest, InPlaceDivisionByAnElementOfTheArrayIsTrueDivision) {
  std::vector<float> x(64);
  for (std::size_t i = 0; i < x.size(); ++i) x[i] = static_cast<float>(i) * 1.37f - 20.0f;
  x[0] = 3.0f;
  const std::vector<float> original = x;
  vDSP_vsdiv(x.data(), 1, &x[0], x.data(), 1, x.size());
  for (std::size_t i = 0; i < x.size(); ++i) EXPECT_EQ(x[i], original[i] / 3.0f) << i;
}

}  // namespace
