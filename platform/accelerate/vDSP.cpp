#include "platform/accelerate/vDSP.h"

// This file is built with -O3 (see CMakeLists.txt) so that the unit-stride
// loops below are vectorised with the baseline instruction set. The compiler
// adds its own overlap checks, so in-place calls stay correct.

namespace {

// Offsets are computed as signed element counts so that negative strides work.
inline std::ptrdiff_t at(vDSP_Length k, vDSP_Stride stride) {
  return static_cast<std::ptrdiff_t>(k) * stride;
}

}  // namespace

void vDSP_vadd(const float* A, vDSP_Stride IA, const float* B, vDSP_Stride IB, float* C,
               vDSP_Stride IC, vDSP_Length N) {
  if (IA == 1 && IB == 1 && IC == 1) {
    for (vDSP_Length k = 0; k < N; ++k) C[k] = A[k] + B[k];
    return;
  }
  for (vDSP_Length k = 0; k < N; ++k) {
    C[at(k, IC)] = A[at(k, IA)] + B[at(k, IB)];
  }
}

void vDSP_vflt16(const std::int16_t* A, vDSP_Stride IA, float* C, vDSP_Stride IC, vDSP_Length N) {
  if (IA == 1 && IC == 1) {
    for (vDSP_Length k = 0; k < N; ++k) C[k] = static_cast<float>(A[k]);
    return;
  }
  for (vDSP_Length k = 0; k < N; ++k) C[at(k, IC)] = static_cast<float>(A[at(k, IA)]);
}

void vDSP_vflt32(const std::int32_t* A, vDSP_Stride IA, float* C, vDSP_Stride IC, vDSP_Length N) {
  if (IA == 1 && IC == 1) {
    for (vDSP_Length k = 0; k < N; ++k) C[k] = static_cast<float>(A[k]);
    return;
  }
  for (vDSP_Length k = 0; k < N; ++k) C[at(k, IC)] = static_cast<float>(A[at(k, IA)]);
}

void vDSP_vsdiv(const float* A, vDSP_Stride IA, const float* B, float* C, vDSP_Stride IC,
                vDSP_Length N) {
  // Read the divisor once: *B may alias the output.
  const float divisor = *B;
  if (IA == 1 && IC == 1) {
    for (vDSP_Length k = 0; k < N; ++k) C[k] = A[k] / divisor;
    return;
  }
  for (vDSP_Length k = 0; k < N; ++k) C[at(k, IC)] = A[at(k, IA)] / divisor;
}
