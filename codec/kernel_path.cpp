// Run-time check of the processor's SSE2 (and SSSE3) support for the decoders' kernels.
#include "codec/kernel_path.h"

namespace kx {
namespace {

KernelPath detect() {
#if defined(__SSE2__) && (defined(__x86_64__) || defined(__i386__))
    __builtin_cpu_init();
    if (__builtin_cpu_supports("sse2")) return KernelPath::Sse2;
#endif
    return KernelPath::Plain;
}

KernelPath detectSsse3() {
    const KernelPath base = bestKernelPath();
#if defined(__SSE2__) && (defined(__x86_64__) || defined(__i386__))
    if (base == KernelPath::Sse2 && __builtin_cpu_supports("ssse3")) return KernelPath::Ssse3;
#endif
    return base;
}

}  // namespace

KernelPath bestKernelPath() {
    static const KernelPath path = detect();
    return path;
}

KernelPath bestKernelPathWithSsse3() {
    static const KernelPath path = detectSsse3();
    return path;
}

}  // namespace kx
