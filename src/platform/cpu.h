#pragma once

namespace kelvara {

// Whether the processor has AVX2, for the few loops that have a version for it.
inline bool hasAvx2()
{
#if defined(__x86_64__)
    static const bool has = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
    }();
    return has;
#else
    return false;
#endif
}

} // namespace kelvara
