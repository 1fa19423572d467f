// Run-time check of the processor's SSE2 support for the decoders' kernels.
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

}  // namespace

KernelPath bestKernelPath() {
    static const KernelPath path = detect();
    return path;
}

}  // namespace kx
