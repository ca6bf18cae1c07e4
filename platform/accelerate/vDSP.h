#pragma once

#include <cstddef>
#include <cstdint>

// The vDSP vector routines the converter uses, with the platform's signatures.
// Each operand has its own stride in elements (negative strides walk
// backwards from the given pointer); N elements are processed. Output may
// alias an input with the same stride (in place).
// Thread affinity: any thread; no shared state.

using vDSP_Stride = std::ptrdiff_t;
using vDSP_Length = std::size_t;

// C[k] = A[k] + B[k]. Any thread.
void vDSP_vadd(const float* A, vDSP_Stride IA, const float* B, vDSP_Stride IB, float* C,
               vDSP_Stride IC, vDSP_Length N);

// C[k] = float(A[k]) for 16-bit integers. Any thread.
void vDSP_vflt16(const std::int16_t* A, vDSP_Stride IA, float* C, vDSP_Stride IC, vDSP_Length N);

// C[k] = float(A[k]) for 32-bit integers (rounded to nearest). Any thread.
void vDSP_vflt32(const std::int32_t* A, vDSP_Stride IA, float* C, vDSP_Stride IC, vDSP_Length N);

// C[k] = A[k] / *B, a true division (not a multiply by the reciprocal). Any thread.
void vDSP_vsdiv(const float* A, vDSP_Stride IA, const float* B, float* C, vDSP_Stride IC,
                vDSP_Length N);
