#pragma once

#include <cstdint>

// Short vector types (GCC and Clang vector extensions). Code written with
// them is compiled twice where it matters: for the x86-64 baseline (SSE2),
// where a 32-byte vector becomes two 16-byte halves, and for AVX2, chosen at
// run time. Both give the same results: every lane runs the same operations
// in the same order.

typedef float JpegFloat8 __attribute__((vector_size(32)));
typedef double JpegDouble4 __attribute__((vector_size(32)));
typedef double JpegDouble8 __attribute__((vector_size(64)));
typedef std::int32_t JpegInt8 __attribute__((vector_size(32)));
typedef std::int64_t JpegLong4 __attribute__((vector_size(32)));
typedef std::int64_t JpegLong8 __attribute__((vector_size(64)));
typedef std::int32_t JpegInt4 __attribute__((vector_size(16)));
typedef std::int16_t JpegShort8 __attribute__((vector_size(16)));
typedef std::int16_t JpegShort4 __attribute__((vector_size(8)));
typedef std::uint16_t JpegUShort8 __attribute__((vector_size(16)));
typedef std::uint8_t JpegByte8 __attribute__((vector_size(8)));
typedef std::uint8_t JpegByte4 __attribute__((vector_size(4)));

#define JPEG_ALWAYS_INLINE inline __attribute__((always_inline))

#if defined(__x86_64__) || defined(__i386__)
#define JPEG_HAVE_AVX2_DISPATCH 1
#define JPEG_TARGET_AVX2 __attribute__((target("avx2")))
#define JPEG_TARGET_AVX512 __attribute__((target("avx512f")))
#else
#define JPEG_HAVE_AVX2_DISPATCH 0
#define JPEG_TARGET_AVX2
#define JPEG_TARGET_AVX512
#endif

// True when the processor can run the AVX2 variants.
bool JpegCpuHasAvx2();
// True when it can also run the AVX-512 variants.
bool JpegCpuHasAvx512();
