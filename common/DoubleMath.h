// Marks functions whose results are defined by double-precision arithmetic. The x87 unit of a 32-bit
// x86 build keeps intermediates in 80 bits, so 29 / 100 * 100 there comes out as 29.0 instead of the
// double result 28.999..., and a percentage cut toward zero moves by one; such functions compute
// with SSE2 doubles on that build, exactly as every 64-bit build does.
#pragma once

#if defined(__i386__) && defined(__GNUC__)
#define QR_DOUBLE_MATH __attribute__((target("sse2,fpmath=sse")))
#else
#define QR_DOUBLE_MATH
#endif
