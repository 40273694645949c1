#pragma once

#include <atomic>

namespace kelvara {

// The vector instructions the few loops that have versions for them may use. Machines without
// them (and other processors than x86-64) run the plain loops.
enum class Simd { None, Sse2, Avx2 };

namespace detail {
inline Simd detectSimd()
{
#if defined(__x86_64__)
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0 ? Simd::Avx2 : Simd::Sse2;
#else
    return Simd::None;
#endif
}
inline std::atomic<Simd>& simdInUse()
{
    static std::atomic<Simd> level{detectSimd()};
    return level;
}
} // namespace detail

inline Simd simdLevel()
{
    return detail::simdInUse().load(std::memory_order_relaxed);
}

// Uses no more than `level` from now on (the processor's own level is the most): tests run the plain
// loops of other machines with it.
inline void limitSimd(Simd level)
{
    static const Simd own = detail::detectSimd();
    detail::simdInUse().store(level < own ? level : own);
}

inline bool hasAvx2()
{
    return simdLevel() == Simd::Avx2;
}

} // namespace kelvara
