// The choice between the plain loops and the SSE2 versions of the decoders' hot kernels (inverse
// DCTs, deblocking, colour conversions), made once from the processor's features.
#pragma once

namespace kx {

enum class KernelPath { Plain, Sse2 };

// Sse2 when this build has the SSE2 kernels and the processor runs them, else Plain. Kernels
// given Sse2 where it is not available run the plain loops. Checked at the first call.
KernelPath bestKernelPath();

}  // namespace kx
