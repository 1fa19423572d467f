// The choice between the plain loops and the SSE2 versions of the decoders' hot kernels (inverse
// DCTs, deblocking, colour conversions), made once from the processor's features.
#pragma once

namespace kx {

// Ssse3 is the SSE2 kernels with the SSSE3 versions where a kernel has one (the BGR colour
// conversion); kernels without one treat it as Plain, so only those that have one are given it.
enum class KernelPath { Plain, Sse2, Ssse3 };

// Sse2 when this build has the SSE2 kernels and the processor runs them, else Plain. Kernels
// given Sse2 where it is not available run the plain loops. Checked at the first call.
KernelPath bestKernelPath();
// Ssse3 when the Sse2 kernels run and the processor has SSSE3, else bestKernelPath().
KernelPath bestKernelPathWithSsse3();

}  // namespace kx
