// Run-time choice of the SHA-1/SHA-256 compression kernel. The processor's SHA
// extensions are detected once; TAVRA_NO_SHANI=1 in the environment switches
// them off, and tests may switch them off and on again to run both kernels.
#pragma once

namespace corvane {

// The processor has the SHA extensions together with SSSE3 and SSE4.1.
bool CPUHasSHAExtensions();

// The accelerated kernel is in use.
bool SHAExtensionsEnabled();

// Asks for the accelerated kernel (true) or the portable one (false). Asking for
// the accelerated kernel on a processor without it keeps the portable one.
// Returns the resulting state. Not meant to be called while other threads hash.
bool SetSHAExtensionsEnabled(bool enabled);

// "sha-ni" or "portable", for logs and benchmarks.
const char* SHAKernelName();

}  // namespace corvane
