#include "platform/accelerate/vDSP.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

// Interleaved channels are read through strides; a wrong step or a write
// outside the strided slots (or past the last) corrupts neighbouring data.
// The converter reaches only unit output strides and divides by a separate
// divisor: here the divisor lives in the array divided in place, so it must be
// read before it is overwritten. Lengths around the vector width cover the
// vector body and its tail.
TEST(vDSPTest, EachOperationWritesEveryStridedSlotAndNothingElse) {
  const struct {
    vDSP_Stride in, out;
    vDSP_Length n;
  } cases[] = {{1, 1, 0}, {1, 1, 7}, {1, 1, 1003}, {6, 1, 33}, {1, 3, 17}, {-1, 1, 9}, {1, -2, 9}};
  for (const auto& [in, out, n] : cases) {
    // Element k of an operand sits at first + k * stride; negative strides
    // start at the far end, as callers pass them.
    auto size = [n = n](vDSP_Stride s) { return n == 0 ? 1 : (n - 1) * (s < 0 ? -s : s) + 1; };
    auto at = [&](vDSP_Stride s, vDSP_Length k) {
      return (s < 0 ? size(s) - 1 : 0) + static_cast<std::ptrdiff_t>(k) * s;
    };
    std::vector<float> a(size(in));
    std::vector<std::int16_t> a16(size(in));
    std::vector<std::int32_t> a32(size(in));
    for (std::size_t i = 0; i < a.size(); ++i) {
      a[i] = static_cast<float>(i) * 0.37f;
      a16[i] = static_cast<std::int16_t>(static_cast<int>(i * 37 % 65536) - 32768);
      a32[i] = static_cast<std::int32_t>(i * 2654435761u);
    }
    std::vector<float> sum(size(out) + 1, -999.0f), c16 = sum, c32 = sum;
    std::vector<float> sumWanted = sum, c16Wanted = sum, c32Wanted = sum, quotientWanted = sum;
    const std::ptrdiff_t i0 = at(in, 0), o0 = at(out, 0);
    vDSP_vadd(a.data() + i0, in, a.data() + i0, in, sum.data() + o0, out, n);
    vDSP_vflt16(a16.data() + i0, in, c16.data() + o0, out, n);
    vDSP_vflt32(a32.data() + i0, in, c32.data() + o0, out, n);
    std::vector<float> quotient = c16;
    vDSP_vsdiv(quotient.data() + o0, out, &quotient[o0], quotient.data() + o0, out, n);
    for (vDSP_Length k = 0; k < n; ++k) {
      sumWanted[at(out, k)] = 2 * a[at(in, k)];
      c16Wanted[at(out, k)] = static_cast<float>(a16[at(in, k)]);
      c32Wanted[at(out, k)] = static_cast<float>(a32[at(in, k)]);
      quotientWanted[at(out, k)] = c16Wanted[at(out, k)] / c16Wanted[o0];  // o0 comes first
    }
    EXPECT_EQ((std::vector{sum, c16, c32, quotient}),
              (std::vector{sumWanted, c16Wanted, c32Wanted, quotientWanted}))
        << "strides " << in << ", " << out << ", length " << n;
  }
}

}  // namespace
